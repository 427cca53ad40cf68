// Reading a controller reply: CCmlParser (a new parser per document, as the library uses it)
// plus locating the envelope and building the message objects, beside a bare Xerces DOM
// parse of the same bytes with the same parser settings. Target: at most 1.3x the bare parse.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"

namespace {

using namespace zel::cml;

// An envelope document of about 50 kB: a source, two destinations, and a mix of requests
// and responses with codes and texts.
const std::string& Reply() {
    static const std::string text = [] {
        CCmlMessage message;
        CAgentInfo source;
        source.SetName(u"DesktopController");
        source.SetHostName(u"controller.example");
        message.SetSource(source);
        CAgentInfo destination;
        destination.SetAgentId(u"6f1c2d3e-0a1b-4c5d-8e9f-001122334455");
        destination.AddGroup(u"Default Group");
        destination.AddGroup(u"Servers");
        message.AddDestination(destination);
        message.SetMessageId(u"2b7e1516-28ae-42a6-abf7-158809cf4f3c");
        message.SetResponseTo(u"3c4fcf09-8f2b-4a1e-9d5c-6a7b8c9d0e1f");
        std::string text;
        for (int i = 0; text.size() < 50 * 1024; ++i) {
            const std::u16string id = u"request-" + std::u16string(1, char16_t(u'a' + i % 26));
            message.AddRequest(CCmlRequest(id.c_str(), i % 2 ? kTagGetSchemaRequest : u"custom-request", i % 3 != 0,
                                           kCmlNamespaceURI));
            message.AddResponse(CCmlResponse(kTagGetPolicyResponse, i % 2 ? 0x47560006u : 0,
                                             u"Policy <current> & 'unchanged'", kCmlNamespaceURI));
            std::ostringstream out;
            message.SerializeDocument(out);
            text = out.str();
        }
        return text;
    }();
    return text;
}

void BM_CmlParserEnvelope(benchmark::State& state) {
    const std::string& text = Reply();
    std::size_t messages = 0;
    for (auto _ : state) {
        CCmlParser parser;
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
class BareParser : public xercesc::XercesDOMParser {
public:
    explicit BareParser(xercesc::SecurityManager* securityManager) {
        setDoNamespaces(true);
        setCreateEntityReferenceNodes(false);
        getScanner()->setDisallowDTD(true);
        setLoadExternalDTD(false);
        setDisableDefaultEntityResolution(true);
        setSecurityManager(securityManager);
        useCachedGrammarInParse(false);
        cacheGrammarFromParse(false);
        setLoadSchema(false);
        setDoSchema(false);
        setValidationScheme(Val_Never);
    }
};

void BM_BareXercesParse(benchmark::State& state) {
    XmlInit();
    const std::string& text = Reply();
    xercesc::SecurityManager securityManager;
    securityManager.setEntityExpansionLimit(64);
    for (auto _ : state) {
        BareParser parser(&securityManager);
        const xercesc::MemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                               u"ZEL CML Stream");
        parser.parse(input);
        benchmark::DoNotOptimize(parser.getDocument());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_BareXercesParse)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
