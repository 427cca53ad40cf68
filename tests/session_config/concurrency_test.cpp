// Concurrent use of the module: posts from several threads while other threads reload and
// rewrite the property file and the group settings file and change the controller list.
// Run under ASan and TSan builds.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "module_fixture.h"

namespace zel::scs::test {
namespace {

class ScsConcurrency : public ModuleTest {};

TEST_F(ScsConcurrency, PostsWhileSettingsAndControllersChange) {
    constexpr int kPosters = 4;
    constexpr int kPostsEach = 200;
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, "[session_config]\nmaxResponseBytes = 100000\n");
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    TestServer& server = StartServer([](const httplib::Request& request, httplib::Response& response) {
        response.set_content("echo:" + request.body, "text/plain");
    });
    const int32_t id = AddController("127.0.0.1", server.PortText());

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> reloads{0};
    std::string lastAgentId;
    std::thread changer([&] {
        for (int n = 0; !stop; ++n) {
            if (Scs().SCS_LoadLocalProperties(path.c_str()) != 0) ++failures;
            lastAgentId = "agent-" + std::to_string(n);
            if (Scs().SCS_SetAgentId(lastAgentId.c_str()) != 0) ++failures;
            const std::string host = "other" + std::to_string(n % 5) + ".example";
            if (Scs().SCS_AddController("x", host.c_str(), "80", nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr) != 0)
                ++failures;
            // The posters' controller stays first; the added one goes again.
            if (Scs().SCS_DeleteController(1) != 0) ++failures;
            ++reloads;
        }
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < kPosters; ++t) {
        posters.emplace_back([&, t] {
            const uint32_t timeouts[3] = {5000, 10000, 60000};
            for (int i = 0; i < kPostsEach; ++i) {
                const std::string request = "thread " + std::to_string(t) + " post " + std::to_string(i);
                char* response = nullptr;
                uint32_t length = 0;
                const uint32_t status =
                    Scs().SCS_PostData(0, id, "/zel/sensor_services/heartbeat", 0,
                                       "application/x-zel-cml-data", request.data(),
                                       static_cast<uint32_t>(request.size()), timeouts,
                                       &response, &length);
                if (status != 0 || !response || std::string(response, length) != "echo:" + request)
                    ++failures;
                Scs().SCS_Free(response);
            }
        });
    }
    for (auto& poster : posters) poster.join();
    stop = true;
    changer.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_GT(reloads.load(), 0);
    EXPECT_EQ(static_cast<std::size_t>(kPosters * kPostsEach), server.Requests().size());
    EXPECT_EQ(std::vector<int32_t>{id}, Destinations());
    ScsText agentId;
    ASSERT_EQ(0u, Scs().SCS_RetrieveLocalProperty("session_config", "agentId", agentId.Out()));
    EXPECT_EQ(lastAgentId, agentId.Str());
    EXPECT_EQ(std::vector<std::string>{"agent.properties"}, m_dir.Entries());
}

// Two threads load and save the group settings file in turn (each parse on its own
// thread, each save replacing the file another thread may be reading) while posts go on.
TEST_F(ScsConcurrency, PostsWhileGroupSettingsAreLoadedAndSaved) {
    constexpr int kPosters = 2;
    constexpr int kPostsEach = 100;
    TestServer& server = StartServer([](const httplib::Request& request, httplib::Response& response) {
        response.set_content("echo:" + request.body, "text/plain");
    });
    const std::string path = m_dir.File("group.xml");
    WriteFile(path, "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='G'>"
                    "<controller-list><controller-info host-name='127.0.0.1' port='" +
                        server.PortText() + "' passwd='s&amp;'/>"
                    "<controller-info host-name='backup.example' port='80'/>"
                    "</controller-list></policy>");
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(path.c_str()));
    const std::vector<int32_t> ids = Destinations();
    ASSERT_EQ(2u, ids.size());

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> rounds{0};
    std::vector<std::thread> changers;
    for (int c = 0; c < 2; ++c) {
        changers.emplace_back([&] {
            while (!stop) {
                if (Scs().SCS_LoadGroupSettings(path.c_str()) != 0) ++failures;
                if (Scs().SCS_SaveGroupSettings(nullptr) != 0) ++failures;
                ScsText schema, group;
                if (Scs().SCS_GetGroupSettingsInfo(0, 0, schema.Out(), group.Out()) != 0 ||
                    group.Str() != "G")
                    ++failures;
                ++rounds;
            }
        });
    }
    std::vector<std::thread> posters;
    for (int t = 0; t < kPosters; ++t) {
        posters.emplace_back([&, t] {
            const uint32_t timeouts[3] = {5000, 10000, 60000};
            for (int i = 0; i < kPostsEach; ++i) {
                const std::string request = "thread " + std::to_string(t) + " post " + std::to_string(i);
                char* response = nullptr;
                uint32_t length = 0;
                const uint32_t status =
                    Scs().SCS_PostData(0, ids[0], "/zel/sensor_services/heartbeat", 0,
                                       "application/x-zel-cml-data", request.data(),
                                       static_cast<uint32_t>(request.size()), timeouts,
                                       &response, &length);
                if (status != 0 || !response || std::string(response, length) != "echo:" + request)
                    ++failures;
                Scs().SCS_Free(response);
            }
        });
    }
    for (auto& poster : posters) poster.join();
    stop = true;
    for (auto& changer : changers) changer.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_GT(rounds.load(), 0);
    EXPECT_EQ(static_cast<std::size_t>(kPosters * kPostsEach), server.Requests().size());
    EXPECT_EQ(ids, Destinations());
    EXPECT_NE(std::string::npos, ReadFile(path).find(" passwd='s&amp;'/>"));
    EXPECT_EQ(std::vector<std::string>{"group.xml"}, m_dir.Entries());
}

}  // namespace
}  // namespace zel::scs::test
