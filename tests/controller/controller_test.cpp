// ss-controller: its parts (group settings, agent registry, options, fault shares, schema directory, request
// queue), the reply builder as the agent's library reads its replies, then the real binary on a loopback port: HTTP,
// concurrent agents, the queue, HTTPS, injected faults, refused starts, the help.
#include <gmock/gmock.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/xml_init.h"
#include "support/controller_process.h"
#include "support/temp_dir.h"
#include "tools/controller/agent_registry.h"
#include "tools/controller/options.h"
#include "tools/controller/reply_builder.h"

namespace zel::controller {
namespace {

using zel::test::ReadFile;
using zel::test::TempDir;
using zel::test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Matcher;
using Lines = std::vector<std::string>;

constexpr const char* kCml = "application/x-zel-cml-data";
constexpr const char* kHeartbeatPath = "/zel/sensor_services/heartbeat";
const std::string kNs = " xmlns='http://schemas.zel.example/cml'";

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

// Reads the reply as the agent's library does; throws cml::CCmlException when `text` is not a CML document.
void ParseReply(const std::string& text) {
    cml::XmlInit();
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage().Deserialize(parser.GetEnvelopeElement());
}

// A reply's bytes without the indentation between elements, once the agent's library has read them.
std::string Readable(const std::string& body) {
    EXPECT_NO_THROW(ParseReply(body)) << body;
    return std::regex_replace(body, std::regex(">\\s+<"), "><");
}

// The reply to a heartbeat of A-9 with `requests`, as Readable gives it (a refusal is not read as CML).
std::string Answer(const std::string& requests, const CSchemaDirectory* schemas = nullptr) {
    return Readable(BuildHeartbeatReply(Envelope(requests), ReplyContext{nullptr, schemas, u"", {}}).body);
}

// The registry shows what agents reported: the reply builder's report of an announcement, a settings token, a
// policy set and the responses with their items (an error, a task's state, policies and schemas, module states; not
// those of other vocabularies). A later heartbeat keeps what it does not say again and replaces a policy of the same
// namespace and name; texts are escaped, bytes that are not UTF-8 never go raw. Of the responses only the newest are
// kept.
TEST(AgentRegistry, KeepsAndShowsWhatEachAgentReported) {
    const HeartbeatReply reply = BuildHeartbeatReply(
        Envelope("<agent-startup-announcement request-id='ann-9' name='Nine' agent-id='A-9' version='9.1'><module-list>"
                 "<module name='scanner' version='4.0.1'/></module-list></agent-startup-announcement>"
                 "<get-policy-request request-id='gp-9'><policy-item namespace='http://schemas.zel.example/cml/"
                 "GroupSettings' token='3'/></get-policy-request><set-policy-request request-id='sp'><policy "
                 "xmlns='urn:p' name='P' version='1'/></set-policy-request>",
                 "<error-response request-id='q-1' code='0xC7380004' text='sensor services - unrecognized request'/>"
                 "<other-response xmlns='urn:elsewhere' request-id='q-5'/><pause-task-response request-id='q-6'>"
                 "<task-status task-id='t-1' status='paused'/></pause-task-response><set-policy-response "
                 "request-id='q-2'><policy-item name='P' namespace='urn:p' code='0x5'/></set-policy-response>"
                 "<get-schema-response request-id='q-3' code='0xC738001E'><schema-info namespace='urn:s' name='s' "
                 "code='0xC7210095'/></get-schema-response><set-schema-response request-id='q-4'><schema-info "
                 "namespace='urn:t' name='t'/></set-schema-response><get-agent-status-response request-id='q-7'>"
                 "<module-list><module name='scanner' status='0x47210049'/></module-list></get-agent-status-response>"),
        ReplyContext{});
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
              R"("agent_version":"9.1","modules":[{"name":"scanner","version":"4.0.1"}],"group_settings_token":"3",)"
              R"("group_settings_version":"7","heartbeats":2,"policies_set":[{"name":"P","namespace":"urn:p",)"
              R"("version":"2"}],"responses":[{"tag":"error-response","request_id":"q-1","code":"0xc7380004",)"
              R"("text":"sensor services - unrecognized request","items":[]},)"
              R"({"tag":"pause-task-response","request_id":"q-6","code":"0x00000000","text":"","items":[{"name":"t-1",)"
              R"("namespace":"http://schemas.zel.example/cml","code":"0x4721004b"}]},{"tag":"set-policy-response",)"
              R"("request_id":"q-2","code":"0x00000000","text":"","items":[{"name":"P","namespace":"urn:p",)"
              R"("code":"0x00000005"}]},{"tag":"get-schema-response","request_id":"q-3","code":"0xc738001e",)"
              R"("text":"","items":[{"name":"s","namespace":"urn:s","code":"0xc7210095"}]},)"
              R"({"tag":"set-schema-response","request_id":"q-4","code":"0x00000000","text":"","items":[{"name":"t",)"
              R"("namespace":"urn:t","code":"0x00000000"}]},{"tag":"get-agent-status-response","request_id":"q-7",)"
              R"("code":"0x00000000","text":"","items":[{"name":"scanner","namespace":)"
              R"("http://schemas.zel.example/cml","code":"0x47210049"}]}]}]})" "\n");
    constexpr std::size_t kKept = CAgentRegistry::kMaxResponsesKept;
    HeartbeatReport report{"A-3", "", "m", false, "", {}, false, "", {}, {}};
    for (std::size_t i = 0; i < kKept + 5; ++i)
        report.responses.push_back({"error-response", std::to_string(i), 0, "", {}});
    registry.RecordHeartbeat(report, "t", "");
    const auto kept = registry.Snapshot().at("A-3").responses;
    ASSERT_EQ(kept.size(), kKept);
    EXPECT_EQ(kept.front().requestId + " " + kept.back().requestId, "5 " + std::to_string(kKept + 4));
}

// Each command line is accepted (the options no server test sees, as read; "help" when it asks for the help) or
// refused with a reason starting as given.
TEST(ControllerOptions, CommandLinesAreAcceptedOrRefusedWithTheirReason) {
    const struct { std::vector<const char*> argv; std::string outcome; } cases[] = {
        {{"--seed", "2", "--help"}, "help"},
        {{"--listen", "0.0.0.0:0", "--fail-503", "25", "--drop-share", "10", "--malformed-share", "5",
          "--fail-503-first", "3", "--seed", "4", "--delay-ms", "10"}, "read 0.0.0.0:0 25/10/5 3 4 10"},
        {{"--listen", "8080"}, "--listen: wants ADDRESS:PORT"}, {{"--listen", "h:65536"}, "--listen: wants"},
        {{"--delay-ms"}, "--delay-ms: 1 required"}, {{"--fail-503", "101"}, "--fail-503: Value 101 not in range"},
        {{"--frobnicate", "1"}, "The following arguments were not expected: 1 --frobnicate"},
        {{"--group-settings-version", ""}, "--group-settings-version: wants"}, {{"--cert", "c"}, "--cert requires"},
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
            read << (o->help ? "help " : "read ") << o->host << ':' << o->port << ' ' << o->faults.serviceUnavailable
                 << '/' << o->faults.drop << '/' << o->faults.malformed << ' ' << o->fail503First << ' ' << o->seed
                 << ' ' << o->delayMs;
        const std::string outcome = o ? read.str() : error;
        EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome) << argv[1] << ": " << outcome;
    }
}

// A seed replays, and the counts of 2000 (none, 503, drop, malformed) stay far inside bounds wider than the seed's
// spread. (Shares of 100 and none are seen by the server tests.)
TEST(FaultInjector, SharesAreReplayable) {
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

// Accepted requests keep their tag and get an identifier unless they hold one; refused ones give "". A set-schema
// item without a document cannot be written.
TEST(QueuedRequest, IsCheckedGivenAnIdentifierAndKeptFromRefusedHeartbeats) {
    const std::pair<std::string, std::string> cases[] = {
        {"<get-schema-request" + kNs + " request-id='mine'/>", "get-schema-request mine"},
        {"<reset-agent-request" + kNs + " request-id=''/>", "reset-agent-request new-id"},
        {"", ""}, {"<get-schema-request" + kNs + ">", ""}, {"<get-schema-request xmlns='urn:other'/>", ""},
        {"<set-schema-request" + kNs + "><schema-info namespace='urn:x' name='x'/></set-schema-request>", ""},
    };
    CRequestQueue queue;
    for (const auto& [body, expected] : cases) {
        const PreparedRequest prepared = PrepareQueuedRequest(body, "new-id");
        const std::string& id = prepared.request.requestId;
        EXPECT_EQ(prepared.error.empty() ? prepared.request.tag + " " + id : "", expected) << body << prepared.error;
        if (prepared.error.empty()) queue.Add("A-9", prepared.request);
    }
    // A heartbeat body that is not a CML document is refused and takes none of them.
    const ReplyContext context{nullptr, nullptr, u"c", [&queue](const std::string&) { return queue.Take("A-9"); }};
    for (const char* body : {"", "<zel><unclosed></zel>", "<?xml version='1.0'?><other xmlns='urn:x'/>",
                             "<!DOCTYPE zel [<!ENTITY e 'x'>]><zel/>"}) {
        const HeartbeatReply reply = BuildHeartbeatReply(body, context);
        EXPECT_EQ(std::to_string(reply.status) + " " + reply.contentType + " " + reply.report.agentId +
                      (reply.error.empty() ? "" : "reason"), "400 text/plain reason") << body;
    }
    // The accepted ones wait for their agent only, until taken.
    EXPECT_EQ(queue.Count("A-9") * 10 + queue.Count("A-1"), 20u);
    EXPECT_EQ(queue.Take("A-9").size() * 10 + queue.Count("A-9"), 20u);
}

// The group settings item is sent when the agent's token differs from the served version, answered "no change"
// when it holds it and unavailable without settings; the other item is never served. The file's version defaults
// to the document's own.
TEST(ReplyBuilder, AnswersTheGroupSettingsItemByItsToken) {
    EXPECT_EQ(LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"").version, u"3");
    EXPECT_THROW(LoadGroupSettings(ZEL_EXAMPLES_DIR "/local.properties", u""), std::runtime_error);
    const GroupSettings settings = LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"7");
    const std::string answer =
        "<message-envelope broadcast='false' message-id='controller-1' response-to='hb-1'><source "
        "name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/><destination "
        "name='Agent &amp; One' namespace='http://schemas.zel.example/cml/DesktopAgent' agent-id='A-1'/><message-body>"
        "<response><agent-startup-acknowledgement" + kNs + " request-id='ann-1' schema-version='2.4.2'/>"
        "<get-policy-response" + kNs + " request-id='gp-1' schema-version='2.4.2'><policy-item "
        "namespace='http://schemas.zel.example/cml/GroupSettings' ";
    const struct { const GroupSettings* settings; const char* token; SettingsOutcome outcome; std::string item; }
        cases[] = {
        {&settings, "3", SettingsOutcome::kSent, "version='7' schema-version='1.0.0' token='7'><policy name='Default "
                                                 "Group' schema-version='1.0.0' version='3'"},
        {&settings, "7", SettingsOutcome::kUnchanged,
         "schema-version='1.0.0' code='0x47560006' token='7'/><policy-item name='other' namespace='http://schemas.zel."
         "example/cml/Other' code='0x47560013'/></get-policy-response></response>"},
        {nullptr, "3", SettingsOutcome::kUnavailable, "schema-version='1.0.0' code='0x47560013'/>"},
    };
    for (const auto& c : cases) {
        const HeartbeatReply reply =
            BuildHeartbeatReply(AgentHeartbeat(c.token), ReplyContext{c.settings, nullptr, u"controller-1", {}});
        EXPECT_EQ(reply.settings, c.outcome);
        // The GroupSettings schema is located only where its document is sent.
        EXPECT_EQ(reply.body.find("GroupSettings1_0_0.xsd") != std::string::npos, c.outcome == SettingsOutcome::kSent);
        EXPECT_THAT(Readable(reply.body), HasSubstr(answer + c.item));
    }
}

// Each policy set is accepted (the report is checked on the registry); a request without policies fails with an
// item. The directory holds a readable schema, one with a prefixed root (not a schema to the agent's library), one
// that is not XML, and one beside it that a name must not reach. Safe names are stored, others refused; an item
// with a document carries no code. Without a directory nothing is found, and names are still checked.
TEST(ReplyBuilder, AnswersSetPolicyAndGetAndSetSchemaItemByItem) {
    const struct { std::string name; bool safe; } names[] = {
        {"with space-and.dots", true}, {"\xc3\xa9t\xc3\xa9", true}, {std::string(200, 'x'), true}, {"", false},
        {"..", false}, {"a/b", false}, {"a\\b", false}, {std::string("a\0b", 3), false}, {"a\x7f", false},
        {std::string(201, 'x'), false}};
    for (const auto& c : names) EXPECT_EQ(CSchemaDirectory::IsSafeName(c.name), c.safe) << c.name;
    TempDir root;
    ASSERT_TRUE(std::filesystem::create_directory(root.File("schemas")));
    const CSchemaDirectory schemas(root.File("schemas")), missing(root.File("missing"));
    // A store replaces the file that a load reads back.
    EXPECT_EQ(schemas.Store("s", "first") | schemas.Store("s", "second") | schemas.Load("s").code, 0u);
    EXPECT_EQ(schemas.Load("s").document + ReadFile(root.File("schemas/s.xsd")), "secondsecond");
    EXPECT_EQ(schemas.Store("../s", "x"), 0xC7210003u);
    EXPECT_EQ(missing.Store("s", "x"), 0xC0000004u);
    const std::string schema =
        "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='3'><element name='c'/></schema>";
    WriteFile(root.File("schemas/plain.xsd"), "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='2'/>");
    WriteFile(root.File("schemas/prefixed.xsd"), "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'/>");
    WriteFile(root.File("schemas/broken.xsd"), "<schema");
    WriteFile(root.File("outside.xsd"), schema);
    EXPECT_THAT(Answer("<set-policy-request request-id='sp-1'><policy xmlns='urn:first' name='One' version='4' "
                       "schema-version='1.0.0'><a/></policy></set-policy-request><set-policy-request "
                       "request-id='sp-2'/><set-schema-request request-id='ss-1'><schema-info namespace='urn:q' "
                       "name='new'>" + schema +
                       "</schema-info><schema-info namespace='urn:q' name='../escaped'>" + schema + "</schema-info>"
                       "<schema-info namespace='urn:q' name='empty'/></set-schema-request>", &schemas),
                HasSubstr("request-id='sp-1' schema-version='2.4.2'><policy-item name='One' namespace='urn:first' "
                          "version='4' schema-version='1.0.0'/></set-policy-response><set-policy-response" + kNs +
                          " request-id='sp-2' schema-version='2.4.2' code='0xc7380017'><policy-item code='0xc7380009' "
                          "text='no policy given'/></set-policy-response><set-schema-response" + kNs +
                          " request-id='ss-1' schema-version='2.4.2' code='0xc7380019'><schema-info namespace='urn:q' "
                          "name='new'/><schema-info namespace='urn:q' name='../escaped' code='0xc7210003' "
                          "text='invalid schema name'/><schema-info namespace='urn:q' name='empty' code='0xc738000d' "
                          "text='no schema document given'/></set-schema-response>"));
    EXPECT_FALSE(std::filesystem::exists(root.File("escaped.xsd")));
    EXPECT_EQ(ReadFile(root.File("schemas/new.xsd")),
              "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<schema version='3' xmlns='http://www.w3.org/2001/XMLSchema'>\n    <element name='c'/>\n</schema>\n");
    // An item that was not handed out carries its code (and text), and its answer the failure code.
    const struct { const char* name; const CSchemaDirectory* directory; std::string item; } cases[] = {
        {"plain", &schemas, "><schema version='2' xmlns='http://www.w3.org/2001/XMLSchema'/></schema-info>"},
        {"missing", &schemas, " code='0xc7210095' text='schema not found'/>"}, {"plain", nullptr, " code='0xc7210095'"},
        {"../outside", &schemas, " code='0xc7210003'"}, {"../outside", nullptr, " code='0xc7210003'"},
        {"prefixed", &schemas, " code='0xc738000d' text='the stored schema is not an XML Schema document'/>"},
        {"broken", &schemas, " code='0xc738000d'"},
    };
    for (const auto& c : cases) {
        const std::string answer = Answer("<get-schema-request request-id='gs'><schema-info namespace='urn:p' name='" +
                                          std::string(c.name) + "' version='2'/></get-schema-request>", c.directory);
        const std::string code = c.item[0] == '>' ? "" : " code='0xc738001a'";
        EXPECT_THAT(answer, HasSubstr("request-id='gs' schema-version='2.4.2'" + code +
                                      "><schema-info namespace='urn:p' version='2' name='" + c.name + "'" + c.item))
            << c.directory;
    }
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
};

const std::string kHeartbeat = AgentHeartbeat("0");

// One session over HTTP; the replies themselves are checked on the reply builder. The version is the command
// line's, a refused request is answered with its reason, a queued one goes out once in its agent's next reply, an
// answer is matched to it once and only from that agent, and each exchange is logged in order.
TEST(ControllerServer, HeartbeatsQueuePingAndAgentsOverHttp) {
    Controller controller({"--group-settings-version", "5"});
    const std::string text = "text/plain", answer = "<error-response request-id='op-2' code='0xC7380004' text='no'/>";
    // `piece` is part of the reply's body; one that ends a line is all of it.
    const struct { const char* path; std::string body; int status; std::string contentType, piece; } posts[] = {
        {"/admin/queue", "<get-schema-request" + kNs + "/>", 400, text, "the agent parameter is missing\n"},
        {"/admin/queue?agent=A-9", "", 400, text, "empty request body\n"},
        {"/admin/queue?agent=A-9", "<frobnicate-request" + kNs + " request-id='op-2'/>", 200, "application/json",
         "{\"request-id\":\"op-2\"}\n"},
        {kHeartbeatPath, kHeartbeat, 200, kCml, "version='5' schema-version='1.0.0' token='5'>"},
        {kHeartbeatPath, Envelope(""), 200, kCml, "<frobnicate-request"},
        {kHeartbeatPath, Envelope("", answer, "hb-2", "name='One' agent-id='A-1'"), 200, kCml, "<message-envelope"},
        {kHeartbeatPath, Envelope("", answer, "hb-3"), 200, kCml, "<message-envelope"},
        {kHeartbeatPath, Envelope("", answer, "hb-4"), 200, kCml, "<message-envelope"},
        {kHeartbeatPath, "not xml", 400, text, "heartbeat is not a CML document"},
        {"/zel/sensor_services/ping", "ping-<7> 'a' &\"", 200, "application/x-zel-xml-data",
         "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
         "<agent-ping request-id='ping-&lt;7&gt; &apos;a&apos; &amp;&quot;'/>\n"},
    };
    for (const auto& c : posts) {
        auto reply = controller.Post(c.path, c.body);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, c.status) << c.body;
        EXPECT_EQ(reply->get_header_value("Content-Type"), c.contentType) << c.body;
        EXPECT_THAT(reply->body, c.piece.back() == '\n' ? Matcher<std::string>(c.piece) : HasSubstr(c.piece));
    }
    // Then several agents at once: every heartbeat is answered and counted for its own agent.
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
    auto list = httplib::Client("127.0.0.1", controller.Port()).Get("/admin/agents");
    ASSERT_TRUE(list);
    // Each agent's record comes right before its count.
    const std::regex counted(R"(\{"agent_id":"B-\d"[^{]*\{[^}]*\}[^{]*"heartbeats":10,)");
    EXPECT_EQ(std::distance(std::sregex_iterator(list->body.begin(), list->body.end(), counted), {}), 4) << list->body;
    EXPECT_EQ(controller.Stop(), 0);
    controller.WaitForLogLines("", 52);  // after Stop: every line the controller wrote
    Lines lines = controller.LogLines();
    EXPECT_EQ(lines.size(), 52u);
    lines.resize(11);  // those of the single agents, before the others started
    lines[9].resize(63);
    const std::string heard = ": reply 200, 0 responses, 0 requests; settings not asked; 1 response received";
    EXPECT_EQ(lines, (Lines{"queue: reply 400, no agent", "queue for A-9: reply 400, empty request body",
                            "queued frobnicate-request op-2 for A-9",
                            "heartbeat from A-1 (Agent & One) message hb-1: reply 200, 2 responses, 0 requests; "
                            "settings sent; 0 responses received",
                            "heartbeat from A-9 (Nine) message hb-9: reply 200, 0 responses, 1 request; settings not "
                            "asked; 0 responses received; delivered frobnicate-request op-2",
                            "heartbeat from A-1 (One) message hb-2" + heard,
                            "heartbeat from A-9 (Nine) message hb-3" + heard,
                            "frobnicate-request op-2 answered by A-9: error-response 0xc7380004 (no)",
                            "heartbeat from A-9 (Nine) message hb-4" + heard,
                            "heartbeat refused: reply 400, heartbeat is not a CML document: ",
                            "ping ping-<7> 'a' &\": 200"}));
}

// Nothing was heard: injected answers (none: a dropped connection) record no agent.
TEST(ControllerServer, InjectedFaultsAreSeenByClients) {
    for (const auto& [option, status] :
         {std::pair{"--fail-503", 503}, {"--drop-share", 0}, {"--malformed-share", 200}}) {
        SCOPED_TRACE(option);
        Controller controller({option, "100"});
        const auto reply = controller.Post(kHeartbeatPath, kHeartbeat);
        EXPECT_EQ(reply ? reply->status : 0, status);
        EXPECT_THROW(ParseReply(reply ? reply->body : ""), cml::CCmlException);
        const auto ping = controller.Post("/zel/sensor_services/ping", "p-1");
        EXPECT_EQ(ping ? ping->status : 0, status);
        const auto agents = httplib::Client("127.0.0.1", controller.Port()).Get("/admin/agents");
        EXPECT_EQ(agents ? agents->body : "", "{\"agents\":[]}\n");
        EXPECT_EQ(controller.Stop(), 0);
    }
}

// Each start runs to its end: its exit status, and for the help the text it wrote. Then a self-signed certificate
// for 127.0.0.1 (also its subject alternative name) serves HTTPS; without it as trust anchor the handshake fails, and
// plain HTTP gets no answer.
TEST(ControllerServer, RefusesBadStartsPrintsItsHelpAndServesHttps) {
    TempDir root;
    const std::string cert = root.File("server.crt"), key = root.File("server.key");
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
                           "subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert + "' >/dev/null 2>&1")
                              .c_str()), 0);
    // The last start has the key where the certificate belongs and the other way round.
    const struct { std::string arguments; int exitStatus; } cases[] = {
        {"--fail-503 200", 2}, {"--help", 0}, {"--schema-dir '" + root.File("missing") + "'", 1},
        {"--cert '" + key + "' --key '" + cert + "'", 1},
    };
    for (const auto& c : cases) {
        const int status = std::system((std::string(SS_CONTROLLER_PATH) + " --listen 127.0.0.1:0 --group-settings " +
                                        ZEL_EXAMPLES_DIR "/group_settings.xml " + c.arguments + " >'" +
                                        root.File("out.txt") + "' 2>/dev/null").c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.exitStatus) << c.arguments;
        EXPECT_EQ(ReadFile(root.File("out.txt")), c.exitStatus == 0 ? Usage() : "") << c.arguments;
    }
    Controller controller({"--cert", cert, "--key", key});
    httplib::SSLClient trusting("127.0.0.1", controller.Port());
    trusting.set_ca_cert_path(cert.c_str());
    const auto reply = trusting.Post(kHeartbeatPath, kHeartbeat, kCml);
    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    EXPECT_EQ(reply->status, 200);
    EXPECT_THAT(Readable(reply->body), HasSubstr("<response><agent-startup-acknowledgement"));
    EXPECT_EQ(httplib::SSLClient("127.0.0.1", controller.Port()).Post(kHeartbeatPath, kHeartbeat, kCml).error(),
              httplib::Error::SSLServerVerification);
    EXPECT_FALSE(controller.Post(kHeartbeatPath, kHeartbeat));
    EXPECT_EQ(controller.Stop(), 0);
}

}  // namespace
}  // namespace zel::controller
