// CAgentInfo (the source and destination elements): groups, writing, reading, copies.
#include <gtest/gtest.h>

#include <string>

#include "SensorIndependence/CmlLib/agent_info.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"

namespace zel::cml {
namespace {

using test::Narrow;
using test::Wide;

TEST(AgentInfo, GroupsAreAnOrderedSetByCodeUnit) {
    CAgentInfo info;
    info.SetName(u"n");
    info.SetName(nullptr);
    EXPECT_TRUE(info.GetName().empty());
    // U+00E9 sorts after every ASCII letter by code unit; "B" before "a".
    for (const char16_t* group : {u"\u00e9t\u00e9", u"a", u"B", u"a", u"Z"}) info.AddGroup(group);
    ASSERT_EQ(info.GetGroupCount(), 4u);
    std::u16string joined;
    for (const auto& group : info.GetGroups()) joined += group + u"|";
    EXPECT_EQ(joined, u"B|Z|a|\u00e9t\u00e9|");
    EXPECT_TRUE(info.IsInGroup(u"a"));
    EXPECT_FALSE(info.IsInGroup(u"A"));
    EXPECT_FALSE(info.IsInGroup(u"a "));
    info.SetGroups({u"x"});
    EXPECT_EQ(info.GetGroupCount(), 1u);
    EXPECT_TRUE(info.IsInGroup(u"x"));
}

TEST(AgentInfo, SerializeGoldenTexts) {
    CAgentInfo empty;
    EXPECT_EQ(empty.GetTagName(), u"agent-info");
    empty.SetTagName(u"source");
    EXPECT_EQ(Narrow(empty, 0), "<source/>\n");

    CAgentInfo info;
    info.SetTagName(u"destination");
    info.SetName(u"O'Brien & <Co>");
    info.SetNamespace(u"ns'raw");
    info.SetIpAddress(u"10.0.0.1&");
    info.SetHostName(u"h\"1");
    info.SetAgentId(u"id\n1");
    info.SetAuthToken(u"t");
    info.SetAuthHash(u"h");
    EXPECT_EQ(Narrow(info, 2),
              "        <destination name='O&apos;Brien &amp; &lt;Co&gt;' namespace='ns&apos;raw' "
              "ip-address='10.0.0.1&amp;' host-name='h&quot;1' agent-id='id&#xa;1' auth-token='t' auth-hash='h'/>\n");

    info.AddGroup(u"zeta");
    info.AddGroup(u"Al'pha");
    const std::string expected =
        "    <destination name='O&apos;Brien &amp; &lt;Co&gt;' namespace='ns&apos;raw' "
        "ip-address='10.0.0.1&amp;' host-name='h&quot;1' agent-id='id&#xa;1' auth-token='t' auth-hash='h'>\n"
        "        <agent-group xmlns='http://schemas.zel.example/cml/property' name='Al&apos;pha'/>\n"
        "        <agent-group xmlns='http://schemas.zel.example/cml/property' name='zeta'/>\n"
        "    </destination>\n";
    EXPECT_EQ(Narrow(info, 1), expected);
    EXPECT_EQ(Wide(info, 1), expected);
}

TEST(AgentInfo, DeserializeReadsAttributesAndOnlyPropertyGroups) {
    const test::ParsedXml xml(
        "<destination xmlns='http://schemas.zel.example/cml' name='O&apos;B' namespace='ns' ip-address='1.2.3.4'"
        " host-name='h' agent-id='A' auth-token='T' auth-hash='H'>"
        "<agent-group xmlns='http://schemas.zel.example/cml/property' name='one'/>"
        "<agent-group name='wrong-namespace'/>"
        "<p:agent-group xmlns:p='http://schemas.zel.example/cml/property' name='prefixed'/>"
        "<other xmlns='http://schemas.zel.example/cml/property' name='wrong-name'/>"
        "text<!-- comment -->"
        "<agent-group xmlns='http://schemas.zel.example/cml/property' name='two'/>"
        "</destination>");
    CAgentInfo info;
    info.AddGroup(u"stale");
    info.Deserialize(CCmlDOM_Element(xml.Root()));
    EXPECT_EQ(info.GetTagName(), u"destination");
    EXPECT_EQ(info.GetName(), u"O'B");
    EXPECT_EQ(info.GetNamespace(), u"ns");
    EXPECT_EQ(info.GetIpAddress(), u"1.2.3.4");
    EXPECT_EQ(info.GetHostName(), u"h");
    EXPECT_EQ(info.GetAgentId(), u"A");
    EXPECT_EQ(info.GetAuthToken(), u"T");
    EXPECT_EQ(info.GetAuthHash(), u"H");
    // "p:agent-group" has the node name "p:agent-group", not "agent-group".
    EXPECT_EQ(info.GetGroups(), (AgentGroupSet{u"one", u"two"}));

    // Absent attributes read as empty strings.
    const test::ParsedXml bare("<source/>");
    info.Deserialize(CCmlDOM_Element(bare.Root()));
    EXPECT_EQ(Narrow(info, 0), "<source/>\n");
}

TEST(AgentInfo, CopyAssignAndClone) {
    CAgentInfo info;
    info.SetTagName(u"source");
    info.SetAgentId(u"A");
    info.AddGroup(u"g");
    const auto clone = info.Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(Narrow(*clone, 0), Narrow(info, 0));
    CAgentInfo assigned;
    assigned = info;
    assigned = assigned;
    EXPECT_EQ(Narrow(assigned, 0), Narrow(info, 0));
    info.AddGroup(u"h");
    EXPECT_EQ(clone->GetGroupCount(), 1u);
}

}  // namespace
}  // namespace zel::cml
