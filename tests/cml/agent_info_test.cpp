#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "SensorIndependence/CmlLib/agent_info.h"
#include "SensorIndependence/CmlLib/cml_exception.h"
#include "cml/dom_test_support.h"
#include "runtime/unicode.h"

namespace zel::cml {
namespace {

std::string Narrow(const CAgentInfo& info, int level) {
    std::ostringstream out;
    info.Serialize(out, level);
    return out.str();
}

std::string WideAsUtf8(const CAgentInfo& info, int level) {
    std::basic_ostringstream<char16_t> out;
    info.Serialize(out, level);
    return ToUtf8(out.str());
}

TEST(AgentInfo, DefaultsAndSetters) {
    CAgentInfo info;
    EXPECT_EQ(info.GetTagName(), u"agent-info");
    EXPECT_TRUE(info.GetName().empty());
    EXPECT_EQ(info.GetGroupCount(), 0u);
    info.SetName(u"n");
    info.SetName(nullptr);
    EXPECT_TRUE(info.GetName().empty());
}

TEST(AgentInfo, GroupsAreAnOrderedSetByCodeUnit) {
    CAgentInfo info;
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
    EXPECT_EQ(WideAsUtf8(info, 1), expected);
}

TEST(AgentInfo, NonAsciiIsWrittenAsUtf8OnNarrowStreams) {
    CAgentInfo info;
    info.SetTagName(u"source");
    info.SetName(u"Agent \u00e9\U0001F600");
    EXPECT_EQ(Narrow(info, 0), "<source name='Agent \xc3\xa9\xf0\x9f\x98\x80'/>\n");
    EXPECT_EQ(WideAsUtf8(info, 0), Narrow(info, 0));
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
}

TEST(AgentInfo, DeserializeOfAbsentAttributesGivesEmptyStrings) {
    const test::ParsedXml xml("<source/>");
    CAgentInfo info;
    info.SetName(u"old");
    info.Deserialize(CCmlDOM_Element(xml.Root()));
    EXPECT_EQ(info.GetTagName(), u"source");
    EXPECT_TRUE(info.GetName().empty());
    EXPECT_EQ(Narrow(info, 0), "<source/>\n");
}

TEST(AgentInfo, RoundTripThroughText) {
    CAgentInfo info;
    info.SetTagName(u"source");
    info.SetName(u"a'b\"c<d>&e\nf");
    info.SetHostName(u"host");
    info.AddGroup(u"g'2");
    info.AddGroup(u"g1");
    const std::string text = Narrow(info, 0);
    const test::ParsedXml xml(text);
    CAgentInfo back;
    back.Deserialize(CCmlDOM_Element(xml.Root()));
    EXPECT_EQ(back.GetName(), info.GetName());
    EXPECT_EQ(back.GetGroups(), info.GetGroups());
    EXPECT_EQ(Narrow(back, 0), text);
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
