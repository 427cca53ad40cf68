// A started module for one test: SCS_Init before, SCS_ShutDown after, a temporary
// directory, and helpers for the property file and the controller list.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scs_api.h"
#include "test_support.h"

namespace zel::scs::test {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
    }
    // The module goes first: it closes its kept-alive connections, so the servers stop at once.
    void TearDown() override {
        EXPECT_EQ(0u, Scs().SCS_ShutDown());
        m_servers.clear();
    }

    // Starts a server that lives until the end of the test.
    TestServer& StartServer(TestServer::Handler handler, const std::string& certFile = "",
                            const std::string& keyFile = "") {
        m_servers.push_back(std::make_unique<TestServer>(std::move(handler), certFile, keyFile));
        return *m_servers.back();
    }

    // Writes agent.properties with these lines in section session_config and loads it.
    void LoadModuleProperties(const std::string& lines) {
        const std::string path = m_dir.File("agent.properties");
        WriteFile(path, "[sensor_services]\nconnectTimeout = 5000\n\n[session_config]\n" + lines);
        ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    }

    // Appends a controller and returns its server identifier.
    int32_t AddController(const std::string& host, const std::string& port,
                          const char* type = "http", const char* user = nullptr,
                          const char* password = nullptr, const char* proxyHost = nullptr,
                          const char* proxyPort = nullptr, const char* proxyUser = nullptr,
                          const char* proxyPassword = nullptr) {
        EXPECT_EQ(0u, Scs().SCS_AddController("controller", host.c_str(), port.c_str(), type,
                                              proxyHost, proxyPort, user, password, proxyUser,
                                              proxyPassword));
        const std::vector<int32_t> ids = Destinations();
        return ids.empty() ? -1 : ids.back();
    }

    static std::vector<int32_t> Destinations() {
        int32_t* servers = nullptr;
        uint32_t count = 99;
        EXPECT_EQ(0u, Scs().SCS_GetDestinations(0, &servers, &count));
        std::vector<int32_t> ids(servers, servers + count);
        Scs().SCS_Free(servers);
        return ids;
    }

    TempDir m_dir;
    std::vector<std::unique_ptr<TestServer>> m_servers;
};

}  // namespace zel::scs::test
