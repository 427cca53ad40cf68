#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "tools/controller/agent_registry.h"
#include "tools/controller/fault_injection.h"
#include "tools/controller/group_settings.h"
#include "tools/controller/json_text.h"
#include "tools/controller/options.h"
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

cml::CCmlMessage ParseReply(const std::string& text) {
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()), static_cast<unsigned>(text.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage message;
    message.Deserialize(parser.GetEnvelopeElement());
    return message;
}

TEST(ReplyBuilder, SendsSettingsWhenTheAgentsTokenDiffers) {
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("3"), ExampleSettings(), u"controller-1");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/x-zel-cml-data");
    EXPECT_EQ(reply.body, kGoldenSettingsSent);
    EXPECT_EQ(reply.agentId, "A-1");
    EXPECT_EQ(reply.agentName, "Agent & One");
    EXPECT_EQ(reply.settings, SettingsOutcome::kSent);
}

TEST(ReplyBuilder, AnswersNoChangeWhenTheAgentHoldsTheVersion) {
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("7"), ExampleSettings(), u"controller-2");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, kGoldenSettingsUnchanged);
    EXPECT_EQ(reply.settings, SettingsOutcome::kUnchanged);
}

TEST(ReplyBuilder, WithoutSettingsEveryPolicyIsUnavailable) {
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("3"), GroupSettings{}, u"controller-3");
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
    const HeartbeatReply reply = BuildHeartbeatReply(Heartbeat("0"), ExampleSettings(), u"controller-4");
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
    const auto* settings = dynamic_cast<const cml::CPolicyData*>(&policies->GetPolicyItem(0));
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->GetToken(), u"7");
    EXPECT_EQ(settings->GetCode(), 0u);
    ASSERT_NE(settings->GetPolicy(), nullptr);
    EXPECT_EQ(settings->GetPolicy()->GetNamespaceURI(), cml::kGroupSettingsNamespaceURI);
    EXPECT_EQ(settings->GetPolicy()->GetName(), u"Default Group");
}

TEST(ReplyBuilder, RefusesBodiesThatAreNotCmlDocuments) {
    const std::string bodies[] = {
        "",
        "hello",
        "<zel><unclosed></zel>",
        "<?xml version='1.0'?><other xmlns='urn:x'/>",
        "<!DOCTYPE zel [<!ENTITY e 'x'>]><zel/>",
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        const HeartbeatReply reply = BuildHeartbeatReply(body, ExampleSettings(), u"controller-5");
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.contentType, "text/plain");
        EXPECT_TRUE(reply.agentId.empty());
        EXPECT_FALSE(reply.error.empty());
    }
}

TEST(ReplyBuilder, PingEchoesTheRequestIdEscaped) {
    const PingReply reply = BuildPingReply("id-1 'a' <&> \"b\"");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/x-zel-xml-data");
    EXPECT_EQ(reply.body,
              "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
              "<agent-ping request-id='id-1 &apos;a&apos; &lt;&amp;&gt; &quot;b&quot;'/>\n");
}

TEST(GroupSettingsFile, VersionDefaultsToTheDocumentsOwn) {
    EXPECT_EQ(LoadGroupSettings(ZEL_EXAMPLES_DIR "/group_settings.xml", u"").version, u"3");
    EXPECT_THROW(LoadGroupSettings(ZEL_EXAMPLES_DIR "/local.properties", u""), std::runtime_error);
    EXPECT_THROW(LoadGroupSettings(ZEL_EXAMPLES_DIR "/no-such-file.xml", u""), std::runtime_error);
}

TEST(JsonText, EscapesQuotesBackslashesAndControls) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", "\"\""},
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\n\r\t\b\f", "\"\\n\\r\\t\\b\\f\""},
        {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
        {"\xc3\xa9", "\"\xc3\xa9\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.in;
}

TEST(AgentRegistry, JsonCountsHeartbeatsAndKeepsTheLastVersionSent) {
    CAgentRegistry registry;
    registry.RecordHeartbeat("A-\"2\"", "two", "2026-01-01T00:00:00Z", "");
    registry.RecordHeartbeat("A-1", "one", "2026-01-01T00:00:01Z", "7");
    registry.RecordHeartbeat("A-1", "one", "2026-01-01T00:00:02Z", "");
    EXPECT_EQ(registry.ToJson(),
              "{\"agents\":["
              "{\"agent_id\":\"A-\\\"2\\\"\",\"name\":\"two\",\"last_heartbeat\":\"2026-01-01T00:00:00Z\","
              "\"group_settings_version\":\"\",\"heartbeats\":1},"
              "{\"agent_id\":\"A-1\",\"name\":\"one\",\"last_heartbeat\":\"2026-01-01T00:00:02Z\","
              "\"group_settings_version\":\"7\",\"heartbeats\":2}"
              "]}\n");
}

TEST(ControllerOptions, ReadsAndRefuses) {
    std::string error;
    const char* good[] = {"ss-controller", "--listen", "0.0.0.0:0", "--group-settings", "g.xml",
                          "--group-settings-version", "9", "--fail-503", "25", "--seed", "4", "--delay-ms", "10"};
    const auto options = ParseOptions(static_cast<int>(std::size(good)), good, error);
    ASSERT_TRUE(options.has_value()) << error;
    EXPECT_EQ(options->host, "0.0.0.0");
    EXPECT_EQ(options->port, 0);
    EXPECT_EQ(options->groupSettingsFile, "g.xml");
    EXPECT_EQ(options->groupSettingsVersion, "9");
    EXPECT_EQ(options->fail503Percent, 25u);
    EXPECT_EQ(options->seed, 4u);
    EXPECT_EQ(options->delayMs, 10u);

    const std::vector<std::vector<const char*>> bad = {
        {"ss-controller", "--listen", "8080"},        {"ss-controller", "--listen", "h:99999"},
        {"ss-controller", "--fail-503", "101"},       {"ss-controller", "--fail-503", "-1"},
        {"ss-controller", "--delay-ms"},              {"ss-controller", "--frobnicate", "1"},
        {"ss-controller", "--group-settings-version", ""},
    };
    for (const auto& argv : bad) {
        error.clear();
        EXPECT_FALSE(ParseOptions(static_cast<int>(argv.size()), argv.data(), error).has_value()) << argv[1];
        EXPECT_FALSE(error.empty());
    }
}

TEST(FaultInjector, SharesAreExactAtTheEndsAndReplayableBetween) {
    CFaultInjector never(0, 1);
    CFaultInjector always(100, 1);
    CFaultInjector first(30, 42);
    CFaultInjector second(30, 42);
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        EXPECT_FALSE(never.NextFails());
        EXPECT_TRUE(always.NextFails());
        const bool fails = first.NextFails();
        EXPECT_EQ(fails, second.NextFails()) << i;
        failures += fails ? 1 : 0;
    }
    EXPECT_GT(failures, 200);
    EXPECT_LT(failures, 400);
}

}  // namespace
}  // namespace zel::controller
