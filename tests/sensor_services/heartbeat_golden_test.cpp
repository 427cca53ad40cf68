// A heartbeat built with every setter and adder, posted with the dump switched on: the
// dumped document must be exactly the hand-written heartbeat_golden.xml (generated
// identifiers replaced), and the controller must receive the same bytes.
#include <gtest/gtest.h>

#include <regex>

#include "library_test.h"

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

// The golden heartbeat (heartbeat_golden.xml) was written from the serialisation rules: four
// blanks per level, attributes in their fixed order, optional ones only when set, schema
// documents at level 0 followed by an empty line; generated identifiers stand as {GUID}.
using HeartbeatGoldenTest = LibraryTest;

TEST_F(HeartbeatGoldenTest, APostedHeartbeatIsDumpedAndSentAsWritten) {
    RecordingServer server;
    TempDir directory;
    const WorkingDirectory here(directory.File(""));
    Start({server.Port()}, false, "dumpEnabled = 1\n");
    SS_Heartbeat h = nullptr;
    ASSERT_EQ(0u, CreateHeartbeat(&h, "agent-7", "Sensör & <Agent>", "http://schemas.zel.example/agents/Sensor",
                                  "5.1 'beta' \"x\"", "10.0.0.7"));
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
    // Bytes past the given length are never read.
    ASSERT_EQ(0u, AddAgentParams(h, (std::string(kAgentParams) + "<garbage").data(), Length(kAgentParams)));
    // A get-policy request whose second policy joins the first one's request.
    ASSERT_EQ(0u, AddGetPolicyRequest(h, "12", "Pölicy & Co", kPolicyBase, "1.0.0", nullptr, nullptr));
    ASSERT_EQ(0u, AddAgentPolicyInfo(h, nullptr, nullptr, "http://schemas.zel.example/cml/AvpSections", "9.9.9",
                                     nullptr, nullptr));
    ASSERT_EQ(0u, AddSetPolicyRequest(h, kPolicyRequest, Length(kPolicyRequest), nullptr, nullptr));
    ASSERT_EQ(0u, AddOptAgentProperties(h, kOptionalProperties, Length(kOptionalProperties), nullptr, nullptr));
    ASSERT_EQ(0u,
              AddGetSchemaRequest(h, "Schema B", "http://schemas.zel.example/cml/SchemaB", nullptr, nullptr, nullptr));
    ASSERT_EQ(0u, AddSetSchemaRequest(h, "Schema A", kSchemaA, "1.2.0", 1, kSchema, Length(kSchema), nullptr, nullptr));
    ASSERT_EQ(0u, AddSetPolicyResponse(h, "P1", "3", kPolicyBase, 0xC7380009u, "bad <policy>", "1.0.0", "req-1", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(h, "Schema A", kSchemaA, "1.2.0", 0, nullptr, kSchema, Length(kSchema), 0,
                                       "req-2", 5));
    ASSERT_EQ(0u, AddGetSchemaResponse(h, "Missing", "http://schemas.zel.example/cml/SchemaC", "9.9", 0xC738000Du,
                                       "not \"found\"", nullptr, 0, 0, "req-2", 5));
    ASSERT_EQ(0u, AddSetSchemaResponse(h, "Schema A", kSchemaA, "1.2.0", 0, nullptr, "req-3", 5));
    // The library owns the heartbeat from here, whatever the post's outcome.
    PostHeartbeat(h, nullptr, nullptr);
    ASSERT_TRUE(server.WaitForPosts(1));

    const std::string dumped = ReadFile(directory.File("ss_dump_hbreq.txt"));
    const std::regex guid("(message-id|request-id)='[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}'");
    EXPECT_EQ(ReadFile(ZEL_SS_GOLDEN_PATH), std::regex_replace(dumped, guid, "$1='{GUID}'"));
    // The controller gets the dumped bytes.
    EXPECT_EQ(dumped, server.Posts().at(0).body);
}

}  // namespace
}  // namespace zel::ss::test
