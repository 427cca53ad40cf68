// The shared library, driven through its exported interface as an agent drives it, against the
// real ss-controller on 127.0.0.1: heartbeats built by the agent reach the controller, with the
// dispatch thread of the POSIX platform services and in synchronous mode, also after refusals,
// with the primary controller down, and with no controller at first; and the controller's
// reply reaches the agent's callbacks in order while the library keeps the group settings.
#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
using Clock = std::chrono::steady_clock;

constexpr const char* kDispatchWhere = "CBaseServices::_DispatchThread()";
const std::string kWaitWithoutLimit = "Waiting on dispatch event with timeout = 4294967295";
const std::string kSendingTo = "Sending requests to server ";

// The agent the heartbeats announce; every field differs from the library's own defaults.
struct AgentFields {
    const char* id;
    const char* name;
    const char* agentNamespace;
    const char* version;
    const char* ipAddress;
};
constexpr AgentFields kAgent = {"5a3c9e2f-7b1d-4e08-9c6a-2f4b8d1e0a77", "End-to-end Agent",
                                "http://schemas.zel.example/agents/e2e", "4.2.17", "127.0.0.42"};

// A loopback port that is bound but never listened on: connections to it are refused, and no
// other program can take it while this object lives.
class RefusingPort {
public:
    RefusingPort() : m_socket(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket >= 0 && bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~RefusingPort() {
        if (m_socket >= 0) close(m_socket);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return m_port; }

private:
    int m_socket;
    int m_port = 0;
};

struct Exchange {
    std::string request;
    int status = 0;
    std::string reply;
    Clock::time_point arrived;
    Clock::time_point answered;
};

// A pass-through in front of a controller that keeps each request the controller received and
// the reply it gave, so that a test can see which heartbeat arrived and what it was answered.
class Tap {
public:
    explicit Tap(int controllerPort)
        : m_server([this, controllerPort](const httplib::Request& request, httplib::Response& response) {
              Exchange exchange{request.body, 0, {}, Clock::now(), {}};
              httplib::Client controller("127.0.0.1", controllerPort);
              const auto answer = controller.Post(request.path, request.body, request.get_header_value("Content-Type"));
              exchange.status = answer ? answer->status : 502;
              if (answer) exchange.reply = answer->body;
              response.status = exchange.status;
              response.set_content(exchange.reply, answer ? answer->get_header_value("Content-Type") : "text/plain");
              exchange.answered = Clock::now();
              std::lock_guard<std::mutex> lock(m_mutex);
              m_exchanges.push_back(std::move(exchange));
          }) {}

    int Port() const { return m_server.Port(); }
    std::vector<Exchange> Exchanges() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_exchanges;
    }
    bool WaitForExchanges(std::size_t count) const {
        return Eventually([&] { return Exchanges().size() >= count; });
    }

private:
    // Declared before the server, which stops (and ends its handlers) first.
    mutable std::mutex m_mutex;
    std::vector<Exchange> m_exchanges;
    RecordingServer m_server;
};

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

std::string GroupSettings(const std::vector<int>& ports) {
    std::string text =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group'\n"
        "        version='3' schema-version='1.0.0'>\n"
        "    <controller-list>\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        text += "        <controller-info name='controller-" + std::to_string(i) + "' host-name='127.0.0.1' port='" +
                std::to_string(ports[i]) + "'/>\n";
    return text + "    </controller-list>\n</policy>\n";
}

// The agent's record in the controller's GET /admin/agents document (up to the next agent's);
// empty when the agent is not there or the document could not be fetched.
std::string AgentRecord(const ControllerProcess& controller, const std::string& agentId) {
    httplib::Client client("127.0.0.1", controller.Port());
    const auto answer = client.Get("/admin/agents");
    if (!answer || answer->status != 200) return "";
    const std::size_t start = answer->body.find("{\"agent_id\":\"" + agentId + "\"");
    if (start == std::string::npos) return "";
    // The record holds nested objects: it ends where the next agent's record starts.
    const std::size_t end = answer->body.find("{\"agent_id\":", start + 1);
    return answer->body.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool HasHeartbeats(const ControllerProcess& controller, int count) {
    return Contains(AgentRecord(controller, kAgent.id), "\"heartbeats\":" + std::to_string(count) + ",");
}

// Builds the agent's heartbeat (with a get-policy request for `policyNamespace` when given) and
// posts it; the message identifier goes to `messageId` when given.
uint32_t PostAgentHeartbeat(std::string* messageId, const char* policyNamespace = nullptr) {
    SS_Heartbeat heartbeat = nullptr;
    const uint32_t created =
        CreateHeartbeat(&heartbeat, kAgent.id, kAgent.name, kAgent.agentNamespace, kAgent.version, kAgent.ipAddress);
    EXPECT_EQ(0u, created);
    if (created != 0) return created;
    if (policyNamespace != nullptr) {
        EXPECT_EQ(0u, AddGetPolicyRequest(heartbeat, "1", "scan", policyNamespace, "1.0", nullptr, nullptr));
    }
    if (messageId == nullptr) return PostHeartbeat(heartbeat, nullptr, nullptr);
    // Exactly the identifier's size: no room for a terminator.
    char id[36];
    uint32_t idLength = sizeof id;
    const uint32_t status = PostHeartbeat(heartbeat, id, &idLength);
    EXPECT_EQ(36u, idLength);
    messageId->assign(id, idLength <= sizeof id ? idLength : 0);
    return status;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { ErrorLog::Instance().Clear(); }

    // The dispatch thread of the stopped instance may still trace; a start in synchronous
    // mode waits until it has ended, and its stop has no thread to wait for. The library's
    // connections are closed before the controllers stop.
    void TearDown() override {
        EXPECT_EQ(0u, SS_ShutDown());
        if (!m_filesWritten) return;
        EXPECT_EQ(0u, SS_Init("3.0", PropertyFile().c_str(), GroupSettingsFile().c_str(), kAgentId, 0, nullptr,
                              nullptr));
        EXPECT_EQ(0u, SS_ShutDown());
    }

    ControllerProcess& StartController(const std::vector<std::string>& arguments = {}) {
        std::vector<std::string> all = {"--group-settings", ZEL_EXAMPLES_DIR "/group_settings.xml",
                                        "--group-settings-version", "7"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        m_controllers.push_back(std::make_unique<ControllerProcess>(SS_CONTROLLER_PATH, all));
        EXPECT_GT(m_controllers.back()->Port(), 0) << "ss-controller did not start";
        return *m_controllers.back();
    }

    // Starts a controller on a port chosen first, handing out group settings version `version`
    // that list it and then `others`: the library keeps posting to it once it takes them.
    ControllerProcess& StartListedController(const std::vector<int>& others, const std::string& version) {
        const int port = RefusingPort().Port();
        std::vector<int> ports = {port};
        ports.insert(ports.end(), others.begin(), others.end());
        WriteFile(m_dir.File("served.xml"), GroupSettings(ports));
        ControllerProcess& controller =
            StartController({"--listen", "127.0.0.1:" + std::to_string(port), "--group-settings",
                             m_dir.File("served.xml"), "--group-settings-version", version});
        EXPECT_EQ(port, controller.Port());
        return controller;
    }

    Tap& StartTap(const ControllerProcess& controller) {
        m_taps.push_back(std::make_unique<Tap>(controller.Port()));
        return *m_taps.back();
    }

    // Starts the library on a controller list of `ports`; `threaded` selects the POSIX
    // platform services, else synchronous mode.
    void StartLibrary(const std::vector<int>& ports, bool threaded, const std::string& properties = "") {
        WriteFile(GroupSettingsFile(), GroupSettings(ports));
        WriteFile(PropertyFile(), "[sensor_services]\ndnsCacheTimeout = 60000\n" + properties);
        m_filesWritten = true;
        ASSERT_EQ(0u, SS_Init("3.0", PropertyFile().c_str(), GroupSettingsFile().c_str(), kAgentId, 0,
                              threaded ? ZEL_PosixPlatformServices() : nullptr, m_trace.Sink()));
        ASSERT_EQ(0u, SS_RegisterErrorCallback(&ErrorLog::Callback));
        // A post before the thread's first state would fold into that state; waiting for the
        // thread to sit idle gives every test the same sequence of waits.
        if (threaded) {
            ASSERT_TRUE(IdleFor(1));
        }
    }

    // True once the dispatch thread is back to waiting without a limit for the `times`th time:
    // the first wait follows its start, every later one the end of a series of sends.
    bool IdleFor(int times) const {
        return Eventually([&] { return m_trace.Count(8, kWaitWithoutLimit, kDispatchWhere) >= times; });
    }

    // The server identifiers of the dispatch thread's sends, in order.
    std::vector<int> ServersSentTo() const {
        std::vector<int> servers;
        for (const TraceLine& line : m_trace.Lines(kDispatchWhere)) {
            if (line.message.rfind(kSendingTo, 0) == 0)
                servers.push_back(std::stoi(line.message.substr(kSendingTo.size())));
        }
        return servers;
    }

    std::string PropertyFile() const { return m_dir.File("agent.properties"); }
    std::string GroupSettingsFile() const { return m_dir.File("group.xml"); }

    TempDir m_dir;
    bool m_filesWritten = false;
    TraceRecorder m_trace;
    std::vector<std::unique_ptr<ControllerProcess>> m_controllers;
    std::vector<std::unique_ptr<Tap>> m_taps;
};

// The parameter: true runs with the POSIX platform services (dispatch thread), false in
// synchronous mode.
class HeartbeatContentTest : public EndToEndTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HeartbeatContentTest, TheControllerRecordsTheAgentThatWasBuilt) {
    ControllerProcess& controller = StartController();
    Tap& tap = StartTap(controller);
    StartLibrary({tap.Port()}, GetParam());

    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(&messageId));
    ASSERT_EQ(36u, messageId.size());

    ASSERT_TRUE(Eventually([&] { return HasHeartbeats(controller, 1); })) << AgentRecord(controller, kAgent.id);
    const std::string record = AgentRecord(controller, kAgent.id);
    EXPECT_EQ(0u, record.find(std::string("{\"agent_id\":\"") + kAgent.id + "\",\"name\":\"" + kAgent.name + "\","))
        << record;
    // The heartbeat asked for the group settings with the library's initial token, which
    // differs from the controller's version: the document was sent.
    EXPECT_TRUE(Contains(record, "\"group_settings_version\":\"7\"")) << record;
    EXPECT_TRUE(controller.WaitForLogLines(std::string("heartbeat from ") + kAgent.id + " (" + kAgent.name +
                                           ") message " + messageId + ": reply 200",
                                           1));
    EXPECT_TRUE(Contains(record, "\"message_id\":\"" + messageId + "\"")) << record;
    EXPECT_TRUE(Contains(record, std::string("\"agent_version\":\"") + kAgent.version + "\"")) << record;

    // The controller counts the heartbeat before the tap has its answer.
    ASSERT_TRUE(tap.WaitForExchanges(1));
    ASSERT_EQ(1u, tap.Exchanges().size());
    const Exchange exchange = tap.Exchanges()[0];
    EXPECT_EQ(200, exchange.status);
    // The bytes the controller received carry every field the agent gave.
    for (const char* field : {kAgent.id, kAgent.name, kAgent.agentNamespace, kAgent.version, kAgent.ipAddress})
        EXPECT_TRUE(Contains(exchange.request, std::string("'") + field + "'")) << field << "\n" << exchange.request;
    EXPECT_TRUE(Contains(exchange.request, "message-id='" + messageId + "'")) << exchange.request;
    // The controller answers the message whose identifier PostHeartbeat returned, addressed to
    // the agent it announced.
    EXPECT_TRUE(Contains(exchange.reply, "response-to='" + messageId + "'")) << exchange.reply;
    for (const char* field : {kAgent.id, kAgent.name, kAgent.agentNamespace})
        EXPECT_TRUE(Contains(exchange.reply, std::string("'") + field + "'")) << field << "\n" << exchange.reply;
    EXPECT_TRUE(Contains(exchange.reply, "agent-startup-acknowledgement")) << exchange.reply;
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, HeartbeatContentTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "DispatchThread" : "Synchronous";
                         });

TEST_F(EndToEndTest, TwoPostsWhileTheThreadWaitsSendOnlyTheSecond) {
    ControllerProcess& controller = StartController({"--fail-503-first", "1"});
    Tap& tap = StartTap(controller);
    StartLibrary({tap.Port()}, true, "retryInterval = 1000\n");

    // The refused first heartbeat puts the retry state into a finite wait.
    std::string refusedId;
    ASSERT_EQ(0u, PostAgentHeartbeat(&refusedId));
    ASSERT_TRUE(Eventually([&] {
        return m_trace.Count(8, "Waiting on dispatch event with timeout = 1000", kDispatchWhere) == 1;
    }));

    // Neither post wakes the thread: both replace the pending heartbeat and wait for the delay.
    std::string firstId;
    std::string secondId;
    ASSERT_EQ(0u, PostAgentHeartbeat(&firstId));
    ASSERT_EQ(0u, PostAgentHeartbeat(&secondId));
    ASSERT_NE(firstId, secondId);
    // Send, then one more turn at once for the immediate flag, then idle.
    ASSERT_TRUE(IdleFor(2));

    const std::vector<Exchange> exchanges = tap.Exchanges();
    ASSERT_EQ(2u, exchanges.size());
    EXPECT_EQ(503, exchanges[0].status);
    EXPECT_TRUE(Contains(exchanges[0].request, "message-id='" + refusedId + "'"));
    EXPECT_EQ(200, exchanges[1].status);
    EXPECT_TRUE(Contains(exchanges[1].request, "message-id='" + secondId + "'"));
    EXPECT_FALSE(Contains(exchanges[1].request, firstId));
    EXPECT_TRUE(Contains(exchanges[1].reply, "response-to='" + secondId + "'")) << exchanges[1].reply;
    // Sent when the back-off ended, not when posted.
    EXPECT_GE(exchanges[1].arrived - exchanges[0].answered, std::chrono::milliseconds(900));

    EXPECT_TRUE(HasHeartbeats(controller, 1)) << AgentRecord(controller, kAgent.id);
    EXPECT_EQ((std::vector<ErrorReport>{{0xC7590013, 1}}), ErrorLog::Instance().Reports());
}

// Two failed tries, then the heartbeat is accepted: with the primary refusing connections the
// third try goes to the secondary; a controller that answers 503 twice gets the third itself.
struct RetryCase {
    const char* name;
    bool primaryDown;
    uint32_t failure;
};
void PrintTo(const RetryCase& c, std::ostream* out) { *out << c.name; }
class RetryTest : public EndToEndTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, TheThirdTryIsAccepted) {
    const RetryCase& c = GetParam();
    const RefusingPort primary;
    ASSERT_GT(primary.Port(), 0);
    ControllerProcess& controller = c.primaryDown ? StartController() : StartController({"--fail-503-first", "2"});
    std::vector<int> ports = {controller.Port()};
    if (c.primaryDown) ports.insert(ports.begin(), primary.Port());
    StartLibrary(ports, true, c.primaryDown ? "retryInterval = 20\nmaxServerRetry = 2\n" : "retryInterval = 20\n");
    uint32_t count = 0;
    ASSERT_EQ(0u, SS_GetControllerCount(&count));
    ASSERT_EQ(ports.size(), count);

    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(&messageId));
    ASSERT_TRUE(Eventually([&] { return HasHeartbeats(controller, 1); })) << AgentRecord(controller, kAgent.id);
    ASSERT_TRUE(IdleFor(2));

    EXPECT_EQ((std::vector<ErrorReport>{{c.failure, 1}, {c.failure, 1}}), ErrorLog::Instance().Reports());
    const std::vector<int> servers = ServersSentTo();
    ASSERT_EQ(3u, servers.size()) << ::testing::PrintToString(servers);
    EXPECT_EQ(servers[0], servers[1]);
    EXPECT_EQ(servers[1] != servers[2], c.primaryDown);
    // The accepting controller saw the refused tries it answered, then the heartbeat.
    ASSERT_TRUE(controller.WaitForLogLines(std::string("heartbeat from ") + kAgent.id, 1));
    std::vector<std::string> heartbeatLines;
    for (const std::string& line : controller.LogLines())
        if (line.rfind("heartbeat", 0) == 0) heartbeatLines.push_back(line);
    const std::size_t refused = c.primaryDown ? 0 : 2;
    ASSERT_EQ(refused + 1, heartbeatLines.size()) << ::testing::PrintToString(heartbeatLines);
    for (std::size_t i = 0; i < refused; ++i) EXPECT_EQ("heartbeat: reply 503 (injected)", heartbeatLines[i]);
    EXPECT_TRUE(Contains(heartbeatLines[refused], std::string("heartbeat from ") + kAgent.id + " (" + kAgent.name +
                                                      ") message " + messageId + ": reply 200"))
        << heartbeatLines[refused];
}

INSTANTIATE_TEST_SUITE_P(Failures, RetryTest,
                         ::testing::Values(RetryCase{"PrimaryDown", true, 0xC7590009},
                                           RetryCase{"RefusedTwice", false, 0xC7590013}),
                         [](const ::testing::TestParamInfo<RetryCase>& info) { return info.param.name; });

TEST_F(EndToEndTest, SynchronousWithoutControllersKeepsTheHeartbeatUntilOneIsAdded) {
    ControllerProcess& controller = StartController();
    Tap& tap = StartTap(controller);
    StartLibrary({}, false);

    std::string orphanId;
    EXPECT_EQ(0xC7210009u, PostAgentHeartbeat(&orphanId));
    ASSERT_EQ(36u, orphanId.size());

    const std::string port = std::to_string(tap.Port());
    ASSERT_EQ(0u, SS_AddController("e2e", "127.0.0.1", port.c_str(), "http", nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr));
    // The retry state learns of the new controller on the module's notifier thread; until
    // then there is still nothing to send to, and nothing is sent.
    std::string deliveredId;
    ASSERT_TRUE(Eventually([&] {
        EXPECT_EQ(0u, SS_ResetToPrimaryController());
        const uint32_t status = PostAgentHeartbeat(&deliveredId);
        EXPECT_TRUE(status == 0 || status == ZEL_E_INVALID_HANDLE) << std::hex << status;
        return status == 0;
    }));

    // In synchronous mode the post has completed when PostHeartbeat returns.
    const std::vector<Exchange> exchanges = tap.Exchanges();
    ASSERT_EQ(1u, exchanges.size());
    EXPECT_EQ(200, exchanges[0].status);
    EXPECT_TRUE(Contains(exchanges[0].request, "message-id='" + deliveredId + "'"));
    EXPECT_TRUE(Contains(exchanges[0].reply, "response-to='" + deliveredId + "'"));
    EXPECT_FALSE(Contains(exchanges[0].request, orphanId));
    EXPECT_TRUE(HasHeartbeats(controller, 1)) << AgentRecord(controller, kAgent.id);
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

// The agent's callbacks in the order they ran, one line each (they are plain functions).
std::mutex g_callbackMutex;
std::vector<std::string> g_callbacks;

void Called(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    g_callbacks.push_back(line);
}
std::vector<std::string> CallbackLines() {
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    return g_callbacks;
}
void ClearCallbacks() {
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    g_callbacks.clear();
}
uint32_t OnResponseComplete(const char* responseTo) {
    Called(std::string("complete ") + responseTo);
    return 0;
}

// Queues one request element for the agent at the controller; its request id.
std::string QueueRequest(const ControllerProcess& controller, const std::string& element) {
    httplib::Client client("127.0.0.1", controller.Port());
    const auto answer = client.Post((std::string("/admin/queue?agent=") + kAgent.id).c_str(), element,
                                    "application/x-zel-cml-data");
    EXPECT_TRUE(answer && answer->status == 200) << (answer ? answer->body : "no answer");
    if (!answer) return "";
    const std::size_t start = answer->body.find(":\"");
    return start == std::string::npos ? "" : answer->body.substr(start + 2, 36);
}

TEST_F(EndToEndTest, TheControllersReplyReachesTheAgentsCallbacksAndTheLoopCloses) {
    // The controller hands out group settings version 9 that list it and a second controller.
    const RefusingPort second;
    ControllerProcess& served = StartListedController({second.Port()}, "9");
    StartLibrary({served.Port()}, true);
    ClearCallbacks();
    ASSERT_EQ(0u, RegisterSetSchemaRequest([](const char*, uint32_t, uint32_t, const char* agentId, const char*,
                                              const char* schemaNamespace, const char*, uint32_t, const char*,
                                              const char* schema, uint32_t schemaLength, uint32_t last) -> uint32_t {
        Called(std::string("set-schema-request ") + agentId + " " + schemaNamespace + " " +
               std::to_string(schema && schemaLength > 0) + " last=" + std::to_string(last));
        return 0;
    }));
    ASSERT_EQ(0u, RegisterGetPolicyResponse([](const char*, uint32_t, uint32_t, const char*, const char*, const char*,
                                               const char* policyNamespace, const char*, uint32_t code, const char*,
                                               const char*, uint32_t, uint32_t last) -> uint32_t {
        char line[256];
        std::snprintf(line, sizeof line, "get-policy-response %s 0x%08x last=%u", policyNamespace, code, last);
        Called(line);
        return 0;
    }));
    ASSERT_EQ(0u, RegisterGroupSettingsResponse([](const char*, uint32_t, uint32_t status, const char*,
                                                   const char* token, const char*, const char*, const char*,
                                                   uint32_t code, const char*, const char* policy,
                                                   uint32_t policyLength, uint32_t) -> uint32_t {
        Called("group-settings token=" + std::string(token) + " status=" + std::to_string(status) +
               " code=" + std::to_string(code) + " document=" + std::to_string(policy && policyLength > 0));
        return 0;
    }));
    ASSERT_EQ(0u, RegisterGenericResponse([](const char* tagName, const char*, uint32_t, const char*, uint32_t code,
                                             const char*, uint32_t last) -> uint32_t {
        Called(std::string("generic ") + tagName + " " + std::to_string(code) + " last=" + std::to_string(last));
        return 0;
    }));
    ASSERT_EQ(0u, RegisterResponseComplete(&OnResponseComplete));

    QueueRequest(served,
                 "<set-schema-request xmlns='http://schemas.zel.example/cml'><schema-info name='s' "
                 "namespace='urn:e2e:schema' version='1'><schema xmlns='http://www.w3.org/2001/XMLSchema' "
                 "version='1'/></schema-info></set-schema-request>");
    const std::string unknownId = QueueRequest(served, "<reboot-request xmlns='http://schemas.zel.example/cml'/>");

    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(&messageId, "urn:e2e:policy"));

    // Schema requests first, then the policy answers (the group settings item goes to the
    // library, which saves and loads it and then tells the agent), then the acknowledgement.
    ASSERT_TRUE(Eventually([] { return CallbackLines().size() >= 5; }));
    const std::vector<std::string> lines = CallbackLines();
    EXPECT_EQ((std::vector<std::string>{
                  std::string("set-schema-request ") + kAgent.id + " urn:e2e:schema 1 last=0",
                  "get-policy-response urn:e2e:policy 0x47560013 last=0",
                  "group-settings token=9 status=0 code=0 document=1",
                  "generic agent-startup-acknowledgement 0 last=1",
                  "complete " + messageId,
              }),
              std::vector<std::string>(lines.begin(), lines.begin() + 5));

    // The settings were saved and loaded: the module now lists both controllers.
    uint32_t count = 0;
    ASSERT_EQ(0u, SS_GetControllerCount(&count));
    EXPECT_EQ(2u, count);

    // The unknown request is answered in the agent's next heartbeat, which the controller
    // recorded, and which asked for the settings with the new version.
    ASSERT_EQ(0u, PostAgentHeartbeat(nullptr));
    ASSERT_TRUE(Eventually([&] { return HasHeartbeats(served, 2); })) << AgentRecord(served, kAgent.id);
    const std::string record = AgentRecord(served, kAgent.id);
    EXPECT_TRUE(Contains(record, "\"error-response\"")) << record;
    EXPECT_TRUE(Contains(record, unknownId)) << record;
    EXPECT_TRUE(Contains(record, "0xc7380004")) << record;
    EXPECT_TRUE(Contains(record, "\"group_settings_token\":\"9\"")) << record;
    EXPECT_TRUE(served.WaitForLogLines("settings unchanged", 1));
}

TEST_F(EndToEndTest, QueuedTaskAndStatusRequestsReachTheAgentAndAreAnsweredAsUnrecognized) {
    ControllerProcess& controller = StartListedController({}, "2");
    StartLibrary({controller.Port()}, true);
    const std::string configureId = QueueRequest(
        controller,
        "<configure-task-request xmlns='http://schemas.zel.example/cml'><task name='nightly' description='scan'>"
        "<schedule time='2004-03-15T08:30:00Z' frequency='P1D'/><policy-ref name='scan' namespace='urn:e2e:scan'/>"
        "</task></configure-task-request>");
    const std::string statusId = QueueRequest(
        controller, "<get-agent-status-request xmlns='http://schemas.zel.example/cml'><module name='scanner'/>"
                    "</get-agent-status-request>");

    // The library has no callback for either: it owes both an answer, which its next
    // heartbeat carries.
    ClearCallbacks();
    ASSERT_EQ(0u, RegisterResponseComplete(&OnResponseComplete));
    std::string messageId;
    ASSERT_EQ(0u, PostAgentHeartbeat(&messageId));
    ASSERT_TRUE(Eventually([&] { return CallbackLines() == std::vector{"complete " + messageId}; }));
    ASSERT_EQ(0u, PostAgentHeartbeat(&messageId));
    ASSERT_TRUE(Eventually([&] { return HasHeartbeats(controller, 2); })) << AgentRecord(controller, kAgent.id);
    const std::string record = AgentRecord(controller, kAgent.id);
    for (const auto& [tag, id] :
         {std::pair{"configure-task-request", configureId}, {"get-agent-status-request", statusId}}) {
        const std::string text = "sensor services - unrecognized request";
        EXPECT_TRUE(Contains(record, "{\"tag\":\"error-response\",\"request_id\":\"" + id +
                                         "\",\"code\":\"0xc7380004\",\"text\":\"" + text + "\""))
            << record;
        const std::string answered = " answered by " + std::string(kAgent.id) + ": error-response 0xc7380004 (";
        EXPECT_TRUE(controller.WaitForLogLines(tag + (" " + id) + answered + text + ")", 1));
    }
    EXPECT_TRUE(controller.WaitForLogLines("delivered configure-task-request " + configureId +
                                               "; delivered get-agent-status-request " + statusId,
                                           1));
}

}  // namespace
}  // namespace zel::ss::test
