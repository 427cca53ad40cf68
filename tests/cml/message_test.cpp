#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "cml/cml_test_support.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

// Written by hand from the writing rules; not produced by the code under test.
const char kGoldenEnvelope[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
    "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
    "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n"
    "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
    "    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
    "        <message-envelope broadcast='false' message-id='msg-0001' response-to='hb-0000'>\n"
    "            <source name='Agent &apos;One&apos;' namespace='DesktopAgent' ip-address='10.0.0.5' "
    "host-name='host-1' agent-id='A-1'/>\n"
    "            <destination name='DesktopController' "
    "namespace='http://schemas.zel.example/cml/DesktopController'/>\n"
    "            <destination name='Controller &amp; Co' agent-id='C-2'>\n"
    "                <agent-group xmlns='http://schemas.zel.example/cml/property' name='Alpha'/>\n"
    "                <agent-group xmlns='http://schemas.zel.example/cml/property' name='beta'/>\n"
    "            </destination>\n"
    "            <message-body>\n"
    "                <request>\n"
    "                    <get-agent-info-request xmlns='http://schemas.zel.example/cml' request-id='r1' "
    "schema-version='2.4.2'/>\n"
    "                    <agent-shutdown-announcement xmlns='http://schemas.zel.example/cml' request-id='' "
    "schema-version='2.4.2' need-reply='false'/>\n"
    "                    <frobnicate-request xmlns='http://schemas.zel.example/cml' request-id='r3' "
    "schema-version='2.4.2'/>\n"
    "                </request>\n"
    "                <response>\n"
    "                    <agent-status-acknowledgement xmlns='http://schemas.zel.example/cml' request-id='' "
    "schema-version='2.4.2'/>\n"
    "                    <reset-agent-response xmlns='http://schemas.zel.example/cml' request-id='' "
    "schema-version='2.4.2' code='0xc7380017' text='a&lt;b &amp; &quot;q&quot; &apos;c&apos;&#xa;end&gt;'/>\n"
    "                </response>\n"
    "            </message-body>\n"
    "        </message-envelope>\n"
    "    </cml>\n"
    "</zel>\n";

CCmlMessage BuildGoldenEnvelope() {
    CCmlMessage message;
    CAgentInfo source;
    source.SetName(u"Agent 'One'");
    source.SetNamespace(u"DesktopAgent");
    source.SetIpAddress(u"10.0.0.5");
    source.SetHostName(u"host-1");
    source.SetAgentId(u"A-1");
    message.SetSource(source);
    CAgentInfo controller;
    controller.SetName(u"DesktopController");
    controller.SetNamespace(u"http://schemas.zel.example/cml/DesktopController");
    message.AddDestination(controller);
    CAgentInfo grouped;
    grouped.SetName(u"Controller & Co");
    grouped.SetAgentId(u"C-2");
    grouped.AddGroup(u"beta");
    grouped.AddGroup(u"Alpha");
    message.AddDestination(grouped);
    message.SetMessageId(u"msg-0001");
    message.SetResponseTo(u"hb-0000");

    message.AddRequest(CCmlRequest(u"r1", kTagGetAgentInfoRequest, true, kCmlNamespaceURI));
    message.AddRequest(std::make_unique<CCmlRequest>(u"", kTagAgentShutdownAnnouncement, false, kCmlNamespaceURI));
    message.AddRequest(CCmlRequest(u"r3", u"frobnicate-request", true, kCmlNamespaceURI));
    message.AddResponse(CCmlResponse(kTagAgentStatusAcknowledgement, 0, u"", kCmlNamespaceURI));
    message.AddResponse(
        CCmlResponse(kTagResetAgentResponse, 0xC7380017u, u"a<b & \"q\" 'c'\nend>", kCmlNamespaceURI));
    return message;
}

std::string NarrowDocument(const CCmlMessage& message) { return test::Document(message); }

// Drops the first line (the XML declaration, with the byte-order mark before it).
template <typename String>
String WithoutDeclaration(const String& text) {
    return text.substr(text.find(typename String::value_type('\n')) + 1);
}

// Parses `text` as a CML document and reads its envelope.
CCmlMessage ReadEnvelope(const std::string& text) {
    const test::Parsed parsed(text);
    CCmlMessage message;
    message.Deserialize(parsed.Envelope());
    return message;
}

// An envelope document around `body` (the children of "message-body").
std::string EnvelopeDocument(const std::string& envelopeAttributes, const std::string& body) {
    return "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
           "<message-envelope " +
           envelopeAttributes + "><source/><message-body>" + body +
           "</message-body></message-envelope></cml></zel>";
}

TEST(CmlMessage, GoldenEnvelopeDocumentRoundTripsByteForByte) {
    EXPECT_EQ(NarrowDocument(BuildGoldenEnvelope()), kGoldenEnvelope);
    const CCmlMessage back = ReadEnvelope(std::string(kGoldenEnvelope));
    EXPECT_TRUE(back.GetDestinations()[1].IsInGroup(u"Alpha"));
    EXPECT_EQ(NarrowDocument(back), kGoldenEnvelope);
}

TEST(CmlMessage, EmptyBodyHasNoWrappers) {
    CCmlMessage message;
    message.SetMessageId(u"m");
    message.SetBroadcast(true);
    std::ostringstream out;
    message.Serialize(out, 0);
    EXPECT_EQ(out.str(),
              "<message-envelope broadcast='true' message-id='m'>\n"
              "    <source/>\n"
              "    <message-body>\n"
              "    </message-body>\n"
              "</message-envelope>\n");
    const CCmlMessage back = ReadEnvelope(NarrowDocument(message));
    EXPECT_TRUE(back.GetBroadcast());
    EXPECT_TRUE(back.GetResponseTo().empty());
    EXPECT_TRUE(back.GetRequests().empty());
}

TEST(CmlMessage, BroadcastIsTrueOnlyForExactlyTrue) {
    for (const auto& [value, expected] : std::vector<std::pair<std::string, bool>>{
             {"true", true}, {"TRUE", false}, {"true ", false}}) {
        const CCmlMessage back = ReadEnvelope(EnvelopeDocument("broadcast='" + value + "' message-id='x'", ""));
        EXPECT_EQ(back.GetBroadcast(), expected) << value;
    }
}

TEST(CmlMessage, NeedReplyDefaultsToTrueAndOnlyExactFalseClearsIt) {
    struct Case {
        const char* attribute;
        bool needReply;
        const char* written;
    };
    const Case cases[] = {
        {"", true, ""},
        {" need-reply='false'", false, " need-reply='false'"},
        {" need-reply='False'", true, ""},
    };
    for (const Case& c : cases) {
        const CCmlMessage back = ReadEnvelope(EnvelopeDocument(
            "message-id='x'", std::string("<request><get-agent-info-request request-id='q'") + c.attribute +
                                  "/></request>"));
        ASSERT_EQ(back.GetRequests().size(), 1u) << c.attribute;
        EXPECT_EQ(back.GetRequests()[0]->GetNeedReply(), c.needReply) << c.attribute;
        std::ostringstream out;
        back.GetRequests()[0]->Serialize(out, 0);
        EXPECT_EQ(out.str(), "<get-agent-info-request xmlns='http://schemas.zel.example/cml' request-id='q' "
                             "schema-version='2.4.2'" + std::string(c.written) + "/>\n")
            << c.attribute;
    }
}

// Every code, status and ordinal attribute is read by this one function.
TEST(CmlMessage, NumbersReadWithAutomaticBase) {
    const struct {
        std::u16string text;
        uint32_t expected;
    } rows[] = {
        {u"12", 12},           {u"0x12", 0x12},        {u"0XC7380017", 0xC7380017u}, {u"012", 10},
        {u"-1", 0xFFFFFFFFu},  {u"-950665213", 0xC7560003u}, {u"1195769862", 0x47460006u},
        {u"12abc", 12},        {u" 7", 7},             {u"abc", 99},  {u"", 99},  {u"x12", 99},
        {u"\u00e91", 99},     {u"1\u00e9", 1},
    };
    for (const auto& row : rows) EXPECT_EQ(ReadAutoBaseNumber(row.text, 99), row.expected) << ToUtf8(row.text);
    EXPECT_EQ(ReadAutoBaseNumber(u"abc"), 0u);
}

TEST(CmlMessage, FactoryKeepsCmlElementsAndSkipsOtherNamespaces) {
    const CCmlMessage back = ReadEnvelope(EnvelopeDocument(
        "message-id='x'",
        "<request>"
        "<get-schema-request schema-version='2.4.1' request-id='1'/>"
        "<foreign xmlns='http://other.example' request-id='skip'/>"
        "text"
        "<unknown-thing request-id='2'/>"
        "</request>"
        "<request><pause-task-request request-id='3'/></request>"
        "<response><x:y xmlns:x='http://schemas.zel.example/cml/common'/><get-policy-response code='5'/></response>"));
    ASSERT_EQ(back.GetRequests().size(), 3u);
    EXPECT_EQ(back.GetRequests()[0]->GetTagName(), u"get-schema-request");
    EXPECT_EQ(back.GetRequests()[0]->GetDocumentSchemaVersion(), u"2.4.1");
    EXPECT_EQ(back.GetRequests()[0]->GetSchemaVersion(), u"2.4.2");
    EXPECT_EQ(back.GetRequests()[1]->GetTagName(), u"unknown-thing");
    EXPECT_EQ(back.GetRequests()[1]->GetRequestId(), u"2");
    EXPECT_EQ(back.GetRequests()[2]->GetTagName(), u"pause-task-request");
    ASSERT_EQ(back.GetResponses().size(), 1u);
    EXPECT_EQ(back.GetResponses()[0]->GetTagName(), u"get-policy-response");
    EXPECT_EQ(back.GetResponses()[0]->GetCode(), 5u);
    EXPECT_EQ(back.GetResponses()[0]->GetNamespaceURI(), kCmlNamespaceURI);
}

TEST(CmlMessage, FactoriesBuildAnObjectForEveryName) {
    for (const char16_t* name : {kTagAgentStartupAnnouncement, kTagGetSchemaInfoRequest, kTagGetSchemaRequest,
                                 kTagSetSchemaRequest, kTagGetPolicyRequest, kTagSetPolicyRequest,
                                 kTagGetTaskStatusRequest, kTagPauseTaskRequest, kTagResumeTaskRequest,
                                 kTagStopTaskRequest, kTagDeleteTaskDataRequest, kTagConfigureTaskRequest,
                                 kTagGetAgentStatusRequest, kTagAgentStatusAnnouncement, u"no-such-request"}) {
        const auto request = CreateRequest(name);
        ASSERT_NE(request, nullptr);
        EXPECT_TRUE(request->GetNeedReply());
        EXPECT_EQ(request->GetNamespaceURI(), kCmlNamespaceURI);
        // A class of its own is built for its element; the generic one takes the name it reads.
        EXPECT_EQ(request->GetTagName(), name == std::u16string(u"no-such-request") ? u"" : name);
    }
    for (const char16_t* name :
         {kTagGetAgentInfoResponse, kTagGetSchemaInfoResponse, kTagSetSchemaResponse, kTagGetSchemaResponse,
          kTagGetPolicyResponse, kTagSetPolicyResponse, kTagGetPatentInfoResponse, kTagGetCopyrightInfoResponse,
          kTagSchemaNotSupportedResponse, kTagGetTaskStatusResponse, kTagConfigureTaskResponse,
          kTagPauseTaskResponse, kTagResumeTaskResponse, kTagStopTaskResponse, kTagDeleteTaskDataResponse,
          kTagGetAgentStatusResponse, u"no-such-response"}) {
        const auto response = CreateResponse(name);
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->GetCode(), 0u);
        EXPECT_EQ(response->GetTagName(), name == std::u16string(u"no-such-response") ? u"" : name);
    }
}

TEST(CmlMessage, DeserializeDropsPreviousRequestsAndReadsMissingResponseToAsEmpty) {
    CCmlMessage message = BuildGoldenEnvelope();
    test::ExpectCmlError([&] { message.Deserialize(CCmlDOM_Element()); }, u"Deserializing message-envelope node",
                         u"Null element received", ZEL_E_CML_NULL_ELEMENT);
    // The requests and responses are gone even though the read failed.
    EXPECT_TRUE(message.GetRequests().empty());
    EXPECT_TRUE(message.GetResponses().empty());

    message = BuildGoldenEnvelope();
    const test::Parsed parsed(EnvelopeDocument("message-id='n'", "<request><a/></request>"));
    message.Deserialize(parsed.Envelope());
    ASSERT_EQ(message.GetRequests().size(), 1u);
    EXPECT_EQ(message.GetRequests()[0]->GetTagName(), u"a");
    EXPECT_TRUE(message.GetResponses().empty());
    EXPECT_TRUE(message.GetResponseTo().empty());
    EXPECT_TRUE(message.GetDestinations().empty());
    EXPECT_EQ(NarrowDocument(message).find("response-to"), std::string::npos);
}

TEST(CmlMessage, NullPointersAreRefused) {
    CCmlMessage message;
    test::ExpectCmlError([&] { message.AddRequest(static_cast<CCmlRequest*>(nullptr)); },
                         u"Adding request to message vector", u"Internal error: invalid parameter", ZEL_E_INVALIDARG);
    test::ExpectCmlError([&] { message.AddResponse(std::unique_ptr<CCmlResponse>()); },
                         u"Adding response to message vector", u"Internal error: invalid parameter", ZEL_E_INVALIDARG);
    CCmlRequest request(u"", u"r", true, kCmlNamespaceURI);
    test::ExpectCmlError([&] { request.Deserialize(CCmlDOM_Element()); }, u"Deserializing message",
                         u"Null element received", ZEL_E_CML_NULL_ELEMENT);
}

TEST(CmlMessage, CopiesAreDeepAndKeepTheClass) {
    const CCmlMessage original = BuildGoldenEnvelope();
    CCmlMessage copy(original);
    copy.GetRequests()[0]->SetRequestId(u"changed");
    copy.GetResponses()[1]->SetCode(1);
    EXPECT_EQ(original.GetRequests()[0]->GetRequestId(), u"r1");
    EXPECT_EQ(original.GetResponses()[1]->GetCode(), 0xC7380017u);
    EXPECT_EQ(NarrowDocument(original), kGoldenEnvelope);

    CCmlMessage assigned;
    assigned.AddRequest(CCmlRequest(u"", u"old", true, kCmlNamespaceURI));
    assigned = original;
    EXPECT_EQ(NarrowDocument(assigned), kGoldenEnvelope);
    const auto clone = original.Clone();
    EXPECT_EQ(NarrowDocument(*clone), kGoldenEnvelope);

    CCmlRequest request(u"id", u"a", false, kCmlNamespaceURI);
    request.SetDocumentSchemaVersion(u"2.4.1");
    CCmlRequest target(u"", u"b", true, u"");
    target = request;
    EXPECT_EQ(target.GetDocumentSchemaVersion(), u"2.4.1");
    EXPECT_EQ(test::Narrow(target), test::Narrow(request));
    EXPECT_EQ(test::Narrow(*request.Clone()), test::Narrow(request));

    const CCmlResponse response(u"r", 7, u"t", kCmlNamespaceURI);
    const std::unique_ptr<CMessageBase> asBase = static_cast<const CMessageBase&>(response).Clone();
    ASSERT_NE(dynamic_cast<CCmlResponse*>(asBase.get()), nullptr);
    EXPECT_EQ(asBase->GetCode(), 7u);
    EXPECT_EQ(asBase->GetText(), u"t");
}

TEST(CmlMessage, NamespaceConflictThrowsBeforeWriting) {
    CCmlMessage message;
    CCmlRequest old(u"", u"old-request", true, kCmlNamespaceURI);
    old.SetSchemaVersion(kPreviousCmlSchemaVersion);
    message.AddRequest(old);
    std::ostringstream out;
    try {
        message.SerializeDocument(out);
        FAIL() << "no exception";
    } catch (const CCmlException& e) {
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_VERSION_CONFLICT);
        EXPECT_EQ(std::u16string(e.GetOperation()), u"Constructing message namespace object");
    }
    EXPECT_TRUE(out.str().empty());
}

TEST(CmlMessage, SingleMessageDocument) {
    const CCmlResponse response(kTagSetPolicyResponse, 0x47560006u, u"x", kCmlNamespaceURI);
    std::ostringstream out;
    response.SerializeDocument(out);
    EXPECT_EQ(out.str(),
              "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<set-policy-response xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
              "    xsi:schemaLocation='http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd' "
              "xmlns='http://schemas.zel.example/cml' request-id='' schema-version='2.4.2' code='0x47560006' "
              "text='x'/>\n");
    std::basic_ostringstream<char16_t> wide;
    response.SerializeDocument(wide);
    EXPECT_EQ(ToUtf8(WithoutDeclaration(wide.str())), WithoutDeclaration(out.str()));
}

TEST(CmlMessage, WideFileStreamHoldsUtf8AndGetsItsLocaleBack) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("cml_message_test_" + std::to_string(::getpid()) + ".xml");
    CCmlMessage message = BuildGoldenEnvelope();
    {
        std::basic_ofstream<char16_t> file(path);
        ASSERT_TRUE(file.is_open());
        const std::locale before = file.getloc();
        message.SerializeDocument(file);
        EXPECT_TRUE(file.good());
        EXPECT_TRUE(file.getloc() == before);
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, kGoldenEnvelope);

    // A lone surrogate is replaced by U+FFFD instead of ending the output.
    CAgentInfo source = message.GetSource();
    source.SetName(u"x\xD800y");
    message.SetSource(source);
    {
        std::basic_ofstream<char16_t> file(path);
        message.SerializeDocument(file);
        EXPECT_TRUE(file.good());
    }
    std::ifstream again(path, std::ios::binary);
    const std::string replaced((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_NE(replaced.find("name='x\xEF\xBF\xBDy'"), std::string::npos);
    EXPECT_NE(replaced.find("</zel>\n"), std::string::npos);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace zel::cml
