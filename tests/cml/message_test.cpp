// CML messages: the golden envelope document and its round trip, the envelope's flags and numbers,
// the factories reading requests and responses, refusals, copies and wide streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "SensorIndependence/CmlLib/message_factory.h"
#include "cml/cml_test_support.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

// Written by hand from the writing rules; not produced by the code under test.
const char kGoldenEnvelope[] = "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
    "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
    "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n"
    "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
    "    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
    "        <message-envelope broadcast='false' message-id='msg-0001' response-to='hb-0000'>\n"
    "            <source name='Agent &apos;One&apos;' namespace='DesktopAgent' agent-id='A-1'/>\n"
    "            <destination name='Controller &amp; Co' agent-id='C-2'>\n"
    "                <agent-group xmlns='http://schemas.zel.example/cml/property' name='Alpha'/>\n"
    "                <agent-group xmlns='http://schemas.zel.example/cml/property' name='beta'/>\n"
    "            </destination>\n            <message-body>\n                <request>\n"
    "                    <agent-shutdown-announcement xmlns='http://schemas.zel.example/cml' request-id='' "
    "schema-version='2.4.2' need-reply='false'/>\n"
    "                </request>\n                <response>\n"
    "                    <agent-status-acknowledgement xmlns='http://schemas.zel.example/cml' request-id='' "
    "schema-version='2.4.2'/>\n"
    "                    <reset-agent-response xmlns='http://schemas.zel.example/cml' request-id='' "
    "schema-version='2.4.2' code='0xc7380017' text='a&lt;b &amp; &quot;q&quot; &apos;c&apos;&#xa;end&gt;'/>\n"
    "                </response>\n            </message-body>\n        </message-envelope>\n    </cml>\n"
    "</zel>\n";

CCmlMessage BuildGoldenEnvelope() {
    CCmlMessage message;
    CAgentInfo source, grouped;
    source.SetName(u"Agent 'One'"); source.SetNamespace(u"DesktopAgent"); source.SetAgentId(u"A-1");
    grouped.SetName(u"Controller & Co"); grouped.SetAgentId(u"C-2");
    grouped.AddGroup(u"beta"); grouped.AddGroup(u"Alpha");
    message.SetSource(source); message.AddDestination(grouped);
    message.SetMessageId(u"msg-0001"); message.SetResponseTo(u"hb-0000");
    message.AddRequest(std::make_unique<CCmlRequest>(u"", kTagAgentShutdownAnnouncement, false, kCmlNamespaceURI));
    message.AddResponse(CCmlResponse(kTagAgentStatusAcknowledgement, 0, u"", kCmlNamespaceURI));
    message.AddResponse(CCmlResponse(kTagResetAgentResponse, 0xC7380017u, u"a<b & \"q\" 'c'\nend>", kCmlNamespaceURI));
    return message;
}

using namespace test;

// An envelope document around `body` (the children of "message-body").
std::string EnvelopeDocument(const std::string& envelopeAttributes, const std::string& body) {
    return "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'><message-envelope " +
           envelopeAttributes + "><source/><message-body>" + body + "</message-body></message-envelope></cml></zel>";
}

TEST(CmlMessage, GoldenEnvelopeDocumentRoundTripsByteForByte) {
    EXPECT_EQ(Document(BuildGoldenEnvelope()), kGoldenEnvelope);
    EXPECT_EQ(Document(ReadEnvelope(std::string(kGoldenEnvelope))), kGoldenEnvelope);
}

TEST(CmlMessage, EmptyBodyHasNoWrappers) {
    CCmlMessage message;
    message.SetMessageId(u"m");
    message.SetBroadcast(true);
    EXPECT_EQ(test::Narrow(message), "<message-envelope broadcast='true' message-id='m'>\n    <source/>\n"
                                     "    <message-body>\n    </message-body>\n</message-envelope>\n");
}

// "broadcast" is true only for exactly "true", "need-reply" false only for exactly "false".
TEST(CmlMessage, FlagsReadOnlyTheirExactValue) {
    const struct { const char *broadcast, *needReplyAttribute; bool isBroadcast, needReply; } cases[] = {
        {"true", "", true, true}, {"TRUE", " need-reply='false'", false, false},
        {"true ", " need-reply='False'", false, true},
    };
    for (const auto& c : cases) {
        const CCmlMessage back = ReadEnvelope(EnvelopeDocument(
            std::string("broadcast='") + c.broadcast + "' message-id='x'",
            std::string("<request><get-agent-info-request request-id='q'") + c.needReplyAttribute + "/></request>"));
        EXPECT_EQ(back.GetBroadcast(), c.isBroadcast) << c.broadcast;
        ASSERT_EQ(back.GetRequests().size(), 1u);
        EXPECT_EQ(back.GetRequests()[0]->GetNeedReply(), c.needReply) << c.needReplyAttribute;
    }
}

// Every code, status and ordinal attribute is read by this one function.
TEST(CmlMessage, NumbersReadWithAutomaticBase) {
    const struct { std::u16string text; uint32_t expected; } rows[] = {
        {u"12", 12}, {u"0XC7380017", 0xC7380017u}, {u"012", 10}, {u"-1", 0xFFFFFFFFu}, {u"12abc", 12},
        {u" 7", 7},  {u"abc", 99},                 {u"", 99},    {u"\u00e91", 99},    {u"1\u00e9", 1},
    };
    for (const auto& row : rows) EXPECT_EQ(ReadAutoBaseNumber(row.text, 99), row.expected) << ToUtf8(row.text);
}

TEST(CmlMessage, FactoryKeepsCmlElementsAndSkipsOtherNamespaces) {
    const CCmlMessage back = ReadEnvelope(EnvelopeDocument("message-id='x'",
        "<request><get-schema-request schema-version='2.4.1' request-id='1'/>"
        "<foreign xmlns='http://other.example' request-id='skip'/>text<unknown-thing request-id='2'/></request>"
        "<request><pause-task-request request-id='3'/></request>"
        "<response><x:y xmlns:x='http://schemas.zel.example/cml/common'/><get-policy-response code='5'/></response>"));
    std::u16string read;
    for (const auto& r : back.GetRequests()) read += r->GetTagName() + u"#" + r->GetRequestId() + u",";
    for (const auto& r : back.GetResponses()) read += r->GetTagName();
    EXPECT_EQ(read, u"get-schema-request#1,unknown-thing#2,pause-task-request#3,get-policy-response");
    // The document's version is kept beside the version the request is written with.
    const auto& first = *back.GetRequests()[0];
    EXPECT_EQ(first.GetDocumentSchemaVersion() + u"|" + first.GetSchemaVersion(), u"2.4.1|2.4.2");
}

// A class of its own is built for its element; the generic one takes the name it reads.
TEST(CmlMessage, FactoriesBuildAnObjectForEveryName) {
    for (const char16_t* name : {kTagAgentStartupAnnouncement, kTagGetSchemaInfoRequest, kTagGetSchemaRequest,
            kTagSetSchemaRequest, kTagGetPolicyRequest, kTagSetPolicyRequest, kTagGetTaskStatusRequest,
            kTagPauseTaskRequest, kTagResumeTaskRequest, kTagStopTaskRequest, kTagDeleteTaskDataRequest,
            kTagConfigureTaskRequest, kTagGetAgentStatusRequest, kTagAgentStatusAnnouncement})
        EXPECT_EQ(CreateRequest(name)->GetTagName(), name);
    for (const char16_t* name : {kTagGetAgentInfoResponse, kTagGetSchemaInfoResponse, kTagSetSchemaResponse,
            kTagGetSchemaResponse, kTagGetPolicyResponse, kTagSetPolicyResponse, kTagGetPatentInfoResponse,
            kTagGetCopyrightInfoResponse, kTagSchemaNotSupportedResponse, kTagGetTaskStatusResponse,
            kTagConfigureTaskResponse, kTagPauseTaskResponse, kTagResumeTaskResponse, kTagStopTaskResponse,
            kTagDeleteTaskDataResponse, kTagGetAgentStatusResponse})
        EXPECT_EQ(CreateResponse(name)->GetTagName(), name);
    EXPECT_EQ(CreateRequest(u"no-such-request")->GetTagName() + CreateResponse(u"no-such-response")->GetTagName(), u"");
}

TEST(CmlMessage, RefusalsAndFailedReads) {
    CCmlMessage message = BuildGoldenEnvelope();
    // A read replaces what was held; a missing response-to reads as empty.
    const test::Parsed parsed(EnvelopeDocument("message-id='n'", "<request><a/></request>"));
    message.Deserialize(parsed.Envelope());
    ASSERT_EQ(message.GetRequests().size(), 1u);
    EXPECT_EQ(message.GetRequests()[0]->GetTagName(), u"a");
    EXPECT_TRUE(message.GetResponses().empty() && message.GetResponseTo().empty() && message.GetDestinations().empty());
    test::ExpectCmlError([&] { message.Deserialize(CCmlDOM_Element()); }, u"Deserializing message-envelope node",
                         u"Null element received", ZEL_E_CML_NULL_ELEMENT);
    // The requests are gone even though the read failed.
    EXPECT_TRUE(message.GetRequests().empty());

    // Two versions of the CML namespace: nothing is written.
    CCmlRequest old(u"", u"old-request", true, kCmlNamespaceURI);
    old.SetSchemaVersion(kPreviousCmlSchemaVersion);
    message.AddRequest(old);
    std::ostringstream out;
    EXPECT_THROW(message.SerializeDocument(out), CCmlException);
    EXPECT_TRUE(out.str().empty());
}

TEST(CmlMessage, CopiesAreDeep) {
    const CCmlMessage original = BuildGoldenEnvelope();
    CCmlMessage copy(original);
    copy.GetRequests()[0]->SetRequestId(u"changed");
    EXPECT_EQ(Document(original), kGoldenEnvelope);
    CCmlMessage assigned;
    assigned.AddRequest(CCmlRequest(u"", u"old", true, kCmlNamespaceURI));
    assigned = original;
    EXPECT_EQ(Document(assigned), kGoldenEnvelope);
    EXPECT_EQ(Document(*original.Clone()), kGoldenEnvelope);
}

TEST(CmlMessage, SingleMessageDocument) {
    const CCmlResponse response(kTagSetPolicyResponse, 0x47560006u, u"x", kCmlNamespaceURI);
    const std::string root = "\n<set-policy-response xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
                             "    xsi:schemaLocation='http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd' "
                             "xmlns='http://schemas.zel.example/cml' request-id='' schema-version='2.4.2' "
                             "code='0x47560006' text='x'/>\n";
    EXPECT_EQ(Document(response), "<?xml version='1.0' encoding='UTF-8' standalone='no'?>" + root);
    // A copy through the base class keeps the response's own fields; a wide string stream keeps
    // UTF-16 code units, so it starts with a byte order mark and declares UTF-16.
    std::basic_ostringstream<char16_t> wide;
    static_cast<const CMessageBase&>(response).Clone()->SerializeDocument(wide);
    EXPECT_EQ(ToUtf8(wide.str()), "\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-16' standalone='no'?>" + root);
}

TEST(CmlMessage, WideFileStreamHoldsUtf8AndGetsItsLocaleBack) {
    const std::string path = ::testing::TempDir() + "/cml_message_test.xml";
    {
        std::basic_ofstream<char16_t> file(path);
        const std::locale before = file.getloc();
        BuildGoldenEnvelope().SerializeDocument(file);
        EXPECT_TRUE(file.is_open() && file.good() && file.getloc() == before);
    }
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kGoldenEnvelope);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace zel::cml
