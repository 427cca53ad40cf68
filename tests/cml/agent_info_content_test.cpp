#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "runtime/message_table.h"
#include "runtime/unicode.h"
#include "runtime/zel_error.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

// ---- Golden documents, written by hand from the writing rules ----

const char kGoldenHead[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<agent-startup-announcement xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n";

const char kGoldenStartTag[] =
    " xmlns='http://schemas.zel.example/cml' request-id='r-17' schema-version='2.4.2'"
    " name='Agent &apos;Smith&apos; &amp; &lt;Co&gt;' agent-id='A-42'"
    " namespace='http://schemas.zel.example/cml/DesktopAgent' version='3.1.0' model='ZX &quot;Pro&quot;'"
    " qpk-version='7.2' agent-install-path='/opt/zel/agent' daemon-install-path='/opt/zel/daemon'"
    " agent-status='0xc7560003' status-text='The sensor services library is not initialized and cannot be used.'"
    " last-qpk-path='/var/lib/zel/last.qpk' qpk-status='-952631273' qpk-status-description='Update&#xa;failed'"
    " groupname-hint='Lab &amp; Test' use-local-settings='true' send-new-schemas='false'"
    " register-agent='register-me'>\n";

const char kGoldenSectionsBeforeParams[] =
    "    <host-info xmlns='http://schemas.zel.example/cml' os='Linux' version='6.1 &apos;lts&apos;'"
    " ip-address='10.1.2.3' host-name='host1.example' nbname='HOST1' nbdomain='LAB' ad-object-id='obj-1'"
    " ad-group-id='grp-2'/>\n"
    "    <schema-list>\n"
    "        <schema-info namespace='http://schemas.zel.example/cml/AvpSections' version='2.0.1'"
    " name='AVP &amp; sections' overwrite='true' root='true'/>\n"
    "        <schema-info namespace='http://schemas.zel.example/cml/GroupSettings' cpe-editable='true'"
    " get-from-agent='true' get-latest-compatible='true'/>\n"
    "    </schema-list>\n"
    "    <content-date-list>\n"
    "        <content-date xmlns='http://schemas.zel.example/cml' identity='virus-defs' date='2026-12-01T10:00:00Z'/>\n"
    "        <content-date xmlns='http://schemas.zel.example/cml' identity='engine &lt;x&gt;' date='20261201'/>\n"
    "    </content-date-list>\n"
    "    <module-list>\n"
    "        <module xmlns='http://schemas.zel.example/cml' name='scanner' version='4.0.1' status='0x47210049'"
    " status-text='Active'>\n"
    "            <param xmlns='http://schemas.zel.example/cml/common' name='level' value='high'/>\n"
    "            <param xmlns='http://schemas.zel.example/cml/common' name='mode' value='a&apos;b' ordinal='0'/>\n"
    "        </module>\n"
    "        <module xmlns='http://schemas.zel.example/cml' name='updater' version='1.0'/>\n"
    "    </module-list>\n"
    "    <update-list>\n"
    "        <update xmlns='http://schemas.zel.example/cml' module='scanner' type='engine' version='4.0.2'/>\n"
    "        <update xmlns='http://schemas.zel.example/cml' module='x'/>\n"
    "    </update-list>\n";

const char kGoldenParams[] =
    "    <agent-parameters>\n"
    "        <param xmlns='http://schemas.zel.example/cml/common' name='interval' value='60'/>\n"
    "        <param xmlns='http://schemas.zel.example/cml/common' name='path' value='C:\\x &amp; y' ordinal='3'/>\n"
    "    </agent-parameters>\n";

// The policy element is written by the DOM subtree writer, which keeps the DOM's attribute
// order: Xerces holds attributes sorted by name.
const char kGoldenPolicy[] =
    "    <policy name='Default Group' schema-version='1.0.0' version='3'"
    " xmlns='http://schemas.zel.example/cml/GroupSettings'>\n"
    "        <controller-list>\n"
    "            <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n"
    "        </controller-list>\n"
    "    </policy>\n";

const char kGoldenTasksAndEnd[] =
    "    <task-list>\n"
    "        <task-info action='scan' message='Full &apos;scan&apos;'>\n"
    "            <descriptor-content namespace='http://schemas.zel.example/cml/AvpSections' minOccurs='0'"
    " maxOccurs='unbounded' identity='id-1' policy-ref='true'/>\n"
    "            <descriptor-content namespace='http://schemas.zel.example/cml/GroupSettings' global='true'/>\n"
    "        </task-info>\n"
    "        <task-info action='stop' message=''/>\n"
    "    </task-list>\n"
    "</agent-startup-announcement>\n";

std::string GoldenWithParams() {
    return std::string(kGoldenHead) +
           "    xsi:schemaLocation='http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd'" + kGoldenStartTag +
           kGoldenSectionsBeforeParams + kGoldenParams + kGoldenTasksAndEnd;
}

std::string GoldenWithPolicy() {
    return std::string(kGoldenHead) +
           "    xsi:schemaLocation='http://schemas.zel.example/cml ./schemas/cml/cml2_4_2.xsd\n"
           "    http://schemas.zel.example/cml/GroupSettings ./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'" +
           kGoldenStartTag + kGoldenSectionsBeforeParams + kGoldenPolicy + kGoldenTasksAndEnd;
}

const char kGroupSettingsPolicy[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group' version='3'"
    " schema-version='1.0.0'>\n"
    "  <controller-list>\n"
    "    <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n"
    "  </controller-list>\n"
    "</policy>\n";

// ---- Helpers ----

using test::Attributes;
using test::Document;
using test::ExpectCmlError;
using test::Narrow;
using test::Parsed;
using test::Wide;

using test::TestPolicy;

const std::u16string kCml = kCmlNamespaceURI;
const std::u16string kAvp = kAvpSectionsNamespaceURI;
const std::u16string kRoAvp = kRoAvpSectionsNamespaceURI;
const std::u16string kGroup = kGroupSettingsNamespaceURI;

void FillGoldenContent(CAgentInfoContent& content) {
    content.SetName(u"Agent 'Smith' & <Co>");
    content.SetAgentId(u"A-42");
    content.SetNamespace(u"http://schemas.zel.example/cml/DesktopAgent");
    content.SetVersion(u"3.1.0");
    content.SetModel(u"ZX \"Pro\"");
    content.SetQpkVersion(u"7.2");
    content.SetAgentInstallPath(u"/opt/zel/agent");
    content.SetDaemonInstallPath(u"/opt/zel/daemon");
    content.SetGroupnameHint(u"Lab & Test");
    content.SetUseLocalSettings(true);
    content.SetSendNewSchemas(false);
    content.SetRegisterAgent(u"register-me");
    content.SetAgentStatus(ZEL_E_SS_NOT_INITIALIZED);
    content.SetLastQpkPath(u"/var/lib/zel/last.qpk");
    content.SetQpkStatus(0xC7380017);
    content.SetQpkStatusDescription(u"Update\nfailed");

    CHostInfo host;
    host.SetOs(u"Linux");
    host.SetVersion(u"6.1 'lts'");
    host.SetIpAddress(u"10.1.2.3");
    host.SetHostName(u"host1.example");
    host.SetNbName(u"HOST1");
    host.SetNbDomain(u"LAB");
    host.SetAdObjectId(u"obj-1");
    host.SetAdGroupId(u"grp-2");
    content.SetHostInfo(host);

    CSchemaInfo avp;
    avp.SetNamespace(kAvpSectionsNamespaceURI);
    avp.SetVersion(u"2.0.1");
    avp.SetName(u"AVP & sections");
    avp.SetOverwrite(true);
    avp.SetRoot(true);
    content.AddSchemaInfo(avp);
    CSchemaInfo group;
    group.SetNamespace(kGroupSettingsNamespaceURI);
    group.SetCpeEditable(true);
    group.SetGetFromAgent(true);
    group.SetGetLatestCompatible(true);
    content.AddSchemaInfo(group);

    content.AddContentDate(u"virus-defs", u"2026-12-01T10:00:00Z");
    CContentDate engine;
    engine.SetIdentity(u"engine <x>");
    engine.SetDate(u"20261201");
    content.AddContentDate(engine);

    CModuleInfo scanner;
    scanner.SetName(u"scanner");
    scanner.SetVersion(u"4.0.1");
    scanner.SetStatus(ZEL_I_AGENT_STATE_ACTIVE);
    scanner.AddParam(u"level", u"high");
    CNameValuePair mode(u"mode", u"a'b");
    mode.SetOrdinal(0);
    scanner.AddParam(mode);
    content.AddModuleInfo(scanner);
    CModuleInfo updater;
    updater.SetName(u"updater");
    updater.SetVersion(u"1.0");
    content.AddModuleInfo(updater);

    CUpdateInfo engineUpdate;
    engineUpdate.SetModule(u"scanner");
    engineUpdate.SetType(u"engine");
    engineUpdate.SetVersion(u"4.0.2");
    content.AddUpdateInfo(engineUpdate);
    CUpdateInfo moduleOnly;
    moduleOnly.SetModule(u"x");
    content.AddUpdateInfo(moduleOnly);

    content.AddParam(u"interval", u"60");
    content.AddParam(u"path", u"C:\\x & y").SetOrdinal(3);

    CTaskInfoItem scan;
    scan.SetTagName(kTagTaskInfo);
    scan.SetAction(u"scan");
    scan.SetMessage(u"Full 'scan'");
    CTaskDescriptorContent sections;
    sections.SetNamespace(kAvpSectionsNamespaceURI);
    sections.SetMinOccurs(u"0");
    sections.SetMaxOccurs(u"unbounded");
    sections.SetIdentity(u"id-1");
    sections.SetPolicyRef(true);
    scan.AddDescriptor(sections);
    CTaskDescriptorContent settings;
    settings.SetNamespace(kGroupSettingsNamespaceURI);
    settings.SetGlobal(true);
    scan.AddDescriptor(settings);
    content.AddTaskInfo(scan);
    CTaskInfoItem stop;
    stop.SetTagName(kTagTaskInfo);
    stop.SetAction(u"stop");
    content.AddTaskInfo(stop);
}

CAgentStartupAnnouncement GoldenAnnouncement() {
    CAgentStartupAnnouncement announcement;
    announcement.SetRequestId(u"r-17");
    FillGoldenContent(announcement.GetContent());
    return announcement;
}

// Reads `text` into a fresh announcement and writes it again.
std::string RoundTrip(const std::string& text) {
    CAgentStartupAnnouncement read;
    test::ReadElement(read, text);
    return Document(read);
}

// ---- Golden texts ----

TEST(AgentStartupAnnouncement, GoldenDocumentWithParameters) {
    const CAgentStartupAnnouncement announcement = GoldenAnnouncement();
    EXPECT_EQ(Document(announcement), GoldenWithParams());
    EXPECT_EQ(RoundTrip(GoldenWithParams()), GoldenWithParams());
}

TEST(AgentStartupAnnouncement, GoldenDocumentWithPolicyReplacingParameters) {
    CAgentStartupAnnouncement announcement = GoldenAnnouncement();
    {
        // The parser goes before the announcement is written: the policy keeps its document.
        const Parsed parsed(kGroupSettingsPolicy);
        announcement.GetContent().AddPolicy(parsed.Root());
    }
    ASSERT_EQ(announcement.GetContent().GetParamCount(), 2u);
    EXPECT_EQ(Document(announcement), GoldenWithPolicy());
    EXPECT_EQ(RoundTrip(GoldenWithPolicy()), GoldenWithPolicy());
}

// The round trips above prove the reading; this reaches the const accessors of what was read.
TEST(AgentStartupAnnouncement, ConstAccessorsGiveTheReadValues) {
    CAgentStartupAnnouncement read;
    test::ReadElement(read, GoldenWithParams());
    const CAgentInfoContent& c = read.GetContent();
    const CTaskInfoItem& task = c.GetTasks()[0];
    EXPECT_EQ(c.GetHostInfo().GetAdGroupId() + c.GetSchemas()[0].GetVersion() + c.GetQpkStatusDescription() +
                  c.GetParams()[0].GetValue() + c.GetModules()[0].GetParams()[0].GetValue() + task.GetTagName(),
              u"grp-22.0.1Update\nfailed60hightask-info");
    EXPECT_TRUE(task.GetDescriptors()[1].GetGlobal());
    const CSchemaInfo& s = c.GetSchemas()[0];
    EXPECT_EQ(s.GetName(), u"AVP & sections");
    EXPECT_TRUE(s.GetOverwrite() && s.GetRoot() && !s.GetCpeEditable() && !s.GetGetFromAgent() &&
                !s.GetGetLatestCompatible());
    const CContentDate date;
    EXPECT_EQ(date.GetTagName() + date.GetNamespaceURI(), std::u16string(kTagContentDate) + kCml);
}

TEST(AgentStartupAnnouncement, WideAndNarrowElementFormsAgree) {
    CAgentStartupAnnouncement announcement = GoldenAnnouncement();
    announcement.GetContent().SetName(u"\u00c9quipe \U0001F600 & co");
    const std::string narrow = Narrow(announcement, 3);
    EXPECT_EQ(Wide(announcement, 3), narrow);
    EXPECT_NE(narrow.find("name='\xc3\x89quipe \xf0\x9f\x98\x80 &amp; co'"), std::string::npos);
    const std::string last = "            </agent-startup-announcement>\n";
    ASSERT_GT(narrow.size(), last.size());
    EXPECT_EQ(narrow.substr(narrow.size() - last.size()), last);
}

// ---- Attributes ----

// The number forms are checked on ReadAutoBaseNumber, exact comparison on Equals: these rows
// give the values of "not set" and the flags' defaults, and what is written back: a status
// only when set (as hexadecimal with its text, or as a signed number), a flag only when not at
// its default.
TEST(AgentInfoContent, StatusesAndFlagsReadAndWrittenBack) {
    const uint32_t unset = ZEL_I_CML_NOT_SPECIFIED;
    const struct {
        const char* attributes;
        uint32_t agentStatus, qpkStatus;
        bool useLocal, sendNew;
        const char* written;  // the status attributes written, up to the status text
        const char* qpk;      // the qpk-status attribute written
    } cases[] = {
        {"", unset, unset, false, true, "", ""},
        {" agent-status='0x10' qpk-status='-5' use-local-settings='true' send-new-schemas='false'", 16, 0xFFFFFFFBu,
         true, false, " agent-status='0x10' status-text='", " qpk-status='-5'"},
        {" agent-status='abc' qpk-status='' use-local-settings='TRUE' send-new-schemas='False'", unset, unset, false,
         true, "", ""},
        {" agent-status='0' qpk-status='0x80000000' use-local-settings='1' send-new-schemas='0'", 0, 0x80000000u,
         false, true, " agent-status='0x0' status-text='", " qpk-status='-2147483648'"},
    };
    const std::string fixed = " name='' agent-id='' namespace='' version=''";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attributes);
        const test::ParsedXml xml(std::string("<a xmlns='http://schemas.zel.example/cml'") + c.attributes + "/>");
        CAgentInfoContent content;
        content.Deserialize(CCmlDOM_Element(xml.Root()));
        EXPECT_EQ(content.GetAgentStatus(), c.agentStatus);
        EXPECT_EQ(content.GetQpkStatus(), c.qpkStatus);
        EXPECT_EQ(content.GetUseLocalSettings(), c.useLocal);
        EXPECT_EQ(content.GetSendNewSchemas(), c.sendNew);
        const std::string written = Attributes(content);
        EXPECT_EQ(written.substr(0, fixed.size() + std::strlen(c.written)), fixed + c.written);
        EXPECT_EQ(written.find("agent-status") != std::string::npos, c.agentStatus != unset);
        EXPECT_EQ(written.find("qpk-status") != std::string::npos, *c.qpk != '\0');
        EXPECT_NE(written.find(c.qpk), std::string::npos) << written;
        EXPECT_EQ(written.find("use-local-settings") != std::string::npos, c.useLocal);
        EXPECT_EQ(written.find("send-new-schemas") != std::string::npos, !c.sendNew);
    }
}

// ---- Child sections ----

TEST(AgentInfoContent, EachSectionAloneMakesContent) {
    using Fill = void (*)(CAgentInfoContent&);
    struct Case {
        const char* name;
        Fill fill;
        const char* firstLine;
    };
    const Case cases[] = {
        {"host", [](CAgentInfoContent& c) { c.GetHostInfo().SetNbName(u"N"); },
         "<host-info xmlns='http://schemas.zel.example/cml' os='' version='' nbname='N'/>"},
        {"schema", [](CAgentInfoContent& c) { c.AddSchemaInfo(CSchemaInfo()); }, "<schema-list>"},
        {"date", [](CAgentInfoContent& c) { c.AddContentDate(u"i", u"d"); }, "<content-date-list>"},
        {"module", [](CAgentInfoContent& c) { c.AddModuleInfo(CModuleInfo()); }, "<module-list>"},
        {"update", [](CAgentInfoContent& c) { c.AddUpdateInfo(CUpdateInfo()); }, "<update-list>"},
        {"task", [](CAgentInfoContent& c) { c.AddTaskInfo(CTaskInfoItem()); }, "<task-list>"},
        {"param", [](CAgentInfoContent& c) { c.AddParam(u"n", u"v"); }, "<agent-parameters>"},
        {"policy",
         [](CAgentInfoContent& c) { c.AddPolicy(std::make_unique<TestPolicy>(kGroupSettingsNamespaceURI, u"1.0.0")); },
         "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'>"},
    };
    CAgentStartupAnnouncement empty;
    EXPECT_FALSE(empty.HasContent());
    for (const Case& c : cases) {
        CAgentStartupAnnouncement announcement;
        c.fill(announcement.GetContent());
        EXPECT_TRUE(announcement.HasContent()) << c.name;
        std::ostringstream out;
        announcement.SerializeContent(out, 0);
        EXPECT_EQ(out.str().substr(0, out.str().find('\n')), c.firstLine) << c.name;
    }
}

TEST(AgentInfoContent, HostInfoWithOnlyAnAddressWritesOsAndVersionEmpty) {
    CHostInfo host;
    EXPECT_TRUE(host.IsEmpty());
    EXPECT_EQ(Narrow(host, 1), "");
    host.SetIpAddress(u"10.0.0.1&x");
    EXPECT_FALSE(host.IsEmpty());
    EXPECT_EQ(Narrow(host, 1),
              "    <host-info xmlns='http://schemas.zel.example/cml' os='' version='' ip-address='10.0.0.1&amp;x'/>\n");
    host.SetTagName(u"other");
    host.Clear();
    EXPECT_TRUE(host.IsEmpty());
    EXPECT_EQ(host.GetTagName(), u"other");
    EXPECT_EQ(host.GetNamespaceURI(), kCml);
}

TEST(AgentInfoContent, ReadingOrderDecidesBetweenParametersAndPolicies) {
    const std::string params =
        "<agent-parameters><param xmlns='http://schemas.zel.example/cml/common' name='p' value='1'/>"
        "<param name='in-cml' value='skipped'/></agent-parameters>";
    const std::string policy = "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'/>";
    struct Case {
        std::string children;
        std::size_t params;
        std::size_t policies;
    };
    const Case cases[] = {
        {params, 1, 0},
        {params + policy, 0, 1},
        {policy + params, 1, 1},
        {params + policy + params, 1, 1},
        {"<p:x xmlns:p='urn:other'/>" + params, 1, 1},
        {"<unprefixed-no-namespace xmlns=''/>", 0, 1},
    };
    for (const Case& c : cases) {
        const test::ParsedXml xml("<a xmlns='http://schemas.zel.example/cml'>" + c.children + "</a>");
        CAgentInfoContent content;
        content.AddParam(u"old", u"dropped");
        content.Deserialize(CCmlDOM_Element(xml.Root()));
        EXPECT_EQ(content.GetParamCount(), c.params) << c.children;
        EXPECT_EQ(content.GetPolicyCount(), c.policies) << c.children;
        if (c.params != 0) {
            EXPECT_EQ(content.GetParams()[0].GetName(), u"p");
        }
    }
}

TEST(AgentInfoContent, UnrecognisedChildrenAreSkipped) {
    const test::ParsedXml xml(
        "<a xmlns='http://schemas.zel.example/cml' xmlns:c='http://schemas.zel.example/cml'>"
        "<c:host-info os='prefixed'/>"
        "<unknown-section><param xmlns='http://schemas.zel.example/cml/common' name='x' value='y'/></unknown-section>"
        "<schema-list><schema-info namespace='n1'/><other/><schema-info xmlns='urn:x' namespace='n2'/>"
        "<c:schema-info namespace='n3'/></schema-list>"
        "<module-list><module name='m'/><module xmlns='http://schemas.zel.example/cml/common' "
        "name='wrong'/></module-list>"
        "<task-list><task-info action='a'><descriptor-content namespace='d1'/>"
        "<descriptor-content xmlns='urn:x' namespace='d2'/></task-info></task-list>"
        "</a>");
    CAgentInfoContent content;
    content.GetHostInfo().SetOs(u"before");
    content.Deserialize(CCmlDOM_Element(xml.Root()));
    EXPECT_EQ(content.GetHostInfo().GetOs(), u"");  // the prefixed element is not host info
    EXPECT_EQ(content.GetParamCount(), 0u);
    ASSERT_EQ(content.GetSchemaCount(), 1u);  // neither the foreign nor the prefixed one
    EXPECT_EQ(content.GetSchemas()[0].GetNamespace(), u"n1");
    ASSERT_EQ(content.GetModuleCount(), 1u);
    ASSERT_EQ(content.GetTaskCount(), 1u);
    ASSERT_EQ(content.GetTasks()[0].GetDescriptors().size(), 1u);
    EXPECT_EQ(content.GetPolicyCount(), 0u);
}

TEST(AgentInfoContent, ReadingStartsFromEmptyLists) {
    CAgentInfoContent content;
    FillGoldenContent(content);
    content.AddPolicy(std::make_unique<TestPolicy>(kGroupSettingsNamespaceURI, u"1.0.0"));
    const test::ParsedXml xml("<a xmlns='http://schemas.zel.example/cml' name='n'/>");
    content.Deserialize(CCmlDOM_Element(xml.Root()));
    EXPECT_EQ(content.GetName(), u"n");
    EXPECT_EQ(content.GetModel(), u"");
    EXPECT_EQ(content.GetAgentStatus(), ZEL_I_CML_NOT_SPECIFIED);
    EXPECT_EQ(content.GetSchemaCount() + content.GetContentDateCount() + content.GetModuleCount() +
                  content.GetUpdateCount() + content.GetTaskCount() + content.GetParamCount() +
                  content.GetPolicyCount(),
              0u);
    EXPECT_EQ(content.GetHostInfo().GetHostName(), u"");
}

// ---- Small element classes ----

TEST(AgentInfoElements, ParameterOrdinals) {
    struct WriteCase {
        int32_t ordinal;
        const char* tail;
    };
    for (const WriteCase& c : {WriteCase{-1, "/>"}, WriteCase{0, " ordinal='0'/>"}, WriteCase{7, " ordinal='7'/>"},
                               WriteCase{-2, " ordinal='-2'/>"}}) {
        CNameValuePair pair(u"n", u"v&");
        pair.SetOrdinal(c.ordinal);
        EXPECT_EQ(Narrow(pair, 0),
                  std::string("<param xmlns='http://schemas.zel.example/cml/common' name='n' value='v&amp;'") + c.tail +
                      "\n");
    }
    struct ReadCase {
        const char* attribute;
        int32_t expected;
    };
    for (const ReadCase& c : {ReadCase{nullptr, -1}, ReadCase{"abc", -1}, ReadCase{"-7", -7}}) {
        std::string text = "<param xmlns='http://schemas.zel.example/cml/common' name='n'";
        if (c.attribute) text += std::string(" ordinal='") + c.attribute + "'";
        const test::ParsedXml xml(text + "/>");
        CNameValuePair pair;
        pair.SetOrdinal(99);
        pair.Deserialize(CCmlDOM_Element(xml.Root()));
        EXPECT_EQ(pair.GetOrdinal(), c.expected) << (c.attribute ? c.attribute : "(absent)");
    }
}

TEST(AgentInfoElements, DescriptorOccurrenceBounds) {
    struct Case {
        const char16_t* minOccurs;
        const char16_t* maxOccurs;
        const char* written;
    };
    const Case cases[] = {
        {u"1", u"1", ""},
        {u"1", u"unbounded", " maxOccurs='unbounded'"},
        {u"1", u"5", " maxOccurs='5'"},
        {u"0", u"1", " minOccurs='0'"},
        {u"", u"", ""},
        {u"01", u"1 ", " minOccurs='01' maxOccurs='1 '"},
    };
    for (const Case& c : cases) {
        CTaskDescriptorContent descriptor;
        descriptor.SetNamespace(u"n&s");
        descriptor.SetMinOccurs(c.minOccurs);
        descriptor.SetMaxOccurs(c.maxOccurs);
        EXPECT_EQ(Narrow(descriptor, 0), std::string("<descriptor-content namespace='n&amp;s'") + c.written + "/>\n");
    }
    const CTaskDescriptorContent defaults;
    EXPECT_EQ(defaults.GetMinOccurs(), u"1");
    EXPECT_EQ(defaults.GetMaxOccurs(), u"1");
    EXPECT_EQ(defaults.GetTagName(), kTagDescriptorContent);
}

// Eleven texts of the table hold an apostrophe, others quotes or ampersands: each must come
// back from a parse exactly as the table has it, from both stream kinds.
TEST(AgentInfoElements, EveryMessageTextIsAWellFormedStatusText) {
    for (const MessageEntry* entry = MessageTableBegin(); entry != MessageTableEnd(); ++entry) {
        if (entry->code == ZEL_I_CML_NOT_SPECIFIED) continue;  // "not set": no status is written
        CModuleInfo module;
        module.SetName(u"m");
        module.SetStatus(entry->code);
        const std::u16string expected = ToUtf16(ZELError(entry->code).GetText(255, {}, true));
        for (const std::string& text : {Narrow(module, 0), Wide(module, 0)}) {
            CCmlParser parser;
            ASSERT_NO_THROW(parser.ParseBuffer(reinterpret_cast<const XMLByte*>(text.data()),
                                               static_cast<unsigned>(text.size()), kParseNonValidating))
                << std::hex << entry->code << ": " << text;
            EXPECT_EQ(parser.GetDocumentElement().GetAttribute(kTagStatusText), expected) << std::hex << entry->code;
        }
    }
}

TEST(AgentInfoElements, ModuleReadingRules) {
    const test::ParsedXml xml(
        "<m:module xmlns:m='http://schemas.zel.example/cml' xmlns:c='http://schemas.zel.example/cml/common'"
        " name='n' version='v' status='0x10'>"
        "<param xmlns='http://schemas.zel.example/cml/common' name='a' value='1'/>"
        "<other xmlns='http://schemas.zel.example/cml/common'/><c:param name='prefixed' value='skipped'/>"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings'/>"
        "<param xmlns='http://schemas.zel.example/cml/common' name='b' value='2'/>"
        "</m:module>");
    CModuleInfo module;
    module.Deserialize(CCmlDOM_Element(xml.Root()));
    EXPECT_EQ(module.GetTagName(), u"m:module");
    EXPECT_EQ(module.GetNamespaceURI(), kCml);
    EXPECT_EQ(module.GetStatus(), 16u);
    ASSERT_EQ(module.GetParamCount(), 1u);  // "a" went with the policy; "b" came after it
    EXPECT_EQ(module.GetParams()[0].GetName(), u"b");
    ASSERT_EQ(module.GetPolicyCount(), 1u);
    EXPECT_EQ(module.GetPolicy(0).GetNamespaceURI(), kGroup);
    ExpectCmlError([&] { module.GetPolicy(1); }, u"Getting policy source from module info", u"Invalid vector index",
                   ZEL_E_CML_INDEX_OUT_OF_BOUNDS);

    const test::ParsedXml noStatus("<module xmlns='http://schemas.zel.example/cml' status='x'/>");
    module.Deserialize(CCmlDOM_Element(noStatus.Root()));
    EXPECT_EQ(module.GetStatus(), ZEL_I_CML_NOT_SPECIFIED);
    EXPECT_EQ(module.GetParamCount() + module.GetPolicyCount(), 0u);
}

TEST(AgentInfoElements, OwnTagTextsSurviveCopiesAndMoves) {
    // A long text lives on the heap, a short one inside the string: both must move with the object.
    for (const char16_t* tag : {u"custom-parameter-tag-long-enough", u"t"}) {
        const std::string expected = "<" + ToUtf8(tag) + " xmlns='urn:custom' name='n' value='v'/>\n";
        std::vector<CNameValuePair> pairs;
        {
            CNameValuePair custom(u"n", u"v");
            custom.SetTagName(tag);
            custom.SetNamespaceURI(u"urn:custom");
            CNameValuePair copy(custom);
            pairs.push_back(copy);
            pairs.push_back(std::move(custom));
            CNameValuePair assigned;
            assigned = pairs[0];
            pairs.push_back(assigned);
            CNameValuePair moveAssigned;
            moveAssigned = std::move(assigned);
            pairs.push_back(moveAssigned);
        }
        for (int i = 0; i < 20; ++i) pairs.emplace_back();  // reallocation moves every entry
        for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(Narrow(pairs[i], 0), expected) << i;
        EXPECT_EQ(pairs[4].GetTagName(), kTagParam);
        EXPECT_EQ(pairs[4].GetNamespaceURI(), kCommonNamespaceURI);
        pairs[0].SetNamespaceURI(kCommonNamespaceURI);
        pairs[1] = pairs[0];
        EXPECT_EQ(pairs[1].GetNamespaceURI(), kCommonNamespaceURI);
        EXPECT_EQ(pairs[1].GetTagName(), std::u16string(tag));
    }
}

// ---- Adders and the read-only AVP rule ----

TEST(AgentInfoContent, AddersStoreCopiesWithTheirFixedDefaults) {
    CAgentInfoContent content;
    CModuleInfo module;
    module.SetNamespaceURI(kCommonNamespaceURI);
    CModuleInfo& stored = content.AddModuleInfo(module);
    EXPECT_EQ(stored.GetNamespaceURI(), kCml);
    EXPECT_EQ(module.GetNamespaceURI(), kCommonNamespaceURI);
    module.AddParam(u"p", u"1");
    CModuleInfo& taken = content.AddModuleInfo(std::move(module));
    EXPECT_EQ(taken.GetNamespaceURI(), kCml);
    EXPECT_EQ(taken.GetParamCount(), 1u);

    EXPECT_EQ(content.AddContentDate(u"i", nullptr).GetDate(), u"");
}

TEST(AgentInfoContent, ReadOnlyAvpPoliciesGetTheirSchemaVersionInEveryForm) {
    using Store = void (*)(CAgentInfoContent&, std::unique_ptr<TestPolicy>);
    const Store forms[] = {
        [](CAgentInfoContent& c, std::unique_ptr<TestPolicy> p) { c.AddPolicy(std::move(p)); },
        [](CAgentInfoContent& c, std::unique_ptr<TestPolicy> p) { c.AddPolicy(p.release()); },
        [](CAgentInfoContent& c, std::unique_ptr<TestPolicy> p) { c.AddPolicy(static_cast<const CPolicySource&>(*p)); },
        [](CAgentInfoContent& c, std::unique_ptr<TestPolicy> p) {
            c.AddPolicy(std::make_unique<TestPolicy>(kGroupSettingsNamespaceURI, u"1.0.0"));
            c.SetPolicy(0, static_cast<const CPolicySource&>(*p));
        },
        [](CAgentInfoContent& c, std::unique_ptr<TestPolicy> p) {
            c.AddPolicy(std::make_unique<TestPolicy>(kGroupSettingsNamespaceURI, u"1.0.0"));
            c.SetPolicy(0, p.release());
        },
        [](CAgentInfoContent& c, std::unique_ptr<TestPolicy> p) {
            PolicySourceVector list;
            list.push_back(std::move(p));
            c.SetPolicies(list);
        },
    };
    for (const Store& store : forms) {
        for (const std::u16string& ns : {kRoAvp, kAvp}) {
            CAgentInfoContent content;
            store(content, std::make_unique<TestPolicy>(ns.c_str(), u"9.9.9"));
            ASSERT_EQ(content.GetPolicyCount(), 1u);
            EXPECT_EQ(content.GetPolicy(0).GetSchemaVersion(), ns == kRoAvp ? u"2.0.1" : u"9.9.9");
        }
    }
}

TEST(AgentInfoContent, IndexAndPointerErrors) {
    CAgentInfoContent content;
    content.AddContentDate(u"i", u"d");
    std::u16string identity;
    std::u16string date;
    content.GetContentDate(0, identity, date);
    EXPECT_EQ(identity + date, u"id");
    ExpectCmlError([&] { content.GetContentDate(1, identity, date); }, u"Getting content date", u"Invalid vector index",
                   ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    ExpectCmlError([&] { content.GetPolicy(0); }, u"Getting policy source from agent info content",
                   u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    const TestPolicy policy(kGroupSettingsNamespaceURI, u"1.0.0");
    ExpectCmlError([&] { content.SetPolicy(0, policy); }, u"Setting policy source for agent info content",
                   u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    // Ownership passes even when the index is refused: nothing leaks.
    ExpectCmlError([&] { content.SetPolicy(0, new TestPolicy(policy)); },
                   u"Setting policy source for agent info content", u"Invalid vector index",
                   ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    ExpectCmlError([&] { content.AddPolicy(static_cast<CPolicySource*>(nullptr)); }, u"Adding policy to policy vector",
                   u"NULL object pointer", ZEL_E_INVALIDARG);
    CModuleInfo module;
    ExpectCmlError([&] { module.AddPolicy(static_cast<CPolicySource*>(nullptr)); }, u"Adding policy to policy vector",
                   u"NULL object pointer", ZEL_E_INVALIDARG);
    ExpectCmlError([&] { module.SetPolicy(0, policy); }, u"Setting policy source for module info",
                   u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    EXPECT_EQ(content.GetPolicyCount() + module.GetPolicyCount(), 0u);
    ExpectCmlError([] { CSchemaInfo().Deserialize(CCmlDOM_Element()); }, u"Deserializing schema-info",
                   u"Null element received", ZEL_E_CML_NULL_ELEMENT);

    // Handing back the policy already held replaces nothing and frees nothing.
    CPolicySource* held = content.AddPolicy(policy);
    content.SetPolicy(0, held);
    EXPECT_EQ(&content.GetPolicy(0), held);
    EXPECT_EQ(content.GetPolicy(0).GetNamespaceURI(), kGroup);
}

// ---- Namespaces ----

TEST(AgentStartupAnnouncement, NamespacesComeFromModulePoliciesThenOwnPolicies) {
    CAgentStartupAnnouncement announcement;
    CAgentInfoContent& content = announcement.GetContent();
    content.AddParam(u"p", u"v");  // "/cml/common" is never added
    CModuleInfo module;
    module.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"2.0.1"));
    content.AddModuleInfo(module);
    content.AddPolicy(std::make_unique<TestPolicy>(kGroupSettingsNamespaceURI, u"1.0.0"));
    NamespaceSet set;
    announcement.CollectNamespaces(set);
    std::vector<std::u16string> uris;
    for (const CNamespace& ns : set) uris.push_back(ns.GetURI() + u" " + ns.GetVersion());
    EXPECT_EQ(uris, (std::vector<std::u16string>{kCml + u" 2.4.2", kAvp + u" 2.0.1", kGroup + u" 1.0.0"}));

    // A module policy is met first: the announcement's own conflicting one is the one refused.
    content.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"3.0.0"));
    NamespaceSet conflict;
    try {
        announcement.CollectNamespaces(conflict);
        ADD_FAILURE() << "no conflict";
    } catch (const CCmlException& e) {
        EXPECT_EQ(e.GetCode(), ZEL_E_CML_VERSION_CONFLICT);
    }
    EXPECT_EQ(conflict.find(CNamespace(kAvp, u""))->GetVersion(), u"2.0.1");
}

// ---- Copies and document lifetime ----

TEST(AgentStartupAnnouncement, CopiesAreDeepInEveryForm) {
    CAgentStartupAnnouncement original = GoldenAnnouncement();
    original.GetContent().AddPolicy(std::make_unique<TestPolicy>(kGroupSettingsNamespaceURI, u"1.0.0"));
    CModuleInfo module;
    module.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"2.0.1"));
    original.GetContent().AddModuleInfo(module);
    const std::string before = Document(original);

    auto copied = std::make_unique<CAgentStartupAnnouncement>(original);
    CAgentStartupAnnouncement assigned;
    assigned = original;
    std::unique_ptr<CAgentStartupAnnouncement> cloned = original.Clone();
    std::unique_ptr<CCmlRequest> asRequest = static_cast<const CCmlRequest&>(original).Clone();
    ASSERT_NE(dynamic_cast<CAgentStartupAnnouncement*>(asRequest.get()), nullptr);

    EXPECT_NE(&copied->GetContent().GetPolicy(0), &original.GetContent().GetPolicy(0));
    EXPECT_NE(&cloned->GetContent().GetModules()[2].GetPolicy(0), &module.GetPolicy(0));
    // Changing the original reaches none of the copies.
    original.GetContent().GetPolicy(0).SetSchemaVersion(u"7.7.7");
    original.GetContent().GetModules()[2].GetPolicy(0).SetSchemaVersion(u"7.7.7");
    original.GetContent().GetParams().clear();
    for (const CMessageBase* copy :
         {static_cast<const CMessageBase*>(copied.get()), static_cast<const CMessageBase*>(&assigned),
          static_cast<const CMessageBase*>(cloned.get()), static_cast<const CMessageBase*>(asRequest.get())}) {
        EXPECT_EQ(Document(*copy), before);
    }
    // Destroyed in an order unlike their creation; ASan checks that each freed only its own.
    cloned.reset();
    original = CAgentStartupAnnouncement();
    asRequest.reset();
    assigned = assigned;  // self-assignment keeps everything
    EXPECT_EQ(Document(assigned), before);
    copied.reset();
}

TEST(AgentStartupAnnouncement, PoliciesReadFromADocumentOutliveTheParser) {
    Parsed parsed(GoldenWithPolicy());
    auto read = std::make_unique<CAgentStartupAnnouncement>();
    read->Deserialize(parsed.Root());
    CAgentStartupAnnouncement copy(*read);
    CModuleInfo module;
    module.AddPolicy(read->GetContent().GetPolicy(0));
    parsed.DestroyParser();  // the parser's share of the document goes first

    EXPECT_EQ(Document(*read), GoldenWithPolicy());
    read.reset();
    EXPECT_EQ(Document(copy), GoldenWithPolicy());
    copy = CAgentStartupAnnouncement();
    EXPECT_NE(Narrow(module, 0).find("<controller-info host-name='127.0.0.1'"), std::string::npos);
}

}  // namespace
}  // namespace zel::cml
