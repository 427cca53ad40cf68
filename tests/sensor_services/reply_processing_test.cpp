// Processing of the controller's replies: replies written by hand, served by a real HTTP
// server on 127.0.0.1 to heartbeats posted through the exports, with the real
// session-config module: dispatch order, unknown requests and their answers, agent
// exceptions, hostile replies, depth and size limits, dumps and the dispatcher's refusals.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "library_test.h"
#include "sensor_services/ctrlexc.h"
#include "sensor_services/library.h"
#include "sensor_services/reply_processing.h"
#include "sensor_services/sensor_services_object.h"
#include "support/small_stack.h"

namespace zel::ss::test {
namespace {

constexpr const char* kResponseWhere = "CSensorServices::HelperProcessHeartbeatResponse";
constexpr const char* kParsedWhere = "CSensorServices::HelperProcessParsedHeartbeatResponse";
constexpr const char* kUnknownWhere = "CSensorServices::HelperProcessUnknownMessages()";

// A schema and a policy, and the texts the library hands over for them (one element per
// line, four blanks per level, the attributes by name).
const char kSchemaElement[] = "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:s' "
                              "version='1.2.3'><element name='scan'/></schema>";
const std::string kSchemaText = "<schema targetNamespace='urn:s' version='1.2.3' "
                                "xmlns='http://www.w3.org/2001/XMLSchema'>\n    <element name='scan'/>\n</schema>\n";
const char kPolicyElement[] =
    "<policy xmlns='urn:p' name='Scan Policy' version='7' schema-version='1.0.0'><setting value='on'/></policy>";
const std::string kPolicyText = "<policy name='Scan Policy' schema-version='1.0.0' version='7' xmlns='urn:p'>\n"
                                "    <setting value='on'/>\n</policy>\n";
// The request identifier "req-é": five characters, six bytes.
const char kSetSchemaRequestId[] = "req-\xc3\xa9";

std::string MixedReply() {
    return ReplyDocument(std::string("<set-schema-request request-id='") + kSetSchemaRequestId +
                             "'><schema-info namespace='urn:s' version='1.2.3' name='Scan \xc3\xa9'>" + kSchemaElement +
                             "</schema-info></set-schema-request>\n",
                         std::string("<get-policy-response request-id='req-pol'><policy-item name='Scan Policy' "
                                     "namespace='urn:p' schema-version='1.0.0' token='7'>") +
                             kPolicyElement + "</policy-item></get-policy-response>\n"
                             "<error-response request-id='req-err' code='0xc7380004' text='no such thing'/>\n");
}

class ReplyProcessingTest : public LibraryTest {
protected:
    // A start against `server` with every recorder registered, and one heartbeat whose
    // reply has been processed.
    void StartAndPost(const ReplyServer& server, bool threaded = false, bool generic = true) {
        Start(server, threaded);
        RegisterAll(generic);
        ASSERT_EQ(0u, PostOneHeartbeat());
        ASSERT_TRUE(WaitFor(server, 1, 1));
    }
};

// Parameters: dispatch thread (else synchronous mode), generic-response callback registered.
class MixedReplyTest : public ReplyProcessingTest, public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(MixedReplyTest, SchemaThenPolicyThenGenericThenComplete) {
    const auto [threaded, generic] = GetParam();
    ReplyServer server({MixedReply()});
    StartAndPost(server, threaded, generic);
    std::vector<CallRecord> expected = {
        Call(Callback::kSetSchemaRequest, kSetSchemaRequestId, {"Scan \xc3\xa9", "urn:s", "1.2.3"}, 0, {}, kSchemaText),
        // Final only when no generic call follows.
        Call(Callback::kGetPolicyResponse, "req-pol", {"7", "Scan Policy", "urn:p", "1.0.0"}, 0, {}, kPolicyText,
             !generic)};
    if (generic) expected.push_back(Call(Callback::kGeneric, "req-err", {"error-response"}, 0xC7380004u,
                                         "no such thing", {}, 1));
    expected.push_back(Complete());
    EXPECT_EQ(expected, Calls());
    // Nothing in the reply asked for an answer.
    EXPECT_EQ(1u, server.server.Posts().size());
}

INSTANTIATE_TEST_SUITE_P(Modes, MixedReplyTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()));

// Messages outside the CML namespace are ignored; unknown CML ones without an identifier are
// only traced. Neither is answered.
TEST_F(ReplyProcessingTest, EveryTypedShapeInGroupOrderAndForeignOrAnonymousMessagesOnlyTraced) {
    // Group 1: the get-schema-response; group 2, requests before responses: the
    // get-schema-request, the set-schema-response, the set-policy-response.
    ReplyServer server({ReplyDocument(
        "<get-schema-request request-id='gs'><schema-info namespace='urn:a' version='1.0.0' name='A'/><schema-info "
        "namespace='urn:b'/></get-schema-request>\n<set-schema-request xmlns='urn:other' request-id='o1'><schema-info "
        "namespace='urn:s'/></set-schema-request><frobnicate-request xmlns='urn:other' request-id='o2'/>"
        "<frobnicate-request/>",
        std::string("<set-schema-response request-id='ss'/>\n<get-schema-response request-id='gr'><schema-info "
                    "namespace='urn:s' version='1.2.3' name='Scan' code='0x47560013' text='none'/><schema-info "
                    "namespace='urn:s' version='1.2.3' name='Scan'>") + kSchemaElement + "</schema-info>"
            "</get-schema-response>\n<set-policy-response request-id='sp'><policy-item name='P' namespace='urn:p' "
            "code='0xc756000d' text='refused' token='3'/></set-policy-response><error-response xmlns='urn:other' "
            "request-id='o3' code='0x1'/>\n<mystery-response code='0x1'/>\n")});
    StartAndPost(server);
    EXPECT_EQ((std::vector<CallRecord>{
                  Call(Callback::kGetSchemaResponse, "gr", {"Scan", "urn:s", "1.2.3"}, 0x47560013u, "none"),
                  Call(Callback::kGetSchemaResponse, "gr", {"Scan", "urn:s", "1.2.3"}, 0, {}, kSchemaText),
                  Call(Callback::kGetSchemaRequest, "gs", {"A", "urn:a", "1.0.0"}),
                  Call(Callback::kGetSchemaRequest, "gs", {"", "urn:b", ""}),
                  // A set-schema-response without items: one call with nothing but the identifiers.
                  Call(Callback::kSetSchemaResponse, "ss", {{}, {}, {}}),
                  Call(Callback::kSetPolicyResponse, "sp", {"3", "P", "urn:p", ""}, 0xC756000Du, "refused", {}, 1),
                  Complete()}),
              Calls());
    EXPECT_EQ(1u, server.server.Posts().size());
    ASSERT_EQ(2u, m_trace.Lines(kUnknownWhere).size());
    for (const std::string tag : {"frobnicate-request", "mystery-response"})
        EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR, "Unknown CML message received. Tag name: " + tag, kUnknownWhere));
}

// The request identifiers of the error responses a posted heartbeat carries.
std::vector<std::u16string> Answers(const ReceivedPost& post) {
    std::vector<std::u16string> requestIds;
    const cml::CCmlMessage envelope = Parsed(post.body);
    for (const auto& response : envelope.GetResponses()) {
        if (response->GetTagName() != u"error-response") continue;
        EXPECT_EQ(std::make_tuple(std::u16string(u"http://schemas.zel.example/cml"), 0xC7380004u,
                                  std::u16string(u"sensor services - unrecognized request")),
                  std::make_tuple(response->GetNamespaceURI(), response->GetCode(), response->GetText()));
        requestIds.push_back(response->GetRequestId());
    }
    return requestIds;
}

std::string UnknownRequestReply(const std::string& requestId) {
    return ReplyDocument("<frobnicate-request request-id='" + requestId + "'/>\n", "");
}

// A controller that asks an unknown request in every reply gets each answer once, in the
// agent's next heartbeat; the library posts nothing of its own, so no reply can start a
// loop of heartbeats (or, in synchronous mode, a recursion).
class UnknownRequestTest : public ReplyProcessingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnknownRequestTest, IsAnsweredInTheNextHeartbeatAndNeverStartsALoop) {
    ReplyServer server({UnknownRequestReply("r-1"),
                        ReplyDocument("<frobnicate-request request-id='r-2'/>\n<frobnicate-request request-id='r-2'/>\n"
                                      "<frobnicate-request request-id='r-3'/>\n", "")});
    StartAndPost(server, GetParam());
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR, "Unknown CML message received. Tag name: frobnicate-request",
                               kUnknownWhere));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(1u, server.server.Posts().size());
    for (std::size_t n = 2; n <= 4; ++n) {
        ASSERT_EQ(0u, PostOneHeartbeat());
        ASSERT_TRUE(WaitFor(server, n, n));
    }
    const std::vector<ReceivedPost> posts = server.server.Posts();
    ASSERT_EQ(4u, posts.size());
    EXPECT_TRUE(Answers(posts[0]).empty());
    EXPECT_EQ(std::vector<std::u16string>{u"r-1"}, Answers(posts[1]));
    // Asked twice: answered once.
    EXPECT_EQ((std::vector<std::u16string>{u"r-2", u"r-3"}), Answers(posts[2]));
    EXPECT_TRUE(Answers(posts[3]).empty());
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, UnknownRequestTest, ::testing::Bool());

TEST_F(ReplyProcessingTest, AnAnswerStaysOwedUntilAHeartbeatCarryingItWasDelivered) {
    std::atomic<int> posts{0};
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        const int n = posts++;
        if (n == 1) response.status = 503;
        else response.set_content(n == 0 ? UnknownRequestReply("r-9") : FallbackReply(), kCmlType);
    });
    Start(server.Port());
    for (const uint32_t status : {0u, 0xC7590013u, 0u, 0u}) EXPECT_EQ(status, PostOneHeartbeat());
    const std::vector<ReceivedPost> sent = server.Posts();
    ASSERT_EQ(4u, sent.size());
    // The heartbeat that failed carried it, so did the one that replaced it; then it is paid.
    EXPECT_EQ(std::vector<std::u16string>{u"r-9"}, Answers(sent[1]));
    EXPECT_EQ(std::vector<std::u16string>{u"r-9"}, Answers(sent[2]));
    EXPECT_TRUE(Answers(sent[3]).empty());
}

TEST_F(ReplyProcessingTest, ExceptionsFromGenericAndCompleteCallbacksAreTracedAndSkipped) {
    ReplyServer server({ReplyDocument("", "<error-response request-id='e1' code='0x1'/>\n"
                                          "<agent-startup-acknowledgement request-id='a1'/>\n")});
    Start(server);
    ASSERT_EQ(0u, RegisterGenericResponse([](const char*, const char*, uint32_t, const char*, uint32_t code,
                                             const char*, uint32_t) -> uint32_t {
        AddCall({Callback::kGeneric, {}, 0, 0, {}, {}, code});
        throw std::runtime_error("agent failure");
    }));
    ASSERT_EQ(0u, RegisterResponseComplete([](const char*) -> uint32_t { throw std::runtime_error("failure"); }));
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(server.server.WaitForPosts(1));
    EXPECT_EQ((std::vector<CallRecord>{{Callback::kGeneric, {}, 0, 0, {}, {}, 1}, {Callback::kGeneric}}), Calls());
    EXPECT_EQ(2, m_trace.Count(SS_TRACE_ERROR, "An exception occurred in the agent's generic response callback "
                               "function", "CSensorServices::HelperProcessGenericResponses"));
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR, "An exception occurred in the agent's response-complete callback "
                               "function", kParsedWhere));
    EXPECT_TRUE(m_trace.Lines(kResponseWhere).empty());
}

// `depth` nested elements: "<n><n>...</n></n>".
std::string NestedElements(std::size_t depth) {
    std::string nested;
    for (std::size_t i = 0; i < 2 * depth; ++i) nested += i < depth ? "<n>" : "</n>";
    return nested;
}

// MixedReply() with `piece` inserted before `before` (or, with `replaced`, in place of `before`).
std::string Edited(const std::string& before, const std::string& piece, bool replaced = false) {
    std::string document = MixedReply();
    return document.replace(document.find(before), replaced ? before.size() : 0, piece);
}
// A valid reply that would call the agent, made to end 10 MB later without closing.
std::string TenMegabytesUnclosed() {
    return Edited("</zel>", std::string(10u << 20, ' '), true);
}

// A hostile or broken reply ("%CANARY%" stands for the path of a file that must never be read),
// the end of the line traced at level 1 under kResponseWhere, and the exact line under
// kParsedWhere (when empty: none, and a part of the parser's text in the first line).
struct HostileCase {
    const char* name;
    std::string reply, responseTraceSuffix, parsedTrace, parserText = "ZEL-SensorServices-Heartbeat-Response";
};
using S = std::string;
const S kParseFailure = " ERR code: 0xc7380003 CML code: 0xc7380003";
const S kBadResponse = " ERR code: 0xc7560005 CML code: 0x00000000", kNoEnvelope = "no message envelope in response";
const S kTooDeep = "Elements are nested deeper than 256 levels", kOther = "11111111-2222-3333-4444-555555555555";
const S kZel = "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>";
const HostileCase kHostileCases[] = {
    {"NotXml", "this is no XML at all", kParseFailure, ""},
    {"ExternalEntity", "<?xml version='1.0'?>\n<!DOCTYPE zel [<!ENTITY body SYSTEM 'file://%CANARY%'>]>\n" + kZel +
                           "&body;</zel>\n", kParseFailure, ""},
    {"NoEnvelope", kZel + "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'/></zel>", kBadResponse,
     kNoEnvelope},
    {"EnvelopeOutsideCml", Edited("xmlns='http://schemas.zel.example/cml'", "xmlns='urn:not-cml'", true), kBadResponse,
     kNoEnvelope},
    {"NoDestination", Edited("      <destination name='Agent One' namespace='urn:agent' agent-id='" + S(kAgentId) +
                                 "'/>\n", "", true), kBadResponse, "no destination agents specified in response"},
    {"TenMegabytesUnclosed", TenMegabytesUnclosed(), kParseFailure, ""},
    {"Empty", "", kBadResponse, kNoEnvelope},
    // A reply for another agent whose group settings would move this one to other controllers.
    {"ForAnotherAgent", ReplyDocument("", "<get-policy-response request-id='gp'><policy-item namespace='" +
                                              S(kGroupSettingsNs) + "' token='99'><policy xmlns='" + kGroupSettingsNs +
                                              "' version='99' schema-version='1.0.0'><controller-list><controller-info "
                                              "host-name='10.9.9.9' port='1'/></controller-list></policy></policy-item>"
                                              "</get-policy-response>\n", "hb-42", kOther),
     kBadResponse, "response addressed to another agent: " + kOther},
    // Policy content nesting 50000 elements; 100000 beside the envelope.
    {"DeepPolicy", Edited("<setting", NestedElements(50000)), kParseFailure, "", kTooDeep},
    {"DeepBesideTheEnvelope", Edited("  </cml>", NestedElements(100000)), kParseFailure, "", kTooDeep},
};

class HostileReplyTest : public ReplyProcessingTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileReplyTest, IsTracedCallsNothingAndTheNextHeartbeatStillGoesOut) {
    const HostileCase& hostile = GetParam();
    TempDir dir;
    // The entity's target: a reply that would reach the agent if anything read it.
    WriteFile(dir.File("canary.xml"), MixedReply().substr(MixedReply().find("<cml")));
    S reply = hostile.reply;
    if (reply.find("%CANARY%") != S::npos) reply.replace(reply.find("%CANARY%"), 8, dir.File("canary.xml"));
    ReplyServer server({reply});
    Start(server);
    RegisterAll();
    ASSERT_EQ(0u, PostOneHeartbeat());

    const std::vector<TraceLine> lines = m_trace.Lines(kResponseWhere);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(SS_TRACE_ERROR, lines[0].level);
    const std::string &message = lines[0].message, &suffix = hostile.responseTraceSuffix;
    EXPECT_EQ(message.size() - suffix.size(), message.rfind(suffix)) << message;
    if (hostile.parsedTrace.empty()) {
        EXPECT_TRUE(m_trace.Lines(kParsedWhere).empty());
        EXPECT_NE(std::string::npos, message.find(hostile.parserText)) << message;
    } else {
        EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR, hostile.parsedTrace, kParsedWhere));
    }
    // Nothing reached the agent but the report of the refusal, with the traced status.
    EXPECT_TRUE(Calls().empty());
    const auto status = static_cast<uint32_t>(std::stoul(suffix.substr(std::string(" ERR code: ").size(), 10), 0, 16));
    EXPECT_EQ((std::vector<ErrorReport>{{status, 1}}), ErrorLog::Instance().Reports());

    // The post itself succeeded; the next heartbeat goes out and its reply is processed.
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(WaitFor(server, 2, 1));
    EXPECT_EQ(1u, Calls().size());
}

INSTANTIATE_TEST_SUITE_P(Replies, HostileReplyTest, ::testing::ValuesIn(kHostileCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// The dispatch thread runs on whatever stack the agent's platform services give it: the
// deepest reply the parser lets through is read and its policy written out on a small one.
TEST_F(ReplyProcessingTest, TheDeepestReplyAllowedIsHandledOnASmallDispatchThreadStack) {
    // The policy's root lies at depth 8 of the reply, its setting at 9 + the levels added.
    constexpr std::size_t kAdded = 256 - 9;
    const std::string setting = "<setting value='on'/>";
    std::string nested = setting;
    for (std::size_t i = 0; i < kAdded; ++i) nested = "<n>" + nested + "</n>";
    std::string expected = kPolicyText.substr(0, kPolicyText.find("    <setting"));
    for (std::size_t i = 1; i <= kAdded; ++i) expected += std::string(4 * i, ' ') + "<n>\n";
    expected += std::string(4 * (kAdded + 1), ' ') + setting + "\n";
    for (std::size_t i = kAdded; i >= 1; --i) expected += std::string(4 * i, ' ') + "</n>\n";

    ReplyServer server({Edited(setting, nested, true)});
    m_platform = zel::test::SmallStackPlatformServices();
    StartAndPost(server, true);
    const std::vector<CallRecord> calls = Calls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(Callback::kGetPolicyResponse, calls[1].callback);
    EXPECT_TRUE(expected + "</policy>\n" == calls[1].document) << "the policy text differs";
    EXPECT_TRUE(ErrorLog::Instance().Reports().empty());
}

TEST_F(ReplyProcessingTest, AReplyOverTheModulesSizeLimitIsAFailedPost) {
    ReplyServer server({TenMegabytesUnclosed()});
    Start(server.Port(), false, "[session_config]\nmaxResponseBytes = 1048576\n");
    RegisterAll();
    // The module refuses the body: the post fails and nothing of the reply is processed.
    EXPECT_EQ(0xC7590009u, PostOneHeartbeat());
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(m_trace.Lines(kResponseWhere).empty());
}

TEST_F(ReplyProcessingTest, TheDumpHoldsTheRawBytesOfTheLastReplyEvenWhenItFailsAndOnlyWhenEnabled) {
    const std::string broken("<zel>\0\xff\xfe not closed\r\n", 21);
    ReplyServer server({MixedReply(), broken, MixedReply()});
    TempDir dir;
    const WorkingDirectory here(dir.File(""));
    Start(server);
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_FALSE(std::ifstream("ss_dump_hbresp.txt").good());
    ASSERT_EQ(0u, SS_ShutDown());
    Start(server.Port(), false, "dumpEnabled = 1\n");
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ(broken, ReadFile("ss_dump_hbresp.txt"));
    EXPECT_EQ(1u, m_trace.Lines(kResponseWhere).size());
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ(MixedReply(), ReadFile("ss_dump_hbresp.txt"));
}

// A known tag on an object of another class: the dispatcher refuses it. No bytes: an
// invalid argument.
TEST_F(ReplyProcessingTest, TheDispatcherRefusesAKnownTagOfTheWrongClassAndNoBytes) {
    Start(1);
    RegisterAll();
    CSensorServices* services = AcquireServices();
    ASSERT_NE(nullptr, services);
    const struct { const char16_t* tag; bool request; const char* failure; } rows[] = {
        {cml::kTagSetSchemaRequest, true, "set schema request"},
        {cml::kTagGetSchemaRequest, true, "get schema request"},
        {cml::kTagGetSchemaResponse, false, "get schema response"},
        {cml::kTagGetPolicyResponse, false, "get policy response"},
        {cml::kTagSetPolicyResponse, false, "set policy response"},
        {cml::kTagSetSchemaResponse, false, "set schema response"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.failure);
        const cml::CCmlRequest request(u"r", row.tag, true, cml::kCmlNamespaceURI);
        const cml::CCmlResponse response(row.tag, 0, nullptr, cml::kCmlNamespaceURI);
        const MessageList list{row.request ? static_cast<const cml::CMessageBase*>(&request) : &response};
        try {
            CReplyProcessor(*services, kAgentId).DispatchTypedMessages(list, kAgentId, true);
            ADD_FAILURE() << "no exception";
        } catch (const CTRLEXC& e) {
            EXPECT_EQ(std::make_tuple("could not cast " + std::string(row.failure) + " to correct class", 0xC7560005u),
                      std::make_tuple(e.Message(), e.Status()));
        }
    }
    for (const uint32_t length : {5u, 0u})
        EXPECT_EQ(0xC7210003u, services->HelperProcessHeartbeatResponse(length ? nullptr : "x", length, kAgentId));
    ReleaseServices(services);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(2, m_trace.Count(SS_TRACE_ERROR, "A required input parameter is NULL.", kResponseWhere));
}

}  // namespace
}  // namespace zel::ss::test
