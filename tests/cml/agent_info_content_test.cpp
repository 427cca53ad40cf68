// CAgentInfoContent and its element classes (host, schema, date, module, update, task, param),
// the startup announcement: golden documents built and read back, element golden rows, the
// reading rules, policies, errors, copies and document lifetime.
#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "cml/cml_test_support.h"
#include "cml/golden_rows.h"

namespace zel::cml {
namespace {

using namespace test;

#define CML "http://schemas.zel.example/cml"

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
    "        <schema-info namespace='" CML "/AvpSections' version='2.0.1' name='AVP &amp; sections' overwrite='true'"
    " root='true' cpe-editable='true' get-from-agent='true' get-latest-compatible='true'/>\n" "    </schema-list>\n"
    "    <content-date-list>\n" "        <content-date xmlns='" CML "' identity='engine &lt;x&gt;' date='20261201'/>\n"
    "    </content-date-list>\n" "    <module-list>\n"
    "        <module xmlns='" CML "' name='scanner' version='4.0.1' status='0x47210049' status-text='Active'>\n"
    "            <param xmlns='" CML "/common' name='level' value='high'/>\n"
    "            <param xmlns='" CML "/common' name='mode' value='a&apos;b' ordinal='0'/>\n"
    "        </module>\n" "        <module xmlns='" CML "' name='updater' version='1.0'/>\n"
    "    </module-list>\n" "    <update-list>\n"
    "        <update xmlns='" CML "' module='scanner' type='engine' version='4.0.2'/>\n"
    "        <update xmlns='" CML "' module='x'/>\n" "    </update-list>\n";

const char kGoldenParams[] =
    "    <agent-parameters>\n"
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
    " maxOccurs='unbounded' identity='id-1' policy-ref='true' global='true'/>\n"
    "        </task-info>\n" "        <task-info action='stop' message=''/>\n" "    </task-list>\n"
    "</agent-startup-announcement>\n";

const std::string kGoldenWithParams = std::string(kGoldenHead) + "    xsi:schemaLocation='" CML
    " ./schemas/cml/cml2_4_2.xsd'" + kGoldenStartTag + kGoldenSectionsBeforeParams + kGoldenParams + kGoldenTasksAndEnd;

const std::string kGoldenWithPolicy = std::string(kGoldenHead) + "    xsi:schemaLocation='" CML
    " ./schemas/cml/cml2_4_2.xsd\n    " CML "/GroupSettings ./schemas/cml/GroupSettings/GroupSettings1_0_0.xsd'" +
    kGoldenStartTag + kGoldenSectionsBeforeParams + kGoldenPolicy + kGoldenTasksAndEnd;

// Every setter once, several to a line: the built object must write the golden document.
CAgentStartupAnnouncement GoldenAnnouncement() {
    CAgentStartupAnnouncement announcement;
    announcement.SetRequestId(u"r-17");
    CAgentInfoContent& c = announcement.GetContent();
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
    CSchemaInfo schema;
    schema.SetNamespace(kAvpSectionsNamespaceURI); schema.SetVersion(u"2.0.1"); schema.SetName(u"AVP & sections");
    schema.SetOverwrite(true); schema.SetRoot(true); schema.SetCpeEditable(true); schema.SetGetFromAgent(true);
    schema.SetGetLatestCompatible(true); c.AddSchemaInfo(schema); c.AddContentDate(u"engine <x>", u"20261201");
    CModuleInfo scanner, updater;
    scanner.SetName(u"scanner"); scanner.SetVersion(u"4.0.1"); scanner.SetStatus(ZEL_I_AGENT_STATE_ACTIVE);
    scanner.AddParam(u"level", u"high");
    CNameValuePair mode(u"mode", u"a'b"); mode.SetOrdinal(0); scanner.AddParam(mode);
    updater.SetName(u"updater"); updater.SetVersion(u"1.0"); c.AddModuleInfo(scanner); c.AddModuleInfo(updater);
    CUpdateInfo engineUpdate, moduleOnly;
    engineUpdate.SetModule(u"scanner"); engineUpdate.SetType(u"engine"); engineUpdate.SetVersion(u"4.0.2");
    moduleOnly.SetModule(u"x"); c.AddUpdateInfo(engineUpdate); c.AddUpdateInfo(moduleOnly);
    c.AddParam(u"path", u"C:\\x & y").SetOrdinal(3);
    CTaskInfoItem scan, stop; scan.SetTagName(kTagTaskInfo); scan.SetAction(u"scan"); scan.SetMessage(u"Full 'scan'");
    CTaskDescriptorContent sections;
    sections.SetNamespace(kAvpSectionsNamespaceURI); sections.SetMinOccurs(u"0"); sections.SetMaxOccurs(u"unbounded");
    sections.SetIdentity(u"id-1"); sections.SetPolicyRef(true); sections.SetGlobal(true);
    scan.AddDescriptor(sections); stop.SetTagName(kTagTaskInfo); stop.SetAction(u"stop");
    c.AddTaskInfo(scan); c.AddTaskInfo(stop);
    return announcement;
}

TEST(AgentStartupAnnouncement, GoldenDocumentsBuiltAndReadBack) {
    CAgentStartupAnnouncement announcement = GoldenAnnouncement();
    EXPECT_EQ(Document(announcement), kGoldenWithParams);
    CAgentStartupAnnouncement read;
    ReadElement(read, kGoldenWithParams);
    EXPECT_EQ(Document(read), kGoldenWithParams);
    // The parser goes before the announcement is written: the policy keeps its document.
    announcement.GetContent().AddPolicy(Parsed(kGroupSettingsDocument).Root());
    EXPECT_EQ(Document(announcement), kGoldenWithPolicy);
    EXPECT_EQ(Wide(announcement, 3), Narrow(announcement, 3));

    // A copy of an announcement read from a document outlives the parser and the original.
    Parsed parsed(kGoldenWithPolicy);
    read.Deserialize(parsed.Root());
    const CAgentStartupAnnouncement copy(read);
    parsed.DestroyParser();
    read = CAgentStartupAnnouncement();
    EXPECT_EQ(Document(copy), kGoldenWithPolicy);
}

#define PARAM "<param xmlns='" CML "/common'"

// Element classes read from a hand-written text and written back.
TEST(AgentInfoElements, GoldenRowsAndOwnTagTextsThroughCopiesAndMoves) {
    test::ExpectGoldenRows({
        {Reread<CNameValuePair>, PARAM " name='n' value='' ordinal='-7'/>\n"},
        {Reread<CNameValuePair>, PARAM " name='n' ordinal='abc'/>\n", PARAM " name='n' value=''/>\n"},
        // A bound of exactly "1" and an empty one are left out; a near miss is kept.
        {Reread<CTaskDescriptorContent>, "<descriptor-content namespace='n&amp;s' minOccurs='1' maxOccurs=''/>\n",
         "<descriptor-content namespace='n&amp;s'/>\n"},
        {Reread<CTaskDescriptorContent>, "<descriptor-content namespace='' minOccurs='01' maxOccurs='1 '/>\n"},
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

    // Own tag texts survive copies and moves.
    CNameValuePair custom(u"n", u"v"), assigned, moveAssigned;
    custom.SetTagName(u"custom-tag");
    custom.SetNamespaceURI(u"urn:custom");
    const CNameValuePair copied(custom);
    assigned = copied;
    moveAssigned = CNameValuePair(copied);
    const CNameValuePair moved(std::move(custom));
    // What is left behind still reads, as an empty text.
    EXPECT_EQ(custom.GetTagName() + custom.GetNamespaceURI(), u"");
    EXPECT_EQ(Narrow(moved), "<custom-tag xmlns='urn:custom' name='n' value='v'/>\n");
    EXPECT_EQ(Narrow(copied) + Narrow(assigned) + Narrow(moveAssigned), Narrow(moved) + Narrow(moved) + Narrow(moved));
}

// Any one section makes content (the host info has a test of its own for being empty); the reading
// order decides between parameters and policies; index and pointer errors; and the namespaces of
// an announcement.
TEST(AgentInfoContent, ContentReadingOrderErrorsAndNamespaces) {
    EXPECT_FALSE(CAgentStartupAnnouncement().HasContent());
    CAgentStartupAnnouncement host, tasks;
    host.GetContent().GetHostInfo().SetNbName(u"N");
    std::ostringstream out;
    host.SerializeContent(out, 0);
    EXPECT_EQ(out.str(), "<host-info xmlns='" CML "' os='' version='' nbname='N'/>\n");
    tasks.GetContent().AddTaskInfo(CTaskInfoItem());
    EXPECT_TRUE(host.HasContent() && tasks.HasContent());

    const std::string params = "<agent-parameters>" PARAM " name='p' value='1'/>"
                               "<param name='in-cml' value='skipped'/></agent-parameters>";
    const struct {
        std::string children;
        std::size_t params, policies;
    } cases[] = {
        // A policy takes the place of the parameters read before it.
        {params + "<p:x xmlns:p='urn:other'/>" + params, 1, 1},
        {"<unprefixed-no-namespace xmlns=''/>", 0, 1},
    };
    CAgentInfoContent content;
    for (const auto& c : cases) {
        test::ReadElement(content, "<a xmlns='" CML "'>" + c.children + "</a>");
        EXPECT_EQ(content.GetParamCount(), c.params) << c.children;
        EXPECT_EQ(content.GetPolicyCount(), c.policies) << c.children;
        if (c.params != 0) { EXPECT_EQ(content.GetParams()[0].GetName(), u"p"); }
    }

    // On the content last read, holding one policy: the policy handed over is taken even though
    // the index is refused (no leak).
    const uint32_t bounds = ZEL_E_CML_INDEX_OUT_OF_BOUNDS;
    ExpectCmlError([&] { content.SetPolicy(1, new TestPolicy()); },
                   u"Setting policy source for agent info content", u"Invalid vector index", bounds);
    ExpectCmlError([&] { content.AddPolicy(static_cast<CPolicySource*>(nullptr)); }, u"Adding policy to policy vector",
                   u"NULL object pointer", ZEL_E_INVALIDARG);
    ExpectCmlError([] { CModuleInfo().GetPolicy(0); }, u"Getting policy source from module info",
                   u"Invalid vector index", bounds);
    std::u16string identity, date;
    content.AddContentDate(CContentDate());
    ExpectCmlError([&] { content.GetContentDate(1, identity, date); }, u"Getting content date", u"Invalid vector index",
                   bounds);
    EXPECT_EQ(content.GetPolicyCount() * 10 + content.GetContentDateCount(), 11u);
    // Handing back the policy already held replaces nothing and frees nothing; a read-only AVP
    // policy still gets the AVP-sections schema version, as on every other way of storing one.
    CPolicySource* held = content.AddPolicy(std::make_unique<TestPolicy>(kRoAvpSectionsNamespaceURI));
    held->SetSchemaVersion(u"9.9.9");
    content.SetPolicy(1, held);
    EXPECT_EQ(&content.GetPolicy(1), held);
    EXPECT_EQ(held->GetSchemaVersion(), u"2.0.1");

    // Modules are stored as copies in "/cml"; namespaces come from module policies, then own ones.
    CAgentInfoContent& own = tasks.GetContent();
    own.AddParam(u"p", u"v");  // "/cml/common" is never added
    CModuleInfo module;
    module.SetNamespaceURI(kCommonNamespaceURI);
    module.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"2.0.1"));
    EXPECT_EQ(own.AddModuleInfo(module).GetNamespaceURI(), kCmlNamespaceURI);
    own.AddPolicy(std::make_unique<TestPolicy>());
    NamespaceSet set;
    tasks.CollectNamespaces(set);
    std::u16string uris;
    for (const CNamespace& ns : set) uris += ns.GetURI() + u" " + ns.GetVersion() + u"\n";
    EXPECT_EQ(uris, u"" CML " 2.4.2\n" CML "/AvpSections 2.0.1\n" CML "/GroupSettings 1.0.0\n");
    // A module policy is met first: the announcement's own conflicting one is the one refused.
    own.AddPolicy(std::make_unique<TestPolicy>(kAvpSectionsNamespaceURI, u"3.0.0"));
    NamespaceSet conflict;
    EXPECT_THROW(tasks.CollectNamespaces(conflict), CCmlException);
    EXPECT_EQ(conflict.find(CNamespace(kAvpSectionsNamespaceURI, u""))->GetVersion(), u"2.0.1");
}

TEST(AgentStartupAnnouncement, CopiesAreDeepAndReadingSkipsUnrecognisedChildren) {
    CAgentStartupAnnouncement original = GoldenAnnouncement();
    original.GetContent().AddPolicy(std::make_unique<TestPolicy>());
    const std::string before = Document(original);
    CAgentStartupAnnouncement assigned;
    assigned = original;
    const std::unique_ptr<CCmlRequest> asRequest = static_cast<const CCmlRequest&>(original).Clone();
    // Changing the original reaches neither copy; the original goes first.
    original.GetContent().GetPolicy(0).SetSchemaVersion(u"7.7.7");
    original.GetContent().GetParams().clear();
    original = CAgentStartupAnnouncement();
    assigned = assigned;  // self-assignment keeps everything
    EXPECT_EQ(Document(assigned), before);
    EXPECT_EQ(Document(*asRequest), before);

    // Reading the copy skips unrecognised children, and its lists start empty.
    CAgentInfoContent& content = assigned.GetContent();
    test::ReadElement(content,
        "<a xmlns='" CML "' xmlns:c='" CML "' name='n'><c:host-info os='prefixed'/>"
        "<unknown-section>" PARAM " name='x' value='y'/></unknown-section>"
        "<schema-list><schema-info namespace='n1'/><other/><schema-info xmlns='urn:x' namespace='n2'/>"
        "<c:schema-info namespace='n3'/></schema-list>"
        "<module-list><module name='m'/><module xmlns='" CML "/common' name='wrong'/></module-list>"
        "<task-list><task-info action='a'><descriptor-content namespace='d1'/><descriptor-content namespace='d3'/>"
        "<descriptor-content xmlns='urn:x' namespace='d2'/></task-info></task-list></a>");
    // Not the prefixed host info, schema info or the foreign ones; nothing of the old content.
    EXPECT_EQ(content.GetHostInfo().GetOs() + content.GetModel() + content.GetSchemas().at(0).GetNamespace(), u"n1");
    EXPECT_EQ(content.GetAgentStatus(), ZEL_I_CML_NOT_SPECIFIED);
    EXPECT_EQ(content.GetSchemaCount() * 100 + content.GetModuleCount() * 10 +
                  content.GetTasks().at(0).GetDescriptors().size(),
              112u);
    EXPECT_EQ(content.GetContentDateCount() + content.GetUpdateCount() + content.GetParamCount() +
                  content.GetPolicyCount() + content.GetTaskCount(), 1u);
}

}  // namespace
}  // namespace zel::cml
