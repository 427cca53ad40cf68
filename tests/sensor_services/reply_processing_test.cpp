// Processing of the controller's replies: replies written by hand, served by a real HTTP
// server on 127.0.0.1 to heartbeats posted through the exports, with the real
// session-config module.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "reply_fixture.h"
#include "runtime/unicode.h"
#include "sensor_services/ctrlexc.h"
#include "sensor_services/library.h"
#include "sensor_services/reply_processing.h"
#include "sensor_services/sensor_services_object.h"
#include "support/small_stack.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

constexpr const char* kResponseWhere = "CSensorServices::HelperProcessHeartbeatResponse";
constexpr const char* kParsedWhere = "CSensorServices::HelperProcessParsedHeartbeatResponse";
constexpr const char* kUnknownWhere = "CSensorServices::HelperProcessUnknownMessages()";
constexpr const char* kGenericWhere = "CSensorServices::HelperProcessGenericResponses";

const Callback kAllCallbacks[] = {
    Callback::kSetSchemaRequest, Callback::kGetSchemaRequest, Callback::kGetSchemaResponse,
    Callback::kSetSchemaResponse, Callback::kGetPolicyResponse, Callback::kSetPolicyResponse,
    Callback::kGroupSettings,     Callback::kGeneric,          Callback::kResponseComplete,
};

void RegisterAll() {
    for (Callback callback : kAllCallbacks) ASSERT_EQ(0u, RegisterRecorder(callback));
}

// A schema document inside a "schema-info" element, and the text the library hands over for
// it (formatted: one element per line, four blanks per level, the attributes in the order
// the DOM keeps them, which is by name).
const char kSchemaElement[] =
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:s' version='1.2.3'>"
    "<element name='scan'/></schema>";
const std::string kSchemaText =
    "<schema targetNamespace='urn:s' version='1.2.3' xmlns='http://www.w3.org/2001/XMLSchema'>\n"
    "    <element name='scan'/>\n"
    "</schema>\n";
const char kPolicyElement[] =
    "<policy xmlns='urn:p' name='Scan Policy' version='7' schema-version='1.0.0'><setting value='on'/></policy>";
const std::string kPolicyText =
    "<policy name='Scan Policy' schema-version='1.0.0' version='7' xmlns='urn:p'>\n"
    "    <setting value='on'/>\n"
    "</policy>\n";

// The request identifier "req-é": five characters, six bytes.
const char kSetSchemaRequestId[] = "req-\xc3\xa9";

std::string MixedReply() {
    return ReplyDocument(std::string("<set-schema-request request-id='") + kSetSchemaRequestId +
                             "'><schema-info namespace='urn:s' version='1.2.3' name='Scan \xc3\xa9'>" + kSchemaElement +
                             "</schema-info></set-schema-request>\n",
                         std::string("<get-policy-response request-id='req-pol'>"
                                     "<policy-item name='Scan Policy' namespace='urn:p' schema-version='1.0.0' "
                                     "token='7'>") +
                             kPolicyElement +
                             "</policy-item></get-policy-response>\n"
                             "<error-response request-id='req-err' code='0xc7380004' text='no such thing'/>\n");
}

// Parameters: dispatch thread (else synchronous mode), generic-response callback registered.
class MixedReplyTest : public ReplyTestBase, public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(MixedReplyTest, SchemaThenPolicyThenGenericThenComplete) {
    const auto [threaded, generic] = GetParam();
    ReplyServer server({MixedReply()});
    Start(server, threaded);
    for (Callback callback : kAllCallbacks) {
        if (callback != Callback::kGeneric || generic) { ASSERT_EQ(0u, RegisterRecorder(callback)); }
    }
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(WaitFor(server, 1, 1));

    std::vector<CallRecord> expected = {
        Call(Callback::kSetSchemaRequest, kSetSchemaRequestId, {"Scan \xc3\xa9", "urn:s", "1.2.3"}, 0, std::nullopt,
             kSchemaText),
        // Final only when no generic call follows.
        Call(Callback::kGetPolicyResponse, "req-pol", {"7", "Scan Policy", "urn:p", "1.0.0"}, 0, std::nullopt,
             kPolicyText, generic ? 0 : 1)};
    if (generic)
        expected.push_back(
            Call(Callback::kGeneric, "req-err", {"error-response"}, 0xC7380004u, "no such thing", std::nullopt, 1));
    expected.push_back(Complete());
    EXPECT_EQ(expected, CallbackLog::Instance().Calls());
    // Nothing in the reply asked for an answer.
    EXPECT_EQ(1u, server.Server().Posts().size());
}

INSTANTIATE_TEST_SUITE_P(Modes, MixedReplyTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                             return std::string(std::get<0>(info.param) ? "DispatchThread" : "Synchronous") +
                                    (std::get<1>(info.param) ? "WithGeneric" : "WithoutGeneric");
                         });

class ReplyProcessingTest : public ReplyTestBase {
protected:
    // A start against `server` with every recorder registered, and one heartbeat whose
    // reply has been processed.
    void StartAndPost(const ReplyServer& server, bool threaded = false) {
        Start(server, threaded);
        RegisterAll();
        ASSERT_EQ(0u, PostOneHeartbeat());
        ASSERT_TRUE(WaitFor(server, 1, 1));
    }
};

TEST_F(ReplyProcessingTest, EveryTypedShapeInGroupOrder) {
    // Group 1: the get-schema-response; group 2, requests before responses: the
    // get-schema-request, the set-schema-response, the set-policy-response.
    ReplyServer server({ReplyDocument(
        "<get-schema-request request-id='gs'><schema-info namespace='urn:a' version='1.0.0' name='A'/>"
        "<schema-info namespace='urn:b'/></get-schema-request>\n",
        std::string("<set-schema-response request-id='ss'/>\n"
                    "<get-schema-response request-id='gr'>"
                    "<schema-info namespace='urn:s' version='1.2.3' name='Scan' code='0x47560013' text='none'/>"
                    "<schema-info namespace='urn:s' version='1.2.3' name='Scan'>") +
            kSchemaElement +
            "</schema-info></get-schema-response>\n"
            "<set-policy-response request-id='sp'><policy-item name='P' namespace='urn:p' code='0xc756000d' "
            "text='refused' token='3'/></set-policy-response>\n")});
    StartAndPost(server);

    EXPECT_EQ((std::vector<CallRecord>{
                  Call(Callback::kGetSchemaResponse, "gr", {"Scan", "urn:s", "1.2.3"}, 0x47560013u, "none"),
                  Call(Callback::kGetSchemaResponse, "gr", {"Scan", "urn:s", "1.2.3"}, 0, std::nullopt, kSchemaText),
                  Call(Callback::kGetSchemaRequest, "gs", {"A", "urn:a", "1.0.0"}),
                  Call(Callback::kGetSchemaRequest, "gs", {"", "urn:b", ""}),
                  // A set-schema-response without items: one call with nothing but the identifiers.
                  Call(Callback::kSetSchemaResponse, "ss", {std::nullopt, std::nullopt, std::nullopt}),
                  Call(Callback::kSetPolicyResponse, "sp", {"3", "P", "urn:p", ""}, 0xC756000Du, "refused",
                       std::nullopt, 1),
                  Complete()}),
              CallbackLog::Instance().Calls());
}

// Messages outside the CML namespace are ignored; unknown CML ones without an identifier are
// only traced. Neither is answered.
TEST_F(ReplyProcessingTest, MessagesOutsideTheCmlNamespaceOrWithoutIdentifierReachOnlyResponseComplete) {
    ReplyServer server({ReplyDocument(
        "<set-schema-request xmlns='urn:other' request-id='o1'><schema-info namespace='urn:s'/>"
        "</set-schema-request>\n<frobnicate-request xmlns='urn:other' request-id='o2'/>\n<frobnicate-request/>\n",
        "<error-response xmlns='urn:other' request-id='o3' code='0x1'/>\n<mystery-response code='0x1'/>\n")});
    StartAndPost(server);
    EXPECT_EQ(std::vector<CallRecord>{Complete()}, CallbackLog::Instance().Calls());
    EXPECT_EQ(1u, server.Server().Posts().size());
    std::vector<std::string> traced;
    for (const TraceLine& line : m_trace.Lines(kUnknownWhere))
        traced.push_back((line.level == SS_TRACE_ERROR ? "error: " : "other: ") + line.message);
    EXPECT_EQ((std::vector<std::string>{"error: Unknown CML message received. Tag name: frobnicate-request",
                                        "error: Unknown CML message received. Tag name: mystery-response"}),
              traced);
}

// The envelope of a posted heartbeat.
cml::CCmlMessage PostedEnvelope(const ReceivedPost& post) {
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(post.body.data()), static_cast<unsigned>(post.body.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage envelope;
    envelope.Deserialize(parser.GetEnvelopeElement());
    return envelope;
}

// The request identifiers of the error responses a posted heartbeat carries.
std::vector<std::u16string> Answers(const ReceivedPost& post) {
    std::vector<std::u16string> requestIds;
    const cml::CCmlMessage envelope = PostedEnvelope(post);
    for (const auto& response : envelope.GetResponses()) {
        if (response->GetTagName() != u"error-response") continue;
        EXPECT_EQ(u"http://schemas.zel.example/cml", response->GetNamespaceURI());
        EXPECT_EQ(0xC7380004u, response->GetCode());
        EXPECT_EQ(u"sensor services - unrecognized request", response->GetText());
        requestIds.push_back(response->GetRequestId());
    }
    return requestIds;
}

// A reply asking the unknown request `requestId`.
std::string UnknownRequestReply(const std::string& requestId) {
    return ReplyDocument("<frobnicate-request request-id='" + requestId + "'/>\n", "");
}

// A controller that asks an unknown request in every reply gets each answer once, in the
// agent's next heartbeat; the library posts nothing of its own, so no reply can start a
// loop of heartbeats (or, in synchronous mode, a recursion).
class UnknownRequestTest : public ReplyTestBase, public ::testing::WithParamInterface<bool> {};

TEST_P(UnknownRequestTest, IsAnsweredInTheNextHeartbeatAndNeverStartsALoop) {
    ReplyServer server({UnknownRequestReply("r-1"),
                        ReplyDocument("<frobnicate-request request-id='r-2'/>\n<frobnicate-request request-id='r-2'/>\n"
                                      "<frobnicate-request request-id='r-3'/>\n",
                                      "")});
    Start(server, GetParam());
    RegisterAll();
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(WaitFor(server, 1, 1));
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR, "Unknown CML message received. Tag name: frobnicate-request",
                               kUnknownWhere));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(1u, server.Server().Posts().size());

    for (std::size_t n = 2; n <= 4; ++n) {
        ASSERT_EQ(0u, PostOneHeartbeat());
        ASSERT_TRUE(WaitFor(server, n, n));
    }
    const std::vector<ReceivedPost> posts = server.Server().Posts();
    ASSERT_EQ(4u, posts.size());
    EXPECT_TRUE(Answers(posts[0]).empty());
    // The agent's own heartbeat carries the answer beside its announcement.
    EXPECT_EQ(std::vector<std::u16string>{u"r-1"}, Answers(posts[1]));
    const cml::CCmlMessage second = PostedEnvelope(posts[1]);
    const auto* announcement = dynamic_cast<const cml::CAgentStartupAnnouncement*>(second.GetRequests()[0].get());
    ASSERT_NE(nullptr, announcement);
    EXPECT_EQ(u"Agent One", announcement->GetContent().GetName());
    // Asked twice: answered once.
    EXPECT_EQ((std::vector<std::u16string>{u"r-2", u"r-3"}), Answers(posts[2]));
    EXPECT_TRUE(Answers(posts[3]).empty());
    EXPECT_EQ(4u, CountOf(CallbackLog::Instance().Calls(), Callback::kResponseComplete));
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

TEST_F(ReplyProcessingTest, AnAnswerStaysOwedUntilAHeartbeatCarryingItWasDelivered) {
    std::atomic<int> posts{0};
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        switch (posts++) {
            case 0: return response.set_content(UnknownRequestReply("r-9"), "application/x-zel-cml-data");
            case 1: response.status = 503; return;
            default: return response.set_content(ReplyServer::FallbackReply(), "application/x-zel-cml-data");
        }
    });
    Start(server.Port());
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ(0xC7590013u, PostOneHeartbeat());
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_EQ(0u, PostOneHeartbeat());
    const std::vector<ReceivedPost> sent = server.Posts();
    ASSERT_EQ(4u, sent.size());
    // The heartbeat that failed carried it, so did the one that replaced it; then it is paid.
    EXPECT_EQ(std::vector<std::u16string>{u"r-9"}, Answers(sent[1]));
    EXPECT_EQ(std::vector<std::u16string>{u"r-9"}, Answers(sent[2]));
    EXPECT_TRUE(Answers(sent[3]).empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, UnknownRequestTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "DispatchThread" : "Synchronous";
                         });

uint32_t ThrowingGeneric(const char*, const char*, uint32_t, const char*, uint32_t code, const char*, uint32_t) {
    CallRecord record;
    record.callback = Callback::kGeneric;
    record.code = code;
    CallbackLog::Instance().Add(std::move(record));
    throw std::runtime_error("agent failure");
}

uint32_t ThrowingComplete(const char*) { throw std::runtime_error("agent failure"); }

TEST_F(ReplyProcessingTest, ExceptionsFromGenericAndCompleteCallbacksAreTracedAndSkipped) {
    ReplyServer server({ReplyDocument("", "<error-response request-id='e1' code='0x1'/>\n"
                                          "<agent-startup-acknowledgement request-id='a1'/>\n")});
    Start(server);
    ASSERT_EQ(0u, RegisterGenericResponse(&ThrowingGeneric));
    ASSERT_EQ(0u, RegisterResponseComplete(&ThrowingComplete));
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(server.Server().WaitForPosts(1));
    const std::vector<CallRecord> calls = CallbackLog::Instance().Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(1u, calls[0].code);
    EXPECT_EQ(0u, calls[1].code);
    EXPECT_EQ(2, m_trace.Count(SS_TRACE_ERROR,
                               "An exception occurred in the agent's generic response callback function",
                               kGenericWhere));
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR,
                               "An exception occurred in the agent's response-complete callback function",
                               kParsedWhere));
    EXPECT_TRUE(m_trace.Lines(kResponseWhere).empty());
}

// A hostile or broken reply: how to build it (given the path of a file that must never be
// read), the end of the line the library traces at level 1 under
// HelperProcessHeartbeatResponse (and, when not empty, the exact line under
// HelperProcessParsedHeartbeatResponse, or else a part of the parser's text).
struct HostileCase {
    const char* name;
    std::string (*build)(const std::string& canary);
    std::string responseTraceSuffix;
    std::string parsedTrace;
    std::string parserText = "ZEL-SensorServices-Heartbeat-Response";
};

std::string DocumentWithoutEnvelope(const std::string&) {
    return "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'/></zel>";
}

// A reply whose envelope sits in a namespace other than "/cml".
std::string EnvelopeInAnotherNamespace(const std::string&) {
    std::string document = MixedReply();
    const std::string cml = "<cml xmlns='http://schemas.zel.example/cml'";
    document.replace(document.find(cml), cml.size(), "<cml xmlns='urn:not-cml'");
    return document;
}

std::string WithoutDestination(const std::string&) {
    std::string document = MixedReply();
    const std::size_t start = document.find("      <destination");
    document.erase(start, document.find('\n', start) + 1 - start);
    return document;
}

// A valid reply that would call the agent, made to end 10 MB later without closing.
std::string TenMegabytesUnclosed(const std::string&) {
    std::string document = MixedReply();
    document.erase(document.rfind("</zel>"));
    document.append(10u << 20, ' ');
    return document;
}

// Garbage where the document should start, continuing for 10 MB.
std::string TenMegabytesOfGarbage(const std::string&) { return std::string(10u << 20, 'x'); }

std::string NotXml(const std::string&) { return "this is no XML at all"; }

std::string Empty(const std::string&) { return std::string(); }

// A reply for another agent whose group settings would move this one to other controllers.
std::string ForAnotherAgent(const std::string&) {
    return ReplyDocument("", std::string("<get-policy-response request-id='gp'><policy-item namespace='") +
                                 kGroupSettingsNs + "' token='99'>" +
                                 GroupSettingsDocument("99", "<controller-info host-name='10.9.9.9' port='1'/>") +
                                 "</policy-item></get-policy-response>\n",
                         "hb-42", "11111111-2222-3333-4444-555555555555");
}

// `depth` nested elements: "<n><n>...</n></n>".
std::string NestedElements(std::size_t depth) {
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) {
        open += "<n>";
        close += "</n>";
    }
    return open + close;
}

// Policy content nesting 50000 elements, in a reply that would reach the agent.
std::string DeepPolicy(const std::string&) {
    std::string document = MixedReply();
    document.insert(document.find("<setting"), NestedElements(50000));
    return document;
}

// 100000 nested elements beside the envelope.
std::string DeepBesideTheEnvelope(const std::string&) {
    std::string document = MixedReply();
    document.insert(document.find("  </cml>"), NestedElements(100000));
    return document;
}

std::string ExternalEntity(const std::string& canary) {
    return "<?xml version='1.0'?>\n<!DOCTYPE zel [<!ENTITY body SYSTEM 'file://" + canary +
           "'>]>\n<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>&body;</zel>\n";
}

class HostileReplyTest : public ReplyTestBase, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileReplyTest, IsTracedCallsNothingAndTheNextHeartbeatStillGoesOut) {
    const HostileCase& hostile = GetParam();
    TempDir dir;
    // The entity's target: a reply that would reach the agent if anything read it.
    WriteFile(dir.File("canary.xml"), MixedReply().substr(MixedReply().find("<cml")));
    ReplyServer server({hostile.build(dir.File("canary.xml"))});
    Start(server);
    RegisterAll();
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(server.Server().WaitForPosts(1));

    const std::vector<TraceLine> lines = m_trace.Lines(kResponseWhere);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(SS_TRACE_ERROR, lines[0].level);
    const std::string& message = lines[0].message;
    ASSERT_GE(message.size(), hostile.responseTraceSuffix.size()) << message;
    EXPECT_EQ(hostile.responseTraceSuffix, message.substr(message.size() - hostile.responseTraceSuffix.size()))
        << message;
    if (hostile.parsedTrace.empty()) {
        EXPECT_TRUE(m_trace.Lines(kParsedWhere).empty());
        EXPECT_NE(std::string::npos, message.find(hostile.parserText)) << message;
    } else {
        EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR, hostile.parsedTrace, kParsedWhere));
    }
    // Nothing reached the agent but the report of the refusal, with the traced status.
    EXPECT_TRUE(CallbackLog::Instance().Calls().empty());
    const std::string traced = hostile.responseTraceSuffix.substr(std::string(" ERR code: ").size(), 10);
    EXPECT_EQ((std::vector<ErrorReport>{{static_cast<uint32_t>(std::stoul(traced, nullptr, 16)), 1}}),
              ErrorLog::Instance().Reports());

    // The post itself succeeded; the next heartbeat goes out and its reply is processed.
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(WaitFor(server, 2, 1));
    EXPECT_EQ(1u, CallbackLog::Instance().Calls().size());
}

const std::string kParseFailure = " ERR code: 0xc7380003 CML code: 0xc7380003";
const std::string kBadResponse = " ERR code: 0xc7560005 CML code: 0x00000000";

INSTANTIATE_TEST_SUITE_P(
    Replies, HostileReplyTest,
    ::testing::Values(HostileCase{"NotXml", NotXml, kParseFailure, ""},
                      HostileCase{"ExternalEntity", ExternalEntity, kParseFailure, ""},
                      HostileCase{"NoEnvelope", DocumentWithoutEnvelope, kBadResponse,
                                  "no message envelope in response"},
                      HostileCase{"EnvelopeOutsideCml", EnvelopeInAnotherNamespace, kBadResponse,
                                  "no message envelope in response"},
                      HostileCase{"NoDestination", WithoutDestination, kBadResponse,
                                  "no destination agents specified in response"},
                      HostileCase{"TenMegabytesUnclosed", TenMegabytesUnclosed, kParseFailure, ""},
                      HostileCase{"TenMegabytesOfGarbage", TenMegabytesOfGarbage, kParseFailure, ""},
                      HostileCase{"Empty", Empty, kBadResponse, "no message envelope in response"},
                      HostileCase{"ForAnotherAgent", ForAnotherAgent, kBadResponse,
                                  "response addressed to another agent: 11111111-2222-3333-4444-555555555555"},
                      HostileCase{"DeepPolicy", DeepPolicy, kParseFailure, "",
                                  "Elements are nested deeper than 256 levels"},
                      HostileCase{"DeepBesideTheEnvelope", DeepBesideTheEnvelope, kParseFailure, "",
                                  "Elements are nested deeper than 256 levels"}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// The dispatch thread runs on whatever stack the agent's platform services give it: the
// deepest reply the parser lets through is read and its policy written out on a small one.
TEST_F(ReplyProcessingTest, TheDeepestReplyAllowedIsHandledOnASmallDispatchThreadStack) {
    // The policy's root lies at depth 8 of the reply, its setting at 9 + the levels added.
    constexpr std::size_t kAdded = 256 - 9;
    const std::string setting = "<setting value='on'/>";
    std::string document = MixedReply();
    std::string nested = setting;
    for (std::size_t i = 0; i < kAdded; ++i) nested = "<n>" + nested + "</n>";
    document.replace(document.find(setting), setting.size(), nested);
    std::string expected = kPolicyText.substr(0, kPolicyText.find("    <setting"));
    for (std::size_t i = 1; i <= kAdded; ++i) expected += std::string(4 * i, ' ') + "<n>\n";
    expected += std::string(4 * (kAdded + 1), ' ') + "<setting value='on'/>\n";
    for (std::size_t i = kAdded; i >= 1; --i) expected += std::string(4 * i, ' ') + "</n>\n";
    expected += "</policy>\n";

    ReplyServer server({document});
    m_platform = zel::test::SmallStackPlatformServices();
    StartAndPost(server, true);
    const std::vector<CallRecord> calls = CallbackLog::Instance().Calls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(Callback::kGetPolicyResponse, calls[1].callback);
    EXPECT_TRUE(expected == calls[1].document) << "the policy text differs";
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

TEST_F(ReplyProcessingTest, AReplyOverTheModulesSizeLimitIsAFailedPost) {
    ReplyServer server({TenMegabytesUnclosed("")});
    Start(server, false, "[session_config]\nmaxResponseBytes = 1048576\n");
    RegisterAll();
    // The module refuses the body: the post fails and nothing of the reply is processed.
    EXPECT_EQ(0xC7590009u, PostOneHeartbeat());
    EXPECT_TRUE(CallbackLog::Instance().Calls().empty());
    EXPECT_TRUE(m_trace.Lines(kResponseWhere).empty());
}

TEST_F(ReplyProcessingTest, TheDumpHoldsTheRawBytesOfTheLastReplyEvenWhenItFails) {
    const std::string broken("<zel>\0\xff\xfe not closed\r\n", 21);
    ReplyServer server({broken, MixedReply()});
    TempDir dir;
    const WorkingDirectory here(dir.File(""));
    Start(server, false, "dumpEnabled = 1\n");
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ(broken, ReadFile("ss_dump_hbresp.txt"));
    EXPECT_EQ(1u, m_trace.Lines(kResponseWhere).size());
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ(MixedReply(), ReadFile("ss_dump_hbresp.txt"));
}

TEST_F(ReplyProcessingTest, WithoutDumpEnabledNoDumpIsWritten) {
    ReplyServer server({MixedReply()});
    TempDir dir;
    const WorkingDirectory here(dir.File(""));
    Start(server);
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_FALSE(std::ifstream("ss_dump_hbresp.txt").good());
}

// A known tag on an object of another class: the dispatcher refuses it.
TEST_F(ReplyProcessingTest, AKnownTagOfTheWrongClassStopsTheDispatch) {
    ReplyServer server({});
    Start(server);
    RegisterAll();
    CSensorServices* services = AcquireServices();
    ASSERT_NE(nullptr, services);
    struct Row {
        const char16_t* tag;
        bool request;
        const char* failure;
    };
    const Row rows[] = {
        {cml::kTagSetSchemaRequest, true, "could not cast set schema request to correct class"},
        {cml::kTagGetSchemaRequest, true, "could not cast get schema request to correct class"},
        {cml::kTagGetSchemaResponse, false, "could not cast get schema response to correct class"},
        {cml::kTagGetPolicyResponse, false, "could not cast get policy response to correct class"},
        {cml::kTagSetPolicyResponse, false, "could not cast set policy response to correct class"},
        {cml::kTagSetSchemaResponse, false, "could not cast set schema response to correct class"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failure);
        const cml::CCmlRequest request(u"r", row.tag, true, cml::kCmlNamespaceURI);
        const cml::CCmlResponse response(row.tag, 0, nullptr, cml::kCmlNamespaceURI);
        const MessageList list{row.request ? static_cast<const cml::CMessageBase*>(&request) : &response};
        try {
            CReplyProcessor(*services, kAgentId).DispatchTypedMessages(list, kAgentId, true);
            ADD_FAILURE() << "no exception";
        } catch (const CTRLEXC& e) {
            EXPECT_EQ(row.failure, e.Message());
            EXPECT_EQ(0xC7560005u, e.Status());
        }
    }
    ReleaseServices(services);
    EXPECT_TRUE(CallbackLog::Instance().Calls().empty());
}

TEST_F(ReplyProcessingTest, NoBytesIsAnInvalidArgument) {
    ReplyServer server({});
    Start(server);
    CSensorServices* services = AcquireServices();
    ASSERT_NE(nullptr, services);
    EXPECT_EQ(0xC7210003u, services->HelperProcessHeartbeatResponse(nullptr, 5, kAgentId));
    EXPECT_EQ(0xC7210003u, services->HelperProcessHeartbeatResponse("x", 0, kAgentId));
    ReleaseServices(services);
    EXPECT_EQ(2, m_trace.Count(SS_TRACE_ERROR, "A required input parameter is NULL.", kResponseWhere));
}

}  // namespace
}  // namespace zel::ss::test
