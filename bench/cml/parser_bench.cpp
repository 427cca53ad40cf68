// Reading a controller reply: CCmlParser (one parser reused from reply to reply, as the
// library's pool uses it) plus locating the envelope and building the message objects, beside
// a bare Xerces DOM parser, also reused, parsing the same bytes with the same settings.
#include <benchmark/benchmark.h>

#include <string>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "bench/cml/reply_document.h"
#include "tests/support/bare_xerces_parser.h"

namespace {

using namespace zel::cml;

void BM_CmlParserEnvelope(benchmark::State& state) {
    const std::string& text = bench::ReplyDocument();
    std::size_t messages = 0;
    CCmlParser parser;
    for (auto _ : state) {
        parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                           kParseNonValidating);
        CCmlMessage message;
        message.Deserialize(parser.GetEnvelopeElement());
        messages = message.GetRequests().size() + message.GetResponses().size();
        benchmark::DoNotOptimize(messages);
    }
    state.counters["messages"] = static_cast<double>(messages);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CmlParserEnvelope)->Unit(benchmark::kMicrosecond);

// The baseline: Xerces alone with the settings CCmlParser uses for a non-validating parse.
void BM_BareXercesParse(benchmark::State& state) {
    XmlInit();
    const std::string& text = bench::ReplyDocument();
    zel::test::BareXercesParser parser;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parser.Parse(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_BareXercesParse)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
