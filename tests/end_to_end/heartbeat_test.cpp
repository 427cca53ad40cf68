// The shared library, driven through its exported interface as an agent drives it, against the
// real ss-controller on 127.0.0.1: heartbeats built by the agent reach the controller, with the
// dispatch thread of the POSIX platform services and in synchronous mode, also after refusals,
// with the primary controller down, and with no controller at first; and the controller's
// reply reaches the agent's callbacks in order while the library keeps the group settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sensor_services/services_fixture.h"
#include "support/controller_process.h"
#include "zel/platform_posix.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

using zel::test::ControllerProcess;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

constexpr const char* kDispatchWhere = "CBaseServices::_DispatchThread()";
const std::string kSendingTo = "Sending requests to server ";

// The agent the heartbeats announce; every field differs from the library's own defaults.
constexpr struct { const char *id, *name, *agentNamespace, *version, *ipAddress; } kAgent = {
    "5a3c9e2f-7b1d-4e08-9c6a-2f4b8d1e0a77", "End-to-end Agent", "http://schemas.zel.example/agents/e2e", "4.2.17",
    "127.0.0.42"};

// A loopback port that is bound but never listened on: connections to it are refused, and no
// other program can take it while this object lives.
struct RefusingPort {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), port = 0;
    RefusingPort() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (bind(fd, any, length) == 0 && getsockname(fd, any, &length) == 0) port = ntohs(address.sin_port);
    }
    ~RefusingPort() { close(fd); }
};

// The agent's record in the controller's GET /admin/agents document (up to the next agent's);
// empty when it is not there.
std::string AgentRecord(const ControllerProcess& controller) {
    const auto answer = httplib::Client("127.0.0.1", controller.Port()).Get("/admin/agents");
    const std::string body = answer ? answer->body : "";
    const std::size_t start = body.find(std::string("{\"agent_id\":\"") + kAgent.id + "\"");
    return start == std::string::npos ? "" : body.substr(start, body.find("{\"agent_id\":", start + 1) - start);
}

std::string HeartbeatLine(const std::string& messageId) {
    return std::string("heartbeat from ") + kAgent.id + " (" + kAgent.name + ") message " + messageId + ": reply 200";
}

// Builds the agent's heartbeat and posts it; the message identifier goes to `messageId`.
uint32_t PostAgentHeartbeat(std::string& messageId) {
    SS_Heartbeat heartbeat = nullptr;
    EXPECT_EQ(0u, CreateHeartbeat(&heartbeat, kAgent.id, kAgent.name, kAgent.agentNamespace, kAgent.version,
                                  kAgent.ipAddress));
    // Exactly the identifier's size: no room for a terminator.
    char id[36];
    uint32_t idLength = sizeof id;
    const uint32_t status = PostHeartbeat(heartbeat, id, &idLength);
    EXPECT_EQ(36u, idLength);
    messageId.assign(id, std::min<uint32_t>(idLength, sizeof id));
    return status;
}

// The agent's callbacks in the order they ran, one line each (they are plain functions).
Recorded<std::string> g_callbacks;
template <typename... Args>
uint32_t Called(const char* format, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    g_callbacks.Add(line);
    return 0;
}
Lines CallbackLines() { return g_callbacks.Items(); }

// Queues one request element for the agent at the controller; its request id.
std::string QueueRequest(const ControllerProcess& controller, const std::string& element) {
    const auto answer = httplib::Client("127.0.0.1", controller.Port())
                            .Post(std::string("/admin/queue?agent=") + kAgent.id, element,
                                  "application/x-zel-cml-data");
    EXPECT_TRUE(answer && answer->status == 200) << (answer ? answer->body : "no answer");
    return answer ? answer->body.substr(answer->body.find(":\"") + 2, 36) : "";
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ErrorLog::Instance().Clear();
        g_callbacks.Clear();
    }

    // The dispatch thread of the stopped instance may still trace; a start in synchronous
    // mode waits until it has ended, and its stop has no thread to wait for. The library's
    // connections are closed before the controllers stop.
    void TearDown() override {
        EXPECT_EQ(0u, SS_ShutDown());
        if (!m_files) return;
        EXPECT_EQ(0u, SS_Init("3.0", m_files->PropertyFile().c_str(), m_files->GroupSettingsFile().c_str(), kAgentId,
                              0, nullptr, nullptr));
        EXPECT_EQ(0u, SS_ShutDown());
    }

    ControllerProcess& StartController(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), {"--group-settings", ZEL_EXAMPLES_DIR "/group_settings.xml",
                                             "--group-settings-version", "7"});
        m_controllers.push_back(std::make_unique<ControllerProcess>(SS_CONTROLLER_PATH, arguments));
        EXPECT_GT(m_controllers.back()->Port(), 0) << "ss-controller did not start";
        return *m_controllers.back();
    }

    // Starts the library on a controller list of `ports`; `threaded` selects the POSIX
    // platform services, else synchronous mode.
    void StartLibrary(const std::vector<int>& ports, bool threaded, const std::string& properties = "") {
        m_files = std::make_unique<SettingsFiles>(ports, properties);
        ASSERT_EQ(0u, SS_Init("3.0", m_files->PropertyFile().c_str(), m_files->GroupSettingsFile().c_str(), kAgentId,
                              0, threaded ? ZEL_PosixPlatformServices() : nullptr, m_trace.Sink()));
        ASSERT_EQ(0u, SS_RegisterErrorCallback(&ErrorLog::Callback));
        // A post before the thread's first state would fold into that state; waiting for the
        // thread to sit idle gives every test the same sequence of waits.
        if (threaded) { ASSERT_TRUE(IdleFor(1)); }
    }

    // True once the dispatch thread is back to waiting without a limit for the `times`th time:
    // the first wait follows its start, every later one the end of a series of sends.
    bool IdleFor(int times) const {
        return Eventually([&] { return m_trace.Count(8, "Waiting on dispatch event with timeout = 4294967295",
                                                     kDispatchWhere) >= times; });
    }

    std::unique_ptr<SettingsFiles> m_files, m_served;
    TraceRecorder m_trace;
    std::vector<std::unique_ptr<ControllerProcess>> m_controllers;
};

TEST_F(EndToEndTest, TwoPostsWhileTheThreadWaitsSendOnlyTheSecond) {
    ControllerProcess& controller = StartController({"--fail-503-first", "1"});
    StartLibrary({controller.Port()}, true, "retryInterval = 1000\n");

    // The refused first heartbeat puts the retry state into a finite wait.
    std::string refusedId, firstId, secondId;
    ASSERT_EQ(0u, PostAgentHeartbeat(refusedId));
    ASSERT_TRUE(Eventually(
        [&] { return m_trace.Count(8, "Waiting on dispatch event with timeout = 1000", kDispatchWhere) == 1; }));

    // Neither post wakes the thread: both replace the pending heartbeat and wait for the delay.
    ASSERT_EQ(0u, PostAgentHeartbeat(firstId));
    ASSERT_EQ(0u, PostAgentHeartbeat(secondId));
    ASSERT_NE(firstId, secondId);
    // Send, then one more turn at once for the immediate flag, then idle.
    ASSERT_TRUE(IdleFor(2));
    // The controller logs each exchange: the refusal, then the second heartbeat.
    ASSERT_TRUE(controller.WaitForLogLines(HeartbeatLine(secondId), 1));
    const std::vector<std::string> log = controller.LogLines();
    ASSERT_EQ(2u, log.size()) << ::testing::PrintToString(log);
    EXPECT_EQ("heartbeat: reply 503 (injected)", log[0]);
    EXPECT_EQ((std::vector<ErrorReport>{{0xC7590013, 1}}), ErrorLog::Instance().Reports());
}

// Two failed tries, then the heartbeat is accepted: with the primary refusing connections the
// third try goes to the secondary. (A controller that refuses a heartbeat gets the retry
// itself: TwoPostsWhileTheThreadWaitsSendOnlyTheSecond.)
TEST_F(EndToEndTest, WithThePrimaryDownTheThirdTryGoesToTheSecondary) {
    const RefusingPort primary;
    ASSERT_GT(primary.port, 0);
    ControllerProcess& controller = StartController();
    StartLibrary({primary.port, controller.Port()}, true, "retryInterval = 20\nmaxServerRetry = 2\n");
    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(messageId));
    ASSERT_TRUE(controller.WaitForLogLines(HeartbeatLine(messageId), 1));
    ASSERT_TRUE(IdleFor(2));
    EXPECT_EQ((std::vector<ErrorReport>{{0xC7590009, 1}, {0xC7590009, 1}}), ErrorLog::Instance().Reports());
    // The server identifiers of the dispatch thread's sends, in order.
    std::vector<int> servers;
    for (const TraceLine& line : m_trace.Lines(kDispatchWhere))
        if (line.message.rfind(kSendingTo, 0) == 0)
            servers.push_back(std::stoi(line.message.substr(kSendingTo.size())));
    ASSERT_EQ(3u, servers.size()) << ::testing::PrintToString(servers);
    EXPECT_EQ(servers[0], servers[1]);
    EXPECT_NE(servers[1], servers[2]);
}

TEST_F(EndToEndTest, SynchronousWithoutControllersKeepsTheHeartbeatUntilOneIsAdded) {
    ControllerProcess& controller = StartController();
    StartLibrary({}, false);
    std::string orphanId, deliveredId;
    EXPECT_EQ(0xC7210009u, PostAgentHeartbeat(orphanId));

    ASSERT_EQ(0u, SS_AddController("e2e", "127.0.0.1", std::to_string(controller.Port()).c_str(), "http", nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr));
    // The retry state learns of the new controller on the module's notifier thread; until
    // then there is still nothing to send to, and nothing is sent.
    ASSERT_TRUE(Eventually([&] {
        EXPECT_EQ(0u, SS_ResetToPrimaryController());
        const uint32_t status = PostAgentHeartbeat(deliveredId);
        EXPECT_TRUE(status == 0 || status == ZEL_E_INVALID_HANDLE) << std::hex << status;
        return status == 0;
    }));

    // In synchronous mode the post has completed when PostHeartbeat returns: the controller
    // took the agent that was built, in one heartbeat. That asked for the group settings with
    // the library's initial token, which differs from the controller's version: the document
    // was sent.
    EXPECT_TRUE(controller.WaitForLogLines(HeartbeatLine(deliveredId), 1));
    const std::string record = AgentRecord(controller);
    EXPECT_THAT(record, HasSubstr("\"heartbeats\":1,"));
    EXPECT_THAT(record, HasSubstr("\"group_settings_version\":\"7\""));
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

// The controller hands out group settings version 9 that list it and a second controller, and queues a request the
// library has no callback for: it owes that an answer, which its next heartbeat carries.
TEST_F(EndToEndTest, TheControllersReplyReachesTheAgentsCallbacksAndTheLoopCloses) {
    // Its port is chosen first: the library keeps posting to it once it takes the settings.
    const RefusingPort second;
    const int port = RefusingPort().port;
    m_served = std::make_unique<SettingsFiles>(std::vector<int>{port, second.port});
    ControllerProcess& served = StartController({"--listen", "127.0.0.1:" + std::to_string(port), "--group-settings",
                                                 m_served->GroupSettingsFile(), "--group-settings-version", "9"});
    StartLibrary({served.Port()}, true);
    ASSERT_EQ(0u, RegisterGroupSettingsResponse([](const char*, uint32_t, uint32_t status, const char*,
                                                   const char* token, const char*, const char*, const char*,
                                                   uint32_t code, const char*, const char* policy,
                                                   uint32_t policyLength, uint32_t) {
        return Called("group-settings token=%s status=%u code=%u document=%d", token, status, code,
                      policy && policyLength);
    }));
    ASSERT_EQ(0u, RegisterGenericResponse([](const char* tagName, const char*, uint32_t, const char*, uint32_t code,
                                             const char*, uint32_t last) {
        return Called("generic %s %u last=%u", tagName, code, last);
    }));
    ASSERT_EQ(0u, RegisterResponseComplete([](const char* responseTo) { return Called("complete %s", responseTo); }));
    const std::string unanswered =
        QueueRequest(served, "<get-agent-status-request xmlns='http://schemas.zel.example/cml'><module name='s'/>"
                             "</get-agent-status-request>");
    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(messageId));

    // The policy answers first (the group settings item goes to the library, which saves and
    // loads it and then tells the agent), then the acknowledgement.
    ASSERT_TRUE(Eventually([] { return CallbackLines().size() >= 3; }));
    const Lines lines = CallbackLines();
    EXPECT_EQ((Lines{"group-settings token=9 status=0 code=0 document=1",
                     "generic agent-startup-acknowledgement 0 last=1", "complete " + messageId}),
              lines);
    // The settings were saved and loaded: the module now lists both controllers.
    EXPECT_EQ(2u, ControllerCount());

    // The next heartbeat, which the controller recorded, asked for the settings with the new
    // version and carried the answer.
    ASSERT_EQ(0u, PostAgentHeartbeat(messageId));
    ASSERT_TRUE(served.WaitForLogLines(HeartbeatLine(messageId), 1));
    const std::string record = AgentRecord(served), text = "sensor services - unrecognized request";
    EXPECT_THAT(record, HasSubstr("{\"tag\":\"error-response\",\"request_id\":\"" + unanswered +
                                  "\",\"code\":\"0xc7380004\",\"text\":\"" + text + "\""));
    EXPECT_TRUE(served.WaitForLogLines("get-agent-status-request " + unanswered + " answered by " + kAgent.id +
                                       ": error-response 0xc7380004 (" + text + ")", 1));
    EXPECT_TRUE(served.WaitForLogLines("settings unchanged", 1));
}

}  // namespace
}  // namespace zel::ss::test
