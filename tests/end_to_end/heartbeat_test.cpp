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
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <mutex>
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
using Clock = std::chrono::steady_clock;
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

struct Exchange { std::string request; int status; std::string reply; Clock::time_point arrived, answered; };

// A pass-through in front of a controller that keeps each request the controller received and
// the reply it gave.
struct Tap {
    explicit Tap(int port)
        : server([this, port](const httplib::Request& request, httplib::Response& response) {
              const auto arrived = Clock::now();
              const auto answer = httplib::Client("127.0.0.1", port).Post(request.path, request.body,
                                                                          request.get_header_value("Content-Type"));
              response.status = answer ? answer->status : 502;
              response.set_content(answer ? answer->body : "", answer ? answer->get_header_value("Content-Type") : "");
              std::lock_guard<std::mutex> lock(mutex);
              exchanges.push_back({request.body, response.status, response.body, arrived, Clock::now()});
          }) {}
    std::vector<Exchange> Exchanges() const {
        std::lock_guard<std::mutex> lock(mutex);
        return exchanges;
    }
    // Declared before the server, which stops (and ends its handlers) first.
    mutable std::mutex mutex;
    std::vector<Exchange> exchanges;
    RecordingServer server;
};

// The agent's record in the controller's GET /admin/agents document (up to the next agent's);
// empty when it is not there.
std::string AgentRecord(const ControllerProcess& controller) {
    const auto answer = httplib::Client("127.0.0.1", controller.Port()).Get("/admin/agents");
    const std::string body = answer ? answer->body : "";
    const std::size_t start = body.find(std::string("{\"agent_id\":\"") + kAgent.id + "\"");
    return start == std::string::npos ? "" : body.substr(start, body.find("{\"agent_id\":", start + 1) - start);
}

bool WaitForHeartbeats(const ControllerProcess& controller, int count) {
    const std::string piece = "\"heartbeats\":" + std::to_string(count) + ",";
    return Eventually([&] { return AgentRecord(controller).find(piece) != std::string::npos; });
}

std::string HeartbeatLine(const std::string& messageId) {
    return std::string("heartbeat from ") + kAgent.id + " (" + kAgent.name + ") message " + messageId + ": reply 200";
}

// The exchange carried message `messageId` and its reply answered it.
void ExpectAnswered(const Exchange& exchange, const std::string& messageId) {
    EXPECT_EQ(200, exchange.status);
    EXPECT_THAT(exchange.request, HasSubstr("message-id='" + messageId + "'"));
    EXPECT_THAT(exchange.reply, HasSubstr("response-to='" + messageId + "'"));
}

// Builds the agent's heartbeat (with a get-policy request for `policyNamespace` when given) and
// posts it; the message identifier goes to `messageId`.
uint32_t PostAgentHeartbeat(std::string& messageId, const char* policyNamespace = nullptr) {
    SS_Heartbeat heartbeat = nullptr;
    EXPECT_EQ(0u, CreateHeartbeat(&heartbeat, kAgent.id, kAgent.name, kAgent.agentNamespace, kAgent.version,
                                  kAgent.ipAddress));
    const auto request = policyNamespace ? AddGetPolicyRequest : nullptr;
    EXPECT_EQ(0u, request ? request(heartbeat, "1", "scan", policyNamespace, "1.0", nullptr, nullptr) : 0u);
    // Exactly the identifier's size: no room for a terminator.
    char id[36];
    uint32_t idLength = sizeof id;
    const uint32_t status = PostHeartbeat(heartbeat, id, &idLength);
    EXPECT_EQ(36u, idLength);
    messageId.assign(id, std::min<uint32_t>(idLength, sizeof id));
    return status;
}

// The agent's callbacks in the order they ran, one line each (they are plain functions).
std::mutex g_callbackMutex;
Lines g_callbacks;
template <typename... Args>
uint32_t Called(const char* format, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    g_callbacks.push_back(line);
    return 0;
}
Lines CallbackLines() {
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    return g_callbacks;
}
uint32_t OnResponseComplete(const char* responseTo) { return Called("complete %s", responseTo); }

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
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        g_callbacks.clear();
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
    std::vector<std::unique_ptr<Tap>> m_taps;
};

// The controller recorded the agent that was built, from heartbeat `id`, the only one the tap saw and answered. It
// asked for the group settings with the library's initial token, which differs from the controller's version: the
// document was sent.
void ExpectOnlyHeartbeat(const ControllerProcess& controller, const Tap& tap, const std::string& id) {
    ASSERT_TRUE(WaitForHeartbeats(controller, 1)) << AgentRecord(controller);
    const std::string record = AgentRecord(controller);
    EXPECT_EQ(0u, record.find(std::string("{\"agent_id\":\"") + kAgent.id + "\",\"name\":\"" + kAgent.name + "\","))
        << record;
    for (const std::string& piece : {std::string("\"group_settings_version\":\"7\""), "\"message_id\":\"" + id + "\"",
                                     std::string("\"agent_version\":\"") + kAgent.version + "\""})
        EXPECT_THAT(record, HasSubstr(piece));
    EXPECT_TRUE(controller.WaitForLogLines(HeartbeatLine(id), 1));
    // The controller counts the heartbeat before the tap has its answer.
    ASSERT_TRUE(Eventually([&] { return !tap.Exchanges().empty(); }));
    const std::vector<Exchange> exchanges = tap.Exchanges();
    ASSERT_EQ(1u, exchanges.size());
    ExpectAnswered(exchanges[0], id);
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

// With the dispatch thread; the synchronous post is checked alike once a controller is added.
TEST_F(EndToEndTest, TheControllerRecordsTheAgentThatWasBuilt) {
    ControllerProcess& controller = StartController();
    Tap& tap = *m_taps.emplace_back(std::make_unique<Tap>(controller.Port()));
    StartLibrary({tap.server.Port()}, true);
    std::string id;
    ASSERT_EQ(0u, PostAgentHeartbeat(id));
    ExpectOnlyHeartbeat(controller, tap, id);
}

TEST_F(EndToEndTest, TwoPostsWhileTheThreadWaitsSendOnlyTheSecond) {
    ControllerProcess& controller = StartController({"--fail-503-first", "1"});
    Tap& tap = *m_taps.emplace_back(std::make_unique<Tap>(controller.Port()));
    StartLibrary({tap.server.Port()}, true, "retryInterval = 1000\n");

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

    const std::vector<Exchange> exchanges = tap.Exchanges();
    ASSERT_EQ(2u, exchanges.size());
    EXPECT_EQ(503, exchanges[0].status);
    EXPECT_THAT(exchanges[0].request, HasSubstr("message-id='" + refusedId + "'"));
    ExpectAnswered(exchanges[1], secondId);
    EXPECT_THAT(exchanges[1].request, ::testing::Not(HasSubstr(firstId)));
    // Sent when the back-off ended, not when posted.
    EXPECT_GE(exchanges[1].arrived - exchanges[0].answered, std::chrono::milliseconds(900));
    EXPECT_TRUE(WaitForHeartbeats(controller, 1)) << AgentRecord(controller);
    EXPECT_EQ((std::vector<ErrorReport>{{0xC7590013, 1}}), ErrorLog::Instance().Reports());
}

// Two failed tries, then the heartbeat is accepted: with the primary refusing connections the
// third try goes to the secondary; a controller that answers 503 twice gets the third itself.
struct RetryCase { const char* name; bool primaryDown; uint32_t failure; };
class RetryTest : public EndToEndTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, TheThirdTryIsAccepted) {
    const RetryCase& c = GetParam();
    const RefusingPort primary;
    ASSERT_GT(primary.port, 0);
    ControllerProcess& controller = c.primaryDown ? StartController() : StartController({"--fail-503-first", "2"});
    const std::vector<int> both = {primary.port, controller.Port()};
    StartLibrary({both.begin() + !c.primaryDown, both.end()}, true,
                 c.primaryDown ? "retryInterval = 20\nmaxServerRetry = 2\n" : "retryInterval = 20\n");
    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(messageId));
    ASSERT_TRUE(WaitForHeartbeats(controller, 1)) << AgentRecord(controller);
    ASSERT_TRUE(IdleFor(2));
    EXPECT_EQ((std::vector<ErrorReport>{{c.failure, 1}, {c.failure, 1}}), ErrorLog::Instance().Reports());
    // The server identifiers of the dispatch thread's sends, in order.
    std::vector<int> servers;
    for (const TraceLine& line : m_trace.Lines(kDispatchWhere))
        if (line.message.rfind(kSendingTo, 0) == 0)
            servers.push_back(std::stoi(line.message.substr(kSendingTo.size())));
    ASSERT_EQ(3u, servers.size()) << ::testing::PrintToString(servers);
    EXPECT_EQ(servers[0], servers[1]);
    EXPECT_EQ(servers[1] != servers[2], c.primaryDown);
    EXPECT_TRUE(controller.WaitForLogLines(HeartbeatLine(messageId), 1));
}

INSTANTIATE_TEST_SUITE_P(Failures, RetryTest,
                         ::testing::Values(RetryCase{"PrimaryDown", true, 0xC7590009},
                                           RetryCase{"RefusedTwice", false, 0xC7590013}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEndTest, SynchronousWithoutControllersKeepsTheHeartbeatUntilOneIsAdded) {
    ControllerProcess& controller = StartController();
    Tap& tap = *m_taps.emplace_back(std::make_unique<Tap>(controller.Port()));
    StartLibrary({}, false);
    std::string orphanId, deliveredId;
    EXPECT_EQ(0xC7210009u, PostAgentHeartbeat(orphanId));

    ASSERT_EQ(0u, SS_AddController("e2e", "127.0.0.1", std::to_string(tap.server.Port()).c_str(), "http", nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr));
    // The retry state learns of the new controller on the module's notifier thread; until
    // then there is still nothing to send to, and nothing is sent.
    ASSERT_TRUE(Eventually([&] {
        EXPECT_EQ(0u, SS_ResetToPrimaryController());
        const uint32_t status = PostAgentHeartbeat(deliveredId);
        EXPECT_TRUE(status == 0 || status == ZEL_E_INVALID_HANDLE) << std::hex << status;
        return status == 0;
    }));

    // In synchronous mode the post has completed when PostHeartbeat returns.
    ASSERT_EQ(1u, tap.Exchanges().size());
    EXPECT_THAT(tap.Exchanges()[0].request, ::testing::Not(HasSubstr(orphanId)));
    ExpectOnlyHeartbeat(controller, tap, deliveredId);
}

// The controller hands out group settings version 9 that list it and a second controller, and queues a set-schema
// request (which a callback takes) and three the library has no callback for: it owes each an answer, which its next
// heartbeat carries.
TEST_F(EndToEndTest, TheControllersReplyReachesTheAgentsCallbacksAndTheLoopCloses) {
    // Its port is chosen first: the library keeps posting to it once it takes the settings.
    const RefusingPort second;
    const int port = RefusingPort().port;
    m_served = std::make_unique<SettingsFiles>(std::vector<int>{port, second.port});
    ControllerProcess& served = StartController({"--listen", "127.0.0.1:" + std::to_string(port), "--group-settings",
                                                 m_served->GroupSettingsFile(), "--group-settings-version", "9"});
    ASSERT_EQ(port, served.Port());
    StartLibrary({served.Port()}, true);
    ASSERT_EQ(0u, RegisterSetSchemaRequest([](const char*, uint32_t, uint32_t, const char* agentId, const char*,
                                              const char* schemaNamespace, const char*, uint32_t, const char*,
                                              const char* schema, uint32_t schemaLength, uint32_t last) {
        return Called("set-schema-request %s %s %d last=%u", agentId, schemaNamespace, schema && schemaLength, last);
    }));
    ASSERT_EQ(0u, RegisterGetPolicyResponse([](const char*, uint32_t, uint32_t, const char*, const char*, const char*,
                                               const char* policyNamespace, const char*, uint32_t code, const char*,
                                               const char*, uint32_t, uint32_t last) {
        return Called("get-policy-response %s 0x%08x last=%u", policyNamespace, code, last);
    }));
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
    ASSERT_EQ(0u, RegisterResponseComplete(&OnResponseComplete));
    const std::string ns = " xmlns='http://schemas.zel.example/cml'";
    QueueRequest(served, "<set-schema-request" + ns + "><schema-info name='s' namespace='urn:e2e:schema' version='1'>"
                         "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='1'/></schema-info>"
                         "</set-schema-request>");
    const std::pair<std::string, std::string> unanswered[] = {
        {"reboot-request", QueueRequest(served, "<reboot-request" + ns + "/>")},
        {"configure-task-request",
         QueueRequest(served, "<configure-task-request" + ns + "><task name='nightly' description='scan'><schedule "
                              "time='2004-03-15T08:30:00Z' frequency='P1D'/><policy-ref name='scan' "
                              "namespace='urn:e2e:scan'/></task></configure-task-request>")},
        {"get-agent-status-request",
         QueueRequest(served, "<get-agent-status-request" + ns + "><module name='s'/></get-agent-status-request>")},
    };
    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(messageId, "urn:e2e:policy"));

    // Schema requests first, then the policy answers (the group settings item goes to the
    // library, which saves and loads it and then tells the agent), then the acknowledgement.
    ASSERT_TRUE(Eventually([] { return CallbackLines().size() >= 5; }));
    const Lines lines = CallbackLines();
    EXPECT_EQ((Lines{std::string("set-schema-request ") + kAgent.id + " urn:e2e:schema 1 last=0",
                     "get-policy-response urn:e2e:policy 0x47560013 last=0",
                     "group-settings token=9 status=0 code=0 document=1",
                     "generic agent-startup-acknowledgement 0 last=1", "complete " + messageId}),
              lines);
    // The settings were saved and loaded: the module now lists both controllers.
    EXPECT_EQ(2u, ControllerCount());

    // The next heartbeat, which the controller recorded, asked for the settings with the new version.
    ASSERT_EQ(0u, PostAgentHeartbeat(messageId));
    ASSERT_TRUE(WaitForHeartbeats(served, 2)) << AgentRecord(served);
    const std::string record = AgentRecord(served), text = "sensor services - unrecognized request";
    EXPECT_THAT(record, HasSubstr("\"group_settings_token\":\"9\""));
    for (const auto& [tag, id] : unanswered) {
        EXPECT_THAT(record, HasSubstr("{\"tag\":\"error-response\",\"request_id\":\"" + id +
                                      "\",\"code\":\"0xc7380004\",\"text\":\"" + text + "\""));
        EXPECT_TRUE(served.WaitForLogLines(tag + " " + id + " answered by " + kAgent.id + ": error-response " +
                                           "0xc7380004 (" + text + ")", 1));
    }
    EXPECT_TRUE(served.WaitForLogLines("delivered reboot-request " + unanswered[0].second +
                                       "; delivered configure-task-request " + unanswered[1].second +
                                       "; delivered get-agent-status-request " + unanswered[2].second, 1));
    EXPECT_TRUE(served.WaitForLogLines("settings unchanged", 1));
}

}  // namespace
}  // namespace zel::ss::test
