// ss-controller: its parts (group settings, agent registry, options, fault shares, schema directory, request
// queue), the reply builder as the agent's library reads its replies, then the real binary on a loopback port: HTTP,
// concurrent agents, the queue, HTTPS through libcurl as the agent posts, injected faults, refused starts, the help.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <httplib.h>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "runtime/unicode.h"
#include "support/controller_process.h"
#include "support/temp_dir.h"
#include "tools/controller/agent_registry.h"
#include "tools/controller/fault_injection.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/options.h"
#include "tools/controller/reply_builder.h"
#include "tools/controller/request_queue.h"
#include "tools/controller/schema_directory.h"

namespace zel::controller {
namespace {

using zel::test::TempDir;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

constexpr const char* kCml = "application/x-zel-cml-data";
constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
const std::string kNs = " xmlns='http://schemas.zel.example/cml'";

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
std::string ReadFile(const std::string& path) {
    return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

// A heartbeat of agent A-9 ("Nine", or `source`) carrying the given request and response elements.
std::string Envelope(const std::string& requests, const std::string& responses = "",
                     const std::string& messageId = "hb-9", const std::string& source = "name='Nine' agent-id='A-9'") {
    std::string body = "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
                       "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'><message-envelope "
                       "message-id='" + messageId + "'><source " + source + "/><message-body>";
    if (!requests.empty()) body += "<request>" + requests + "</request>";
    if (!responses.empty()) body += "<response>" + responses + "</response>";
    return body + "</message-body></message-envelope></cml></zel>";
}

// Message hb-1 as agent A-1 ("Agent & One") posts it: an announcement and a get-policy request
// for the group settings (holding `token`) and for a policy the controller does not serve.
std::string AgentHeartbeat(const std::string& token, const std::string& id = "A-1") {
    return Envelope("<agent-startup-announcement request-id='ann-1' schema-version='2.4.2' name='Agent &amp; One' "
                    "namespace='http://schemas.zel.example/cml/DesktopAgent' agent-id='" + id + "'/>"
                    "<get-policy-request request-id='gp-1' schema-version='2.4.2'><policy-item schema-version='1.0.0' "
                    "namespace='http://schemas.zel.example/cml/GroupSettings' token='" + token + "'/><policy-item "
                    "name='other' namespace='http://schemas.zel.example/cml/Other' token='0'/></get-policy-request>",
                    "", "hb-1", "name='Agent &amp; One' agent-id='" + id + "'");
}

// The reply as the agent's library reads it; throws cml::CCmlException when `text` is not a CML document.
cml::CCmlMessage ParseReply(const std::string& text) {
    cml::XmlInit();
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage message;
    message.Deserialize(parser.GetEnvelopeElement());
    return message;
}

std::string Hex(uint32_t code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

// The registry shows what agents reported: the reply builder's report of an announcement, a settings token, a
// policy set and each response of the controller's vocabulary. A later heartbeat keeps what it does not say again
// and replaces a policy of the same namespace and name; texts are escaped, bytes that are not UTF-8 never go raw. Of
// the responses only the newest are kept.
TEST(AgentRegistry, KeepsAndShowsWhatEachAgentReported) {
    const HeartbeatReply reply = BuildHeartbeatReply(
        Envelope("<agent-startup-announcement request-id='ann-9' name='Nine' agent-id='A-9' version='9.1'><module-list>"
                 "<module name='scanner' version='4.0.1'/><module name='updater' version='1.0'/></module-list>"
                 "</agent-startup-announcement><get-policy-request request-id='gp-9'><policy-item "
                 "namespace='http://schemas.zel.example/cml/GroupSettings' token='3'/></get-policy-request>"
                 "<set-policy-request request-id='sp'><policy xmlns='urn:p' name='P' version='1'/><policy "
                 "xmlns='urn:q' name='Q' version='1'/></set-policy-request>",
                 "<error-response request-id='q-1' code='0xC7380004' text='sensor services - unrecognized request'/>"
                 "<set-policy-response request-id='q-2'><policy-item name='P' namespace='urn:p' code='0x5'/>"
                 "</set-policy-response><get-schema-response request-id='q-3' code='0xC738001E'><schema-info "
                 "namespace='urn:s' name='s' code='0xC7210095'/></get-schema-response><set-schema-response "
                 "request-id='q-4'><schema-info namespace='urn:t' name='t'/></set-schema-response><other-response "
                 "xmlns='urn:elsewhere' request-id='q-5'/><pause-task-response request-id='q-6'><task-status "
                 "task-id='t-1' status='paused'/></pause-task-response><get-agent-status-response request-id='q-7'>"
                 "<module-list><module name='scanner' status='0x47210049'/></module-list></get-agent-status-response>"),
        ReplyContext{});
    ASSERT_EQ(reply.status, 200) << reply.error;
    CAgentRegistry registry;
    const std::string name("t\"wo\x01\xff", 6);
    registry.RecordHeartbeat(HeartbeatReport{"A-\"2\"", name, "m-1", false, "", {}, false, "", {}, {}}, "t0", "");
    registry.RecordHeartbeat(reply.report, "t1", "7");
    registry.RecordHeartbeat(HeartbeatReport{"A-9", "Nine", "m-3", false, "", {}, false, "", {}, {{"P", "urn:p", "2"}}},
                             "t2", "");
    EXPECT_EQ(registry.ToJson(),
              R"({"agents":[{"agent_id":"A-\"2\"","name":"t\"wo\u0001)" "\xef\xbf\xbd"
              R"(","last_heartbeat":{"message_id":"m-1","time":"t0"},"agent_version":"","modules":[],)"
              R"("group_settings_token":"","group_settings_version":"","heartbeats":1,"policies_set":[],)"
              R"("responses":[]},{"agent_id":"A-9","name":"Nine","last_heartbeat":{"message_id":"m-3","time":"t2"},)"
              R"("agent_version":"9.1","modules":[{"name":"scanner","version":"4.0.1"},{"name":"updater",)"
              R"("version":"1.0"}],"group_settings_token":"3","group_settings_version":"7","heartbeats":2,)"
              R"("policies_set":[{"name":"P","namespace":"urn:p","version":"2"},{"name":"Q","namespace":"urn:q",)"
              R"("version":"1"}],"responses":[{"tag":"error-response","request_id":"q-1","code":"0xc7380004",)"
              R"("text":"sensor services - unrecognized request","items":[]},{"tag":"set-policy-response",)"
              R"("request_id":"q-2","code":"0x00000000","text":"","items":[{"name":"P","namespace":"urn:p",)"
              R"("code":"0x00000005"}]},{"tag":"get-schema-response","request_id":"q-3","code":"0xc738001e",)"
              R"("text":"","items":[{"name":"s","namespace":"urn:s","code":"0xc7210095"}]},)"
              R"({"tag":"set-schema-response","request_id":"q-4","code":"0x00000000","text":"","items":[{"name":"t",)"
              R"("namespace":"urn:t","code":"0x00000000"}]},{"tag":"pause-task-response","request_id":"q-6",)"
              R"("code":"0x00000000","text":"","items":[{"name":"t-1","namespace":"http://schemas.zel.example/cml",)"
              R"("code":"0x4721004b"}]},{"tag":"get-agent-status-response","request_id":"q-7","code":"0x00000000",)"
              R"("text":"","items":[{"name":"scanner","namespace":"http://schemas.zel.example/cml",)"
              R"("code":"0x47210049"}]}]}]})" "\n");
    constexpr std::size_t kKept = CAgentRegistry::kMaxResponsesKept;
    HeartbeatReport report{"A-3", "", "m", false, "", {}, false, "", {}, {}};
    for (std::size_t i = 0; i < kKept + 5; ++i)
        report.responses.push_back({"error-response", std::to_string(i), 0, "", {}});
    registry.RecordHeartbeat(report, "t", "");
    const auto kept = registry.Snapshot().at("A-3").responses;
    ASSERT_EQ(kept.size(), kKept);
    EXPECT_EQ(kept.front().requestId + " " + kept.back().requestId, "5 " + std::to_string(kKept + 4));
}

// Each command line is accepted (every option as read; "help" when it asks for the help) or refused with a reason
// starting as given. The help lists every option.
TEST(ControllerOptions, CommandLinesAreAcceptedOrRefusedWithTheirReason) {
    const struct { std::vector<const char*> argv; std::string outcome; } cases[] = {
        {{"--seed", "2", "--help"}, "help"}, {{"-h"}, "help"},
        {{"--listen", "0.0.0.0:0", "--group-settings", "g.xml", "--group-settings-version", "9", "--schema-dir", "/s",
          "--cert", "c.pem", "--key", "k.pem", "--fail-503", "25", "--drop-share", "10", "--malformed-share", "5",
          "--fail-503-first", "3", "--seed", "4", "--delay-ms", "10"},
         "read 0.0.0.0:0 g.xml 9 /s c.pem k.pem 25/10/5 3 4 10"},
        {{"--listen", "127.0.0.1:65535", "--fail-503", "50", "--drop-share", "30", "--malformed-share", "20"},
         "read 127.0.0.1:65535      50/30/20 0 1 0"},
        {{"--listen", "8080"}, "--listen: wants ADDRESS:PORT"}, {{"--listen", ":80"}, "--listen: wants ADDRESS:PORT"},
        {{"--listen", "h:99999"}, "--listen: wants ADDRESS:PORT"}, {{"--delay-ms"}, "--delay-ms: 1 required"},
        {{"--fail-503", "101"}, "--fail-503: Value 101 not in range 0 to 100"},
        {{"--delay-ms", "600001"}, "--delay-ms: Value 600001 not in range 0 to 600000"},
        {{"--frobnicate", "1"}, "The following arguments were not expected: 1 --frobnicate"},
        {{"--group-settings-version", ""}, "--group-settings-version: wants a value"},
        {{"--cert", "c.pem"}, "--cert requires --key"}, {{"--key", "k.pem"}, "--key requires --cert"},
        {{"--fail-503", "50", "--drop-share", "30", "--malformed-share", "21"},
         "--fail-503, --drop-share and --malformed-share add up to more than 100"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"ss-controller"};
        argv.insert(argv.end(), c.argv.begin(), c.argv.end());
        std::string error;
        const auto o = ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
        std::ostringstream read;
        if (o)
            read << (o->help ? "help " : "read ") << o->host << ':' << o->port << ' ' << o->groupSettingsFile << ' '
                 << o->groupSettingsVersion << ' ' << o->schemaDirectory << ' ' << o->certificateFile << ' '
                 << o->keyFile << ' ' << o->faults.serviceUnavailable << '/' << o->faults.drop << '/'
                 << o->faults.malformed << ' ' << o->fail503First << ' ' << o->seed << ' ' << o->delayMs;
        const std::string outcome = o ? read.str() : error;
        EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome) << argv[1] << ": " << outcome;
    }
    for (const char* option : {"--listen", "--group-settings-version", "--schema-dir", "--cert", "--key",
                               "--drop-share", "--malformed-share", "--fail-503-first", "--delay-ms", "--help"})
        EXPECT_THAT(Usage(), HasSubstr(option));
}

// A share of 100 always gives its fault, none never; between, a seed replays and the counts of 2000 (none, 503,
// drop, malformed) stay far inside bounds wider than the seed's spread.
TEST(FaultInjector, SharesAreExactAtTheEndsAndReplayableBetween) {
    const struct { FaultShares shares; Fault fault; } always[] = {{{0, 0, 0}, Fault::kNone},
        {{100, 0, 0}, Fault::kServiceUnavailable}, {{0, 100, 0}, Fault::kDrop}, {{0, 0, 100}, Fault::kMalformed}};
    for (const auto& c : always) {
        CFaultInjector injector(c.shares, 7);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(injector.Next(), c.fault);
    }
    CFaultInjector first({30, 20, 10}, 42), second({30, 20, 10}, 42);
    int counts[4] = {};
    for (int i = 0; i < 2000; ++i) {
        const Fault fault = first.Next();
        ASSERT_EQ(fault, second.Next()) << i;
        ++counts[static_cast<int>(fault)];
    }
    const int expected[][2] = {{800, 150}, {600, 150}, {400, 120}, {200, 80}};
    for (int fault = 0; fault < 4; ++fault) EXPECT_NEAR(counts[fault], expected[fault][0], expected[fault][1]) << fault;
}

// Only names that stay inside the directory are stored and loaded; a store replaces the file.
TEST(SchemaDirectory, KeepsNamesInsideAndStoreReplacesWhatLoadReadsBack) {
    const struct { std::string name; bool safe; } cases[] = {
        {"with space-and.dots", true}, {"\xc3\xa9t\xc3\xa9", true}, {std::string(200, 'x'), true}, {"", false},
        {"..", false}, {"a/b", false}, {"a\\b", false}, {std::string("a\0b", 3), false}, {"a\x7f", false},
        {std::string(201, 'x'), false}};
    for (const auto& c : cases) EXPECT_EQ(CSchemaDirectory::IsSafeName(c.name), c.safe) << c.name;
    TempDir root;
    const CSchemaDirectory schemas(root.Path()), missing(root.File("missing"));
    EXPECT_TRUE(schemas.IsUsable() && !missing.IsUsable());
    EXPECT_EQ(schemas.Load("s").code, 0xC7210095u);
    EXPECT_EQ(schemas.Store("s", "first") | schemas.Store("s", "second"), 0u);
    EXPECT_EQ(Hex(schemas.Load("s").code) + schemas.Load("s").document + ReadFile(root.File("s.xsd")),
              "0x00000000secondsecond");
    EXPECT_EQ(schemas.Store("../s", "x"), 0xC7210003u);
    EXPECT_EQ(schemas.Load("../s").code, 0xC7210003u);
    EXPECT_EQ(missing.Store("s", "x"), 0xC0000004u);
}

// Accepted requests keep their tag and get an identifier unless they hold one; refused ones give "". A set-schema
// item without a document cannot be written, nor a task without a policy.
TEST(QueuedRequest, IsCheckedAndGivenAnIdentifier) {
    const std::pair<std::string, std::string> cases[] = {
        {"<get-schema-request" + kNs + " request-id='mine'/>", "get-schema-request mine"},
        {"<reset-agent-request" + kNs + " request-id=''/>", "reset-agent-request new-id"},
        {"", ""}, {"<get-schema-request" + kNs + ">", ""}, {"<get-schema-request xmlns='urn:other'/>", ""},
        {"<set-schema-request" + kNs + "><schema-info namespace='urn:x' name='x'/></set-schema-request>", ""},
        {"<configure-task-request" + kNs + "><task name='t'/></configure-task-request>", ""},
        {"<configure-task-request" + kNs + "><task name='t'><policy-ref name='p' namespace='urn:p'/></task>"
         "</configure-task-request>", "configure-task-request new-id"},
        {"<get-agent-status-request" + kNs + "><module name='m'/></get-agent-status-request>",
         "get-agent-status-request new-id"},
    };
    for (const auto& [body, expected] : cases) {
        const PreparedRequest prepared = PrepareQueuedRequest(body, "new-id");
        const std::string& id = prepared.request.requestId;
        EXPECT_EQ(prepared.error.empty() ? prepared.request.tag + " " + id : "", expected) << body << prepared.error;
        EXPECT_THAT(prepared.request.element, HasSubstr(expected.empty() ? "" : "request-id='" + id + "'"));
    }
}

// An item as the agent's library reads it: name, namespace, version, schema version, code and token, and the name
// of the policy it carries.
std::string ItemText(const cml::CPolicyItem& item) {
    const auto* data = dynamic_cast<const cml::CPolicyData*>(&item);
    return ToUtf8(item.GetName() + u"," + item.GetNamespace() + u"," + item.GetVersion() + u"," +
                  item.GetSchemaVersion()) + "," + Hex(item.GetCode()) + (data ? "," + ToUtf8(data->GetToken()) : "") +
           (data && data->GetPolicy() ? ",policy " + ToUtf8(data->GetPolicy()->GetName()) : "");
}

// Name, namespace, version, code and text, and the version of the schema document it carries.
std::string ItemText(const cml::CSchemaInfoResponseData& item) {
    const auto* data = dynamic_cast<const cml::CGetSchemaResponseData*>(&item);
    const auto* schema = data ? data->GetSchema() : nullptr;
    if (schema) { EXPECT_EQ(schema->GetNamespaceURI(), cml::kXmlSchemaNamespaceURI); }
    return ToUtf8(item.GetName() + u"," + item.GetNamespace() + u"," + item.GetVersion()) + "," + Hex(item.GetCode()) +
           "," + ToUtf8(item.GetText()) + (schema ? ",schema " + ToUtf8(schema->GetVersion()) : "");
}

// Each response of a reply as the agent's library reads it: tag, request id and code, then " | " and each item,
// when it is read as the class of its tag.
Lines Responses(const cml::CCmlMessage& message) {
    Lines lines;
    for (const auto& response : message.GetResponses()) {
        std::string text = ToUtf8(response->GetTagName() + u" " + response->GetRequestId()) + " " +
                           Hex(response->GetCode());
        if (const auto* r = dynamic_cast<const cml::CGetPolicyResponse*>(response.get()))
            for (std::size_t i = 0; i < r->GetPolicyItemCount(); ++i) text += " | " + ItemText(r->GetPolicyItem(i));
        if (const auto* r = dynamic_cast<const cml::CSetPolicyResponse*>(response.get()))
            for (std::size_t i = 0; i < r->GetPolicyItemCount(); ++i) text += " | " + ItemText(r->GetPolicyItem(i));
        if (const auto* r = dynamic_cast<const cml::CGetSchemaResponse*>(response.get()))
            for (std::size_t i = 0; i < r->GetSchemaCount(); ++i) text += " | " + ItemText(r->GetSchemaData(i));
        if (const auto* r = dynamic_cast<const cml::CSchemaResponse*>(response.get()))
            for (std::size_t i = 0; i < r->GetSchemaCount(); ++i) text += " | " + ItemText(r->GetSchemaInfo(i));
        lines.push_back(text);
    }
    return lines;
}

// The responses, as the agent reads them, of the reply to a heartbeat of A-9 with `requests`.
Lines Answer(const std::string& requests, const CSchemaDirectory* schemas = nullptr) {
    const HeartbeatReply reply = BuildHeartbeatReply(Envelope(requests), ReplyContext{nullptr, schemas, u"", {}});
    EXPECT_EQ(reply.status, 200) << reply.error;
    return Responses(ParseReply(reply.body));
}

// The group settings item is sent when the agent's token differs from the served version, answered "no change"
// when it holds it and unavailable without settings; the other item is never served. The file's version defaults
// to the document's own.
TEST(ReplyBuilder, AnswersTheGroupSettingsItemByItsToken) {
    EXPECT_EQ(LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"").version, u"3");
    EXPECT_THROW(LoadGroupSettings(ZEL_EXAMPLES_DIR "/local.properties", u""), std::runtime_error);
    EXPECT_THROW(LoadGroupSettings(ZEL_EXAMPLES_DIR "/no-such-file.xml", u""), std::runtime_error);
    const GroupSettings settings = LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"7");
    const std::string groupSettings = "," + ToUtf8(cml::kGroupSettingsNamespaceURI);
    const std::string other = " | other,http://schemas.zel.example/cml/Other,,,0x47560013,";
    const struct { const GroupSettings* settings; const char* token; SettingsOutcome outcome; std::string policies; }
        cases[] = {
        {&settings, "3", SettingsOutcome::kSent, groupSettings + ",7,1.0.0,0x00000000,7,policy Default Group" + other},
        {&settings, "7", SettingsOutcome::kUnchanged, groupSettings + ",,1.0.0,0x47560006,7" + other},
        {nullptr, "3", SettingsOutcome::kUnavailable, groupSettings + ",,1.0.0,0x47560013," + other},
    };
    for (const auto& c : cases) {
        const HeartbeatReply reply =
            BuildHeartbeatReply(AgentHeartbeat(c.token), ReplyContext{c.settings, nullptr, u"controller-1", {}});
        ASSERT_EQ(reply.status, 200) << c.token;
        EXPECT_EQ(reply.settings, c.outcome);
        EXPECT_EQ(reply.contentType + " " + reply.report.agentId + " " + reply.report.agentName,
                  "application/x-zel-cml-data A-1 Agent & One");
        EXPECT_EQ(reply.responsesSent * 10 + reply.requestsSent, 20u);
        // The GroupSettings schema is located only where its document is sent.
        EXPECT_EQ(reply.body.find("GroupSettings1_0_0.xsd") != std::string::npos, c.outcome == SettingsOutcome::kSent);
        const cml::CCmlMessage message = ParseReply(reply.body);
        const cml::CAgentInfo& to = message.GetDestinations().at(0);
        EXPECT_EQ(message.GetResponseTo() + u" " + message.GetMessageId() + u" " + to.GetAgentId() + u" " +
                      to.GetName() + u" " + to.GetNamespace() + u" " + message.GetSource().GetName() + u" " +
                      message.GetSource().GetNamespace(),
                  u"hb-1 controller-1 A-1 Agent & One http://schemas.zel.example/cml/DesktopAgent DesktopController "
                  u"http://schemas.zel.example/cml/DesktopController");
        EXPECT_EQ(Responses(message), (Lines{"agent-startup-acknowledgement ann-1 0x00000000",
                                             "get-policy-response gp-1 0x00000000 | " + c.policies}));
    }
}

TEST(ReplyBuilder, RefusesBodiesThatAreNotCmlDocumentsAndTakesNoQueuedRequest) {
    int taken = 0;
    const ReplyContext context{nullptr, nullptr, u"c",
                               [&taken](const std::string&) {
                                   ++taken;
                                   return std::vector<QueuedRequest>();
                               }};
    for (const char* body : {"", "<zel><unclosed></zel>", "<?xml version='1.0'?><other xmlns='urn:x'/>",
                             "<!DOCTYPE zel [<!ENTITY e 'x'>]><zel/>"}) {
        const HeartbeatReply reply = BuildHeartbeatReply(body, context);
        EXPECT_EQ(std::to_string(reply.status) + " " + reply.contentType + " " + reply.report.agentId +
                      (reply.error.empty() ? "" : "reason"), "400 text/plain reason") << body;
    }
    EXPECT_EQ(taken, 0);
}

// Each policy is accepted (the report is checked on the registry); a request without policies fails with an item.
TEST(ReplyBuilder, SetPolicyIsAnsweredPolicyByPolicy) {
    EXPECT_EQ(Answer("<set-policy-request request-id='sp-1'>"
                     "<policy xmlns='urn:first' name='One' version='4' schema-version='1.0.0'><a/></policy>"
                     "<settings xmlns='urn:second' version='9' schema-version='2.0.0'/>"
                     "</set-policy-request><set-policy-request request-id='sp-2'/>"),
              (Lines{"set-policy-response sp-1 0x00000000 | One,urn:first,4,1.0.0,0x00000000 | "
                     ",urn:second,9,2.0.0,0x00000000",
                     "set-policy-response sp-2 0xc7380017 | ,,,,0xc7380009"}));
}

// The directory holds a readable schema, one with a prefixed root (not a schema to the agent's library), one that
// is not XML, and the schemas set first; a name must not reach the file beside it. Safe names are stored and handed
// out again, others refused; an item with a document carries no code. Without a directory a schema is accepted
// unstored, nothing is found, and names are still checked.
TEST(ReplyBuilder, GetAndSetSchemaAgainstTheDirectory) {
    TempDir root;
    ASSERT_TRUE(std::filesystem::create_directory(root.File("schemas")));
    const CSchemaDirectory schemas(root.File("schemas"));
    const std::string schema =
        "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='3'><element name='c'/></schema>";
    WriteFile(root.File("schemas/plain.xsd"), "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='2'/>");
    WriteFile(root.File("schemas/prefixed.xsd"), "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'/>");
    WriteFile(root.File("schemas/broken.xsd"), "<schema");
    WriteFile(root.File("outside.xsd"), schema);
    std::string request = "<set-schema-request request-id='ss-1'>";
    for (const char* name : {"new' version='3", "../escaped", "sub/dir"})
        request += std::string("<schema-info namespace='urn:q' name='") + name + "'>" + schema + "</schema-info>";
    EXPECT_EQ(Answer(request + "<schema-info namespace='urn:q' name='empty'/></set-schema-request>", &schemas),
              Lines{"set-schema-response ss-1 0xc7380019 | new,urn:q,3,0x00000000, | "
                    "../escaped,urn:q,,0xc7210003,invalid schema name | "
                    "sub/dir,urn:q,,0xc7210003,invalid schema name | "
                    "empty,urn:q,,0xc738000d,no schema document given"});
    EXPECT_FALSE(std::filesystem::exists(root.File("escaped.xsd")));
    EXPECT_FALSE(std::filesystem::exists(root.File("schemas/sub")));
    EXPECT_EQ(ReadFile(root.File("schemas/new.xsd")),
              "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<schema version='3' xmlns='http://www.w3.org/2001/XMLSchema'>\n    <element name='c'/>\n</schema>\n");
    EXPECT_EQ(Answer("<set-schema-request request-id='ss-2'><schema-info namespace='urn:q' name='kept'>" + schema +
                     "</schema-info></set-schema-request>"),
              Lines{"set-schema-response ss-2 0x00000000 | kept,urn:q,,0x00000000,"});
    EXPECT_FALSE(std::filesystem::exists(root.File("schemas/kept.xsd")));
    const struct { const char* name; bool directory; const char* answer; } cases[] = {
        {"plain", true, "0x00000000 | plain,urn:p,2,0x00000000,,schema 2"},
        {"new", true, "0x00000000 | new,urn:p,2,0x00000000,,schema 3"},
        {"missing", true, "0xc738001a | missing,urn:p,2,0xc7210095,schema not found"},
        {"../outside", true, "0xc738001a | ../outside,urn:p,2,0xc7210003,invalid schema name"},
        {"prefixed", true, "0xc738001a | prefixed,urn:p,2,0xc738000d,the stored schema is not an XML Schema document"},
        {"broken", true, "0xc738001a | broken,urn:p,2,0xc738000d,the stored schema is not an XML Schema document"},
        {"plain", false, "0xc738001a | plain,urn:p,2,0xc7210095,schema not found"},
        {"../outside", false, "0xc738001a | ../outside,urn:p,2,0xc7210003,invalid schema name"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Answer(std::string("<get-schema-request request-id='gs'><schema-info namespace='urn:p' name='") +
                             c.name + "' version='2'/></get-schema-request>", c.directory ? &schemas : nullptr),
                  Lines{std::string("get-schema-response gs ") + c.answer}) << c.directory;
}

// Queued requests go out once, in order, in the next reply to their own agent, read as the classes of their tags;
// a delivered request is answered once, and only by its agent.
TEST(RequestQueue, HandsEachRequestOutOnceToItsAgentAndTakesItsAnswerOnce) {
    const std::string frobnicate = "<frobnicate-request" + kNs + " need-reply='false'/>";
    const std::pair<const char*, std::string> queued[] = {
        {"A-9", "<get-schema-request" + kNs + "><schema-info namespace='urn:x' name='x'/></get-schema-request>"},
        {"A-other", frobnicate},
        {"A-9", "<set-schema-request" + kNs + " request-id='mine'><schema-info namespace='urn:x' name='x'>"
                "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='5'/></schema-info></set-schema-request>"},
        {"A-9", frobnicate}};
    CRequestQueue queue;
    for (const auto& [agent, body] : queued) queue.Add(agent, PrepareQueuedRequest(body, body.substr(1, 3)).request);
    EXPECT_EQ(queue.Count("A-9"), 3u);
    const ReplyContext context{nullptr, nullptr, u"c", [&](const std::string& agentId) { return queue.Take(agentId); }};
    const HeartbeatReply reply = BuildHeartbeatReply(Envelope(""), context);
    ASSERT_EQ(reply.status, 200) << reply.error;
    ASSERT_EQ(reply.requestsSent * 10 + reply.delivered.size(), 33u);
    EXPECT_EQ(reply.delivered[1].tag + " " + reply.delivered[1].requestId, "set-schema-request mine");
    const cml::CCmlMessage message = ParseReply(reply.body);
    ASSERT_EQ(message.GetRequests().size(), 3u);
    const auto* getSchema = dynamic_cast<const cml::CSchemaRequest*>(message.GetRequests()[0].get());
    const auto* setSchema = dynamic_cast<const cml::CSetSchemaRequest*>(message.GetRequests()[1].get());
    ASSERT_TRUE(getSchema && setSchema && getSchema->GetSchemaCount() == 1 && setSchema->GetSchemaCount() == 1);
    ASSERT_NE(setSchema->GetSchemaData(0).GetSchema(), nullptr);
    const cml::CCmlRequest& unknown = *message.GetRequests()[2];
    EXPECT_EQ(getSchema->GetRequestId() + u" " + getSchema->GetSchemaInfo(0).GetName() + u" " +
                  setSchema->GetRequestId() + u" " + setSchema->GetSchemaData(0).GetSchema()->GetVersion() + u" " +
                  unknown.GetTagName() + u" " + unknown.GetRequestId(),
              u"get x mine 5 frobnicate-request fro");
    EXPECT_FALSE(unknown.GetNeedReply());
    EXPECT_EQ(BuildHeartbeatReply(Envelope(""), context).requestsSent, 0u);
    EXPECT_EQ(queue.Count("A-other"), 1u);
    queue.Add("A-9", {"u", "4", "<u/>"});
    EXPECT_EQ(queue.Answered("A-9", "mine"), "set-schema-request");
    // Answered already, queued but not delivered, delivered to another agent, the other agent's still queued.
    for (const auto& [agent, id] : {std::pair{"A-9", "mine"}, {"A-9", "4"}, {"A-other", "get"}, {"A-other", "fro"}})
        EXPECT_EQ(queue.Answered(agent, id), "") << agent << id;
    EXPECT_EQ(queue.Answered("A-9", "get"), "get-schema-request");
}

// ss-controller serving the example group settings, with `extra` arguments.
class Controller : public zel::test::ControllerProcess {
public:
    explicit Controller(std::vector<std::string> extra = {})
        : ControllerProcess(SS_CONTROLLER_PATH,
                            (extra.insert(extra.begin(), {"--group-settings", ZEL_EXAMPLES_DIR "/group_settings.xml"}),
                             extra)) {
        EXPECT_GT(Port(), 0) << "ss-controller did not start";
    }
    httplib::Result Post(const std::string& path, const std::string& body) const {
        return httplib::Client("127.0.0.1", Port()).Post(path, body, kCml);
    }
    httplib::Result Get(const std::string& path) const { return httplib::Client("127.0.0.1", Port()).Get(path); }
    std::string Url(const std::string& path, const char* scheme = "http") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(Port()) + path;
    }
};

const std::string kHeartbeat = AgentHeartbeat("0");

struct CurlResult { CURLcode code; long status; std::string body; };

// POSTs `body` with libcurl, as the agent's session-config module does, trusting `caFile` when one is given.
CurlResult CurlPost(const std::string& url, const std::string& body, const std::string& caFile = "") {
    CurlResult result{CURLE_FAILED_INIT, 0, ""};
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/x-zel-cml-data");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    result.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

// One session over HTTP; the replies themselves are checked on the reply builder. The version is the command
// line's, the schema directory given is the one used, queued requests go out once in their agent's next reply, what
// agents set and answered reaches their records, and each exchange is logged in order.
TEST(ControllerServer, HeartbeatsQueuePingAndAgentsOverHttp) {
    TempDir root;
    ASSERT_TRUE(std::filesystem::create_directory(root.File("schemas")));
    Controller controller({"--group-settings-version", "5", "--schema-dir", root.File("schemas")});
    // For the queue's answers `piece` is the request id it gives ("": a new one).
    const std::string json = "application/json", text = "text/plain";
    const struct { const char* path; std::string body; int status; std::string contentType, piece; } posts[] = {
        {"/admin/queue", "<get-schema-request" + kNs + "/>", 400, text, "the agent parameter is missing"},
        {"/admin/queue?agent=A-9", "not xml", 400, text, "not a CML request element"},
        {"/admin/queue?agent=A-9",
         "<get-schema-request" + kNs + "><schema-info namespace='urn:x' name='x'/></get-schema-request>", 200, json,
         ""},
        {"/admin/queue?agent=A-9", "<frobnicate-request" + kNs + " request-id='op-2'/>", 200, json, "op-2"},
        {kHeartbeatPath, kHeartbeat, 200, kCml, "version='5' schema-version='1.0.0' token='5'>"},
        {kHeartbeatPath,
         Envelope("<set-policy-request request-id='sp-1'><policy xmlns='urn:p' name='P' version='2'/>"
                  "</set-policy-request><set-schema-request request-id='ss-1'><schema-info namespace='urn:s' "
                  "name='kept'><schema xmlns='http://www.w3.org/2001/XMLSchema' version='1'/></schema-info>"
                  "</set-schema-request>",
                  "<get-schema-response request-id='op-8'><schema-info namespace='urn:s' name='s' code='0x7'/>"
                  "</get-schema-response>"),
         200, kCml, "<set-schema-response"},
        {kHeartbeatPath, Envelope("", "<error-response request-id='op-2' code='0xC7380004' text='no'/>", "hb-2"), 200,
         kCml, "<message-envelope"},
        {kHeartbeatPath, "not xml", 400, text, "heartbeat is not a CML document"},
        {"/zel/sensor_services/ping", "ping-<7> 'a' &\"", 200, "application/x-zel-xml-data",
         "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
         "<agent-ping request-id='ping-&lt;7&gt; &apos;a&apos; &amp;&quot;'/>\n"},
    };
    std::string newId;
    for (const auto& c : posts) {
        auto reply = controller.Post(c.path, c.body);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, c.status) << c.body;
        EXPECT_EQ(reply->get_header_value("Content-Type"), c.contentType) << c.body;
        if (c.contentType != json) {
            EXPECT_THAT(reply->body, HasSubstr(c.piece));
        } else {
            const std::string id = c.piece.empty() ? (newId = reply->body.substr(15, 36)) : c.piece;
            EXPECT_EQ(reply->body, "{\"request-id\":\"" + id + "\"}\n");
        }
    }
    EXPECT_TRUE(std::filesystem::exists(root.File("schemas/kept.xsd")));
    auto agents = controller.Get("/admin/agents");
    ASSERT_TRUE(agents);
    EXPECT_EQ(agents->get_header_value("Content-Type"), json);
    EXPECT_THAT(agents->body, HasSubstr(R"("group_settings_token":"0","group_settings_version":"5",)"));
    EXPECT_THAT(agents->body, HasSubstr(R"("policies_set":[{"name":"P","namespace":"urn:p","version":"2"}],)"
                                        R"("responses":[{"tag":"get-schema-response","request_id":"op-8",)"
                                        R"("code":"0x00000000","text":"","items":[{"name":"s","namespace":"urn:s",)"
                                        R"("code":"0x00000007"}]},{"tag":"error-response","request_id":"op-2",)"
                                        R"("code":"0xc7380004","text":"no","items":[]}])"));
    EXPECT_EQ(controller.Stop(), 0);
    controller.WaitForLogLines("", 11);  // after Stop: every line the controller wrote
    Lines lines = controller.LogLines();
    ASSERT_EQ(lines.size(), 11u);
    lines[1].resize(53);
    lines[8].resize(63);
    EXPECT_EQ(lines, (Lines{"queue: reply 400, no agent", "queue for A-9: reply 400, not a CML request element: ",
                            "queued get-schema-request " + newId + " for A-9", "queued frobnicate-request op-2 for A-9",
                            "heartbeat from A-1 (Agent & One) message hb-1: reply 200, 2 responses, 0 requests; "
                            "settings sent; 0 responses received",
                            "heartbeat from A-9 (Nine) message hb-9: reply 200, 2 responses, 2 requests; settings not "
                            "asked; 1 response received; delivered get-schema-request " + newId +
                                "; delivered frobnicate-request op-2",
                            "heartbeat from A-9 (Nine) message hb-2: reply 200, 0 responses, 0 requests; settings not "
                            "asked; 1 response received",
                            "frobnicate-request op-2 answered by A-9: error-response 0xc7380004 (no)",
                            "heartbeat refused: reply 400, heartbeat is not a CML document: ",
                            "ping ping-<7> 'a' &\": 200", "agents: 200"}));
}

// Several agents at once: every heartbeat is answered and counted for its own agent.
TEST(ControllerServer, ConcurrentAgentsAreCountedApart) {
    Controller controller;
    std::vector<int> answered(4, 0);
    std::vector<std::thread> agents;
    for (int agent = 0; agent < 4; ++agent)
        agents.emplace_back([&, agent] {
            const std::string id = "B-" + std::to_string(agent), body = AgentHeartbeat("0", id);
            httplib::Client client("127.0.0.1", controller.Port());
            for (int i = 0; i < 10; ++i) {
                auto reply = client.Post(kHeartbeatPath, body, kCml);
                answered[agent] += reply && reply->status == 200 && reply->body.find("agent-id='" + id + "'") != -1u;
            }
        });
    for (auto& thread : agents) thread.join();
    EXPECT_EQ(answered, std::vector<int>(4, 10));
    auto list = controller.Get("/admin/agents");
    ASSERT_TRUE(list);
    // Each agent's record comes right before its count.
    const std::regex counted(R"(\{"agent_id":"B-\d"[^{]*\{[^}]*\}[^{]*"heartbeats":10,)");
    EXPECT_EQ(std::distance(std::sregex_iterator(list->body.begin(), list->body.end(), counted), {}), 4) << list->body;
    EXPECT_EQ(controller.Stop(), 0);
}

// A self-signed certificate for 127.0.0.1 (also its subject alternative name); without it as trust anchor the
// handshake fails, and plain HTTP gets no answer.
TEST(ControllerServer, ServesHttpsWithACertificate) {
    TempDir root;
    const std::string cert = root.File("server.crt"), key = root.File("server.key");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
                           "subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert + "' >/dev/null 2>&1")
                              .c_str()), 0);
    Controller controller({"--cert", cert, "--key", key});
    const CurlResult reply = CurlPost(controller.Url(kHeartbeatPath, "https"), kHeartbeat, cert);
    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(Responses(ParseReply(reply.body)).size(), 2u);
    EXPECT_EQ(CurlPost(controller.Url(kHeartbeatPath, "https"), kHeartbeat).code, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_NE(CurlPost(controller.Url(kHeartbeatPath), kHeartbeat).code, CURLE_OK);
    EXPECT_EQ(controller.Stop(), 0);
}

// Nothing was heard: injected answers record no agent.
TEST(ControllerServer, InjectedFaultsAreSeenByClients) {
    const struct { const char* option; CURLcode code; long status; const char* logLine; } cases[] = {
        {"--fail-503", CURLE_OK, 503, "heartbeat: reply 503 (injected)"},
        {"--drop-share", CURLE_GOT_NOTHING, 0, "heartbeat: dropped (injected)"},
        {"--malformed-share", CURLE_OK, 200, "heartbeat: reply 200 malformed (injected)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        Controller controller({c.option, "100"});
        const CurlResult reply = CurlPost(controller.Url(kHeartbeatPath), kHeartbeat);
        EXPECT_EQ(reply.code, c.code) << curl_easy_strerror(reply.code);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_THROW(ParseReply(reply.body), cml::CCmlException) << reply.body;
        EXPECT_EQ(reply.body.empty(), c.status == 0);
        EXPECT_EQ(CurlPost(controller.Url("/zel/sensor_services/ping"), "p-1").code, c.code);
        auto agents = controller.Get("/admin/agents");
        ASSERT_TRUE(agents);
        EXPECT_EQ(agents->body, "{\"agents\":[]}\n");
        EXPECT_EQ(controller.Stop(), 0);
        controller.WaitForLogLines("", 3);  // after Stop: every line the controller wrote
        Lines lines = controller.LogLines();
        ASSERT_EQ(lines.size(), 3u);
        lines[1].resize(10);
        EXPECT_EQ(lines, (Lines{c.logLine, "ping p-1: ", "agents: 200"}));
    }
}

// Each start runs to its end: its exit status, and for the help the text it wrote.
TEST(ControllerServer, RefusesBadStartsAndPrintsItsHelp) {
    TempDir root;
    WriteFile(root.File("bad.pem"), "nothing\n");
    const struct { std::string arguments; int exitStatus; } cases[] = {
        {"--fail-503 200", 2}, {"--help", 0}, {"--schema-dir '" + root.File("missing") + "'", 1},
        {"--cert '" + root.File("bad.pem") + "' --key '" + root.File("bad.pem") + "'", 1},
    };
    for (const auto& c : cases) {
        const int status = std::system((std::string(SS_CONTROLLER_PATH) + " --listen 127.0.0.1:0 --group-settings " +
                                        ZEL_EXAMPLES_DIR "/group_settings.xml " + c.arguments + " >'" +
                                        root.File("out.txt") + "' 2>/dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.arguments;
        EXPECT_EQ(WEXITSTATUS(status), c.exitStatus) << c.arguments;
        EXPECT_EQ(ReadFile(root.File("out.txt")), c.exitStatus == 0 ? Usage() : "") << c.arguments;
    }
}

}  // namespace
}  // namespace zel::controller
