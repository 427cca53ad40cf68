// The reply builder: the group settings item by the agent's token (with the written bytes
// checked once whole), refused bodies, set-policy, get- and set-schema against a schema
// directory, queued requests delivered once, what the agent reported, and the ping reply.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "controller/cml_texts.h"
#include "controller/test_files.h"
#include "runtime/unicode.h"
#include "tools/controller/agent_registry.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/reply_builder.h"

namespace zel::controller {
namespace {

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

GroupSettings ExampleSettings() { return LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"7"); }

ReplyContext Context(const GroupSettings* settings, const CSchemaDirectory* schemas = nullptr) {
    ReplyContext context;
    context.settings = settings;
    context.schemas = schemas;
    context.messageId = u"controller-1";
    return context;
}

using testing::AgentHeartbeat;
using testing::Envelope;
using testing::ParseReply;

std::string Hex(uint32_t code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

// An item as the agent's library reads it: name, namespace, version, schema version, code and
// token, and the name of the policy it carries.
std::string ItemText(const cml::CPolicyItem& item) {
    std::string text = ToUtf8(item.GetName()) + "," + ToUtf8(item.GetNamespace()) + "," + ToUtf8(item.GetVersion()) +
                       "," + ToUtf8(item.GetSchemaVersion()) + "," + Hex(item.GetCode());
    const auto* data = dynamic_cast<const cml::CPolicyData*>(&item);
    if (data != nullptr) text += "," + ToUtf8(data->GetToken());
    if (data != nullptr && data->GetPolicy() != nullptr) text += ",policy " + ToUtf8(data->GetPolicy()->GetName());
    return text;
}

// Name, namespace, version, code and text, and the version of the schema document it carries.
std::string ItemText(const cml::CSchemaInfoResponseData& item) {
    std::string text = ToUtf8(item.GetName()) + "," + ToUtf8(item.GetNamespace()) + "," + ToUtf8(item.GetVersion()) +
                       "," + Hex(item.GetCode()) + "," + ToUtf8(item.GetText());
    const auto* data = dynamic_cast<const cml::CGetSchemaResponseData*>(&item);
    if (data != nullptr && data->GetSchema() != nullptr) {
        EXPECT_EQ(data->GetSchema()->GetNamespaceURI(), cml::kXmlSchemaNamespaceURI);
        text += ",schema " + ToUtf8(data->GetSchema()->GetVersion());
    }
    return text;
}

// Each response of a reply as the agent's library reads it: tag, request id and code, then
// " | " and each item, when it is read as the class of its tag.
std::vector<std::string> Responses(const cml::CCmlMessage& message) {
    std::vector<std::string> lines;
    for (const auto& response : message.GetResponses()) {
        std::string text =
            ToUtf8(response->GetTagName()) + " " + ToUtf8(response->GetRequestId()) + " " + Hex(response->GetCode());
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

// The reply to a heartbeat of A-9 with `requests`, and its responses as the agent reads them.
struct Answered {
    HeartbeatReply reply;
    std::vector<std::string> responses;
};

Answered Answer(const std::string& requests, const CSchemaDirectory* schemas = nullptr) {
    const HeartbeatReply reply = BuildHeartbeatReply(Envelope(requests), Context(nullptr, schemas));
    EXPECT_EQ(reply.status, 200) << reply.error;
    return {reply, Responses(ParseReply(reply.body))};
}

using Lines = std::vector<std::string>;

const char kSchemaDocument[] =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<schema xmlns='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:plain' version='2'>"
    "<element name='b'/></schema>\n";

// The group settings item is sent when the agent's token differs from the served version
// (the written bytes checked whole), answered "no change" when it holds it, and unavailable
// without settings; the other item is never served. Every reply parses back as the agent
// reads it.
TEST(ReplyBuilder, AnswersTheGroupSettingsItemByItsToken) {
    const GroupSettings settings = ExampleSettings();
    const std::string groupSettings = "," + ToUtf8(cml::kGroupSettingsNamespaceURI);
    const std::string other = " | other,http://schemas.zel.example/cml/Other,,,0x47560013,";
    const struct {
        const GroupSettings* settings;
        const char* token;
        SettingsOutcome outcome;
        std::string policies;
    } cases[] = {
        {&settings, "3", SettingsOutcome::kSent, groupSettings + ",7,1.0.0,0x00000000,7,policy Default Group" + other},
        {&settings, "7", SettingsOutcome::kUnchanged, groupSettings + ",,1.0.0,0x47560006,7" + other},
        {nullptr, "3", SettingsOutcome::kUnavailable, groupSettings + ",,1.0.0,0x47560013," + other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.policies);
        const HeartbeatReply reply = BuildHeartbeatReply(AgentHeartbeat(c.token), Context(c.settings));
        ASSERT_EQ(reply.status, 200);
        const bool sent = c.outcome == SettingsOutcome::kSent;
        if (sent) {
            EXPECT_EQ(reply.body, kGoldenSettingsSent);
        }
        EXPECT_EQ(reply.contentType, "application/x-zel-cml-data");
        EXPECT_EQ(reply.settings, c.outcome);
        EXPECT_EQ(reply.report.agentId, "A-1");
        EXPECT_EQ(reply.report.agentName, "Agent & One");
        EXPECT_EQ(reply.responsesSent, 2u);
        EXPECT_EQ(reply.requestsSent, 0u);
        // The GroupSettings schema is located only where its document is sent.
        EXPECT_EQ(reply.body.find("GroupSettings1_0_0.xsd") != std::string::npos, sent) << reply.body;

        const cml::CCmlMessage message = ParseReply(reply.body);
        EXPECT_EQ(message.GetResponseTo(), u"hb-1");
        EXPECT_EQ(message.GetMessageId(), u"controller-1");
        ASSERT_EQ(message.GetDestinations().size(), 1u);
        EXPECT_EQ(message.GetDestinations()[0].GetAgentId(), u"A-1");
        EXPECT_EQ(message.GetDestinations()[0].GetName(), u"Agent & One");
        EXPECT_EQ(Responses(message), (Lines{"agent-startup-acknowledgement ann-1 0x00000000",
                                             "get-policy-response gp-1 0x00000000 | " + c.policies}));
    }
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
    ReplyContext context = Context(&settings);
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

// Each policy is accepted and reported; a request without policies fails with an item.
TEST(ReplyBuilder, SetPolicyIsAnsweredPolicyByPolicy) {
    const Answered answered =
        Answer("<set-policy-request request-id='sp-1'>"
               "<policy xmlns='urn:first' name='One' version='4' schema-version='1.0.0'><a/></policy>"
               "<settings xmlns='urn:second' version='9' schema-version='2.0.0'/>"
               "</set-policy-request><set-policy-request request-id='sp-2'/>");
    EXPECT_EQ(answered.responses, (Lines{"set-policy-response sp-1 0x00000000 | One,urn:first,4,1.0.0,0x00000000 | "
                                         ",urn:second,9,2.0.0,0x00000000",
                                         "set-policy-response sp-2 0xc7380017 | ,,,,0xc7380009"}));
    const HeartbeatReport& report = answered.reply.report;
    ASSERT_EQ(report.policiesSet.size(), 2u);
    EXPECT_EQ(report.policiesSet[0].name, "One");
    EXPECT_EQ(report.policiesSet[1].namespaceURI, "urn:second");
    EXPECT_EQ(report.policiesSet[1].version, "9");
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

// With a document, the item carries no code (the writer leaves it out); without a directory
// nothing is found, and names are still checked.
TEST_F(SchemaDirectoryFixture, GetSchemaAnswersEveryItem) {
    const struct {
        const char* name;
        bool directory;
        const char* answer;
    } cases[] = {
        {"plain", true, "0x00000000 | plain,urn:plain,2,0x00000000,,schema 2"},
        {"missing", true, "0xc738001a | missing,urn:plain,2,0xc7210095,schema not found"},
        {"../outside", true, "0xc738001a | ../outside,urn:plain,2,0xc7210003,invalid schema name"},
        {"", true, "0xc738001a | ,urn:plain,2,0xc7210003,invalid schema name"},
        {"prefixed", true,
         "0xc738001a | prefixed,urn:plain,2,0xc738000d,the stored schema is not an XML Schema document"},
        {"broken", true, "0xc738001a | broken,urn:plain,2,0xc738000d,the stored schema is not an XML Schema document"},
        {"plain", false, "0xc738001a | plain,urn:plain,2,0xc7210095,schema not found"},
        {"../outside", false, "0xc738001a | ../outside,urn:plain,2,0xc7210003,invalid schema name"},
    };
    for (const auto& c : cases) {
        const Answered answered =
            Answer(std::string("<get-schema-request request-id='gs-1'><schema-info namespace='urn:plain' name='") +
                       c.name + "' version='2'/></get-schema-request>",
                   c.directory ? &m_schemas : nullptr);
        EXPECT_EQ(answered.responses, Lines{std::string("get-schema-response gs-1 ") + c.answer}) << c.directory;
    }
}

// Safe names are stored (and handed out again), others refused; without a directory a schema
// is accepted unstored.
TEST_F(SchemaDirectoryFixture, SetSchemaStoresSafeNamesOnly) {
    const std::string schema =
        "<schema xmlns='http://www.w3.org/2001/XMLSchema' version='3'><element name='c'/></schema>";
    std::string request = "<set-schema-request request-id='ss-1'>";
    for (const char* name : {"new' version='3", "../escaped", "sub/dir", ".hidden"})
        request += std::string("<schema-info namespace='urn:q' name='") + name + "'>" + schema + "</schema-info>";
    request += "<schema-info namespace='urn:q' name='empty'/></set-schema-request>";
    EXPECT_EQ(Answer(request, &m_schemas).responses,
              Lines{"set-schema-response ss-1 0xc7380019 | new,urn:q,3,0x00000000, | "
                    "../escaped,urn:q,,0xc7210003,invalid schema name | "
                    "sub/dir,urn:q,,0xc7210003,invalid schema name | .hidden,urn:q,,0xc7210003,invalid schema name | "
                    "empty,urn:q,,0xc738000d,no schema document given"});
    EXPECT_FALSE(testing::FileExists(m_root.File("escaped.xsd")));
    EXPECT_FALSE(testing::FileExists(m_root.File("schemas/sub")));
    EXPECT_FALSE(testing::FileExists(m_root.File("schemas/.hidden.xsd")));
    EXPECT_EQ(testing::ReadFile(m_root.File("schemas/new.xsd")),
              "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<schema version='3' xmlns='http://www.w3.org/2001/XMLSchema'>\n"
              "    <element name='c'/>\n"
              "</schema>\n");
    EXPECT_EQ(Answer("<get-schema-request request-id='gs-3'><schema-info namespace='urn:q' name='new'/>"
                     "</get-schema-request>",
                     &m_schemas)
                  .responses,
              Lines{"get-schema-response gs-3 0x00000000 | new,urn:q,,0x00000000,,schema 3"});

    EXPECT_EQ(Answer("<set-schema-request request-id='ss-2'><schema-info namespace='urn:q' name='kept'>" + schema +
                     "</schema-info></set-schema-request>")
                  .responses,
              Lines{"set-schema-response ss-2 0x00000000 | kept,urn:q,,0x00000000,"});
    EXPECT_FALSE(testing::FileExists(m_root.File("schemas/kept.xsd")));
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
    ReplyContext context = Context(nullptr);
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
        Context(nullptr));
    ASSERT_EQ(reply.status, 200) << reply.error;
    // The report as the agent registry shows it: the announcement, the token asked with, and
    // each response of the controller's vocabulary with its items.
    CAgentRegistry registry;
    registry.RecordHeartbeat(reply.report, "t", "");
    EXPECT_EQ(registry.ToJson(),
              "{\"agents\":[{\"agent_id\":\"A-9\",\"name\":\"Nine\","
              "\"last_heartbeat\":{\"message_id\":\"hb-9\",\"time\":\"t\"},\"agent_version\":\"9.1\","
              "\"modules\":[{\"name\":\"scanner\",\"version\":\"4.0.1\"},{\"name\":\"updater\",\"version\":\"1.0\"}],"
              "\"group_settings_token\":\"3\",\"group_settings_version\":\"\",\"heartbeats\":1,\"policies_set\":[],"
              "\"responses\":["
              "{\"tag\":\"error-response\",\"request_id\":\"q-1\",\"code\":\"0xc7380004\","
              "\"text\":\"sensor services - unrecognized request\",\"items\":[]},"
              "{\"tag\":\"set-policy-response\",\"request_id\":\"q-2\",\"code\":\"0x00000000\",\"text\":\"\","
              "\"items\":[{\"name\":\"P\",\"namespace\":\"urn:p\",\"code\":\"0x00000005\"}]},"
              "{\"tag\":\"get-schema-response\",\"request_id\":\"q-3\",\"code\":\"0xc738001e\",\"text\":\"\","
              "\"items\":[{\"name\":\"s\",\"namespace\":\"urn:s\",\"code\":\"0xc7210095\"}]},"
              "{\"tag\":\"set-schema-response\",\"request_id\":\"q-4\",\"code\":\"0x00000000\",\"text\":\"\","
              "\"items\":[{\"name\":\"t\",\"namespace\":\"urn:t\",\"code\":\"0x00000000\"}]},"
              "{\"tag\":\"pause-task-response\",\"request_id\":\"q-6\",\"code\":\"0x00000000\",\"text\":\"\","
              "\"items\":[{\"name\":\"t-1\",\"namespace\":\"http://schemas.zel.example/cml\","
              "\"code\":\"0x4721004b\"}]},"
              "{\"tag\":\"get-agent-status-response\",\"request_id\":\"q-7\",\"code\":\"0x00000000\",\"text\":\"\","
              "\"items\":[{\"name\":\"scanner\",\"namespace\":\"http://schemas.zel.example/cml\","
              "\"code\":\"0x47210049\"}]}]}]}\n");
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
