// The memory a long run of reply parses leaves behind: the resident set of a process after
// 100,000 parses of a 50 KB reply through the CML parser (parse, envelope, message objects),
// beside the same number of bare Xerces DOM parses of the same bytes. Each runs in a child
// process of its own, so that neither inherits the other's heap, and the two run side by
// side on the two cores.
//
// Both children keep glibc from handing the top of its heap back to the system after every
// parse: otherwise the next parse faults those pages in again, which took two thirds of a bare
// Xerces parse's time and made this the slowest benchmark by far. What is measured, the
// resident set after the run, is taken with the same allocator settings on both sides.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "bench/cml/reply_document.h"
#include "tests/support/bare_xerces_parser.h"
#include "tests/support/resident_size.h"

namespace {

using namespace zel::cml;

constexpr int kParses = 100000;
// Free memory glibc keeps at the top of its heap, and the smallest block it maps on its own:
// the largest it accepts for the latter, far above the blocks a 50 KB document needs.
constexpr int kKeptHeapBytes = 32 * 1024 * 1024;

// A child process that runs `parse` kParses times and then writes its resident set into a
// pipe; the parent reads it with Result().
class ParsingChild {
public:
    explicit ParsingChild(const std::function<void()>& parse) {
        int ends[2];
        if (pipe(ends) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(ends[0]);
            mallopt(M_TRIM_THRESHOLD, kKeptHeapBytes);
            mallopt(M_MMAP_THRESHOLD, kKeptHeapBytes);
            for (int i = 0; i < kParses; ++i) parse();
            const long resident = zel::test::ResidentKilobytes();
            _exit(write(ends[1], &resident, sizeof resident) == sizeof resident ? 0 : 1);
        }
        close(ends[1]);
        m_pipe = ends[0];
    }
    ParsingChild(const ParsingChild&) = delete;
    ParsingChild& operator=(const ParsingChild&) = delete;
    ~ParsingChild() {
        if (m_pipe >= 0) close(m_pipe);
        if (m_pid > 0) waitpid(m_pid, nullptr, 0);
    }

    // The child's resident set in KiB, or -1 when it did not report.
    long Result() {
        long resident = -1;
        if (m_pid <= 0 || read(m_pipe, &resident, sizeof resident) != sizeof resident) return -1;
        return resident;
    }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
};

// The CML parser as the library uses it (one parser reused, the envelope read into message
// objects) and bare Xerces, each in its own child; both children run at the same time.
void BM_ResidentAfterParses(benchmark::State& state) {
    const std::string& text = bench::ReplyDocument();
    long cml = -1, xerces = -1;
    for (auto _ : state) {
        ParsingChild cmlChild([&text, parser = std::shared_ptr<CCmlParser>()]() mutable {
            if (!parser) parser = std::make_shared<CCmlParser>();
            parser->ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                                kParseNonValidating);
            CCmlMessage message;
            message.Deserialize(parser->GetEnvelopeElement());
            benchmark::DoNotOptimize(message.GetResponses().size());
        });
        ParsingChild xercesChild([&text, parser = std::shared_ptr<zel::test::BareXercesParser>()]() mutable {
            if (!parser) parser = std::make_shared<zel::test::BareXercesParser>();
            benchmark::DoNotOptimize(parser->Parse(text));
        });
        cml = cmlChild.Result();
        xerces = xercesChild.Result();
    }
    if (cml < 0 || xerces < 0) state.SkipWithError("a child process did not report");
    state.counters["cml_rss_kib"] = static_cast<double>(cml);
    state.counters["xerces_rss_kib"] = static_cast<double>(xerces);
}
BENCHMARK(BM_ResidentAfterParses)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
