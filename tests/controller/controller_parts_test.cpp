// The controller's smaller parts: the group settings file, the agent registry and its JSON,
// options, fault shares, the schema directory and the checking and queueing of requests.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "controller/test_files.h"
#include "tools/controller/agent_registry.h"
#include "tools/controller/fault_injection.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/options.h"
#include "tools/controller/request_queue.h"
#include "tools/controller/schema_directory.h"

namespace zel::controller {
namespace {

TEST(GroupSettingsFile, VersionDefaultsToTheDocumentsOwn) {
    EXPECT_EQ(LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"").version, u"3");
    EXPECT_THROW(LoadGroupSettings(ZEL_EXAMPLES_DIR "/local.properties", u""), std::runtime_error);
    EXPECT_THROW(LoadGroupSettings(ZEL_EXAMPLES_DIR "/no-such-file.xml", u""), std::runtime_error);
}

TEST(AgentRegistry, JsonShowsHeartbeatsReportsAndResponses) {
    CAgentRegistry registry;
    HeartbeatReport two;
    two.agentId = "A-\"2\"";
    // Agents' texts are escaped, and bytes that are not UTF-8 never reach the JSON raw.
    two.agentName = std::string("t\"wo\x01\xff", 6);
    two.messageId = "m-1";
    registry.RecordHeartbeat(two, "2026-01-01T00:00:00Z", "");

    HeartbeatReport first;
    first.agentId = "A-1";
    first.agentName = "one";
    first.messageId = "m-2";
    first.announced = true;
    first.agentVersion = "9.1";
    first.modules = {{"scanner", "4.0"}};
    first.askedSettings = true;
    first.settingsToken = "3";
    first.policiesSet = {{"P", "urn:p", "1"}};
    first.responses = {{"error-response", "q-1", 0xC7380004, "bad", {}}};
    registry.RecordHeartbeat(first, "2026-01-01T00:00:01Z", "7");

    // A later heartbeat without announcement or settings request keeps what the first said;
    // a policy set again replaces the one of the same namespace and name.
    HeartbeatReport second;
    second.agentId = "A-1";
    second.agentName = "one";
    second.messageId = "m-3";
    second.policiesSet = {{"P", "urn:p", "2"}};
    second.responses = {{"set-schema-response", "q-2", 0, "", {{"s", "urn:s", 0xC7210003}}}};
    registry.RecordHeartbeat(second, "2026-01-01T00:00:02Z", "");

    EXPECT_EQ(registry.ToJson(),
              "{\"agents\":["
              "{\"agent_id\":\"A-\\\"2\\\"\",\"name\":\"t\\\"wo\\u0001\xef\xbf\xbd\","
              "\"last_heartbeat\":{\"message_id\":\"m-1\",\"time\":\"2026-01-01T00:00:00Z\"},"
              "\"agent_version\":\"\",\"modules\":[],\"group_settings_token\":\"\",\"group_settings_version\":\"\","
              "\"heartbeats\":1,\"policies_set\":[],\"responses\":[]},"
              "{\"agent_id\":\"A-1\",\"name\":\"one\","
              "\"last_heartbeat\":{\"message_id\":\"m-3\",\"time\":\"2026-01-01T00:00:02Z\"},"
              "\"agent_version\":\"9.1\",\"modules\":[{\"name\":\"scanner\",\"version\":\"4.0\"}],"
              "\"group_settings_token\":\"3\",\"group_settings_version\":\"7\",\"heartbeats\":2,"
              "\"policies_set\":[{\"name\":\"P\",\"namespace\":\"urn:p\",\"version\":\"2\"}],"
              "\"responses\":["
              "{\"tag\":\"error-response\",\"request_id\":\"q-1\",\"code\":\"0xc7380004\",\"text\":\"bad\","
              "\"items\":[]},"
              "{\"tag\":\"set-schema-response\",\"request_id\":\"q-2\",\"code\":\"0x00000000\",\"text\":\"\","
              "\"items\":[{\"name\":\"s\",\"namespace\":\"urn:s\",\"code\":\"0xc7210003\"}]}"
              "]}"
              "]}\n");
}

TEST(AgentRegistry, KeepsOnlyTheNewestResponses) {
    CAgentRegistry registry;
    HeartbeatReport report;
    report.agentId = "A-1";
    for (std::size_t i = 0; i < CAgentRegistry::kMaxResponsesKept + 5; ++i)
        report.responses.push_back({"error-response", "r-" + std::to_string(i), 0, "", {}});
    registry.RecordHeartbeat(report, "t", "");
    const auto records = registry.Snapshot();
    const auto& kept = records.at("A-1").responses;
    ASSERT_EQ(kept.size(), CAgentRegistry::kMaxResponsesKept);
    EXPECT_EQ(kept.front().requestId, "r-5");
    EXPECT_EQ(kept.back().requestId, "r-" + std::to_string(CAgentRegistry::kMaxResponsesKept + 4));
}

TEST(ControllerOptions, ReadsEveryOption) {
    std::string error;
    const char* good[] = {"ss-controller", "--listen", "0.0.0.0:0", "--group-settings", "g.xml",
                          "--group-settings-version", "9", "--schema-dir", "/s", "--cert", "c.pem",
                          "--key", "k.pem", "--fail-503", "25", "--drop-share", "10", "--malformed-share", "5",
                          "--fail-503-first", "3", "--seed", "4", "--delay-ms", "10"};
    const auto o = ParseOptions(static_cast<int>(std::size(good)), good, error);
    ASSERT_TRUE(o.has_value()) << error;
    std::ostringstream read;
    read << o->help << ' ' << o->host << ':' << o->port << ' ' << o->groupSettingsFile << ' '
         << o->groupSettingsVersion << ' ' << o->schemaDirectory << ' ' << o->certificateFile << ' ' << o->keyFile
         << ' ' << o->faults.serviceUnavailable << '/' << o->faults.drop << '/' << o->faults.malformed << ' '
         << o->fail503First << ' ' << o->seed << ' ' << o->delayMs;
    EXPECT_EQ(read.str(), "0 0.0.0.0:0 g.xml 9 /s c.pem k.pem 25/10/5 3 4 10");
    // The help lists every option of the table.
    for (const char* option : {"--listen", "--group-settings-version", "--schema-dir", "--cert", "--key",
                               "--drop-share", "--malformed-share", "--fail-503-first", "--delay-ms", "--help"})
        EXPECT_NE(Usage().find(option), std::string::npos) << option;
}

// Each command line: accepted (error text empty; "help" when it asks for the help) or the
// start of the reason it is refused with.
TEST(ControllerOptions, CommandLinesAreAcceptedOrRefusedWithTheirReason) {
    const struct {
        std::vector<const char*> argv;
        std::string outcome;
    } cases[] = {
        {{"--seed", "2", "--help"}, "help"},
        {{"-h"}, "help"},
        {{"--listen", "127.0.0.1:65535"}, ""},
        {{"--fail-503", "50", "--drop-share", "30", "--malformed-share", "20"}, ""},
        {{"--listen", "8080"}, "--listen: wants ADDRESS:PORT"},
        {{"--listen", "h:99999"}, "--listen: wants ADDRESS:PORT"},
        {{"--listen", ":80"}, "--listen: wants ADDRESS:PORT"},
        {{"--fail-503", "101"}, "--fail-503: Value 101 not in range 0 to 100"},
        {{"--fail-503", "-1"}, "--fail-503: Value -1 not in range 0 to 100"},
        {{"--drop-share", "x"}, "--drop-share: Value x not in range 0 to 100"},
        {{"--delay-ms", "600001"}, "--delay-ms: Value 600001 not in range 0 to 600000"},
        {{"--delay-ms"}, "--delay-ms: 1 required"},
        {{"--frobnicate", "1"}, "The following arguments were not expected: 1 --frobnicate"},
        {{"--group-settings-version", ""}, "--group-settings-version: wants a value"},
        {{"--cert", "c.pem"}, "--cert requires --key"},
        {{"--key", "k.pem"}, "--key requires --cert"},
        {{"--fail-503", "50", "--drop-share", "30", "--malformed-share", "21"},
         "--fail-503, --drop-share and --malformed-share add up to more than 100"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"ss-controller"};
        argv.insert(argv.end(), c.argv.begin(), c.argv.end());
        std::string error;
        const auto options = ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
        const std::string outcome = options ? (options->help ? "help" : "") : error;
        EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome) << argv[1] << ": " << outcome;
        EXPECT_EQ(options.has_value(), c.outcome.empty() || c.outcome == "help") << argv[1] << ": " << outcome;
    }
}

TEST(FaultInjector, SharesAreExactAtTheEndsAndReplayableBetween) {
    CFaultInjector never({0, 0, 0}, 1);
    const struct {
        FaultShares shares;
        Fault fault;
    } always[] = {
        {{100, 0, 0}, Fault::kServiceUnavailable},
        {{0, 100, 0}, Fault::kDrop},
        {{0, 0, 100}, Fault::kMalformed},
    };
    for (const auto& c : always) {
        CFaultInjector injector(c.shares, 7);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(injector.Next(), c.fault);
    }
    CFaultInjector first({30, 20, 10}, 42);
    CFaultInjector second({30, 20, 10}, 42);
    int counts[4] = {};
    for (int i = 0; i < 2000; ++i) {
        EXPECT_EQ(never.Next(), Fault::kNone);
        const Fault fault = first.Next();
        EXPECT_EQ(fault, second.Next()) << i;
        ++counts[static_cast<int>(fault)];
    }
    // Expected counts of 2000 by fault (none, 503, drop, malformed); the bounds are far outside
    // the seed's spread.
    const int expected[][2] = {{800, 150}, {600, 150}, {400, 120}, {200, 80}};
    for (int fault = 0; fault < 4; ++fault) EXPECT_NEAR(counts[fault], expected[fault][0], expected[fault][1]) << fault;
}

TEST(SchemaDirectory, NamesStayInsideTheDirectory) {
    const struct {
        std::string name;
        bool safe;
    } cases[] = {
        {"plain", true},          {"with space-and.dots", true}, {"\xc3\xa9t\xc3\xa9", true},
        {"", false},              {".", false},                  {"..", false},
        {"../up", false},         {"a/b", false},                {"a\\b", false},
        {".hidden", false},       {std::string("a\0b", 3), false}, {"tab\there", false},
        {std::string(201, 'x'), false}, {std::string(200, 'x'), true},
    };
    for (const auto& c : cases) EXPECT_EQ(CSchemaDirectory::IsSafeName(c.name), c.safe) << c.name;
}

TEST(SchemaDirectory, StoreReplacesAndLoadReadsBack) {
    testing::TempDir root;
    const CSchemaDirectory schemas(root.Path());
    EXPECT_TRUE(schemas.IsUsable());
    EXPECT_FALSE(CSchemaDirectory(root.File("missing")).IsUsable());
    EXPECT_EQ(schemas.Load("s").code, 0xC7210095u);
    EXPECT_EQ(schemas.Store("s", "first"), 0u);
    EXPECT_EQ(schemas.Store("s", "second"), 0u);
    const SchemaFile file = schemas.Load("s");
    EXPECT_EQ(file.code, 0u);
    EXPECT_EQ(file.document, "second");
    EXPECT_EQ(testing::ReadFile(root.File("s.xsd")), "second");
    EXPECT_EQ(schemas.Store("../s", "x"), 0xC7210003u);
    EXPECT_EQ(schemas.Load("../s").code, 0xC7210003u);
    EXPECT_EQ(CSchemaDirectory(root.File("missing")).Store("s", "x"), 0xC0000004u);
}

// Accepted requests keep their tag and get an identifier unless they hold one; refused ones
// have no tag.
TEST(QueuedRequest, IsCheckedAndGivenAnIdentifier) {
    const std::string ns = " xmlns='http://schemas.zel.example/cml'";
    const struct {
        std::string body;
        const char* tag;
        const char* requestId;
    } cases[] = {
        {"<get-schema-request" + ns + " request-id='mine'/>", "get-schema-request", "mine"},
        {"<get-schema-request" + ns + "/>", "get-schema-request", "new-id"},
        {"<reset-agent-request" + ns + " request-id=''/>", "reset-agent-request", "new-id"},
        {"", "", ""},
        {"not xml", "", ""},
        {"<get-schema-request" + ns + ">", "", ""},
        {"<get-schema-request/>", "", ""},
        {"<get-schema-request xmlns='urn:other'/>", "", ""},
        // A set-schema item without a document cannot be written, nor a task without a policy.
        {"<set-schema-request" + ns + "><schema-info namespace='urn:x' name='x'/></set-schema-request>", "", ""},
        {"<configure-task-request" + ns + "><task name='t'/></configure-task-request>", "", ""},
        {"<configure-task-request" + ns + "><task name='t'><policy-ref name='p' namespace='urn:p'/></task>"
         "</configure-task-request>", "configure-task-request", "new-id"},
        {"<get-agent-status-request" + ns + "><module name='m'/></get-agent-status-request>",
         "get-agent-status-request", "new-id"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const PreparedRequest prepared = PrepareQueuedRequest(c.body, "new-id");
        EXPECT_EQ(prepared.error.empty(), *c.tag != '\0') << prepared.error;
        EXPECT_EQ(prepared.request.tag, c.tag);
        EXPECT_EQ(prepared.request.requestId, c.requestId);
        if (*c.tag != '\0') {
            EXPECT_NE(prepared.request.element.find(std::string("request-id='") + c.requestId + "'"), std::string::npos)
                << prepared.request.element;
        }
    }
}

TEST(QueuedRequest, QueueHandsEachRequestOutOnceInOrder) {
    CRequestQueue queue;
    queue.Add("A", {"t", "1", "<t/>"});
    queue.Add("B", {"t", "2", "<t/>"});
    queue.Add("A", {"t", "3", "<t/>"});
    EXPECT_EQ(queue.Count("A"), 2u);
    const std::vector<QueuedRequest> taken = queue.Take("A");
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].requestId, "1");
    EXPECT_EQ(taken[1].requestId, "3");
    EXPECT_TRUE(queue.Take("A").empty());
    EXPECT_EQ(queue.Count("B"), 1u);

    // A delivered request is answered once, by its agent; one still queued is not delivered.
    queue.Add("A", {"u", "4", "<u/>"});
    EXPECT_EQ(queue.Answered("A", "3"), "t");
    EXPECT_EQ(queue.Answered("A", "3"), "");
    EXPECT_EQ(queue.Answered("A", "4"), "");
    EXPECT_EQ(queue.Answered("B", "1"), "");
    EXPECT_EQ(queue.Answered("B", "2"), "");
}

}  // namespace
}  // namespace zel::controller
