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

class ScsConcurrency : public ModuleTest {
protected:
    // Starts the echo server the posters post to.
    TestServer& StartEcho() {
        return StartServer([](const httplib::Request& request, httplib::Response& response) {
            response.set_content("echo:" + request.body, "text/plain");
        });
    }
    // Runs posters threads of postsEach posts to id and counts the posts that did not come back.
    static void RunPosters(int posters, int postsEach, int32_t id, std::atomic<int>& failures) {
        std::vector<std::thread> threads;
        for (int t = 0; t < posters; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < postsEach; ++i) {
                    const std::string request = "thread " + std::to_string(t) + " post " + std::to_string(i);
                    const PostResult result = Post(id, request);
                    if (result.status != 0 || result.body != "echo:" + request) ++failures;
                }
            });
        for (auto& thread : threads) thread.join();
    }
};

TEST_F(ScsConcurrency, PostsWhileSettingsAndControllersChange) {
    constexpr int kPosters = 4;
    constexpr int kPostsEach = 200;
    const std::string path = Write("agent.properties", "[session_config]\nmaxResponseBytes = 100000\n");
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    TestServer& server = StartEcho();
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
            if (Scs().SCS_AddController("x", host.c_str(), "80", nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr) != 0)
                ++failures;
            // The posters' controller stays first; the added one goes again.
            if (Scs().SCS_DeleteController(1) != 0) ++failures;
            ++reloads;
        }
    });
    RunPosters(kPosters, kPostsEach, id, failures);
    stop = true;
    changer.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_GT(reloads.load(), 0);
    EXPECT_EQ(static_cast<std::size_t>(kPosters * kPostsEach), server.Requests().size());
    EXPECT_EQ(std::vector<int32_t>{id}, Destinations());
    EXPECT_EQ(lastAgentId, Retrieve("session_config", "agentId"));
    EXPECT_EQ(std::vector<std::string>{"agent.properties"}, m_dir.Entries());
}

// Two threads load and save the group settings file in turn (each parse on its own
// thread, each save replacing the file another thread may be reading) while posts go on.
TEST_F(ScsConcurrency, PostsWhileGroupSettingsAreLoadedAndSaved) {
    constexpr int kPosters = 2;
    constexpr int kPostsEach = 100;
    TestServer& server = StartEcho();
    const std::string path = Write("group.xml",
                                   "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='G'>"
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
    for (int c = 0; c < 2; ++c)
        changers.emplace_back([&] {
            for (; !stop; ++rounds) {
                if (Scs().SCS_LoadGroupSettings(path.c_str()) != 0) ++failures;
                if (Scs().SCS_SaveGroupSettings(nullptr) != 0) ++failures;
                if (Info() != "1.0.0|G") ++failures;
            }
        });
    RunPosters(kPosters, kPostsEach, ids[0], failures);
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
