// AVP sections, tasks and schedules, agent status and the simple responses: golden texts per
// family read back on both stream kinds (messages through the factories), two of them built
// from objects, the lexical forms of dates and durations, the reading rules as tables, and the
// failures.
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

// The message rows; those of the messages the agent sends are also built from objects.
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
};

TEST(ContentMessages, GoldenRows) {
    test::ExpectGoldenRows(kMessageRows);
    test::ExpectGoldenRows({
        {Reread<CCmlAvpSections>, kTuningGolden},
        {Reread<CCmlAvpSections>, kReadOnlyGolden},
        {Reread<CTaskStatus>, "<task-status xmlns='" CML "' status='0'/>\n"},
        {Reread<CTaskNode>, "<task name='raw' xmlns='" CML "'/>\n"},
    });
}

// Built with every setter once (several to a line), a policy, the task messages and the agent's
// status reply write their golden texts.
TEST(ContentMessages, BuiltObjectsWriteTheGoldenTexts) {
    CCmlAvpSections sections; sections.SetName(u"Tuning"); sections.SetVersion(u"3");
    CAvpSection scan(u"scan");
    CNameValuePair mode(u"mode", u"a'b&c"); mode.SetOrdinal(7);
    scan.InsertPair(CNameValuePair(u"depth", u"5")); scan.InsertPair(mode);
    sections.InsertSection(scan); sections.InsertSection(CAvpSection(nullptr, 4));
    EXPECT_EQ(Write<char16_t>(sections), kTuningGolden);

    XmlUtils::CDateTime time; time.SetYear(2004); time.SetMonth(3); time.SetDay(15); time.SetHour(8);
    time.SetMinute(30); time.SetHasTimeZone(true); time.SetTimeZoneHours(-5); time.SetTimeZoneMinutes(30);
    XmlUtils::CDuration duration, frequency; duration.SetNull(false); duration.SetMinutes(30);
    frequency.SetNull(false); frequency.SetNegative(true); frequency.SetDays(1);
    CSchedule schedule; schedule.SetTime(time); schedule.SetDuration(duration); schedule.SetFrequency(frequency);
    CTaskDescriptor task; task.SetName(u"nightly"); task.SetDescription(u"scan & clean"); task.SetSchedule(schedule);
    CPolicyReference reference; reference.SetName(u"Scan policy"); reference.SetPolicyNamespace(u"urn:scan");
    reference.SetVersion(u"2"); task.AddPolicy(reference);
    task.AddPolicy(Parsed("<policy name='p' schema-version='2.0.1' xmlns='" CML "/AvpSections'/>").Root());
    // The placeholder task is replaced, not joined.
    CConfigureTaskRequest configure; configure.SetRequestId(u"c-1"); configure.AddTask(CTaskStatus());
    configure.SetTask(0, task);
    EXPECT_EQ(Write<char>(configure), kMessageRows[2].text);
    // In an envelope, the task's policy brings its namespace into the schema locations.
    CCmlMessage message; message.AddRequest(configure.Clone().release());
    EXPECT_NE(Document(message).find(CML "/AvpSections ./schemas/"), std::string::npos);

    CTaskStatus status; status.SetName(u"scan <all>"); status.SetTaskId(u"t-1"); status.SetText(u"it's late");
    status.SetStatus(ZEL_I_AGENT_STATE_PAUSED); status.SetCode(ZEL_E_CML_REQUEST_NOT_RECOGNIZED);
    CTaskResponse reply(kTagGetTaskStatusResponse); reply.SetCode(ZEL_E_CML_DUPLICATE_KEY); reply.AddTask(status);
    EXPECT_EQ(Write<char>(CTaskResponse(reply)), kMessageRows[3].text);
    CTaskRequest get(kTagGetTaskStatusRequest); get.AddTaskId(u"t&1"); get.AddStatus(ZEL_I_AGENT_STATE_PAUSED);
    EXPECT_EQ(Write<char>(get), kMessageRows[1].text);

    CGetAgentStatusResponse statusResponse;
    CModuleInfo module; module.SetName(u"scanner"); module.SetVersion(u"1.2");
    statusResponse.SetRequestId(u"r-9"); statusResponse.GetContent().AddModuleInfo(module);
    statusResponse.GetContent().AddParam(u"depth", u"5");
    EXPECT_EQ(Write<char>(statusResponse), kMessageRows[5].text);
}

// The written form shows every field read; "null" is not in it.
TEST(ContentMessages, DateTimesAndDurationsReadAndWriteTheirLexicalForm) {
    const struct {
        const char *text, *written;
        bool null;
    } dates[] = {
        {"2004-03-15T08:30:00Z", "2004-03-15T08:30:00.000000Z", false},
        {"2005/10/26 14.37.05.25+01", "2005-10-26T14:37:05.250000+01:00", false},
        {"2004-03-xx", "2004-03-00T00:00:00.000000", false},
        {"99999999999-01-01T00:00:00", "0000-00-00T00:00:00.000000", true},
        {"12-1-2T3:4:-5.5", "0012-01-02T03:04:-5.500000", false},
        {"", "0000-00-00T00:00:00.000000", true},
    }, durations[] = {
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
            std::ostringstream narrow;
            value.Serialize(narrow);
            std::basic_ostringstream<char16_t> wide;
            value.Serialize(wide);
            EXPECT_EQ(ToUtf8(wide.str()), row.written) << row.text;
            EXPECT_EQ(narrow.str(), row.written) << row.text;
            EXPECT_EQ(value.IsNull(), row.null) << row.text;
        }
    };
    XmlUtils::CDateTime date;
    date.SetDay(9);
    check(date, dates);
    XmlUtils::CDuration duration;
    duration.SetHours(7);
    check(duration, durations);
}

// Sections without an ordinal take the next one; a foreign section is skipped; a clash stops
// the reading with the sections read before it kept.
TEST(ContentMessages, SectionOrdinalsAreSettledInDocumentOrder) {
    test::ExpectGoldenRows({
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
        {"status='continue pending' code='x'", ZEL_I_AGENT_STATE_RESUMING, ZEL_I_CML_NOT_SPECIFIED},
        {"status='Paused'", 0, ZEL_I_CML_NOT_SPECIFIED},
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
}

TEST(ContentMessages, ReadOnlySectionsEmbeddedInTheAnnouncementTravelAsVersion201) {
    CCmlAvpSections embedded(kAvpSectionsReadOnly);
    embedded.SetSchemaVersion(u"9.9.9");
    embedded.InsertSection(CAvpSection(u"limits"));
    CAgentStartupAnnouncement announcement;
    announcement.GetContent().AddPolicy(embedded);
    EXPECT_EQ(Write<char>(announcement.GetContent().GetPolicy(0)),
              "<policy xmlns='" CML "/RoAvpSections' schema-version='2.0.1'>\n    <section xmlns='" CML
              "/AvpSections' name='limits' ordinal='1'/>\n</policy>\n");
}

// One null element of each code, and the failures of their own.
TEST(ContentMessages, FailuresCarryTheirOperationTextAndCode) {
    const CCmlDOM_Element none;
    ExpectCmlError([&] { CSchedule().Deserialize(none); }, u"Parsing schedule", u"Missing schedule specification",
                   ZEL_E_CML_SCHEMA_INCONSISTENCY);
    ExpectCmlError([&] { XmlUtils::CDateTime().Parse(none); }, u"Processing dateTime value", u"Null element received",
                   ZEL_E_CML_NULL_ELEMENT);
    ExpectCmlError([] { Write<char>(CTaskDescriptor()); }, u"Serializing task descriptor", u"No policy specification",
                   ZEL_E_CML_INVALID_POLICY_CONTAINER);
    ExpectCmlError([] { CConfigureTaskRequest().AddTask(static_cast<CTaskSource*>(nullptr)); },
                   u"Adding task to task vector", u"NULL object pointer", ZEL_E_INVALIDARG);
    ExpectCmlError([] { CTaskNode().GetNamespaceURI(); }, u"Getting task node namespace", u"Null node",
                   ZEL_E_CML_INVALID_METHOD);
}

}  // namespace
}  // namespace zel::cml
