// What every session-config test file shares: the module's entry points loaded with dlopen
// (as the sensor services library loads them), files, HTTP(S) servers on 127.0.0.1 that
// record what they receive, and a started module for one test with its controllers and posts.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "zel/session_config.h"

namespace zel::scs::test {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr const char* kPath = "/zel/sensor_services/heartbeat";
constexpr const char* kMimeType = "application/x-zel-cml-data";

// The entry point `name` of the built module; aborts the test program when it is missing.
inline void* Entry(const char* name) {
    static void* const module = ::dlopen(ZEL_SCS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    void* entry = module ? ::dlsym(module, name) : nullptr;
    if (!entry) std::fprintf(stderr, "%s: no %s (%s)\n", ZEL_SCS_MODULE_PATH, name, ::dlerror()), std::abort();
    return entry;
}
// SCS(Init) is the module's SCS_Init.
#define SCS(name) \
    ([] { static const auto f = reinterpret_cast<decltype(&::SCS_##name)>(Entry("SCS_" #name)); return f; }())

// A text handed out by the module, released with SCS_Free.
struct ScsText { char* p = nullptr; ~ScsText() { SCS(Free)(p); } std::string Str() const { return p ? p : "<null>"; } };

using zel::test::ReadFile;
using zel::test::WriteFile;

// A local property, or "<null>"; expects the status.
inline std::string Retrieve(const char* section, const char* key, uint32_t expected = 0) {
    ScsText value;
    EXPECT_EQ(expected, SCS(RetrieveLocalProperty)(section, key, &value.p)) << section << "/" << key;
    return value.Str();
}

// An HTTP (or, with a certificate and key, HTTPS) server on 127.0.0.1 and a free port.
struct TestServer {
    TestServer(httplib::Server::Handler handler, const std::string& cert = "", const std::string& key = "")
        : server(cert.empty() ? new httplib::Server : new httplib::SSLServer(cert.c_str(), key.c_str())) {
        server->set_tcp_nodelay(true);
        server->Post(".*", [this, handler](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex>{mutex}, requests.push_back(request);
            handler(request, response);
        });
        port = std::to_string(server->bind_to_any_port("127.0.0.1"));
        thread = std::thread([this] { server->listen_after_bind(); });
        while (!server->is_running()) std::this_thread::yield();
    }
    ~TestServer() { server->stop(), thread.join(); }
    std::vector<httplib::Request> Requests() { return std::lock_guard<std::mutex>{mutex}, requests; }

    std::unique_ptr<httplib::Server> server;
    std::mutex mutex;
    std::vector<httplib::Request> requests;
    std::string port;
    std::thread thread;
};

// The status of a post and its reply body, or "<null>" when none was handed out.
struct PostResult { uint32_t status = 0; std::string body; };

// SCS_PostData of body to server (by default with the module's timeouts); checks that the
// reply is zero-terminated or absent.
inline PostResult Post(int32_t server, const std::string& body, const uint32_t* timeouts = nullptr) {
    ScsText response{reinterpret_cast<char*>(1)};
    uint32_t length = 12345;
    const uint32_t status = SCS(PostData)(0, server, kPath, 0, kMimeType, body.data(), uint32_t(body.size()),
                                          timeouts, &response.p, &length);
    EXPECT_TRUE(response.p ? response.p[length] == '\0' : length == 0) << "zero-terminated, or none and length 0";
    return {status, response.p ? std::string(response.p, length) : "<null>"};
}

// SCS_AddController without credentials; its status.
inline uint32_t Add(const char* name, const char* host, const char* port, const char* type = nullptr,
                    const char* proxyHost = nullptr, const char* proxyPort = nullptr) {
    return SCS(AddController)(name, host, port, type, proxyHost, proxyPort, nullptr, nullptr, nullptr, nullptr);
}

// A started module, shut down when the test ends (before the servers stop: it closes its
// kept-alive connections, so they stop at once).
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, SCS(Init)("3.0", kAgentId, 0, nullptr, nullptr)); }
    ~ModuleTest() override { EXPECT_EQ(0u, SCS(ShutDown)()); }

    // A server that lives until the end of the test.
    template <typename... Args> TestServer& StartServer(Args&&... args) {
        return *m_servers.emplace_back(std::make_unique<TestServer>(std::forward<Args>(args)...));
    }

    std::string Write(const std::string& name, const std::string& text) {
        return WriteFile(m_dir.File(name), text), m_dir.File(name);
    }

    // Appends a controller and returns its server identifier.
    int32_t AddController(const std::string& host, const std::string& port, const char* type = "http") {
        EXPECT_EQ(0u, Add("controller", host.c_str(), port.c_str(), type));
        const std::vector<int32_t> ids = Destinations();
        return ids.empty() ? -1 : ids.back();
    }

    static std::vector<int32_t> Destinations() {
        int32_t* servers = nullptr;
        uint32_t count = 99;
        EXPECT_EQ(0u, SCS(GetDestinations)(0, &servers, &count));
        const std::vector<int32_t> ids(servers, servers + count);
        return SCS(Free)(servers), ids;
    }

    std::vector<std::unique_ptr<TestServer>> m_servers;
    zel::test::TempDir m_dir;
};

}  // namespace zel::scs::test
