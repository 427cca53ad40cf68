// Heartbeats per second from an agent to the real ss-controller on 127.0.0.1 through the
// library in synchronous mode (each PostHeartbeat builds, sends and waits for the reply on the
// calling thread), beside bare libcurl posts of the same bytes with the same headers on one
// reused easy handle, to the same controller in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/support/cpu_pinning.h"
#include "support/controller_process.h"
#include "support/temp_dir.h"
#include "zel/sensor_services.h"

namespace {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
constexpr const char* kMimeType = "application/x-zel-cml-data";
constexpr const char* kDumpFile = "ss_dump_hbreq.txt";
// Untimed exchanges before each measured loop, so that neither side pays for the first
// connection or for the machine warming up to the load.
constexpr int kWarmUpExchanges = 100;

using zel::test::ReadFile;
using zel::test::TempDir;
using zel::test::WriteFile;

// The settings of one library start against the controller at `port`.
struct Settings {
    Settings(int port, const std::string& properties) {
        WriteFile(groupSettingsFile,
                  "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
                  "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group'\n"
                  "        version='3' schema-version='1.0.0'>\n"
                  "    <controller-list>\n"
                  "        <controller-info name='primary' host-name='127.0.0.1' port='" +
                      std::to_string(port) + "'/>\n    </controller-list>\n</policy>\n");
        WriteFile(propertyFile, "[sensor_services]\ndnsCacheTimeout = 60000\n" + properties);
    }
    TempDir dir;
    const std::string propertyFile = dir.File("agent.properties");
    const std::string groupSettingsFile = dir.File("group.xml");
};

// The library started in synchronous mode for the life of the object.
class SynchronousLibrary {
public:
    SynchronousLibrary(int port, const std::string& properties) : m_settings(port, properties) {
        m_status = SS_Init("3.0", m_settings.propertyFile.c_str(), m_settings.groupSettingsFile.c_str(), kAgentId, 0,
                           nullptr, nullptr);
    }
    ~SynchronousLibrary() { SS_ShutDown(); }
    SynchronousLibrary(const SynchronousLibrary&) = delete;
    SynchronousLibrary& operator=(const SynchronousLibrary&) = delete;
    uint32_t Status() const { return m_status; }

private:
    Settings m_settings;
    uint32_t m_status = 0;
};

// Builds the agent's heartbeat and posts it: one complete exchange in synchronous mode.
uint32_t BuildAndPost() {
    SS_Heartbeat heartbeat = nullptr;
    const uint32_t created = CreateHeartbeat(&heartbeat, kAgentId, "Benchmark Agent",
                                             "http://schemas.zel.example/agents/bench", "1.0.0", "127.0.0.1");
    if (created != 0) return created;
    return PostHeartbeat(heartbeat, nullptr, nullptr);
}

// The bytes the library sends for one heartbeat, as its dump writes them (into the current
// directory, so the run moves into a scratch directory for it).
std::string CaptureHeartbeatBytes(int port) {
    TempDir dumpDir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dumpDir.Path());
    uint32_t status = 0;
    {
        SynchronousLibrary library(port, "dumpEnabled = 1\n");
        status = library.Status() != 0 ? library.Status() : BuildAndPost();
    }
    std::string bytes = ReadFile(dumpDir.File(kDumpFile));
    std::filesystem::current_path(previous);
    if (status != 0 || bytes.empty()) throw std::runtime_error("cannot capture the heartbeat bytes");
    return bytes;
}

void LibraryPostHeartbeat(benchmark::State& state, int port) {
    SynchronousLibrary library(port, "");
    if (library.Status() != 0) {
        state.SkipWithError("SS_Init failed");
        return;
    }
    for (int i = 0; i < kWarmUpExchanges; ++i) BuildAndPost();
    for (auto _ : state) {
        const uint32_t status = BuildAndPost();
        if (status != 0) {
            state.SkipWithError(("PostHeartbeat failed: " + std::to_string(status)).c_str());
            break;
        }
    }
    state.counters["heartbeats/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}

size_t CollectBody(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

void BareCurlPost(benchmark::State& state, int port, const std::string& bytes) {
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    std::unique_ptr<curl_slist, SlistDeleter> headers(
        curl_slist_append(nullptr, (std::string("Content-Type: ") + kMimeType).c_str()));
    // The library's posts carry no "Expect: 100-continue" either.
    if (headers) {
        if (curl_slist* more = curl_slist_append(headers.get(), "Expect:")) {
            headers.release();
            headers.reset(more);
        }
    }
    if (!curl || !headers) {
        state.SkipWithError("cannot set up libcurl");
        return;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + kHeartbeatPath;
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, bytes.data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    auto post = [&] {
        body.clear();
        long code = 0;
        const bool ok = curl_easy_perform(curl.get()) == CURLE_OK &&
                        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code == 200;
        benchmark::DoNotOptimize(body.data());
        return ok;
    };
    for (int i = 0; i < kWarmUpExchanges; ++i) post();
    for (auto _ : state) {
        if (!post()) {
            state.SkipWithError("post failed");
            break;
        }
    }
    state.counters["heartbeats/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int result = 0;
    {
        // The controller serves no group settings: a settings document would replace the
        // library's controller list with the one it names. Each reply acknowledges the
        // announcement and answers the group-settings request with "no policy", which the
        // library parses and dispatches like any reply. The controller starts on a processor
        // of its own (it inherits the affinity of the thread that starts it), and the
        // benchmark loops, the library's threads among them, run on the other.
        const zel::bench::CpuPair cpus = zel::bench::ClientAndServerCpus();
        zel::bench::PinCallingThread(cpus.server);
        zel::test::ControllerProcess controller(SS_CONTROLLER_PATH, {});
        zel::bench::PinCallingThread(cpus.client);
        if (controller.Port() <= 0) {
            std::fprintf(stderr, "ss-controller did not start\n");
            result = 1;
        } else {
            const int port = controller.Port();
            const std::string bytes = CaptureHeartbeatBytes(port);
            benchmark::RegisterBenchmark("LibraryPostHeartbeat/synchronous",
                                         [port](benchmark::State& state) { LibraryPostHeartbeat(state, port); })
                ->UseRealTime();
            benchmark::RegisterBenchmark("BareCurlPost/same_bytes", [port, &bytes](benchmark::State& state) {
                BareCurlPost(state, port, bytes);
            })->UseRealTime();
            benchmark::RunSpecifiedBenchmarks();
        }
    }
    benchmark::Shutdown();
    curl_global_cleanup();
    return result;
}
