#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

extern char** environ;

namespace {

// The real ss-controller as a child process on a free loopback port; its stdout is a pipe
// whose first line names the port.
class ControllerProcess {
public:
    explicit ControllerProcess(std::vector<std::string> extraArguments) {
        std::vector<std::string> arguments = {SS_CONTROLLER_PATH, "--listen", "127.0.0.1:0", "--group-settings",
                                              ZEL_EXAMPLES_DIR "/group_settings.xml"};
        arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);

        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_output = fdopen(fds[0], "r");
        if (spawned != 0) {
            m_pid = -1;
            return;
        }
        const std::string first = ReadLine();
        const std::string prefix = "listening on 127.0.0.1:";
        if (first.rfind(prefix, 0) == 0) m_port = std::stoi(first.substr(prefix.size()));
    }
    ControllerProcess(const ControllerProcess&) = delete;
    ControllerProcess& operator=(const ControllerProcess&) = delete;
    ~ControllerProcess() {
        Stop();
        if (m_output != nullptr) fclose(m_output);
    }

    int Port() const { return m_port; }

    // Sends SIGTERM and waits; the exit status (-1 when it did not exit normally).
    int Stop() {
        if (m_pid <= 0) return m_exitStatus;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_exitStatus;
    }

    // One line of the child's stdout without its line end; empty at the end of the output.
    std::string ReadLine() {
        std::string line;
        if (m_output == nullptr) return line;
        for (int c = fgetc(m_output); c != EOF && c != '\n'; c = fgetc(m_output)) line += static_cast<char>(c);
        return line;
    }

private:
    pid_t m_pid = -1;
    FILE* m_output = nullptr;
    int m_port = 0;
    int m_exitStatus = -1;
};

const char kHeartbeat[] =
    "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
    "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
    "<message-envelope message-id='hb-42'><source agent-id='A-1'/><message-body><request>"
    "<agent-startup-announcement request-id='ann-1' schema-version='2.4.2' name='Agent \"One\"' agent-id='A-1'/>"
    "<get-policy-request request-id='gp-1' schema-version='2.4.2'>"
    "<policy-item namespace='http://schemas.zel.example/cml/GroupSettings' token='0'/>"
    "</get-policy-request></request></message-body></message-envelope></cml></zel>";

TEST(ControllerServer, HeartbeatPingAndAgentsOverHttp) {
    ControllerProcess controller({"--group-settings-version", "5"});
    ASSERT_GT(controller.Port(), 0);
    httplib::Client client("127.0.0.1", controller.Port());

    auto heartbeat = client.Post("/zel/sensor_services/heartbeat", kHeartbeat, "application/x-zel-cml-data");
    ASSERT_TRUE(heartbeat);
    EXPECT_EQ(heartbeat->status, 200);
    EXPECT_EQ(heartbeat->get_header_value("Content-Type"), "application/x-zel-cml-data");
    EXPECT_NE(heartbeat->body.find("response-to='hb-42'"), std::string::npos);
    EXPECT_NE(heartbeat->body.find("<agent-startup-acknowledgement xmlns='http://schemas.zel.example/cml' "
                                   "request-id='ann-1'"),
              std::string::npos);
    EXPECT_NE(heartbeat->body.find("version='5' token='5'>"), std::string::npos);
    EXPECT_NE(heartbeat->body.find("<controller-info host-name='backup.example'"), std::string::npos);

    auto refused = client.Post("/zel/sensor_services/heartbeat", "not xml", "application/x-zel-cml-data");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);

    auto ping = client.Post("/zel/sensor_services/ping", "ping-<7>", "application/x-zel-xml-data");
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->status, 200);
    EXPECT_EQ(ping->get_header_value("Content-Type"), "application/x-zel-xml-data");
    EXPECT_NE(ping->body.find("<agent-ping request-id='ping-&lt;7&gt;'/>"), std::string::npos);

    auto agents = client.Get("/admin/agents");
    ASSERT_TRUE(agents);
    EXPECT_EQ(agents->status, 200);
    const std::string& json = agents->body;
    EXPECT_EQ(json.rfind("{\"agents\":[{\"agent_id\":\"A-1\",\"name\":\"Agent \\\"One\\\"\",\"last_heartbeat\":\"", 0),
              0u)
        << json;
    EXPECT_NE(json.find("\"group_settings_version\":\"5\",\"heartbeats\":1}]}"), std::string::npos) << json;

    EXPECT_EQ(controller.Stop(), 0);
    // One log line per exchange, in order.
    const std::vector<std::string> expected = {"/zel/sensor_services/heartbeat agent=A-1 200 settings sent",
                                               "/zel/sensor_services/heartbeat agent=- 400",
                                               "/zel/sensor_services/ping agent=- 200 ping",
                                               "/admin/agents agent=- 200"};
    for (const std::string& piece : expected) {
        const std::string line = controller.ReadLine();
        EXPECT_NE(line.find(" 127.0.0.1:"), std::string::npos) << line;
        EXPECT_NE(line.find(piece), std::string::npos) << line;
    }
    EXPECT_EQ(controller.ReadLine(), "");
}

// Several agents at once: every heartbeat is answered and counted for its own agent.
TEST(ControllerServer, ConcurrentAgentsAreCountedApart) {
    ControllerProcess controller({});
    ASSERT_GT(controller.Port(), 0);
    constexpr int kAgents = 4;
    constexpr int kHeartbeats = 10;
    std::vector<std::thread> agents;
    std::vector<int> answered(kAgents, 0);
    for (int agent = 0; agent < kAgents; ++agent) {
        agents.emplace_back([&, agent] {
            std::string body = kHeartbeat;
            for (std::size_t at = body.find("A-1"); at != std::string::npos; at = body.find("A-1", at))
                body.replace(at, 3, "B-" + std::to_string(agent));
            httplib::Client client("127.0.0.1", controller.Port());
            for (int i = 0; i < kHeartbeats; ++i) {
                auto reply = client.Post("/zel/sensor_services/heartbeat", body, "application/x-zel-cml-data");
                if (reply && reply->status == 200 &&
                    reply->body.find("agent-id='B-" + std::to_string(agent) + "'") != std::string::npos)
                    ++answered[agent];
            }
        });
    }
    for (auto& thread : agents) thread.join();
    httplib::Client client("127.0.0.1", controller.Port());
    auto list = client.Get("/admin/agents");
    ASSERT_TRUE(list);
    for (int agent = 0; agent < kAgents; ++agent) {
        EXPECT_EQ(answered[agent], kHeartbeats);
        EXPECT_NE(list->body.find("{\"agent_id\":\"B-" + std::to_string(agent) + "\""), std::string::npos);
    }
    std::size_t counted = 0;
    for (std::size_t at = list->body.find("\"heartbeats\":10}"); at != std::string::npos;
         at = list->body.find("\"heartbeats\":10}", at + 1))
        ++counted;
    EXPECT_EQ(counted, static_cast<std::size_t>(kAgents)) << list->body;
    EXPECT_EQ(controller.Stop(), 0);
}

TEST(ControllerServer, FailsEveryAnswerAt100Percent) {
    ControllerProcess controller({"--fail-503", "100", "--seed", "3"});
    ASSERT_GT(controller.Port(), 0);
    httplib::Client client("127.0.0.1", controller.Port());
    for (int i = 0; i < 3; ++i) {
        auto heartbeat = client.Post("/zel/sensor_services/heartbeat", kHeartbeat, "application/x-zel-cml-data");
        ASSERT_TRUE(heartbeat);
        EXPECT_EQ(heartbeat->status, 503);
    }
    auto ping = client.Post("/zel/sensor_services/ping", "p", "application/x-zel-xml-data");
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->status, 503);
    // Refused heartbeats are not counted as heard.
    auto agents = client.Get("/admin/agents");
    ASSERT_TRUE(agents);
    EXPECT_EQ(agents->body, "{\"agents\":[]}\n");
    EXPECT_EQ(controller.Stop(), 0);
}

TEST(ControllerServer, RefusesABadCommandLine) {
    ControllerProcess controller({"--fail-503", "200"});
    EXPECT_EQ(controller.Port(), 0);
    EXPECT_EQ(controller.Stop(), 2);
}

}  // namespace
