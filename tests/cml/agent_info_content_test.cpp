// CAgentInfoContent and its element classes (host, schema, date, module, update, task, param),
// the startup announcement: golden documents built and read back, element golden rows, the
// reading rules, status texts, policies, errors, copies and document lifetime.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "cml/cml_test_support.h"
#include "cml/dom_test_support.h"
#include "cml/golden_rows.h"
#include "runtime/message_table.h"
#include "runtime/zel_error.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using namespace test;

#define CML "http://schemas.zel.example/cml"

const std::u16string kCml = kCmlNamespaceURI;
const std::u16string kAvp = kAvpSectionsNamespaceURI;
const std::u16string kRoAvp = kRoAvpSectionsNamespaceURI;
const std::u16string kGroup = kGroupSettingsNamespaceURI;

// ---- Golden documents, written by hand from the writing rules ----

const char kGoldenHead[] =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<agent-startup-announcement xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'\n";

const char kGoldenStartTag[] =
    " xmlns='" CML "' request-id='r-17' schema-version='2.4.2'"
    " name='Agent &apos;Smith&apos; &amp; &lt;Co&gt;' agent-id='A-42'"
    " namespace='" CML "/DesktopAgent' version='3.1.0' model='ZX &quot;Pro&quot;'"
    " qpk-version='7.2' agent-install-path='/opt/zel/agent' daemon-install-path='/opt/zel/daemon'"
    " agent-status='0xc7560003' status-text='The sensor services library is not initialized and cannot be used.'"
    " last-qpk-path='/var/lib/zel/last.qpk' qpk-status='-952631273' qpk-status-description='Update&#xa;failed'"
    " groupname-hint='Lab &amp; Test' use-local-settings='true' send-new-schemas='false'"
    " register-agent='register-me'>\n";

const char kGoldenSectionsBeforeParams[] =
    "    <host-info xmlns='" CML "' os='Linux' version='6.1 &apos;lts&apos;'"
    " ip-address='10.1.2.3' host-name='host1.example' nbname='HOST1' nbdomain='LAB' ad-object-id='obj-1'"
    " ad-group-id='grp-2'/>\n" "    <schema-list>\n"
    "        <schema-info namespace='" CML "/AvpSections' version='2.0.1'"
    " name='AVP &amp; sections' overwrite='true' root='true'/>\n"
    "        <schema-info namespace='" CML "/GroupSettings' cpe-editable='true'"
    " get-from-agent='true' get-latest-compatible='true'/>\n" "    </schema-list>\n" "    <content-date-list>\n"
    "        <content-date xmlns='" CML "' identity='virus-defs' date='2026-12-01T10:00:00Z'/>\n"
    "        <content-date xmlns='" CML "' identity='engine &lt;x&gt;' date='20261201'/>\n"
    "    </content-date-list>\n" "    <module-list>\n"
    "        <module xmlns='" CML "' name='scanner' version='4.0.1' status='0x47210049' status-text='Active'>\n"
    "            <param xmlns='" CML "/common' name='level' value='high'/>\n"
    "            <param xmlns='" CML "/common' name='mode' value='a&apos;b' ordinal='0'/>\n"
    "        </module>\n" "        <module xmlns='" CML "' name='updater' version='1.0'/>\n"
    "    </module-list>\n" "    <update-list>\n"
    "        <update xmlns='" CML "' module='scanner' type='engine' version='4.0.2'/>\n"
    "        <update xmlns='" CML "' module='x'/>\n" "    </update-list>\n";

const char kGoldenParams[] =
    "    <agent-parameters>\n" "        <param xmlns='" CML "/common' name='interval' value='60'/>\n"
    "        <param xmlns='" CML "/common' name='path' value='C:\\x &amp; y' ordinal='3'/>\n"
    "    </agent-parameters>\n";

// The policy element is written by the DOM subtree writer, which keeps the DOM's attribute
// order: Xerces holds attributes sorted by name.
const char kGoldenPolicy[] =
    "    <policy name='Default Group' schema-version='1.0.0' version='3'"
    " xmlns='" CML "/GroupSettings'>\n" "        <controller-list>\n"
    "            <controller-info host-name='127.0.0.1' name='primary' port='8080'/>\n" "        </controller-list>\n"
    "    </policy>\n";

const char kGoldenTasksAndEnd[] =
    "    <task-list>\n" "        <task-info action='scan' message='Full &apos;scan&apos;'>\n"
    "            <descriptor-content namespace='" CML "/AvpSections' minOccurs='0'"
    " maxOccurs='unbounded' identity='id-1' policy-ref='true'/>\n"
    "            <descriptor-content namespace='" CML "/GroupSettings' global='true'/>\n"
    "        </task-info>\n" "        <task-info action='stop' message=''/>\n" "    </task-list>\n"
    "</agent-startup-announcement>\n";

std::string GoldenWithParams() {
    return std::string(kGoldenHead) + "    xsi:schemaLocation='" CML " ./schemas/cml/cml2_4_2.xsd'" + kGoldenStartTag +
           kGoldenSectionsBeforeParams + kGoldenParams + kGoldenTasksAndEnd;
}

std::string GoldenWithPolicy() {
    return std::string(kGoldenHead) + "    xsi:schemaLocation='" CML " ./schemas/cml/cml2_4_2.xsd\n"
           "    " CML "/GroupSettings ./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'" +
           kGoldenStartTag + kGoldenSectionsBeforeParams + kGoldenPolicy + kGoldenTasksAndEnd;
}

// Every setter once, several to a line: the built object must write the golden document.
void FillGoldenContent(CAgentInfoContent& c) {
    c.SetName(u"Agent 'Smith' & <Co>"); c.SetAgentId(u"A-42"); c.SetVersion(u"3.1.0"); c.SetModel(u"ZX \"Pro\"");
    c.SetNamespace(u"http://schemas.zel.example/cml/DesktopAgent"); c.SetQpkVersion(u"7.2");
    c.SetAgentInstallPath(u"/opt/zel/agent"); c.SetDaemonInstallPath(u"/opt/zel/daemon");
    c.SetGroupnameHint(u"Lab & Test"); c.SetUseLocalSettings(true); c.SetSendNewSchemas(false);
    c.SetRegisterAgent(u"register-me"); c.SetAgentStatus(ZEL_E_SS_NOT_INITIALIZED);
    c.SetLastQpkPath(u"/var/lib/zel/last.qpk"); c.SetQpkStatus(0xC7380017);
    c.SetQpkStatusDescription(u"Update\nfailed");
    CHostInfo host; host.SetOs(u"Linux"); host.SetVersion(u"6.1 'lts'"); host.SetIpAddress(u"10.1.2.3");
    host.SetHostName(u"host1.example");
    host.SetNbName(u"HOST1"); host.SetNbDomain(u"LAB"); host.SetAdObjectId(u"obj-1"); host.SetAdGroupId(u"grp-2");
    c.SetHostInfo(host);
    CSchemaInfo avp, group;
    avp.SetNamespace(kAvpSectionsNamespaceURI); avp.SetVersion(u"2.0.1"); avp.SetName(u"AVP & sections");
    avp.SetOverwrite(true); avp.SetRoot(true);
    group.SetNamespace(kGroupSettingsNamespaceURI); group.SetCpeEditable(true); group.SetGetFromAgent(true);
    group.SetGetLatestCompatible(true); c.AddSchemaInfo(avp); c.AddSchemaInfo(group);
    c.AddContentDate(u"virus-defs", u"2026-12-01T10:00:00Z");
    CContentDate engine; engine.SetIdentity(u"engine <x>"); engine.SetDate(u"20261201"); c.AddContentDate(engine);
    CModuleInfo scanner, updater;
    scanner.SetName(u"scanner"); scanner.SetVersion(u"4.0.1"); scanner.SetStatus(ZEL_I_AGENT_STATE_ACTIVE);
    scanner.AddParam(u"level", u"high");
    CNameValuePair mode(u"mode", u"a'b"); mode.SetOrdinal(0); scanner.AddParam(mode);
    updater.SetName(u"updater"); updater.SetVersion(u"1.0"); c.AddModuleInfo(scanner); c.AddModuleInfo(updater);
    CUpdateInfo engineUpdate, moduleOnly;
    engineUpdate.SetModule(u"scanner"); engineUpdate.SetType(u"engine"); engineUpdate.SetVersion(u"4.0.2");
    moduleOnly.SetModule(u"x"); c.AddUpdateInfo(engineUpdate); c.AddUpdateInfo(moduleOnly);
    c.AddParam(u"interval", u"60"); c.AddParam(u"path", u"C:\\x & y").SetOrdinal(3);
    CTaskInfoItem scan, stop; scan.SetTagName(kTagTaskInfo); scan.SetAction(u"scan"); scan.SetMessage(u"Full 'scan'");
    CTaskDescriptorContent sections, settings;
    sections.SetNamespace(kAvpSectionsNamespaceURI); sections.SetMinOccurs(u"0"); sections.SetMaxOccurs(u"unbounded");
    sections.SetIdentity(u"id-1"); sections.SetPolicyRef(true);
    settings.SetNamespace(kGroupSettingsNamespaceURI); settings.SetGlobal(true);
    scan.AddDescriptor(sections); scan.AddDescriptor(settings); stop.SetTagName(kTagTaskInfo); stop.SetAction(u"stop");
    c.AddTaskInfo(scan); c.AddTaskInfo(stop);
}

CAgentStartupAnnouncement GoldenAnnouncement() {
    CAgentStartupAnnouncement announcement;
    announcement.SetRequestId(u"r-17");
    FillGoldenContent(announcement.GetContent());
    return announcement;
}

std::string RoundTrip(const std::string& text) {
    CAgentStartupAnnouncement read;
    test::ReadElement(read, text);
    return Document(read);
}

TEST(AgentStartupAnnouncement, GoldenDocumentsBuiltAndReadBack) {
    CAgentStartupAnnouncement announcement = GoldenAnnouncement();
    EXPECT_EQ(Document(announcement), GoldenWithParams());
    EXPECT_EQ(RoundTrip(GoldenWithParams()), GoldenWithParams());
    {
        // The parser goes before the announcement is written: the policy keeps its document.
        const Parsed parsed(kGroupSettingsDocument);
        announcement.GetContent().AddPolicy(parsed.Root());
    }
    EXPECT_EQ(Document(announcement), GoldenWithPolicy());
    EXPECT_EQ(RoundTrip(GoldenWithPolicy()), GoldenWithPolicy());
    announcement.GetContent().SetName(u"\u00c9quipe \U0001F600 & co");
    const std::string narrow = Narrow(announcement, 3);
    EXPECT_EQ(Wide(announcement, 3), narrow);
    EXPECT_NE(narrow.find("name='\xc3\x89quipe \xf0\x9f\x98\x80 &amp; co'"), std::string::npos);
}

TEST(AgentInfoContent, EachSectionAloneMakesContent) {
    using C = CAgentInfoContent;
    const std::pair<void (*)(C&), const char*> cases[] = {
        {[](C& c) { c.GetHostInfo().SetNbName(u"N"); }, "<host-info xmlns='" CML "' os='' version='' nbname='N'/>"},
        {[](C& c) { c.AddSchemaInfo(CSchemaInfo()); }, "<schema-list>"},
        {[](C& c) { c.AddContentDate(u"i", u"d"); }, "<content-date-list>"},
        {[](C& c) { c.AddModuleInfo(CModuleInfo()); }, "<module-list>"},
        {[](C& c) { c.AddUpdateInfo(CUpdateInfo()); }, "<update-list>"},
        {[](C& c) { c.AddTaskInfo(CTaskInfoItem()); }, "<task-list>"},
        {[](C& c) { c.AddParam(u"n", u"v"); }, "<agent-parameters>"},
        {[](C& c) { c.AddPolicy(std::make_unique<TestPolicy>()); },
         "<policy xmlns='" CML "/GroupSettings' schema-version='1.0.0'>"},
    };
    EXPECT_FALSE(CAgentStartupAnnouncement().HasContent());
    for (const auto& [fill, firstLine] : cases) {
        CAgentStartupAnnouncement announcement;
        fill(announcement.GetContent());
        EXPECT_TRUE(announcement.HasContent()) << firstLine;
        std::ostringstream out;
        announcement.SerializeContent(out, 0);
        EXPECT_EQ(out.str().substr(0, out.str().find('\n')), firstLine);
    }
    CHostInfo host;
    host.SetTagName(u"other");
    host.SetIpAddress(u"x");
    host.Clear();
    EXPECT_TRUE(host.IsEmpty());
    EXPECT_EQ(Narrow(host, 1), "");
    EXPECT_EQ(host.GetTagName() + host.GetNamespaceURI(), u"other" + kCml);
}

#define PARAM "<param xmlns='" CML "/common'"

// Element classes read from a hand-written text and written back.
TEST(AgentInfoElements, GoldenRows) {
    test::ExpectGoldenRows({
        {Reread<CNameValuePair>, PARAM " name='n' value='' ordinal='-7'/>\n"},
        {Reread<CNameValuePair>, PARAM " name='n' ordinal='abc'/>\n", PARAM " name='n' value=''/>\n"},
        {Reread<CTaskDescriptorContent>, "<descriptor-content namespace='n&amp;s' minOccurs='1' maxOccurs='1'/>\n",
         "<descriptor-content namespace='n&amp;s'/>\n"},
        {Reread<CTaskDescriptorContent>, "<descriptor-content namespace='' minOccurs='01' maxOccurs='1 '/>\n"},
        {Reread<CTaskDescriptorContent>, "<descriptor-content namespace='' minOccurs='' maxOccurs=''/>\n",
         "<descriptor-content namespace=''/>\n"},
        // Prefixed and foreign params are skipped; with a policy, the policy is written in their place.
        {Reread<CModuleInfo>,
         "<m:module xmlns:m='" CML "' xmlns:c='" CML "/common' name='n' version='v' status='x'>" PARAM
         " name='a' value='1'/><other xmlns='" CML "/common'/><c:param name='prefixed' value='skipped'/></m:module>",
         "<m:module xmlns='" CML "' name='n' version='v'>\n    " PARAM " name='a' value='1'/>\n</m:module>\n"},
        {Reread<CModuleInfo>,
         "<module xmlns='" CML "' name='n' version='v'>" PARAM " name='a' value='1'/><policy xmlns='" CML
         "/GroupSettings'/>" PARAM " name='b' value='2'/></module>",
         "<module xmlns='" CML "' name='n' version='v'>\n    <policy xmlns='" CML "/GroupSettings'/>\n</module>\n"},
    });
}

TEST(AgentInfoContent, ReadingOrderDecidesBetweenParametersAndPolicies) {
    const std::string params = "<agent-parameters>" PARAM " name='p' value='1'/>"
                               "<param name='in-cml' value='skipped'/></agent-parameters>";
    const std::string policy = "<policy xmlns='" CML "/GroupSettings' schema-version='1.0.0'/>";
    const struct {
        std::string children;
        std::size_t params, policies;
    } cases[] = {
        {params, 1, 0},
        {params + policy + params, 1, 1},
        {"<p:x xmlns:p='urn:other'/>" + params, 1, 1},
        {"<unprefixed-no-namespace xmlns=''/>", 0, 1},
    };
    for (const auto& c : cases) {
        const test::ParsedXml xml("<a xmlns='" CML "'>" + c.children + "</a>");
        CAgentInfoContent content;
        content.AddParam(u"old", u"dropped");
        content.Deserialize(CCmlDOM_Element(xml.Root()));
        EXPECT_EQ(content.GetParamCount(), c.params) << c.children;
        EXPECT_EQ(content.GetPolicyCount(), c.policies) << c.children;
        if (c.params != 0) { EXPECT_EQ(content.GetParams()[0].GetName(), u"p"); }
    }
}

TEST(AgentInfoContent, UnrecognisedChildrenAreSkippedAndListsStartEmpty) {
    const test::ParsedXml xml(
        "<a xmlns='" CML "' xmlns:c='" CML "' name='n'><c:host-info os='prefixed'/>"
        "<unknown-section>" PARAM " name='x' value='y'/></unknown-section>"
        "<schema-list><schema-info namespace='n1'/><other/><schema-info xmlns='urn:x' namespace='n2'/>"
        "<c:schema-info namespace='n3'/></schema-list>"
        "<module-list><module name='m'/><module xmlns='" CML "/common' name='wrong'/></module-list>"
        "<task-list><task-info action='a'><descriptor-content namespace='d1'/>"
        "<descriptor-content xmlns='urn:x' namespace='d2'/></task-info></task-list></a>");
    CAgentInfoContent content;
    FillGoldenContent(content);
    content.AddPolicy(std::make_unique<TestPolicy>());
    content.Deserialize(CCmlDOM_Element(xml.Root()));
    // Not the prefixed host info, schema info or the foreign ones; nothing of the old content.
    EXPECT_EQ(content.GetHostInfo().GetOs() + content.GetModel() + content.GetSchemas().at(0).GetNamespace(), u"n1");
    EXPECT_EQ(content.GetAgentStatus(), ZEL_I_CML_NOT_SPECIFIED);
    EXPECT_EQ(content.GetSchemaCount() * 100 + content.GetModuleCount() * 10 +
                  content.GetTasks().at(0).GetDescriptors().size(),
              111u);
    EXPECT_EQ(content.GetContentDateCount() + content.GetUpdateCount() + content.GetParamCount() +
                  content.GetPolicyCount() + content.GetTaskCount(), 1u);
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
            test::ParseInto(parser, text);
            EXPECT_EQ(parser.GetDocumentElement().GetAttribute(kTagStatusText), expected) << std::hex << entry->code;
        }
    }
}

TEST(AgentInfoElements, OwnTagTextsSurviveCopiesAndMoves) {
    // A long text lives on the heap, a short one inside the string: both must move with the object.
    for (const char16_t* tag : {u"custom-parameter-tag-long-enough", u"t"}) {
        const std::string expected = "<" + ToUtf8(tag) + " xmlns='urn:custom' name='n' value='v'/>\n";
        std::vector<CNameValuePair> pairs;
        {
            CNameValuePair custom(u"n", u"v"), assigned, moveAssigned;
            custom.SetTagName(tag);
            custom.SetNamespaceURI(u"urn:custom");
            pairs.push_back(custom);
            pairs.push_back(std::move(custom));
            assigned = pairs[0];
            pairs.push_back(assigned);
            moveAssigned = std::move(assigned);
            pairs.push_back(moveAssigned);
            // What is left behind still reads (as an empty text or the old one).
            EXPECT_LE(assigned.GetTagName().size() + custom.GetNamespaceURI().size(), 64u);
        }
        for (int i = 0; i < 20; ++i) pairs.emplace_back();  // reallocation moves every entry
        for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(Narrow(pairs[i], 0), expected) << i;
        EXPECT_EQ(pairs[4].GetTagName() + pairs[4].GetNamespaceURI(), std::u16string(kTagParam) + kCommonNamespaceURI);
        pairs[0].SetNamespaceURI(kCommonNamespaceURI);
        pairs[1] = pairs[0];
        EXPECT_EQ(pairs[1].GetNamespaceURI() + pairs[1].GetTagName(), kCommonNamespaceURI + std::u16string(tag));
    }
}

TEST(AgentInfoContent, ReadOnlyAvpPoliciesGetTheirSchemaVersionInEveryForm) {
    using C = CAgentInfoContent;
    using P = std::unique_ptr<TestPolicy>;
    using Store = void (*)(C&, P);
    const Store forms[] = {
        [](C& c, P p) { c.AddPolicy(std::move(p)); },
        [](C& c, P p) { c.AddPolicy(p.release()); },
        [](C& c, P p) { c.AddPolicy(static_cast<const CPolicySource&>(*p)); },
        [](C& c, P p) { c.AddPolicy(std::make_unique<TestPolicy>()), c.SetPolicy(0, *p); },
        [](C& c, P p) { c.AddPolicy(std::make_unique<TestPolicy>()), c.SetPolicy(0, p.release()); },
        [](C& c, P p) {
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
    std::u16string identity, date;
    const TestPolicy policy;
    CModuleInfo module;
    const char16_t* index = u"Invalid vector index";
    const char16_t* setContent = u"Setting policy source for agent info content";
    const uint32_t bounds = ZEL_E_CML_INDEX_OUT_OF_BOUNDS;
    const struct {
        std::function<void()> action;
        const char16_t *operation, *description;
        uint32_t code;
    } cases[] = {
        {[&] { content.GetContentDate(1, identity, date); }, u"Getting content date", index, bounds},
        {[&] { content.GetPolicy(0); }, u"Getting policy source from agent info content", index, bounds},
        {[&] { content.SetPolicy(0, policy); }, setContent, index, bounds},
        {[&] { content.SetPolicy(0, new TestPolicy(policy)); }, setContent, index, bounds},  // taken over: no leak
        {[&] { content.AddPolicy(static_cast<CPolicySource*>(nullptr)); }, u"Adding policy to policy vector",
         u"NULL object pointer", ZEL_E_INVALIDARG},
        {[&] { module.SetPolicy(0, policy); }, u"Setting policy source for module info", index, bounds},
        {[&] { module.GetPolicy(0); }, u"Getting policy source from module info", index, bounds},
        {[] { CSchemaInfo().Deserialize(CCmlDOM_Element()); }, u"Deserializing schema-info", u"Null element received",
         ZEL_E_CML_NULL_ELEMENT},
    };
    for (const auto& c : cases) ExpectCmlError(c.action, c.operation, c.description, c.code);
    EXPECT_EQ(content.GetPolicyCount() + module.GetPolicyCount(), 0u);
    // Handing back the policy already held replaces nothing and frees nothing.
    CPolicySource* held = content.AddPolicy(policy);
    content.SetPolicy(0, held);
    EXPECT_EQ(&content.GetPolicy(0), held);
}

// Modules are stored as copies in "/cml"; namespaces come from module policies, then own ones.
TEST(AgentStartupAnnouncement, NamespacesComeFromModulePoliciesThenOwnPolicies) {
    CAgentStartupAnnouncement announcement; CAgentInfoContent& content = announcement.GetContent();
    content.AddParam(u"p", u"v");  // "/cml/common" is never added
    EXPECT_EQ(content.AddContentDate(u"i", nullptr).GetDate(), u"");
    CModuleInfo module; module.SetNamespaceURI(kCommonNamespaceURI);
    module.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"2.0.1"));
    EXPECT_EQ(content.AddModuleInfo(module).GetNamespaceURI(), kCml);
    EXPECT_EQ(module.GetNamespaceURI(), kCommonNamespaceURI);
    module.AddParam(u"p", u"1"); CModuleInfo& taken = content.AddModuleInfo(std::move(module));
    EXPECT_EQ(taken.GetNamespaceURI() + std::u16string(taken.GetParamCount(), u'x'), kCml + u"x");
    content.AddPolicy(std::make_unique<TestPolicy>());
    NamespaceSet set;
    announcement.CollectNamespaces(set);
    std::vector<std::u16string> uris;
    for (const CNamespace& ns : set) uris.push_back(ns.GetURI() + u" " + ns.GetVersion());
    EXPECT_EQ(uris, (std::vector<std::u16string>{kCml + u" 2.4.2", kAvp + u" 2.0.1", kGroup + u" 1.0.0"}));
    // A module policy is met first: the announcement's own conflicting one is the one refused.
    content.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"3.0.0"));
    NamespaceSet conflict;
    EXPECT_THROW(announcement.CollectNamespaces(conflict), CCmlException);
    EXPECT_EQ(conflict.find(CNamespace(kAvp, u""))->GetVersion(), u"2.0.1");
}

TEST(AgentStartupAnnouncement, CopiesAreDeepInEveryFormAndOutliveTheParser) {
    CAgentStartupAnnouncement original = GoldenAnnouncement();
    original.GetContent().AddPolicy(std::make_unique<TestPolicy>());
    CModuleInfo module; module.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"2.0.1"));
    original.GetContent().AddModuleInfo(module); const std::string before = Document(original);

    auto copied = std::make_unique<CAgentStartupAnnouncement>(original);
    CAgentStartupAnnouncement assigned;
    assigned = original;
    std::unique_ptr<CAgentStartupAnnouncement> cloned = original.Clone();
    std::unique_ptr<CCmlRequest> asRequest = static_cast<const CCmlRequest&>(original).Clone();
    // Changing the original reaches none of the copies.
    original.GetContent().GetPolicy(0).SetSchemaVersion(u"7.7.7");
    original.GetContent().GetModules()[2].GetPolicy(0).SetSchemaVersion(u"7.7.7");
    original.GetContent().GetParams().clear();
    for (const CMessageBase* m : {copied.get(), &assigned, cloned.get()}) EXPECT_EQ(Document(*m), before);
    EXPECT_EQ(Document(*asRequest), before);
    // Destroyed in an order unlike their creation; ASan checks that each freed only its own.
    cloned.reset();
    original = CAgentStartupAnnouncement();
    asRequest.reset();
    assigned = assigned;  // self-assignment keeps everything
    EXPECT_EQ(Document(assigned), before);
    copied.reset();

    // Policies read from a document outlive the parser, in the reader, its copy and a module.
    Parsed parsed(GoldenWithPolicy());
    auto read = std::make_unique<CAgentStartupAnnouncement>();
    read->Deserialize(parsed.Root());
    CAgentStartupAnnouncement copy(*read);
    CModuleInfo holder;
    holder.AddPolicy(read->GetContent().GetPolicy(0));
    parsed.DestroyParser();
    EXPECT_EQ(Document(*read), GoldenWithPolicy());
    read.reset();
    EXPECT_EQ(Document(copy), GoldenWithPolicy());
    copy = CAgentStartupAnnouncement();
    EXPECT_NE(Narrow(holder, 0).find("<controller-info host-name='127.0.0.1'"), std::string::npos);
}

}  // namespace
}  // namespace zel::cml
