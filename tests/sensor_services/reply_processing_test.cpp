// Processing of the controller's replies: replies written by hand, served by a real HTTP
// server on 127.0.0.1 to heartbeats posted through the exports, with the real
// session-config module: dispatch order, unknown requests and their answers, agent
// exceptions, hostile replies, depth and size limits, dumps and the refusal of no bytes.
#include <gtest/gtest.h>

#include "library_test.h"
#include "support/small_stack.h"

namespace zel::ss::test {
namespace {

constexpr const char* kResponseWhere = "CSensorServices::HelperProcessHeartbeatResponse";
constexpr const char* kParsedWhere = "CSensorServices::HelperProcessParsedHeartbeatResponse";
constexpr const char* kUnknownWhere = "CSensorServices::HelperProcessUnknownMessages()";
constexpr const char* kGenericWhere = "CSensorServices::HelperProcessGenericResponses";

// A schema and a policy, and the texts the library hands over for them (one element per
// line, four blanks per level, the attributes by name). The policy's setting lies kAdded
// levels below its root: in MixedReply(), where the root is at depth 8, that is the deepest
// element the parser lets through.
const char kSchemaElement[] = "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:s' "
                              "version='1.2.3'><element name='scan'/></schema>";
const std::string kSchemaText = "<schema targetNamespace='urn:s' version='1.2.3' "
                                "xmlns='http://www.w3.org/2001/XMLSchema'>\n    <element name='scan'/>\n</schema>\n";
constexpr std::size_t kAdded = 256 - 9;
std::string DeepestPolicy(bool asText) {
    const std::string setting = "<setting value='on'/>";
    std::string policy = asText ? std::string(4 * (kAdded + 1), ' ') + setting + "\n" : setting;
    for (std::size_t i = kAdded; i >= 1; --i) {
        const std::string indent(asText ? 4 * i : 0, ' ');
        policy = asText ? indent + "<n>\n" + policy + indent + "</n>\n" : "<n>" + policy + "</n>";
    }
    const std::string root = asText ? "<policy name='Scan Policy' schema-version='1.0.0' version='7' xmlns='urn:p'>\n"
                                    : "<policy xmlns='urn:p' name='Scan Policy' version='7' schema-version='1.0.0'>";
    return root + policy + (asText ? "</policy>\n" : "</policy>");
}
const std::string kPolicyElement = DeepestPolicy(false), kPolicyText = DeepestPolicy(true);
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
// The dispatch thread runs on whatever stack the agent's platform services give it: the
// deepest reply is read and its policy written out on a small one.
class MixedReplyTest : public ReplyProcessingTest, public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(MixedReplyTest, SchemaThenPolicyThenGenericThenComplete) {
    const auto [threaded, generic] = GetParam();
    ReplyServer server({MixedReply()});
    m_platform = zel::test::SmallStackPlatformServices();
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

// For each posted heartbeat, the request identifiers of the error responses it carries.
using AnswerLists = std::vector<std::vector<std::u16string>>;
AnswerLists Answers(const std::vector<ReceivedPost>& posts) {
    AnswerLists requestIds;
    for (const ReceivedPost& post : posts) {
        requestIds.emplace_back();
        const cml::CCmlMessage envelope = Parsed(post.body);
        for (const auto& response : envelope.GetResponses()) {
            if (response->GetTagName() != u"error-response") continue;
            EXPECT_EQ(std::make_tuple(std::u16string(u"http://schemas.zel.example/cml"), 0xC7380004u,
                                      std::u16string(u"sensor services - unrecognized request")),
                      std::make_tuple(response->GetNamespaceURI(), response->GetCode(), response->GetText()));
            requestIds.back().push_back(response->GetRequestId());
        }
    }
    return requestIds;
}

// The typed shapes MixedReply() lacks reach their callbacks in group order; messages outside
// the CML namespace are ignored and unknown CML ones traced. A controller that asks an unknown
// request in every reply gets each answer once (none without an identifier), in the agent's
// next heartbeat; the library posts nothing of its own, so no reply can start a loop of
// heartbeats (or, in synchronous mode, a recursion).
class UnknownRequestTest : public ReplyProcessingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnknownRequestTest, TypedShapesInGroupOrderAndUnknownRequestsAnsweredOnceWithoutALoop) {
    // Group 1: the get-schema-response; group 2, requests before responses: the
    // get-schema-request, the set-schema-response, the set-policy-response.
    ReplyServer server({ReplyDocument(
        "<get-schema-request request-id='gs'><schema-info namespace='urn:a' version='1.0.0' name='A'/><schema-info "
        "namespace='urn:b'/></get-schema-request>\n<frobnicate-request xmlns='urn:other' request-id='o2'/>"
        "<frobnicate-request/><frobnicate-request request-id='r-1'/>\n",
        std::string("<set-schema-response request-id='ss'/>\n<get-schema-response request-id='gr'><schema-info "
                    "namespace='urn:s' version='1.2.3' name='Scan'>") + kSchemaElement + "</schema-info>"
            "</get-schema-response>\n<set-policy-response request-id='sp'><policy-item name='P' namespace='urn:p' "
            "code='0xc756000d' text='refused' token='3'/></set-policy-response><error-response xmlns='urn:other' "
            "request-id='o3' code='0x1'/>\n<mystery-response code='0x1'/>\n"),
                        ReplyDocument("<frobnicate-request request-id='r-2'/>\n<frobnicate-request request-id='r-2'/>\n"
                                      "<frobnicate-request request-id='r-3'/>\n", "")});
    StartAndPost(server, GetParam());
    EXPECT_EQ((std::vector<CallRecord>{
                  Call(Callback::kGetSchemaResponse, "gr", {"Scan", "urn:s", "1.2.3"}, 0, {}, kSchemaText),
                  Call(Callback::kGetSchemaRequest, "gs", {"A", "urn:a", "1.0.0"}),
                  Call(Callback::kGetSchemaRequest, "gs", {"", "urn:b", ""}),
                  // A set-schema-response without items: one call with nothing but the identifiers.
                  Call(Callback::kSetSchemaResponse, "ss", {{}, {}, {}}),
                  Call(Callback::kSetPolicyResponse, "sp", {"3", "P", "urn:p", ""}, 0xC756000Du, "refused", {}, 1),
                  Complete()}),
              Calls());
    ASSERT_EQ(3u, m_trace.Lines(kUnknownWhere).size());
    for (const auto& [tag, count] : {std::pair<std::string, int>{"frobnicate-request", 2}, {"mystery-response", 1}})
        EXPECT_EQ(count, m_trace.Count(SS_TRACE_ERROR, "Unknown CML message received. Tag name: " + tag,
                                       kUnknownWhere));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(1u, server.server.Posts().size());
    for (std::size_t n = 2; n <= 4; ++n) {
        ASSERT_EQ(0u, PostOneHeartbeat());
        ASSERT_TRUE(WaitFor(server, n, n));
    }
    // r-2 was asked twice and is answered once.
    EXPECT_EQ((AnswerLists{{}, {u"r-1"}, {u"r-2", u"r-3"}, {}}), Answers(server.server.Posts()));
}

INSTANTIATE_TEST_SUITE_P(Modes, UnknownRequestTest, ::testing::Bool());

TEST_F(ReplyProcessingTest, AnAnswerStaysOwedUntilAHeartbeatCarryingItWasDelivered) {
    std::atomic<int> posts{0};
    const std::string unknownRequest = ReplyDocument("<frobnicate-request request-id='r-9'/>\n", "");
    RecordingServer server([&](const httplib::Request&, httplib::Response& response) {
        const int n = posts++;
        if (n == 1) response.status = 503;
        else response.set_content(n == 0 ? unknownRequest : FallbackReply(), kCmlType);
    });
    Start(server.Port());
    for (const uint32_t status : {0u, 0xC7590013u, 0u, 0u}) EXPECT_EQ(status, PostOneHeartbeat());
    // The heartbeat that failed carried it, so did the one that replaced it; then it is paid.
    EXPECT_EQ((AnswerLists{{}, {u"r-9"}, {u"r-9"}, {}}), Answers(server.Posts()));
}

// An agent callback that throws is traced and processing goes on: the next generic response
// still reaches the agent, so does the end of the reply. A reply without bytes is refused.
TEST_F(ReplyProcessingTest, ThrowingCallbacksAreTracedAndSkippedAndNoBytesAreRefused) {
    ReplyServer server({ReplyDocument("", "<error-response code='0x1'/><agent-startup-acknowledgement/>")});
    Start(server);
    ASSERT_EQ(0u, RegisterGenericResponse([](const char*, const char*, uint32_t, const char*, uint32_t, const char*,
                                             uint32_t) -> uint32_t { throw std::runtime_error("agent failure"); }));
    ASSERT_EQ(0u, RegisterResponseComplete([](const char*) -> uint32_t { throw std::runtime_error("failure"); }));
    ASSERT_EQ(0u, PostOneHeartbeat());
    for (const uint32_t n : {5u, 0u}) EXPECT_EQ(0xC7210003u, ProcessHeartbeatReply(n ? nullptr : "x", n, kAgentId));
    const std::string failed = "An exception occurred in the agent's ";
    EXPECT_EQ(2, m_trace.Count(SS_TRACE_ERROR, failed + "generic response callback function", kGenericWhere));
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_ERROR, failed + "response-complete callback function", kParsedWhere));
    EXPECT_EQ(2, m_trace.Count(SS_TRACE_ERROR, "A required input parameter is NULL.", kResponseWhere));
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
const std::string kTenMegabytesUnclosed = Edited("</zel>", std::string(10u << 20, ' '), true);

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
    {"NotXml", S("<zel>\0\xff\xfe not closed\r\n", 21), kParseFailure, ""},
    {"ExternalEntity", "<?xml version='1.0'?>\n<!DOCTYPE zel [<!ENTITY body SYSTEM 'file://%CANARY%'>]>\n" + kZel +
                           "&body;</zel>\n", kParseFailure, ""},
    {"EnvelopeOutsideCml", Edited("xmlns='http://schemas.zel.example/cml'", "xmlns='urn:not-cml'", true), kBadResponse,
     kNoEnvelope},
    {"NoDestination", Edited("      <destination name='Agent One' namespace='urn:agent' agent-id='" + S(kAgentId) +
                                 "'/>\n", "", true), kBadResponse, "no destination agents specified in response"},
    {"TenMegabytesUnclosed", kTenMegabytesUnclosed, kParseFailure, ""},
    {"Empty", "", kBadResponse, kNoEnvelope},
    // A reply for another agent whose group settings would move this one to other controllers.
    {"ForAnotherAgent", ReplyDocument("", "<get-policy-response request-id='gp'><policy-item namespace='" +
                                              S(kGroupSettingsNs) + "' token='99'><policy xmlns='" + kGroupSettingsNs +
                                              "' version='99' schema-version='1.0.0'><controller-list><controller-info "
                                              "host-name='10.9.9.9' port='1'/></controller-list></policy></policy-item>"
                                              "</get-policy-response>\n", "hb-42", kOther),
     kBadResponse, "response addressed to another agent: " + kOther},
    // Policy content nesting 50000 elements.
    {"DeepPolicy", Edited("<setting", NestedElements(50000)), kParseFailure, "", kTooDeep},
};

class HostileReplyTest : public ReplyProcessingTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileReplyTest, IsTracedCallsNothingAndTheNextHeartbeatStillGoesOut) {
    const HostileCase& hostile = GetParam();
    TempDir dir;
    const WorkingDirectory here(dir.File(""));
    // The entity's target: a reply that would reach the agent if anything read it.
    WriteFile(dir.File("canary.xml"), MixedReply().substr(MixedReply().find("<cml")));
    S reply = hostile.reply;
    if (reply.find("%CANARY%") != S::npos) reply.replace(reply.find("%CANARY%"), 8, dir.File("canary.xml"));
    ReplyServer server({reply});
    Start(server.Port(), false, "dumpEnabled = 1\n");
    RegisterAll();
    ASSERT_EQ(0u, PostOneHeartbeat());
    // The dump holds the raw bytes of the last reply, also of one that failed.
    EXPECT_TRUE(reply == ReadFile("ss_dump_hbresp.txt")) << "the dump differs";

    const std::vector<TraceLine> lines = m_trace.Lines(kResponseWhere);
    ASSERT_EQ(1u, lines.size());
    const std::string &message = lines[0].message, &suffix = hostile.responseTraceSuffix;
    EXPECT_EQ(std::make_tuple(SS_TRACE_ERROR, message.size() - suffix.size()),
              std::make_tuple(lines[0].level, message.rfind(suffix))) << message;
    // Without a line of its own, the parser's text is in the first.
    EXPECT_TRUE(!hostile.parsedTrace.empty() || message.find(hostile.parserText) != std::string::npos) << message;
    EXPECT_EQ(hostile.parsedTrace.empty(), m_trace.Lines(kParsedWhere).empty());
    EXPECT_EQ(hostile.parsedTrace.empty() ? 0 : 1, m_trace.Count(SS_TRACE_ERROR, hostile.parsedTrace, kParsedWhere));
    // Nothing reached the agent but the report of the refusal, with the traced status.
    EXPECT_TRUE(Calls().empty());
    const auto status = static_cast<uint32_t>(std::stoul(suffix.substr(std::string(" ERR code: ").size(), 10), 0, 16));
    EXPECT_EQ((std::vector<ErrorReport>{{status, 1}}), ErrorLog::Instance().Reports());

    // The post itself succeeded; the next heartbeat goes out and its reply is processed.
    ASSERT_EQ(0u, PostOneHeartbeat());
    ASSERT_TRUE(WaitFor(server, 2, 1));
    EXPECT_EQ(FallbackReply(), ReadFile("ss_dump_hbresp.txt"));
}

INSTANTIATE_TEST_SUITE_P(Replies, HostileReplyTest, ::testing::ValuesIn(kHostileCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST_F(ReplyProcessingTest, AReplyOverTheModulesSizeLimitIsAFailedPost) {
    ReplyServer server({kTenMegabytesUnclosed});
    Start(server.Port(), false, "[session_config]\nmaxResponseBytes = 1048576\n");
    // The module refuses the body: the post fails and nothing of the reply is processed.
    EXPECT_EQ(0xC7590009u, PostOneHeartbeat());
    EXPECT_TRUE(m_trace.Lines(kResponseWhere).empty());
}

}  // namespace
}  // namespace zel::ss::test
