// AVP sections, tasks and schedules, agent status and the simple responses: golden texts per
// family read back on both stream kinds (messages through the factories, and in one envelope),
// the same texts built from objects, the lexical forms of dates and durations, and the reading
// rules and failures as tables.
#include <gtest/gtest.h>

#include "SensorIndependence/CmlLib/agent_status.h"
#include "SensorIndependence/CmlLib/avp_sections.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/task_messages.h"
#include "cml/cml_test_support.h"
#include "cml/golden_rows.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using namespace XmlUtils;

using namespace test;

#define CML "http://schemas.zel.example/cml"
#define REQ " request-id='' schema-version='2.4.2'"

const char kTuningGolden[] =
    "<policy xmlns='" CML "/AvpSections' name='Tuning' version='3' schema-version='2.0.1'>\n"
    "    <section xmlns='" CML "/AvpSections' name='scan' ordinal='1'>\n"
    "        <param xmlns='" CML "/common' name='depth' value='5' ordinal='1'/>\n"
    "        <param xmlns='" CML "/common' name='mode' value='a&apos;b&amp;c' ordinal='7'/>\n" "    </section>\n"
    "    <section xmlns='" CML "/AvpSections' ordinal='4'/>\n" "</policy>\n";

const char kReadOnlyGolden[] =
    "<policy xmlns='" CML "/RoAvpSections' overwrite='true' schema-version='2.0.1' valid='false'>\n</policy>\n";

// The message rows, also built from objects and carried in one envelope.
const std::vector<test::GoldenRow> kMessageRows = {
    {Reread<CCmlRequest>, "<pause-task-request xmlns='" CML "' request-id='p-1' schema-version='2.4.2'"
                          " need-reply='false'>\n    <task-id value='a'/>\n    <task-id value='b'/>\n"
                          "</pause-task-request>\n"},
    {Reread<CCmlRequest>, "<get-task-status-request xmlns='" CML "'" REQ ">\n    <task-id value='t&amp;1'/>\n"
                          "    <status value='0x4721004b'/>\n</get-task-status-request>\n"},
    {Reread<CCmlRequest>, "<configure-task-request xmlns='" CML "' request-id='c-1' schema-version='2.4.2'>\n"
                          "    <task xmlns='" CML "' name='nightly' description='scan &amp; clean'>\n"
                          "        <schedule xmlns='" CML "' time='2004-03-15T08:30:00.000000-05:30'"
                          " duration='P0Y0M0DT0H30M0S' frequency='-P0Y0M1DT0H0M0S'/>\n"
                          "        <policy-ref xmlns='" CML "' name='Scan policy' namespace='urn:scan' version='2'/>\n"
                          "        <policy name='p' schema-version='2.0.1' xmlns='" CML "/AvpSections'/>\n"
                          "    </task>\n</configure-task-request>\n"},
    {Reread<CCmlResponse>, "<get-task-status-response xmlns='" CML "'" REQ " code='0xc7380024'>\n    <task-status"
                           " xmlns='" CML "' name='scan &lt;all&gt;' task-id='t-1' status='0x4721004b'"
                           " code='0xc7380004' text='it&apos;s late'/>\n</get-task-status-response>\n"},
    {Reread<CCmlRequest>, "<agent-status-announcement xmlns='" CML "'" REQ " status='0x47210049'/>\n"},
    {Reread<CCmlResponse>, "<get-agent-status-response xmlns='" CML "' request-id='r-9' schema-version='2.4.2'>\n"
                           "    <module-list>\n        <module xmlns='" CML "' name='scanner' version='1.2'/>\n"
                           "    </module-list>\n    <agent-parameters>\n        <param xmlns='" CML "/common'"
                           " name='depth' value='5'/>\n    </agent-parameters>\n</get-agent-status-response>\n"},
    {Reread<CCmlRequest>, "<get-agent-status-request xmlns='" CML "' request-id='s-1' schema-version='2.4.2'>\n"
                          "    <module name='a'/>\n    <module name='b&apos;'/>\n</get-agent-status-request>\n"},
    {Reread<CCmlResponse>, "<get-agent-info-response xmlns='" CML "'" REQ " name='Agent' agent-id='A-1'"
                           " namespace='urn:a' version='4.2'>\n    <host-info xmlns='" CML "' os='linux'"
                           " version=''/>\n</get-agent-info-response>\n"},
    {Reread<CCmlResponse>, "<get-copyright-info-response xmlns='" CML "'" REQ ">\n"
                           "    <text>(c) A &amp; B &lt;x&gt; &apos;y&apos;</text>\n</get-copyright-info-response>\n"},
    {Reread<CCmlResponse>, "<get-patent-info-response xmlns='" CML "'" REQ ">\n    <text></text>\n"
                           "</get-patent-info-response>\n"},
};

TEST(ContentMessages, GoldenRows) {
    test::ExpectGoldenRows(kMessageRows);
    test::ExpectGoldenRows({
        {Reread<CCmlAvpSections>, kTuningGolden},
        {Reread<CCmlAvpSections>, kReadOnlyGolden},
        {Reread<CSchedule>, "<schedule xmlns='" CML "' time='2004-03-15T08:30:00.000000-05:30'"
                            " duration='-P0Y0M1DT0H0M0S' frequency='P0Y0M0DT0H0M0S'/>\n"},
        {Reread<CTaskStatus>, "<task-status xmlns='" CML "' status='0'/>\n"},
        {Reread<CTaskNode>, "<task name='raw' xmlns='" CML "'/>\n"},
    });
}

// Every setter once, several to a line: the built objects write the golden texts.
TEST(ContentMessages, BuiltObjectsWriteTheGoldenTexts) {
    CCmlAvpSections sections; sections.SetName(u"Tuning"); sections.SetVersion(u"3");
    CAvpSection scan(u"scan");
    CNameValuePair mode(u"mode", u"a'b&c"); mode.SetOrdinal(7);
    scan.InsertPair(CNameValuePair(u"depth", u"5")); scan.InsertPair(mode);
    sections.InsertSection(scan); sections.InsertSection(CAvpSection(nullptr, 4));
    EXPECT_EQ(Write<char16_t>(sections), kTuningGolden);
    CCmlAvpSections readOnly(kAvpSectionsReadOnly, nullptr, nullptr, kAvpSectionsNamespaceURI);
    readOnly.SetOverwrite(true); readOnly.SetValid(false);
    EXPECT_EQ(Write<char16_t>(readOnly), kReadOnlyGolden);

    CDateTime time; time.SetYear(2004); time.SetMonth(3); time.SetDay(15); time.SetHour(8); time.SetMinute(30);
    time.SetHasTimeZone(true); time.SetTimeZoneHours(-5); time.SetTimeZoneMinutes(30);
    CDuration duration, frequency; duration.SetNull(false); duration.SetMinutes(30);
    frequency.SetNull(false); frequency.SetNegative(true); frequency.SetDays(1);
    CSchedule schedule; schedule.SetTime(time); schedule.SetDuration(duration); schedule.SetFrequency(frequency);
    CTaskDescriptor task; task.SetName(u"nightly"); task.SetDescription(u"scan & clean"); task.SetSchedule(schedule);
    CPolicyReference reference;
    reference.SetName(u"Scan policy"); reference.SetPolicyNamespace(u"urn:scan"); reference.SetVersion(u"2");
    task.AddPolicy(reference);
    {
        const Parsed parsed("<policy name='p' schema-version='2.0.1' xmlns='" CML "/AvpSections'/>");
        task.AddPolicy(new CPolicyNode(parsed.Root()));
    }
    CConfigureTaskRequest configure; configure.SetRequestId(u"c-1"); configure.AddTask(task);
    EXPECT_EQ(Write<char>(configure), kMessageRows[2].text);

    CTaskStatus status;
    status.SetName(u"scan <all>"); status.SetTaskId(u"t-1"); status.SetStatus(ZEL_I_AGENT_STATE_PAUSED);
    status.SetCode(ZEL_E_CML_REQUEST_NOT_RECOGNIZED); status.SetText(u"it's late");
    CTaskResponse response(kTagGetTaskStatusResponse);
    response.SetCode(ZEL_E_CML_DUPLICATE_KEY); response.AddTask(status);
    const CTaskResponse copy(response);
    EXPECT_EQ(Write<char>(copy), kMessageRows[3].text);
    CTaskRequest pause(kTagPauseTaskRequest);
    pause.SetRequestId(u"p-1"); pause.SetNeedReply(false); pause.AddTaskId(u"a"); pause.AddTaskId(u"b");
    EXPECT_EQ(Write<char>(pause), kMessageRows[0].text);
    CTaskRequest get(kTagGetTaskStatusRequest); get.AddTaskId(u"t&1"); get.AddStatus(ZEL_I_AGENT_STATE_PAUSED);
    EXPECT_EQ(Write<char>(get), kMessageRows[1].text);

    CAgentStatusAnnouncement announcement; announcement.GetContent().SetStatus(ZEL_I_AGENT_STATE_ACTIVE);
    EXPECT_EQ(Write<char>(announcement), kMessageRows[4].text);
    CGetAgentStatusResponse statusResponse;
    CModuleInfo module; module.SetName(u"scanner"); module.SetVersion(u"1.2");
    statusResponse.SetRequestId(u"r-9"); statusResponse.GetContent().AddModuleInfo(module);
    statusResponse.GetContent().AddParam(u"depth", u"5");
    EXPECT_EQ(Write<char>(statusResponse), kMessageRows[5].text);
    CGetAgentStatusRequest statusRequest;
    statusRequest.SetRequestId(u"s-1"); statusRequest.AddModule(u"a"); statusRequest.AddModule(u"b'");
    EXPECT_EQ(Write<char>(statusRequest), kMessageRows[6].text);
    CAgentInfoResponse info;
    info.GetContent().SetName(u"Agent"); info.GetContent().SetAgentId(u"A-1"); info.GetContent().SetNamespace(u"urn:a");
    info.GetContent().SetVersion(u"4.2"); info.GetContent().GetHostInfo().SetOs(u"linux");
    EXPECT_EQ(Write<char>(info), kMessageRows[7].text);
    CTextResponse copyright(kTagGetCopyrightInfoResponse); copyright.SetBody(u"(c) A & B <x> 'y'");
    EXPECT_EQ(Write<char>(copyright), kMessageRows[8].text);
    const CTextResponse patent(kTagGetPatentInfoResponse);
    EXPECT_EQ(Write<char>(patent), kMessageRows[9].text);

    // The golden rows read each message through the factories; in an envelope, the configured
    // task's policy brings its namespace into the schema locations.
    CCmlMessage message;
    message.AddRequest(configure);
    const std::string document = Document(message);
    EXPECT_NE(document.find(CML "/AvpSections ./schemas/"), std::string::npos) << document;
}

// The written form shows every field read; "null" is not in it.
TEST(ContentMessages, DateTimesAndDurationsReadAndWriteTheirLexicalForm) {
    const struct {
        const char *text, *written;
        bool null;
    } dates[] = {
        {"2004-03-15T08:30:00Z", "2004-03-15T08:30:00.000000Z", false},
        {"2005/10/26 14.37.05.25+01", "2005-10-26T14:37:05.250000+01:00", false},
        {"2005-10-26T14:37:05.25+01:30", "2005-10-26T14:37:05.250000+01:30", false},
        {"2004-03-xx", "2004-03-00T00:00:00.000000", false},
        {"99999999999-01-01T00:00:00", "0000-00-00T00:00:00.000000", true},
        {"12-1-2T3:4:-5.5", "0012-01-02T03:04:-5.500000", false},
        {"", "0000-00-00T00:00:00.000000", true},
    }, durations[] = {
        {"PT90M1.5S", "P0Y0M0DT0H90M1.5S", false},
        {"-P1Y2M3DT4H5M6.5S", "-P1Y2M3DT4H5M6.5S", false},
        {"P2.9Y1HT1D0.000001S", "P2Y0M0DT0H0M1e-06S", false},
        {"P1DxT2H", "P0Y0M1DT0H0M0S", false},
        {"P99999999999DT1H", "P0Y0M0DT0H0M0S", false},
        {"PT1e999S", "P0Y0M0DT0H0M0S", true},
        {"P", "P0Y0M0DT0H0M0S", true},
        {"", "P0Y0M0DT0H0M0S", true},
    };
    const auto check = [](const auto& before, const auto& rows) {
        for (const auto& row : rows) {
            auto value = before;
            const Parsed parsed(std::string("<t v='") + row.text + "'/>");
            value.Parse(parsed.Root().GetElement()->getAttributeNode(u"v"));
            std::basic_ostringstream<char16_t> wide;
            std::ostringstream narrow;
            value.Serialize(wide);
            value.Serialize(narrow);
            EXPECT_EQ(ToUtf8(wide.str()), row.written) << row.text;
            EXPECT_EQ(narrow.str(), row.written) << row.text;
            EXPECT_EQ(value.IsNull(), row.null) << row.text;
        }
    };
    CDateTime date;
    date.SetDay(9);
    check(date, dates);
    CDuration duration;
    duration.SetHours(7);
    check(duration, durations);
}

// Sections without an ordinal take the next one; a foreign section is skipped; a clash stops
// the reading with the sections read before it kept.
TEST(ContentMessages, SectionOrdinalsAreSettledInDocumentOrder) {
    test::ExpectGoldenRows({
        {Reread<CCmlAvpSections>,
         "<policy xmlns='" CML "/AvpSections'><section/><section name='b'/><section/></policy>",
         "<policy xmlns='" CML "/AvpSections' schema-version='2.0.1'>\n    <section xmlns='" CML "/AvpSections'"
         " ordinal='1'/>\n    <section xmlns='" CML "/AvpSections' name='b' ordinal='2'/>\n    <section xmlns='" CML
         "/AvpSections' ordinal='3'/>\n</policy>\n"},
        {Reread<CCmlAvpSections>, "<policy xmlns='" CML "/AvpSections'><section ordinal='5'/><section/><section"
         " ordinal='0x2'/><section xmlns='" CML "/RoAvpSections' ordinal='abc'/><section xmlns='urn:x'/></policy>",
         "<policy xmlns='" CML "/AvpSections' schema-version='2.0.1'>\n    <section xmlns='" CML "/AvpSections'"
         " ordinal='2'/>\n    <section xmlns='" CML "/AvpSections' ordinal='5'/>\n    <section xmlns='" CML
         "/AvpSections' ordinal='6'/>\n    <section xmlns='" CML "/AvpSections' ordinal='7'/>\n</policy>\n"},
    });
    const struct {
        const char* sections;
        std::size_t kept;
        const char16_t* operation;
    } rows[] = {
        {"<section ordinal='3'/><other/><section ordinal='3'/>", 1, u"Inserting AVP section"},
        {"<section ordinal='4294967294'/><section/>", 1, u"Inserting AVP section"},
        {"<section><param xmlns='" CML "/common' ordinal='1'/><param xmlns='" CML "/common' ordinal='1'/></section>",
         0, u"Inserting name-value pair"},
    };
    for (const auto& row : rows) {
        const Parsed parsed(std::string("<policy xmlns='" CML "/AvpSections'>") + row.sections + "</policy>");
        CCmlAvpSections sections(kAvpSectionsReadOnly);
        test::ExpectCmlError([&] { sections.Deserialize(parsed.Root()); }, row.operation, u"Insertion failed",
                             ZEL_E_CML_DUPLICATE_KEY);
        EXPECT_EQ(sections.GetSections().size(), row.kept) << row.sections;
    }
}

TEST(ContentMessages, TaskStatusWordsAndCodesAreRead) {
    const struct {
        const char* attributes;
        uint32_t status, code;
    } rows[] = {
        {"status='paused' code='12'", ZEL_I_AGENT_STATE_PAUSED, 12},
        {"status='not found' code='0x4721004b'", ZEL_I_AGENT_STATE_NOT_FOUND, ZEL_I_AGENT_STATE_PAUSED},
        {"status='continue pending' code='x'", ZEL_I_AGENT_STATE_RESUMING, ZEL_I_CML_NOT_SPECIFIED},
        {"status='Paused'", 0, ZEL_I_CML_NOT_SPECIFIED},
        {"status='0x4721004b'", ZEL_I_AGENT_STATE_PAUSED, ZEL_I_CML_NOT_SPECIFIED},
        {"", ZEL_I_CML_NOT_SPECIFIED, ZEL_I_CML_NOT_SPECIFIED},
    };
    for (const auto& row : rows) {
        CTaskStatus status;
        test::ReadElement(status, std::string("<task-status xmlns='" CML "' ") + row.attributes + "/>");
        EXPECT_EQ(std::make_pair(status.GetStatus(), status.GetCode()), std::make_pair(row.status, row.code))
            << row.attributes;
    }
}

// A task outside "/cml" is no task, a foreign child of a task is a policy; parameters before a
// policy are dropped, and the policy is written in their place; the last "/cml" "text" is the body.
TEST(ContentMessages, ChildrenOutsideTheirNamespaceAreSkippedOrBecomePolicies) {
    test::ExpectGoldenRows({
        {Reread<CCmlRequest>, "<configure-task-request xmlns='" CML "'><task xmlns='urn:x'/><task name='t'>"
         "<schedule time='2004-01-02T03:04:05'/><other/><p xmlns='urn:p'/></task></configure-task-request>",
         "<configure-task-request xmlns='" CML "'" REQ ">\n    <task xmlns='" CML "' name='t'>\n        <schedule"
         " xmlns='" CML "' time='2004-01-02T03:04:05.000000' duration='P0Y0M0DT0H0M0S' frequency='P0Y0M0DT0H0M0S'/>\n"
         "        <p xmlns='urn:p'/>\n    </task>\n</configure-task-request>\n"},
        {Reread<CCmlResponse>, "<get-agent-status-response xmlns='" CML "' status='010'><agent-parameters><param"
         " xmlns='" CML "/common'/></agent-parameters><p xmlns='urn:p'/><module-list><module/><module xmlns='urn:m'/>"
         "</module-list></get-agent-status-response>",
         "<get-agent-status-response xmlns='" CML "'" REQ " status='0x8'>\n    <module-list>\n        <module xmlns='"
         CML "' name='' version=''/>\n    </module-list>\n    <p xmlns='urn:p'/>\n</get-agent-status-response>\n"},
        {Reread<CCmlResponse>, "<get-patent-info-response xmlns='" CML "'><text>a</text><text xmlns='urn:x'>b</text>"
         "<text>c&amp;d</text></get-patent-info-response>",
         "<get-patent-info-response xmlns='" CML "'" REQ ">\n    <text>c&amp;d</text>\n</get-patent-info-response>\n"},
    });
    // Parameters after the policy stay.
    const Parsed parsed("<get-agent-status-response xmlns='" CML "' status='8'><p xmlns='urn:p'/><agent-parameters>"
                        "<param xmlns='" CML "/common'/><param/></agent-parameters><module-list><module/>"
                        "</module-list></get-agent-status-response>");
    CGetAgentStatusResponse read;
    read.Deserialize(parsed.Root());
    const CAgentStatusContent& c = std::as_const(read).GetContent();
    EXPECT_EQ(c.GetParamCount() + c.GetPolicyCount() + c.GetModuleCount() + c.GetModules().size(), 4u);
    EXPECT_EQ(c.GetStatus() + c.GetPolicy(0).GetNamespaceURI().size(), 8u + 5u);
}

TEST(ContentMessages, ReadOnlySectionsEmbeddedInTheAnnouncementTravelAsVersion201) {
    CCmlAvpSections embedded(kAvpSectionsReadOnly);
    embedded.SetSchemaVersion(u"9.9.9");
    embedded.InsertSection(CAvpSection(u"limits"));
    CAgentStartupAnnouncement announcement;
    announcement.GetContent().AddPolicy(embedded);
    NamespaceSet namespaces;
    announcement.CollectNamespaces(namespaces);
    EXPECT_EQ(namespaces.find(CNamespace(kRoAvpSectionsNamespaceURI, u""))->GetVersion(), kAvpSectionsSchemaVersion);
    const std::string policy = "<policy xmlns='" CML "/RoAvpSections' schema-version='2.0.1'>\n    <section xmlns='"
                               CML "/AvpSections' name='limits' ordinal='1'/>\n</policy>\n";
    EXPECT_EQ(Write<char>(announcement.GetContent().GetPolicy(0)), policy);
    // Read back, the document is a policy node of the content, which reads as the same sections.
    CAgentStartupAnnouncement back;
    test::ReadElement(back, Write<char>(announcement));
    CCmlAvpSections sections;
    sections.Deserialize(dynamic_cast<const CPolicyNode&>(back.GetContent().GetPolicy(0)).GetElement());
    EXPECT_EQ(Write<char>(sections), policy);
}

TEST(ContentMessages, FailuresCarryTheirOperationTextAndCode) {
    const CCmlDOM_Element none;
    const char16_t *nullElement = u"Null element received", *index = u"Invalid vector index";
    const uint32_t schema = ZEL_E_CML_SCHEMA_INCONSISTENCY, noElement = ZEL_E_CML_NULL_ELEMENT;
    const uint32_t bounds = ZEL_E_CML_INDEX_OUT_OF_BOUNDS;
    const struct {
        std::function<void()> act;
        const char16_t *operation, *description;
        uint32_t code;
    } rows[] = {
        {[&] { CSchedule().Deserialize(none); }, u"Parsing schedule", u"Missing schedule specification", schema},
        {[&] { CTaskDescriptor().Deserialize(none); }, u"Parsing task descriptor", u"Missing task specification",
         schema},
        {[&] { CTaskStatus().Deserialize(none); }, u"Parsing task status", u"Missing task status element", schema},
        {[&] { CConfigureTaskRequest().Deserialize(none); }, u"Parsing configure-task-request element",
         u"No task specifications", schema},
        {[&] { CDateTime().Parse(none); }, u"Processing dateTime value", nullElement, noElement},
        {[&] { CDuration().Parse(none); }, u"Processing duration value", nullElement, noElement},
        {[&] { CAvpSection().Deserialize(none); }, u"Processing AVP section", nullElement, noElement},
        {[&] { Write<char>(CTaskDescriptor()); }, u"Serializing task descriptor", u"No policy specification",
         ZEL_E_CML_INVALID_POLICY_CONTAINER},
        {[&] { CConfigureTaskRequest().GetTask(0); }, u"Getting task object", index, bounds},
        {[&] { CTaskResponse(kTagStopTaskResponse).SetTask(0, CTaskStatus()); }, u"Setting task response task source",
         index, bounds},
        {[&] { CConfigureTaskRequest().AddTask(static_cast<CTaskSource*>(nullptr)); }, u"Adding task to task vector",
         u"NULL object pointer", ZEL_E_INVALIDARG},
        {[&] { CTaskNode().GetNamespaceURI(); }, u"Getting task node namespace", u"Null node",
         ZEL_E_CML_INVALID_METHOD},
        {[&] { CAgentStatusContent().GetPolicy(0); }, u"Getting policy source from agent status content", index,
         bounds},
    };
    for (const auto& row : rows) test::ExpectCmlError(row.act, row.operation, row.description, row.code);
}

}  // namespace
}  // namespace zel::cml
