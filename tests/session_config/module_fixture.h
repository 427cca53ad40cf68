// A started module for one test (SCS_Init before, SCS_ShutDown after, a temporary directory)
// and the helpers every test file shares: files, controllers, lookups and posts.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scs_api.h"
#include "test_support.h"

namespace zel::scs::test {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr const char* kPath = "/zel/sensor_services/heartbeat";
constexpr const char* kMimeType = "application/x-zel-cml-data";

struct PostResult {
    uint32_t status = 0;
    bool hasBody = false;
    std::string body;
};

// SCS_PostData of body to server; checks that the reply is zero-terminated or absent.
inline PostResult Post(int32_t server, const std::string& body, const uint32_t* timeouts = nullptr) {
    static const uint32_t kDefaultTimeouts[3] = {5000, 10000, 60000};
    char* response = reinterpret_cast<char*>(1);
    uint32_t length = 12345;
    PostResult result;
    result.status = Scs().SCS_PostData(0, server, kPath, 0, kMimeType, body.data(),
                                       static_cast<uint32_t>(body.size()),
                                       timeouts ? timeouts : kDefaultTimeouts, &response, &length);
    result.hasBody = response != nullptr;
    if (response) {
        result.body.assign(response, length);
        EXPECT_EQ('\0', response[length]) << "a reply body is followed by a zero byte";
        Scs().SCS_Free(response);
    } else {
        EXPECT_EQ(0u, length);
    }
    return result;
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr)); }
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
    // A server that answers every request with 200 and this body.
    TestServer& StartReplying(const std::string& body, const std::string& certFile = "",
                              const std::string& keyFile = "") {
        return StartServer([body](const httplib::Request&, httplib::Response& response) {
            if (!body.empty()) response.set_content(body, "text/plain");
        }, certFile, keyFile);
    }

    // Writes text to name in the temporary directory; the path.
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = m_dir.File(name);
        WriteFile(path, text);
        return path;
    }

    // Writes agent.properties with these lines in section session_config and loads it.
    void LoadModuleProperties(const std::string& lines) {
        const std::string path = Write("agent.properties", "[session_config]\n" + lines);
        ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    }

    // Appends a controller and returns its server identifier.
    int32_t AddController(const std::string& host, const std::string& port, const char* type = "http",
                          const char* user = nullptr, const char* password = nullptr,
                          const char* proxyHost = nullptr, const char* proxyPort = nullptr,
                          const char* proxyUser = nullptr, const char* proxyPassword = nullptr) {
        EXPECT_EQ(0u, Scs().SCS_AddController("controller", host.c_str(), port.c_str(), type, proxyHost,
                                              proxyPort, user, password, proxyUser, proxyPassword));
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

    // A local property, or "<null>"; expects the status.
    static std::string Retrieve(const char* section, const char* key, uint32_t expected = 0) {
        ScsText value;
        EXPECT_EQ(expected, Scs().SCS_RetrieveLocalProperty(section, key, value.Out())) << section << "/" << key;
        return value.Str();
    }

    // Schema version and group name as SCS_GetGroupSettingsInfo gives them.
    static std::string Info() {
        ScsText schema, group;
        EXPECT_EQ(0u, Scs().SCS_GetGroupSettingsInfo(0, 0, schema.Out(), group.Out()));
        return schema.Str() + "|" + group.Str();
    }

    // The eight texts SCS_GetControllerInfo hands out for index.
    static std::vector<std::string> Controller(uint32_t index) {
        ScsText out[8];
        EXPECT_EQ(0u, Scs().SCS_GetControllerInfo(index, out[0].Out(), out[1].Out(), out[2].Out(), out[3].Out(),
                                                  out[4].Out(), out[5].Out(), out[6].Out(), out[7].Out()));
        std::vector<std::string> texts;
        for (const ScsText& text : out) texts.push_back(text.Str());
        return texts;
    }

    // Everything the module reports about its group settings, as one comparable text.
    static std::string State() {
        std::string state = Info();
        const std::vector<int32_t> ids = Destinations();
        for (uint32_t i = 0; i < ids.size(); ++i) {
            state += "\n" + std::to_string(ids[i]);
            for (const std::string& field : Controller(i)) state += "," + field;
        }
        return state;
    }

    TempDir m_dir;
    std::vector<std::unique_ptr<TestServer>> m_servers;
};

}  // namespace zel::scs::test
