// Round trips per second of SCS_PostData to a loopback server, beside a bare libcurl
// loop (one reused easy handle) to the same server in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "bench/support/cpu_pinning.h"
#include "zel/session_config.h"

namespace {

const std::string kRequest(1024, 'h');
// Untimed round trips before each measured loop, so that neither side pays for the first
// connection or for the machine warming up to the load.
constexpr int kWarmUpPosts = 300;
constexpr const char* kPath = "/zel/sensor_services/heartbeat";
constexpr const char* kMimeType = "application/x-zel-cml-data";

// One loopback server for the whole run, answering every post with a small document. Its
// threads run on `cpu` (any processor when it is negative).
class LoopbackServer {
public:
    explicit LoopbackServer(int cpu) {
        m_server.set_keep_alive_max_count(1000000);
        m_server.set_tcp_nodelay(true);
        m_server.Post(".*", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("<reply status='0'/>", "application/x-zel-cml-data");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this, cpu] {
            zel::bench::PinCallingThread(cpu);
            m_server.listen_after_bind();
        });
        while (!m_server.is_running()) std::this_thread::yield();
    }
    ~LoopbackServer() {
        m_server.stop();
        m_thread.join();
    }
    int Port() const { return m_port; }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

// The server of the run, on a processor of its own; the benchmark loop that asks for it moves
// to the other one.
LoopbackServer& Server() {
    static const zel::bench::CpuPair cpus = zel::bench::ClientAndServerCpus();
    static LoopbackServer server(cpus.server);
    zel::bench::PinCallingThread(cpus.client);
    return server;
}

struct Module {
    decltype(&SCS_Init) init;
    decltype(&SCS_ShutDown) shutDown;
    decltype(&SCS_AddController) add;
    decltype(&SCS_GetDestinations) destinations;
    decltype(&SCS_PostData) post;
    decltype(&SCS_Free) release;
};

Module LoadModule() {
    void* handle = ::dlopen(ZEL_SCS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        std::abort();
    }
    auto symbol = [&](const char* name) {
        void* address = ::dlsym(handle, name);
        if (!address) std::abort();
        return address;
    };
    Module module;
    module.init = reinterpret_cast<decltype(module.init)>(symbol("SCS_Init"));
    module.shutDown = reinterpret_cast<decltype(module.shutDown)>(symbol("SCS_ShutDown"));
    module.add = reinterpret_cast<decltype(module.add)>(symbol("SCS_AddController"));
    module.destinations = reinterpret_cast<decltype(module.destinations)>(symbol("SCS_GetDestinations"));
    module.post = reinterpret_cast<decltype(module.post)>(symbol("SCS_PostData"));
    module.release = reinterpret_cast<decltype(module.release)>(symbol("SCS_Free"));
    return module;
}

void BM_ScsPostData(benchmark::State& state) {
    static const Module scs = LoadModule();
    const std::string port = std::to_string(Server().Port());
    if (scs.init("3.0", "0f8fad5b-d9cb-469f-a165-70867728950e", 0, nullptr, nullptr) != 0 ||
        scs.add("bench", "127.0.0.1", port.c_str(), "http", nullptr, nullptr, nullptr, nullptr,
                nullptr, nullptr) != 0) {
        state.SkipWithError("module set-up failed");
        return;
    }
    int32_t* servers = nullptr;
    uint32_t count = 0;
    scs.destinations(0, &servers, &count);
    const int32_t id = servers[0];
    scs.release(servers);
    auto post = [&] {
        static const uint32_t timeouts[3] = {5000, 10000, 60000};
        char* response = nullptr;
        uint32_t length = 0;
        const bool ok = scs.post(0, id, kPath, 0, kMimeType, kRequest.data(), static_cast<uint32_t>(kRequest.size()),
                                 timeouts, &response, &length) == 0;
        benchmark::DoNotOptimize(response);
        scs.release(response);
        return ok;
    };
    for (int i = 0; i < kWarmUpPosts; ++i) post();
    for (auto _ : state) {
        if (!post()) {
            state.SkipWithError("post failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    scs.shutDown();
}
BENCHMARK(BM_ScsPostData)->UseRealTime();

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// The baseline: the same post with one easy handle whose options are set once.
void BM_BareCurlPost(benchmark::State& state) {
    curl_global_init(CURL_GLOBAL_ALL);
    CURL* curl = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(Server().Port()) + kPath;
    curl_slist* headers = curl_slist_append(nullptr, (std::string("Content-Type: ") + kMimeType).c_str());
    headers = curl_slist_append(headers, "Expect:");
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, kRequest.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(kRequest.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    auto post = [&] {
        body.clear();
        long code = 0;
        const bool ok = curl_easy_perform(curl) == CURLE_OK &&
                        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code == 200;
        benchmark::DoNotOptimize(body.data());
        return ok;
    };
    for (int i = 0; i < kWarmUpPosts; ++i) post();
    for (auto _ : state) {
        if (!post()) {
            state.SkipWithError("post failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
}
BENCHMARK(BM_BareCurlPost)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
