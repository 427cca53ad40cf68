// CAgentInfo (the source and destination elements): groups, golden texts built and read back.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/agent_info.h"
#include "cml/cml_test_support.h"
#include "cml/golden_rows.h"

namespace zel::cml {
namespace {

using namespace test;

#define GROUP "<agent-group xmlns='http://schemas.zel.example/cml/property' name="

TEST(AgentInfo, GroupsAreAnOrderedSetByCodeUnit) {
    CAgentInfo info;
    // U+00E9 sorts after every ASCII letter by code unit; "B" before "a".
    for (const char16_t* group : {u"\u00e9t\u00e9", u"a", u"B", u"a", u"Z"}) info.AddGroup(group);
    std::u16string joined;
    for (const auto& group : info.GetGroups()) joined += group + u"|";
    EXPECT_EQ(joined, u"B|Z|a|\u00e9t\u00e9|");
    EXPECT_TRUE(info.IsInGroup(u"a"));
    EXPECT_FALSE(info.IsInGroup(u"A") || info.IsInGroup(u"a "));
}

TEST(AgentInfo, GoldenTextsBuiltAndReadBack) {
    CAgentInfo info;
    info.SetTagName(u"destination"); info.SetName(u"O'Brien & <Co>"); info.SetNamespace(u"ns'raw");
    info.SetIpAddress(u"10.0.0.1&"); info.SetHostName(u"h\"1"); info.SetAgentId(u"id\n1"); info.SetAuthToken(u"t");
    info.SetAuthHash(u"h"); info.AddGroup(u"zeta"); info.AddGroup(u"Al'pha");
    const std::string golden =
        "<destination name='O&apos;Brien &amp; &lt;Co&gt;' namespace='ns&apos;raw' ip-address='10.0.0.1&amp;' "
        "host-name='h&quot;1' agent-id='id&#xa;1' auth-token='t' auth-hash='h'>\n"
        "    " GROUP "'Al&apos;pha'/>\n    " GROUP "'zeta'/>\n</destination>\n";
    EXPECT_EQ(Narrow(info), golden);
    EXPECT_EQ(Narrow(*info.Clone()), golden);
    test::ExpectGoldenRows({
        {test::Reread<CAgentInfo>, golden},
        {test::Reread<CAgentInfo>, "<source/>\n"},
        // Only unprefixed "agent-group" elements of the property namespace are groups.
        {test::Reread<CAgentInfo>,
         "<destination xmlns='http://schemas.zel.example/cml' name='O&apos;B'>" GROUP "'one'/>"
         "<agent-group name='wrong-namespace'/><p:agent-group xmlns:p='http://schemas.zel.example/cml/property'"
         " name='prefixed'/><other xmlns='http://schemas.zel.example/cml/property' name='wrong-name'/>"
         "text<!-- comment -->" GROUP "'two'/></destination>",
         "<destination name='O&apos;B'>\n    " GROUP "'one'/>\n    " GROUP "'two'/>\n</destination>\n"},
    });
}

}  // namespace
}  // namespace zel::cml
