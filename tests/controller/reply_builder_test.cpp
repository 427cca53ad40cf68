#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "controller/test_files.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/reply_builder.h"

namespace zel::controller {
namespace {

// A heartbeat as an agent posts it: an announcement and a get-policy request for the group
// settings (holding `token`) and for a policy the controller does not serve.
std::string Heartbeat(const std::string& token) {
    return "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
           "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
           "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
           "<message-envelope message-id='hb-1'>"
           "<source name='Agent &amp; One' agent-id='A-1'/>"
           "<destination name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/>"
           "<message-body><request>"
           "<agent-startup-announcement request-id='ann-1' schema-version='2.4.2' name='Agent &amp; One' "
           "namespace='http://schemas.zel.example/cml/DesktopAgent' agent-id='A-1'/>"
           "<get-policy-request request-id='gp-1' schema-version='2.4.2'>"
           "<policy-item namespace='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0' token='" +
           token +
           "'/>"
           "<policy-item name='other' namespace='http://schemas.zel.example/cml/Other' token='0'/>"
           "</get-policy-request>"
           "</request></message-body></message-envelope></cml></zel>\n";
}

// Written by hand from the writing rules: the envelope, then the example group settings
// document re-indented inside its policy item (attributes in name order, as the DOM writer
// gives them).
const char kGoldenSettingsSent[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
    "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
    "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd\n"
    "    http://schemas.zel.example/cml/GroupSettings ./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'\n"
    "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
    "    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
    "        <message-envelope broadcast='false' message-id='controller-1' response-to='hb-1'>\n"
    "            <source name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/>\n"
    "            <destination name='Agent &amp; One' namespace='http://schemas.zel.example/cml/DesktopAgent' "
    "agent-id='A-1'/>\n"
    "            <message-body>\n"
    "                <response>\n"
    "                    <agent-startup-acknowledgement xmlns='http://schemas.zel.example/cml' request-id='ann-1' "
    "schema-version='2.4.2'/>\n"
    "                    <get-policy-response xmlns='http://schemas.zel.example/cml' request-id='gp-1' "
    "schema-version='2.4.2'>\n"
    "                        <policy-item namespace='http://schemas.zel.example/cml/GroupSettings' version='7' "
    "schema-version='1.0.0' token='7'>\n"
    "                            <policy name='Default Group' schema-version='1.0.0' version='3' "
    "xmlns='http://schemas.zel.example/cml/GroupSettings'>\n"
    "                                <controller-list>\n"
    "                                    <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n"
    "                                    <controller-info host-name='backup.example' name='backup' port='8443' "
    "proxy-host='proxy.example' proxy-port='3128' type='https'/>\n"
    "                                </controller-list>\n"
    "                            </policy>\n"
    "                        </policy-item>\n"
    "                        <policy-item name='other' namespace='http://schemas.zel.example/cml/Other' "
    "code='0x47560013'/>\n"
    "                    </get-policy-response>\n"
    "                </response>\n"
    "            </message-body>\n"
    "        </message-envelope>\n"
    "    </cml>\n"
    "</zel>\n";

// Written by hand: the agent already holds version 7, so no document and no GroupSettings
// schema location.
const char kGoldenSettingsUnchanged[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n"
    "    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd\n"
    "    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'\n"
    "    xmlns='http://schemas.zel.example' schema-version='1.0.0'>\n"
    "    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>\n"
    "        <message-envelope broadcast='false' message-id='controller-2' response-to='hb-1'>\n"
    "            <source name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/>\n"
    "            <destination name='Agent &amp; One' namespace='http://schemas.zel.example/cml/DesktopAgent' "
    "agent-id='A-1'/>\n"
    "            <message-body>\n"
    "                <response>\n"
    "                    <agent-startup-acknowledgement xmlns='http://schemas.zel.example/cml' request-id='ann-1' "
    "schema-version='2.4.2'/>\n"
    "                    <get-policy-response xmlns='http://schemas.zel.example/cml' request-id='gp-1' "
    "schema-version='2.4.2'>\n"
    "                        <policy-item namespace='http://schemas.zel.example/cml/GroupSettings' "
    "schema-version='1.0.0' code='0x47560006' token='7'/>\n"
    "                        <policy-item name='other' namespace='http://schemas.zel.example/cml/Other' "
    "code='0x47560013'/>\n"
    "                    </get-policy-response>\n"
    "                </response>\n"
    "            </message-body>\n"
    "        </message-envelope>\n"
    "    </cml>\n"
    "</zel>\n";


GroupSettings ExampleSettings() { return LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"7"); }

ReplyContext Context(const GroupSettings* settings, const std::u16string& messageId,
                     const CSchemaDirectory* schemas = nullptr) {
    ReplyContext context;
    context.settings = settings;
    context.schemas = schemas;
    context.messageId = messageId;
    return context;
}

// A heartbeat of agent A-9 carrying the given request and response elements.
std::string Envelope(const std::string& requests, const std::string& responses = "") {
    std::string body =
        "<zel xmlns='http://schemas.zel.example' schema-version='1.0.0'>"
        "<cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>"
        "<message-envelope message-id='hb-9'><source name='Nine' agent-id='A-9'/><message-body>";
    if (!requests.empty()) body += "<request>" + requests + "</request>";
    if (!responses.empty()) body += "<response>" + responses + "</response>";
    return body + "</message-body></message-envelope></cml></zel>";
}

cml::CCmlMessage ParseReply(const std::string& text) {
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage message;
    message.Deserialize(parser.GetEnvelopeElement());
    return message;
}

// The single response of a reply as the class the agent's library reads it with; null when
// the reply holds another number of responses or another class.
template <typename Response>
const Response* OnlyResponse(const cml::CCmlMessage& message) {
    if (message.GetResponses().size() != 1) return nullptr;
    return dynamic_cast<const Response*>(message.GetResponses()[0].get());
}

const char kSchemaDocument[] =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:plain' version='2'>"
    "<element name='b'/></schema>\n";

TEST(ReplyBuilder, SendsSettingsWhenTheAgentsTokenDiffers) {
    const GroupSettings settings = ExampleSettings();
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("3"), Context(&settings, u"controller-1"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/x-zel-cml-data");
    EXPECT_EQ(reply.body, kGoldenSettingsSent);
    EXPECT_EQ(reply.report.agentId, "A-1");
    EXPECT_EQ(reply.report.agentName, "Agent & One");
    EXPECT_EQ(reply.settings, SettingsOutcome::kSent);
    EXPECT_EQ(reply.responsesSent, 2u);
    EXPECT_EQ(reply.requestsSent, 0u);
}

TEST(ReplyBuilder, AnswersNoChangeWhenTheAgentHoldsTheVersion) {
    const GroupSettings settings = ExampleSettings();
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("7"), Context(&settings, u"controller-2"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, kGoldenSettingsUnchanged);
    EXPECT_EQ(reply.settings, SettingsOutcome::kUnchanged);
}

TEST(ReplyBuilder, WithoutSettingsEveryPolicyIsUnavailable) {
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("3"), Context(nullptr, u"controller-3"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.settings, SettingsOutcome::kUnavailable);
    const cml::CCmlMessage message = ParseReply(reply.body);
    ASSERT_EQ(message.GetResponses().size(), 2u);
    const auto* policies = dynamic_cast<const cml::CGetPolicyResponse*>(message.GetResponses()[1].get());
    ASSERT_NE(policies, nullptr);
    ASSERT_EQ(policies->GetPolicyItemCount(), 2u);
    EXPECT_EQ(policies->GetPolicyItem(0).GetCode(), 0x47560013u);
    EXPECT_EQ(policies->GetPolicyItem(1).GetCode(), 0x47560013u);
}

// The reply is read back as the agent reads it: the envelope, the destination and the
// group settings document inside the policy item.
TEST(ReplyBuilder, ReplyParsesBackAsAnAgentReadsIt) {
    const GroupSettings settings = ExampleSettings();
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("0"), Context(&settings, u"controller-4"));
    ASSERT_EQ(reply.status, 200);
    const cml::CCmlMessage message = ParseReply(reply.body);
    EXPECT_EQ(message.GetResponseTo(), u"hb-1");
    EXPECT_EQ(message.GetMessageId(), u"controller-4");
    ASSERT_EQ(message.GetDestinations().size(), 1u);
    EXPECT_EQ(message.GetDestinations()[0].GetAgentId(), u"A-1");
    EXPECT_EQ(message.GetDestinations()[0].GetName(), u"Agent & One");
    ASSERT_EQ(message.GetResponses().size(), 2u);
    EXPECT_EQ(message.GetResponses()[0]->GetTagName(), cml::kTagAgentStartupAcknowledgement);
    EXPECT_EQ(message.GetResponses()[0]->GetRequestId(), u"ann-1");
    EXPECT_EQ(message.GetResponses()[0]->GetCode(), 0u);
    const auto* policies = dynamic_cast<const cml::CGetPolicyResponse*>(message.GetResponses()[1].get());
    ASSERT_NE(policies, nullptr);
    const auto* data = dynamic_cast<const cml::CPolicyData*>(&policies->GetPolicyItem(0));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->GetToken(), u"7");
    EXPECT_EQ(data->GetCode(), 0u);
    ASSERT_NE(data->GetPolicy(), nullptr);
    EXPECT_EQ(data->GetPolicy()->GetNamespaceURI(), cml::kGroupSettingsNamespaceURI);
    EXPECT_EQ(data->GetPolicy()->GetName(), u"Default Group");
}

TEST(ReplyBuilder, RefusesBodiesThatAreNotCmlDocumentsAndTakesNoQueuedRequest) {
    const std::string bodies[] = {
        "",
        "hello",
        "<zel><unclosed></zel>",
        "<?xml version='1.0'?><other xmlns='urn:x'/>",
        "<!DOCTYPE zel [<!ENTITY e 'x'>]><zel/>",
    };
    const GroupSettings settings = ExampleSettings();
    int taken = 0;
    ReplyContext context = Context(&settings, u"controller-5");
    context.takeQueued = [&taken](const std::string&) {
        ++taken;
        return std::vector<QueuedRequest>();
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        const HeartbeatReply reply = BuildHeartbeatReply(body, context);
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.contentType, "text/plain");
        EXPECT_TRUE(reply.report.agentId.empty());
        EXPECT_FALSE(reply.error.empty());
    }
    EXPECT_EQ(taken, 0);
}

TEST(ReplyBuilder, SetPolicyIsAcceptedPolicyByPolicy) {
    const HeartbeatReply reply = BuildHeartbeatReply(
        Envelope("<set-policy-request request-id='sp-1'>"
                 "<policy xmlns='urn:first' name='One' version='4' schema-version='1.0.0'><a/></policy>"
                 "<settings xmlns='urn:second' version='9' schema-version='2.0.0'/>"
                 "</set-policy-request>"),
        Context(nullptr, u"controller-6"));
    ASSERT_EQ(reply.status, 200) << reply.error;
    const cml::CCmlMessage message = ParseReply(reply.body);
    const auto* response = OnlyResponse<cml::CSetPolicyResponse>(message);
    ASSERT_NE(response, nullptr) << reply.body;
    EXPECT_EQ(response->GetRequestId(), u"sp-1");
    EXPECT_EQ(response->GetCode(), 0u);
    ASSERT_EQ(response->GetPolicyItemCount(), 2u);
    const struct {
        std::u16string name, namespaceURI, version, schemaVersion;
    } expected[] = {{u"One", u"urn:first", u"4", u"1.0.0"}, {u"", u"urn:second", u"9", u"2.0.0"}};
    for (std::size_t i = 0; i < 2; ++i) {
        const cml::CPolicyItem& item = response->GetPolicyItem(i);
        EXPECT_EQ(item.GetName(), expected[i].name);
        EXPECT_EQ(item.GetNamespace(), expected[i].namespaceURI);
        EXPECT_EQ(item.GetVersion(), expected[i].version);
        EXPECT_EQ(item.GetSchemaVersion(), expected[i].schemaVersion);
        EXPECT_EQ(item.GetCode(), 0u);
    }
    ASSERT_EQ(reply.report.policiesSet.size(), 2u);
    EXPECT_EQ(reply.report.policiesSet[0].name, "One");
    EXPECT_EQ(reply.report.policiesSet[1].namespaceURI, "urn:second");
    EXPECT_EQ(reply.report.policiesSet[1].version, "9");
}

TEST(ReplyBuilder, SetPolicyWithoutPoliciesFails) {
    const HeartbeatReply reply = BuildHeartbeatReply(Envelope("<set-policy-request request-id='sp-2'/>"),
                                                     Context(nullptr, u"controller-7"));
    ASSERT_EQ(reply.status, 200) << reply.error;
    const cml::CCmlMessage message = ParseReply(reply.body);
    const auto* response = OnlyResponse<cml::CSetPolicyResponse>(message);
    ASSERT_NE(response, nullptr) << reply.body;
    EXPECT_EQ(response->GetCode(), 0xC7380017u);
    ASSERT_EQ(response->GetPolicyItemCount(), 1u);
    EXPECT_EQ(response->GetPolicyItem(0).GetCode(), 0xC7380009u);
    EXPECT_TRUE(reply.report.policiesSet.empty());
}

// A schema directory holding a readable schema, one whose root is prefixed (which the agent's
// library would not take as a schema), and one that is not XML.
class SchemaDirectoryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir(m_root.File("schemas").c_str(), 0755), 0);
        testing::WriteFile(m_root.File("schemas/plain.xsd"), kSchemaDocument);
        testing::WriteFile(m_root.File("schemas/prefixed.xsd"),
                           "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'/>");
        testing::WriteFile(m_root.File("schemas/broken.xsd"), "<schema");
        // Outside the directory: a name must not reach it.
        testing::WriteFile(m_root.File("outside.xsd"), kSchemaDocument);
    }

    testing::TempDir m_root;
    CSchemaDirectory m_schemas{m_root.File("schemas")};
};

TEST_F(SchemaDirectoryFixture, GetSchemaAnswersEveryItem) {
    const struct {
        const char* name;
        uint32_t code;
        const char16_t* text;
    } cases[] = {
        {"plain", 0, u""},
        {"missing", 0xC7210095, u"schema not found"},
        {"../outside", 0xC7210003, u"invalid schema name"},
        {"", 0xC7210003, u"invalid schema name"},
        {"prefixed", 0xC738000D, u"the stored schema is not an XML Schema document"},
        {"broken", 0xC738000D, u"the stored schema is not an XML Schema document"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HeartbeatReply reply = BuildHeartbeatReply(
            Envelope(std::string("<get-schema-request request-id='gs-1'><schema-info namespace='urn:plain' name='") +
                     c.name + "' version='2'/></get-schema-request>"),
            Context(nullptr, u"controller-8", &m_schemas));
        ASSERT_EQ(reply.status, 200) << reply.error;
        const cml::CCmlMessage message = ParseReply(reply.body);
        const auto* response = OnlyResponse<cml::CGetSchemaResponse>(message);
        ASSERT_NE(response, nullptr) << reply.body;
        EXPECT_EQ(response->GetRequestId(), u"gs-1");
        EXPECT_EQ(response->GetCode(), c.code == 0 ? 0u : 0xC738001Au);
        ASSERT_EQ(response->GetSchemaCount(), 1u);
        const cml::CGetSchemaResponseData& item = response->GetSchemaData(0);
        EXPECT_EQ(item.GetNamespace(), u"urn:plain");
        EXPECT_EQ(item.GetVersion(), u"2");
        // With a document, the item carries no code (the writer leaves it out).
        EXPECT_EQ(item.GetCode(), c.code);
        EXPECT_EQ(item.GetText(), c.text);
        EXPECT_EQ(item.GetSchema() != nullptr, c.code == 0);
        if (item.GetSchema() != nullptr) {
            EXPECT_EQ(item.GetSchema()->GetNamespaceURI(), cml::kXmlSchemaNamespaceURI);
            EXPECT_EQ(item.GetSchema()->GetVersion(), u"2");
        }
    }
}

TEST_F(SchemaDirectoryFixture, GetSchemaWithoutADirectoryFindsNothing) {
    const HeartbeatReply reply = BuildHeartbeatReply(
        Envelope("<get-schema-request request-id='gs-2'><schema-info namespace='urn:plain' name='plain'/>"
                 "</get-schema-request>"),
        Context(nullptr, u"controller-9"));
    ASSERT_EQ(reply.status, 200) << reply.error;
    const cml::CCmlMessage message = ParseReply(reply.body);
    const auto* response = OnlyResponse<cml::CGetSchemaResponse>(message);
    ASSERT_NE(response, nullptr) << reply.body;
    EXPECT_EQ(response->GetCode(), 0xC738001Au);
    ASSERT_EQ(response->GetSchemaCount(), 1u);
    EXPECT_EQ(response->GetSchemaData(0).GetCode(), 0xC7210095u);
}

TEST_F(SchemaDirectoryFixture, SetSchemaStoresSafeNamesOnly) {
    const std::string schema = "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='3'><element name='c'/></schema>";
    const HeartbeatReply reply = BuildHeartbeatReply(
        Envelope("<set-schema-request request-id='ss-1'>"
                 "<schema-info namespace='urn:q' name='new' version='3'>" + schema + "</schema-info>"
                 "<schema-info namespace='urn:q' name='../escaped'>" + schema + "</schema-info>"
                 "<schema-info namespace='urn:q' name='sub/dir'>" + schema + "</schema-info>"
                 "<schema-info namespace='urn:q' name='.hidden'>" + schema + "</schema-info>"
                 "<schema-info namespace='urn:q' name='empty'/>"
                 "</set-schema-request>"),
        Context(nullptr, u"controller-10", &m_schemas));
    ASSERT_EQ(reply.status, 200) << reply.error;
    const cml::CCmlMessage message = ParseReply(reply.body);
    const auto* response = OnlyResponse<cml::CSchemaResponse>(message);
    ASSERT_NE(response, nullptr) << reply.body;
    EXPECT_EQ(response->GetTagName(), u"set-schema-response");
    EXPECT_EQ(response->GetRequestId(), u"ss-1");
    EXPECT_EQ(response->GetCode(), 0xC7380019u);
    const uint32_t codes[] = {0, 0xC7210003, 0xC7210003, 0xC7210003, 0xC738000D};
    ASSERT_EQ(response->GetSchemaCount(), std::size(codes));
    for (std::size_t i = 0; i < std::size(codes); ++i) EXPECT_EQ(response->GetSchemaInfo(i).GetCode(), codes[i]) << i;
    EXPECT_EQ(response->GetSchemaInfo(0).GetName(), u"new");
    EXPECT_EQ(response->GetSchemaInfo(0).GetVersion(), u"3");
    EXPECT_EQ(response->GetSchemaInfo(4).GetText(), u"no schema document given");

    EXPECT_FALSE(testing::FileExists(m_root.File("escaped.xsd")));
    EXPECT_FALSE(testing::FileExists(m_root.File("schemas/sub")));
    EXPECT_FALSE(testing::FileExists(m_root.File("schemas/.hidden.xsd")));
    EXPECT_EQ(testing::ReadFile(m_root.File("schemas/new.xsd")),
              "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<schema version='3' xmlns='http://www.w3.org/2001/XMLSchema'>\n"
              "    <element name='c'/>\n"
              "</schema>\n");

    // What was stored is handed out again.
    const HeartbeatReply again = BuildHeartbeatReply(
        Envelope("<get-schema-request request-id='gs-3'><schema-info namespace='urn:q' name='new'/></get-schema-request>"),
        Context(nullptr, u"controller-11", &m_schemas));
    const cml::CCmlMessage gotMessage = ParseReply(again.body);
    const auto* got = OnlyResponse<cml::CGetSchemaResponse>(gotMessage);
    ASSERT_NE(got, nullptr) << again.body;
    EXPECT_EQ(got->GetCode(), 0u);
    ASSERT_EQ(got->GetSchemaCount(), 1u);
    ASSERT_NE(got->GetSchemaData(0).GetSchema(), nullptr);
    EXPECT_EQ(got->GetSchemaData(0).GetSchema()->GetVersion(), u"3");
}

TEST(ReplyBuilder, SetSchemaWithoutADirectoryIsAcceptedUnstored) {
    const HeartbeatReply reply = BuildHeartbeatReply(
        Envelope("<set-schema-request request-id='ss-2'><schema-info namespace='urn:q' name='kept'>"
                 "<schema xmlns='http://www.w3.org/2001/XMLSchema'/></schema-info></set-schema-request>"),
        Context(nullptr, u"controller-12"));
    ASSERT_EQ(reply.status, 200) << reply.error;
    const cml::CCmlMessage message = ParseReply(reply.body);
    const auto* response = OnlyResponse<cml::CSchemaResponse>(message);
    ASSERT_NE(response, nullptr) << reply.body;
    EXPECT_EQ(response->GetCode(), 0u);
    ASSERT_EQ(response->GetSchemaCount(), 1u);
    EXPECT_EQ(response->GetSchemaInfo(0).GetCode(), 0u);
}

TEST(ReplyBuilder, QueuedRequestsGoOutOnceWithTheirClasses) {
    CRequestQueue queue;
    const char* bodies[] = {
        "<get-schema-request xmlns='http://schemas.zel.example/cml'><schema-info namespace='urn:x' name='x'/>"
        "</get-schema-request>",
        "<set-schema-request xmlns='http://schemas.zel.example/cml' request-id='mine'><schema-info namespace='urn:x' "
        "name='x'><schema xmlns='http://www.w3.org/2001/XMLSchema' version='5'/></schema-info></set-schema-request>",
        "<frobnicate-request xmlns='http://schemas.zel.example/cml' need-reply='false'/>",
    };
    int number = 0;
    for (const char* body : bodies) {
        PreparedRequest prepared = PrepareQueuedRequest(body, "queued-" + std::to_string(++number));
        ASSERT_TRUE(prepared.error.empty()) << prepared.error;
        queue.Add("A-9", std::move(prepared.request));
    }
    queue.Add("A-other", PrepareQueuedRequest(bodies[2], "other").request);
    std::vector<std::string> askedFor;
    ReplyContext context = Context(nullptr, u"controller-13");
    context.takeQueued = [&](const std::string& agentId) {
        askedFor.push_back(agentId);
        return queue.Take(agentId);
    };

    const HeartbeatReply reply = BuildHeartbeatReply(Envelope(""), context);
    ASSERT_EQ(reply.status, 200) << reply.error;
    EXPECT_EQ(askedFor, std::vector<std::string>{"A-9"});
    EXPECT_EQ(reply.requestsSent, 3u);
    ASSERT_EQ(reply.delivered.size(), 3u);
    EXPECT_EQ(reply.delivered[1].tag, "set-schema-request");
    EXPECT_EQ(reply.delivered[1].requestId, "mine");
    const cml::CCmlMessage message = ParseReply(reply.body);
    ASSERT_EQ(message.GetRequests().size(), 3u);
    const auto* getSchema = dynamic_cast<const cml::CSchemaRequest*>(message.GetRequests()[0].get());
    ASSERT_NE(getSchema, nullptr);
    EXPECT_EQ(getSchema->GetRequestId(), u"queued-1");
    ASSERT_EQ(getSchema->GetSchemaCount(), 1u);
    EXPECT_EQ(getSchema->GetSchemaInfo(0).GetName(), u"x");
    const auto* setSchema = dynamic_cast<const cml::CSetSchemaRequest*>(message.GetRequests()[1].get());
    ASSERT_NE(setSchema, nullptr);
    EXPECT_EQ(setSchema->GetRequestId(), u"mine");
    ASSERT_EQ(setSchema->GetSchemaCount(), 1u);
    ASSERT_NE(setSchema->GetSchemaData(0).GetSchema(), nullptr);
    EXPECT_EQ(setSchema->GetSchemaData(0).GetSchema()->GetVersion(), u"5");
    const cml::CCmlRequest& unknown = *message.GetRequests()[2];
    EXPECT_EQ(unknown.GetTagName(), u"frobnicate-request");
    EXPECT_EQ(unknown.GetRequestId(), u"queued-3");
    EXPECT_FALSE(unknown.GetNeedReply());

    const HeartbeatReply next = BuildHeartbeatReply(Envelope(""), context);
    ASSERT_EQ(next.status, 200);
    EXPECT_EQ(next.requestsSent, 0u);
    EXPECT_TRUE(ParseReply(next.body).GetRequests().empty());
    EXPECT_EQ(queue.Count("A-other"), 1u);
}

TEST(ReplyBuilder, ReportsWhatTheAgentSent) {
    const HeartbeatReply reply = BuildHeartbeatReply(
        Envelope("<agent-startup-announcement request-id='ann-9' name='Nine' agent-id='A-9' version='9.1'>"
                 "<module-list><module name='scanner' version='4.0.1'/><module name='updater' version='1.0'/>"
                 "</module-list></agent-startup-announcement>"
                 "<get-policy-request request-id='gp-9'>"
                 "<policy-item namespace='http://schemas.zel.example/cml/GroupSettings' token='3'/>"
                 "</get-policy-request>",
                 "<error-response request-id='q-1' code='0xC7380004' text='sensor services - unrecognized request'/>"
                 "<set-policy-response request-id='q-2'><policy-item name='P' namespace='urn:p' code='0x5'/>"
                 "</set-policy-response>"
                 "<get-schema-response request-id='q-3' code='0xC738001E'>"
                 "<schema-info namespace='urn:s' name='s' code='0xC7210095'/></get-schema-response>"
                 "<set-schema-response request-id='q-4'><schema-info namespace='urn:t' name='t'/></set-schema-response>"
                 "<other-response xmlns='urn:elsewhere' request-id='q-5'/>"
                 "<pause-task-response request-id='q-6'><task-status task-id='t-1' status='paused'/>"
                 "</pause-task-response>"
                 "<get-agent-status-response request-id='q-7'><module-list><module name='scanner' status='0x47210049'/>"
                 "</module-list></get-agent-status-response>"),
        Context(nullptr, u"controller-14"));
    ASSERT_EQ(reply.status, 200) << reply.error;
    const HeartbeatReport& report = reply.report;
    EXPECT_EQ(report.agentId, "A-9");
    EXPECT_EQ(report.messageId, "hb-9");
    EXPECT_TRUE(report.announced);
    EXPECT_EQ(report.agentVersion, "9.1");
    ASSERT_EQ(report.modules.size(), 2u);
    EXPECT_EQ(report.modules[1].name, "updater");
    EXPECT_EQ(report.modules[1].version, "1.0");
    EXPECT_TRUE(report.askedSettings);
    EXPECT_EQ(report.settingsToken, "3");

    const struct {
        const char* tag;
        const char* requestId;
        uint32_t code;
        std::size_t items;
        uint32_t firstItemCode;
    } expected[] = {
        {"error-response", "q-1", 0xC7380004, 0, 0},
        {"set-policy-response", "q-2", 0, 1, 0x5},
        {"get-schema-response", "q-3", 0xC738001E, 1, 0xC7210095},
        {"set-schema-response", "q-4", 0, 1, 0},
        {"pause-task-response", "q-6", 0, 1, 0x4721004B},
        {"get-agent-status-response", "q-7", 0, 1, 0x47210049},
    };
    ASSERT_EQ(report.responses.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].tag);
        const ReportedResponse& response = report.responses[i];
        EXPECT_EQ(response.tag, expected[i].tag);
        EXPECT_EQ(response.requestId, expected[i].requestId);
        EXPECT_EQ(response.code, expected[i].code);
        ASSERT_EQ(response.items.size(), expected[i].items);
        if (expected[i].items > 0) {
            EXPECT_EQ(response.items[0].code, expected[i].firstItemCode);
        }
    }
    EXPECT_EQ(report.responses[0].text, "sensor services - unrecognized request");
    EXPECT_EQ(report.responses[2].items[0].name, "s");
    EXPECT_EQ(report.responses[2].items[0].namespaceURI, "urn:s");
    EXPECT_EQ(report.responses[4].items[0].name, "t-1");
    EXPECT_EQ(report.responses[5].items[0].name, "scanner");
}

TEST(ReplyBuilder, PingEchoesTheRequestIdEscaped) {
    const PingReply reply = BuildPingReply("id-1 'a' <&> \"b\"");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/x-zel-xml-data");
    EXPECT_EQ(reply.body,
              "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
              "<agent-ping request-id='id-1 &apos;a&apos; &lt;&amp;&gt; &quot;b&quot;'/>\n");
}

}  // namespace
}  // namespace zel::controller
