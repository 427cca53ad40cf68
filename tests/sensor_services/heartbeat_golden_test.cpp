// A heartbeat built with every setter and adder, posted with the dump switched on: the
// dumped document must be exactly the hand-written one below (generated identifiers
// replaced), and the controller must receive the same bytes. Texts of any kind make a
// well-formed heartbeat.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "SensorIndependence/CmlLib/cml_parser.h"
#include "heartbeat_test_support.h"
#include "services_fixture.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

constexpr const char* kPolicyBase = "http://schemas.zel.example/cml/PolicyBase";
constexpr const char* kSchemaA = "http://schemas.zel.example/cml/SchemaA";
// Only "param" elements of the common namespace count; an ordinal may be hexadecimal.
constexpr const char* kModuleParams =
    "<module-params xmlns='http://schemas.zel.example/cml/common' xmlns:o='urn:other'>"
    "<param name='a&amp;b' value='&lt;1&gt;'/><o:param name='skipped'/><other name='skipped'/>"
    "<param name='n' value='v' ordinal='0x2'/></module-params>";
constexpr const char* kAgentParams =
    "<agent-parameters xmlns='http://schemas.zel.example/cml/common'>\n"
    "  <param name='mode' value='fast &quot;x&quot;'/>\n"
    "</agent-parameters>";
// Bytes past the given length are never read.
const std::string kAgentParamsAndGarbage = std::string(kAgentParams) + "<garbage";
constexpr const char* kPolicyRequest =
    "<set-policy-request xmlns='http://schemas.zel.example/cml'>"
    "<policy name='P&amp;1' schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'>"
    "<setting>on &amp; off</setting></policy></set-policy-request>";
constexpr const char* kOptionalProperties =
    "<set-policy-request xmlns='http://schemas.zel.example/cml'>"
    "<policy name='opt' schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'/>"
    "</set-policy-request>";
constexpr const char* kSchema =
    "<schema targetNamespace='http://schemas.zel.example/cml/SchemaA' version='1.2.0'"
    " xmlns='http://www.w3.org/2001/XMLSchema'>\n  <element name='enabled' type='boolean'/>\n</schema>";

// Written from the serialisation rules: four blanks per level, attributes in their fixed
// order, optional ones only when set, schema documents at level 0 followed by an empty line.
constexpr const char* kExpected = R"(<?xml version='1.0' encoding='UTF-8' standalone='no'?>
<zel xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'
    xsi:schemaLocation='http://schemas.zel.example ./schemas/Zel1_0_0.xsd
    http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd
    http://schemas.zel.example/cml/PolicyBase ./schemas/cml/PolicyBase/PolicyBase1_0_0.xsd'
    xmlns='http://schemas.zel.example' schema-version='1.0.0'>
    <cml xmlns='http://schemas.zel.example/cml' schema-version='2.4.2'>
        <message-envelope broadcast='false' message-id='{GUID}'>
            <source/>
            <destination name='DesktopController' namespace='http://schemas.zel.example/cml/DesktopController'/>
            <message-body>
                <request>
                    <agent-startup-announcement xmlns='http://schemas.zel.example/cml' request-id='{GUID}' schema-version='2.4.2' name='Sensör &amp; &lt;Agent&gt;' agent-id='agent-7' namespace='http://schemas.zel.example/agents/Sensor' version='5.1 &apos;beta&apos; &quot;x&quot;' model='Model &quot;X&quot;' qpk-version='7.1' agent-install-path='/opt/zel/agent' daemon-install-path='/opt/zel/daemon-old' agent-status='0xc7210003' status-text='The parameter is invalid.' last-qpk-path='/opt/qpk/last.qpk' qpk-status='-950665198' qpk-status-description='Update failed: disk &lt;full&gt; &amp; &apos;busy&apos;' groupname-hint='Grüne Gruppe' use-local-settings='true' send-new-schemas='false' register-agent='false'>
                        <host-info xmlns='http://schemas.zel.example/cml' os='Linux &lt;6.1&gt;' version='' ip-address='10.0.0.7' host-name='host-1' nbname='HOST1' nbdomain='WORKGROUP' ad-object-id='obj-1' ad-group-id='grp-2'/>
                        <schema-list>
                            <schema-info namespace='http://schemas.zel.example/cml/SchemaA' version='1.2.0' name='Schéma &apos;A&apos;' overwrite='true' root='true' get-from-agent='true'/>
                            <schema-info namespace='http://schemas.zel.example/cml/SchemaB' version='0.9' cpe-editable='true'/>
                        </schema-list>
                        <module-list>
                            <module xmlns='http://schemas.zel.example/cml' name='Módulo &amp; core' version='2.0' status='0xc7560012' status-text='The policy document not be loaded.'>
                                <param xmlns='http://schemas.zel.example/cml/common' name='a&amp;b' value='&lt;1&gt;'/>
                                <param xmlns='http://schemas.zel.example/cml/common' name='n' value='v' ordinal='2'/>
                            </module>
                            <module xmlns='http://schemas.zel.example/cml' name='plain' version='1.0'/>
                        </module-list>
                        <agent-parameters>
                            <param xmlns='http://schemas.zel.example/cml/common' name='mode' value='fast &quot;x&quot;'/>
                        </agent-parameters>
                    </agent-startup-announcement>
                    <get-policy-request xmlns='http://schemas.zel.example/cml' request-id='{GUID}' schema-version='2.4.2'>
                        <policy-item name='Pölicy &amp; Co' namespace='http://schemas.zel.example/cml/PolicyBase' schema-version='1.0.0' token='12'/>
                        <policy-item namespace='http://schemas.zel.example/cml/AvpSections' token='0'/>
                        <policy-item namespace='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0' token='0'/>
                    </get-policy-request>
                    <set-policy-request xmlns='http://schemas.zel.example/cml' request-id='{GUID}' schema-version='2.4.2'>
                        <policy name='P&amp;1' schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'>
                            <setting>
                                on &amp; off
                            </setting>
                        </policy>
                    </set-policy-request>
                    <set-policy-request xmlns='http://schemas.zel.example/cml' request-id='{GUID}' schema-version='2.4.2'>
                        <policy name='opt' schema-version='1.0.0' xmlns='http://schemas.zel.example/cml/PolicyBase'/>
                    </set-policy-request>
                    <get-schema-request xmlns='http://schemas.zel.example/cml' request-id='{GUID}' schema-version='2.4.2'>
                        <schema-info namespace='http://schemas.zel.example/cml/SchemaB' name='Schema B'/>
                    </get-schema-request>
                    <set-schema-request xmlns='http://schemas.zel.example/cml' request-id='{GUID}' schema-version='2.4.2'>
                        <schema-info namespace='http://schemas.zel.example/cml/SchemaA' version='1.2.0' name='Schema A' overwrite='true'>
<schema targetNamespace='http://schemas.zel.example/cml/SchemaA' version='1.2.0' xmlns='http://www.w3.org/2001/XMLSchema'>
    <element name='enabled' type='boolean'/>
</schema>

                        </schema-info>
                    </set-schema-request>
                </request>
                <response>
                    <set-policy-response xmlns='http://schemas.zel.example/cml' request-id='req-1' schema-version='2.4.2' code='0xc7380017'>
                        <policy-item name='P1' namespace='http://schemas.zel.example/cml/PolicyBase' version='3' schema-version='1.0.0' code='0xc7380009' text='bad &lt;policy&gt;'/>
                    </set-policy-response>
                    <get-schema-response xmlns='http://schemas.zel.example/cml' request-id='req-2' schema-version='2.4.2' code='0xc738001a'>
                        <schema-info namespace='http://schemas.zel.example/cml/SchemaA' version='1.2.0' name='Schema A'>
<schema targetNamespace='http://schemas.zel.example/cml/SchemaA' version='1.2.0' xmlns='http://www.w3.org/2001/XMLSchema'>
    <element name='enabled' type='boolean'/>
</schema>

                        </schema-info>
                        <schema-info namespace='http://schemas.zel.example/cml/SchemaC' version='9.9' name='Missing' code='0xc738000d' text='not &quot;found&quot;'/>
                    </get-schema-response>
                    <set-schema-response xmlns='http://schemas.zel.example/cml' request-id='req-3' schema-version='2.4.2'>
                        <schema-info namespace='http://schemas.zel.example/cml/SchemaA' version='1.2.0' name='Schema A'/>
                    </set-schema-response>
                </response>
            </message-body>
        </message-envelope>
    </cml>
</zel>
)";

uint32_t Length(const char* text) { return static_cast<uint32_t>(std::strlen(text)); }

// Every generated identifier as one placeholder.
std::string WithoutGuids(const std::string& document) {
    static const std::regex guid(
        "(message-id|request-id)='[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}'");
    return std::regex_replace(document, guid, "$1='{GUID}'");
}

class HeartbeatGoldenTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        Start({m_server.Port()}, false, "dumpEnabled = 1\n");
    }

    RecordingServer m_server;
};

TEST_F(HeartbeatGoldenTest, APostedHeartbeatIsDumpedAndSentAsWritten) {
    TempDir directory;
    const WorkingDirectory here(directory.File(""));

    SS_Heartbeat h = nullptr;
    ASSERT_EQ(0u, CreateHeartbeat(&h, "agent-7", "Sensör & <Agent>", "http://schemas.zel.example/agents/Sensor",
                                  "5.1 'beta' \"x\"", "10.0.0.7"));
    Heartbeat heartbeat(h);
    ASSERT_EQ(0u, SetAgentInfo(h, "7.1", "3340828675", "not read", nullptr, "/opt/zel/daemon-old"));
    ASSERT_EQ(0u, SetBasicAgentInfo(h, nullptr, "/opt/qpk/last.qpk", 0xC7560012u, "Update failed: disk <full> & 'busy'",
                                    0xC7210003u, "/opt/zel/agent", nullptr, "Model \"X\"", "Grüne Gruppe", 1, 0));
    ASSERT_EQ(0u, SetHostInfo(h, "host-1", nullptr, "Linux <6.1>", "6.1.0", "HOST1", "WORKGROUP", "obj-1", "grp-2"));
    ASSERT_EQ(0u, AddSchemaInfo(h, "Schéma 'A'", kSchemaA, "1.2.0", 1, 0, 1, 1));
    ASSERT_EQ(0u, AddSchemaInfo(h, nullptr, "http://schemas.zel.example/cml/SchemaB", "0.9", 0, 1, 0, 0));
    SS_Module module = nullptr;
    ASSERT_EQ(0u, AddModuleInfo(h, "Módulo & core", "2.0", 0xC7560012u, "not sent", &module));
    ASSERT_EQ(0u, AddModuleInfoParams(module, kModuleParams, Length(kModuleParams)));
    ASSERT_EQ(0u, AddModuleInfo(h, "plain", "1.0", 0x47380022u, nullptr, nullptr));
    ASSERT_EQ(0u, AddAgentParams(h, kAgentParamsAndGarbage.data(), Length(kAgentParams)));

    char policyId[36];
    uint32_t policyIdLength = sizeof policyId;
    ASSERT_EQ(0u, AddGetPolicyRequest(h, "12", "Pölicy & Co", kPolicyBase, "1.0.0", policyId, &policyIdLength));
    // The second policy joins the first one's request and gets its identifier.
    char secondPolicyId[36];
    uint32_t secondPolicyIdLength = sizeof secondPolicyId;
    ASSERT_EQ(0u, AddAgentPolicyInfo(h, nullptr, nullptr, "http://schemas.zel.example/cml/AvpSections", "9.9.9",
                                     secondPolicyId, &secondPolicyIdLength));
    EXPECT_EQ(std::string(policyId, policyIdLength), std::string(secondPolicyId, secondPolicyIdLength));
    ASSERT_EQ(0u, AddSetPolicyRequest(h, kPolicyRequest, Length(kPolicyRequest), nullptr, nullptr));
    ASSERT_EQ(0u, AddOptAgentProperties(h, kOptionalProperties, Length(kOptionalProperties), nullptr, nullptr));
    ASSERT_EQ(0u,
              AddGetSchemaRequest(h, "Schema B", "http://schemas.zel.example/cml/SchemaB", nullptr, nullptr, nullptr));
    char schemaId[37];
    uint32_t schemaIdLength = sizeof schemaId;
    ASSERT_EQ(0u, AddSetSchemaRequest(h, "Schema A", kSchemaA, "1.2.0", 1, kSchema, Length(kSchema), schemaId,
                                      &schemaIdLength));
    ASSERT_EQ(0u, AddSetPolicyResponse(h, "P1", "3", kPolicyBase, 0xC7380009u, "bad <policy>", "1.0.0", "req-1", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(h, "Schema A", kSchemaA, "1.2.0", 0, nullptr, kSchema, Length(kSchema), 0,
                                       "req-2", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(h, "Missing", "http://schemas.zel.example/cml/SchemaC", "9.9", 0xC738000Du,
                                       "not \"found\"", nullptr, 0, 0, "req-2", 5));
    ASSERT_EQ(0u, AddSetSchemaResponse(h, "Schema A", kSchemaA, "1.2.0", 0, nullptr, "req-3", 5));

    char messageId[36];
    uint32_t messageIdLength = sizeof messageId;
    // The library owns the heartbeat from here, whatever the post's outcome.
    PostHeartbeat(heartbeat.release(), messageId, &messageIdLength);
    ASSERT_TRUE(m_server.WaitForPosts(1));

    const std::string dumped = ReadFile(directory.File("ss_dump_hbreq.txt"));
    EXPECT_EQ(kExpected, WithoutGuids(dumped));
    EXPECT_NE(std::string::npos, dumped.find("message-id='" + std::string(messageId, messageIdLength) + "'"));
    EXPECT_NE(std::string::npos, dumped.find("<get-policy-request xmlns='http://schemas.zel.example/cml' request-id='" +
                                             std::string(policyId, policyIdLength) + "'"));
    EXPECT_NE(std::string::npos, dumped.find("<set-schema-request xmlns='http://schemas.zel.example/cml' request-id='" +
                                             std::string(schemaId, schemaIdLength) + "'"));
    const std::vector<ReceivedPost> posts = m_server.Posts();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ("/zel/sensor_services/heartbeat", posts[0].path);
    EXPECT_EQ(dumped, posts[0].body);
}

// Whatever the agent passes in, the heartbeat on the wire is well-formed XML: markup and
// quotes are escaped, characters XML cannot carry and bytes that are not UTF-8 arrive as
// U+FFFD, and a status text with an apostrophe stays inside its attribute.
TEST_F(HeartbeatGoldenTest, TextsOfAnyKindMakeAWellFormedHeartbeat) {
    TempDir directory;
    const WorkingDirectory here(directory.File(""));
    SS_Heartbeat h = nullptr;
    ASSERT_EQ(0u, CreateHeartbeat(&h, "agent-7", "Agent\x01\x1b[0m 'one'", "urn:a'gent", "1.0\x7f", "10.0.0.1\x08"));
    ASSERT_EQ(0u, SetHostInfo(h, "host<1>&'", "10.0.0.2'", "Linux\x0c", nullptr, "NB'", nullptr, nullptr, nullptr));
    ASSERT_EQ(0u, AddSchemaInfo(h, "s\x80x", "urn:s'chema", "1'0", 0, 0, 0, 0));
    // 0xC7210014's text holds apostrophes.
    ASSERT_EQ(0u, AddModuleInfo(h, "m\x02", "2'0", 0xC7210014u, nullptr, nullptr));
    PostHeartbeat(h, nullptr, nullptr);
    ASSERT_TRUE(m_server.WaitForPosts(1));

    const std::string body = m_server.Posts()[0].body;
    cml::CCmlParser parser;
    ASSERT_NO_THROW(parser.ParseBuffer(reinterpret_cast<const XMLByte*>(body.data()),
                                       static_cast<unsigned>(body.size()), cml::kParseNonValidating))
        << body;
    cml::CCmlMessage posted;
    posted.Deserialize(parser.GetEnvelopeElement());
    const auto* announcement = dynamic_cast<const cml::CAgentStartupAnnouncement*>(posted.GetRequests()[0].get());
    ASSERT_NE(nullptr, announcement);
    const cml::CAgentInfoContent& content = announcement->GetContent();
    EXPECT_EQ(u"Agent\uFFFD\uFFFD[0m 'one'", content.GetName());
    EXPECT_EQ(u"urn:a'gent", content.GetNamespace());
    EXPECT_EQ(u"host<1>&'", content.GetHostInfo().GetHostName());
    ASSERT_EQ(1u, content.GetSchemas().size());
    EXPECT_EQ(u"s\uFFFDx", content.GetSchemas()[0].GetName());
    EXPECT_NE(std::string::npos, body.find("status-text='An attempt was made to encode one of the reserved UNICODE BMP "
                                           "values (0xFFFE, 0xFFFF) into a UTF-8, UTF-16, or UTF-32 string. The "
                                           "reserved value was replaced with &apos;?&apos; and this error returned.'"))
        << body;
}

}  // namespace
}  // namespace zel::ss::test
