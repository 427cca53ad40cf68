// AVP sections, tasks and schedules, agent status and the simple responses: one table of
// golden texts per family (each row also round-trips write -> parse -> write on both stream
// kinds, through the factories for messages), the lexical forms of dates and durations, and
// the reading rules and failures as tables.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "SensorIndependence/CmlLib/agent_status.h"
#include "SensorIndependence/CmlLib/avp_sections.h"
#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/task_messages.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "cml/cml_test_support.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

using XmlUtils::CDateTime;
using XmlUtils::CDuration;

using test::Parsed;
using test::Write;

// Something a row builds: written on either stream kind, and read back into a fresh object of
// the same class (for messages, the one the factory names for the tag).
class Subject {
public:
    virtual ~Subject() = default;
    virtual std::string Narrow() const = 0;
    virtual std::string Wide() const = 0;
    virtual std::unique_ptr<Subject> ReadBack(const CCmlDOM_Element& element) const = 0;
    virtual const std::type_info& Type() const = 0;
};

template <typename T>
class SubjectOf : public Subject {
public:
    explicit SubjectOf(std::unique_ptr<T> object) : m_object(std::move(object)) {}
    std::string Narrow() const override { return Write<char>(*m_object); }
    std::string Wide() const override { return Write<char16_t>(*m_object); }
    const std::type_info& Type() const override { return typeid(*m_object); }
    std::unique_ptr<Subject> ReadBack(const CCmlDOM_Element& element) const override {
        std::unique_ptr<T> fresh;
        if constexpr (std::is_base_of_v<CCmlRequest, T>) {
            fresh.reset(dynamic_cast<T*>(CreateRequest(element.GetNodeName()).release()));
        } else if constexpr (std::is_base_of_v<CCmlResponse, T>) {
            fresh.reset(dynamic_cast<T*>(CreateResponse(element.GetNodeName()).release()));
        } else {
            fresh = std::make_unique<T>();
        }
        if (!fresh) return nullptr;  // the factory chose another class
        fresh->Deserialize(element);
        return std::make_unique<SubjectOf<T>>(std::move(fresh));
    }
    const T& Object() const { return *m_object; }

private:
    std::unique_ptr<T> m_object;
};

template <typename T>
std::unique_ptr<Subject> Make(T object) {
    return std::make_unique<SubjectOf<T>>(std::make_unique<T>(std::move(object)));
}

struct GoldenRow {
    const char* name;
    std::function<std::unique_ptr<Subject>()> build;
    std::string golden;
};

#define CML "http://schemas.zel.example/cml"

// Each golden line of `text` indented by `levels` more levels.
std::string Indented(const std::string& text, int levels) {
    std::string out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) out += std::string(4 * levels, ' ') + line + "\n";
    return out;
}

// A policy document as another program writes it (attributes in the DOM's order, so that it
// is written back alike); the parsed document lives on in the node.
std::unique_ptr<CPolicyNode> PolicyNode(const std::string& text) {
    const Parsed parsed(text);
    return std::make_unique<CPolicyNode>(parsed.Root());
}

// ---- AVP sections ----

CCmlAvpSections TuningSections() {
    CCmlAvpSections sections;
    sections.SetName(u"Tuning");
    sections.SetVersion(u"3");
    CAvpSection scan(u"scan");
    scan.InsertPair(CNameValuePair(u"depth", u"5"));
    CNameValuePair mode(u"mode", u"a'b&c");
    mode.SetOrdinal(7);
    scan.InsertPair(mode);
    sections.InsertSection(scan);
    sections.InsertSection(CAvpSection(nullptr, 4));
    return sections;
}

const std::vector<GoldenRow>& AvpRows() {
    static const std::vector<GoldenRow> rows = {
        {"sections in ordinal order, pairs in theirs", [] { return Make(TuningSections()); },
         "<policy xmlns='" CML "/AvpSections' name='Tuning' version='3' schema-version='2.0.1'>\n"
         "    <section xmlns='" CML "/AvpSections' name='scan' ordinal='1'>\n"
         "        <param xmlns='" CML "/common' name='depth' value='5' ordinal='1'/>\n"
         "        <param xmlns='" CML "/common' name='mode' value='a&apos;b&amp;c' ordinal='7'/>\n"
         "    </section>\n"
         "    <section xmlns='" CML "/AvpSections' ordinal='4'/>\n"
         "</policy>\n"},
        {"read-only form, overwriting and invalid",
         [] {
             CCmlAvpSections sections(kAvpSectionsReadOnly, nullptr, nullptr, kAvpSectionsNamespaceURI);
             sections.SetOverwrite(true);
             sections.SetValid(false);
             return Make(sections);
         },
         "<policy xmlns='" CML "/RoAvpSections' overwrite='true' schema-version='2.0.1' valid='false'>\n"
         "</policy>\n"},
        {"one section",
         [] {
             CAvpSection section(u"s<1>", 2);
             section.InsertPair(CNameValuePair(u"n", u""));
             return Make(section);
         },
         "<section xmlns='" CML "/AvpSections' name='s&lt;1&gt;' ordinal='2'>\n"
         "    <param xmlns='" CML "/common' name='n' value='' ordinal='1'/>\n"
         "</section>\n"},
    };
    return rows;
}

// ---- Tasks and schedules ----

CSchedule NightlySchedule() {
    CSchedule schedule;
    CDateTime time;
    time.SetYear(2004);
    time.SetMonth(3);
    time.SetDay(15);
    time.SetHour(8);
    time.SetMinute(30);
    time.SetHasTimeZone(true);
    time.SetTimeZoneHours(-5);
    time.SetTimeZoneMinutes(30);
    schedule.SetTime(time);
    CDuration duration;
    duration.SetNull(false);
    duration.SetMinutes(30);
    schedule.SetDuration(duration);
    CDuration frequency;
    frequency.SetNull(false);
    frequency.SetNegative(true);
    frequency.SetDays(1);
    schedule.SetFrequency(frequency);
    return schedule;
}

CTaskDescriptor NightlyTask() {
    CTaskDescriptor task;
    task.SetName(u"nightly");
    task.SetDescription(u"scan & clean");
    task.SetSchedule(NightlySchedule());
    CPolicyReference reference;
    reference.SetName(u"Scan policy");
    reference.SetPolicyNamespace(u"urn:scan");
    reference.SetVersion(u"2");
    task.AddPolicy(reference);
    task.AddPolicy(PolicyNode("<policy name='p' schema-version='2.0.1' xmlns='" CML "/AvpSections'/>").release());
    return task;
}

const char kNightlyTaskGolden[] =
    "<task xmlns='" CML "' name='nightly' description='scan &amp; clean'>\n"
    "    <schedule xmlns='" CML "' time='2004-03-15T08:30:00.000000-05:30' duration='P0Y0M0DT0H30M0S'"
    " frequency='-P0Y0M1DT0H0M0S'/>\n"
    "    <policy-ref xmlns='" CML "' name='Scan policy' namespace='urn:scan' version='2'/>\n"
    "    <policy name='p' schema-version='2.0.1' xmlns='" CML "/AvpSections'/>\n"
    "</task>\n";

CTaskStatus PausedStatus() {
    CTaskStatus status;
    status.SetName(u"scan <all>");
    status.SetTaskId(u"t-1");
    status.SetStatus(ZEL_I_AGENT_STATE_PAUSED);
    status.SetCode(ZEL_E_CML_REQUEST_NOT_RECOGNIZED);
    status.SetText(u"it's late");
    return status;
}

const char kPausedStatusGolden[] =
    "<task-status xmlns='" CML "' name='scan &lt;all&gt;' task-id='t-1' status='0x4721004b' code='0xc7380004'"
    " text='it&apos;s late'/>\n";

const std::vector<GoldenRow>& TaskRows() {
    static const std::vector<GoldenRow> rows = {
        {"schedule with a null frequency",
         [] {
             CSchedule schedule;
             schedule.SetTime(NightlySchedule().GetTime());
             schedule.SetDuration(NightlySchedule().GetFrequency());
             return Make(schedule);
         },
         "<schedule xmlns='" CML "' time='2004-03-15T08:30:00.000000-05:30' duration='-P0Y0M1DT0H0M0S'"
         " frequency='P0Y0M0DT0H0M0S'/>\n"},
        {"task descriptor", [] { return Make(NightlyTask()); }, kNightlyTaskGolden},
        {"task status", [] { return Make(PausedStatus()); }, kPausedStatusGolden},
        {"task status with state 0 and nothing else",
         [] {
             CTaskStatus status;
             status.SetStatus(0);
             return Make(status);
         },
         "<task-status xmlns='" CML "' status='0'/>\n"},
        {"task node",
         [] {
             const Parsed parsed("<task name='raw' xmlns='" CML "'/>");
             return Make(CTaskNode(parsed.Root()));
         },
         "<task name='raw' xmlns='" CML "'/>\n"},
        {"pause-task request naming two tasks",
         [] {
             CTaskRequest request(kTagPauseTaskRequest);
             request.SetRequestId(u"p-1");
             request.SetNeedReply(false);
             request.AddTaskId(u"a");
             request.AddTaskId(u"b");
             return Make(request);
         },
         "<pause-task-request xmlns='" CML "' request-id='p-1' schema-version='2.4.2' need-reply='false'>\n"
         "    <task-id value='a'/>\n"
         "    <task-id value='b'/>\n"
         "</pause-task-request>\n"},
        {"get-task-status request with a status",
         [] {
             CTaskRequest request(kTagGetTaskStatusRequest);
             request.AddTaskId(u"t&1");
             request.AddStatus(ZEL_I_AGENT_STATE_PAUSED);
             return Make(request);
         },
         "<get-task-status-request xmlns='" CML "' request-id='' schema-version='2.4.2'>\n"
         "    <task-id value='t&amp;1'/>\n"
         "    <status value='0x4721004b'/>\n"
         "</get-task-status-request>\n"},
        {"configure-task request",
         [] {
             CConfigureTaskRequest request;
             request.SetRequestId(u"c-1");
             request.AddTask(NightlyTask());
             return Make(request);
         },
         std::string("<configure-task-request xmlns='" CML "' request-id='c-1' schema-version='2.4.2'>\n") +
             Indented(kNightlyTaskGolden, 1) + "</configure-task-request>\n"},
        {"get-task-status response",
         [] {
             CTaskResponse response(kTagGetTaskStatusResponse);
             response.SetCode(ZEL_E_CML_DUPLICATE_KEY);
             response.AddTask(PausedStatus());
             return Make(response);
         },
         std::string("<get-task-status-response xmlns='" CML "' request-id='' schema-version='2.4.2'"
                     " code='0xc7380024'>\n") +
             Indented(kPausedStatusGolden, 1) + "</get-task-status-response>\n"},
    };
    return rows;
}

// ---- Agent status and simple responses ----

const std::vector<GoldenRow>& StatusRows() {
    static const std::vector<GoldenRow> rows = {
        {"status announcement without modules",
         [] {
             CAgentStatusAnnouncement announcement;
             announcement.GetContent().SetStatus(ZEL_I_AGENT_STATE_ACTIVE);
             return Make(announcement);
         },
         "<agent-status-announcement xmlns='" CML "' request-id='' schema-version='2.4.2' status='0x47210049'/>\n"},
        {"status response with a module and a parameter",
         [] {
             CGetAgentStatusResponse response;
             response.SetRequestId(u"r-9");
             CModuleInfo module;
             module.SetName(u"scanner");
             module.SetVersion(u"1.2");
             response.GetContent().AddModuleInfo(module);
             response.GetContent().AddParam(u"depth", u"5");
             return Make(response);
         },
         "<get-agent-status-response xmlns='" CML "' request-id='r-9' schema-version='2.4.2'>\n"
         "    <module-list>\n"
         "        <module xmlns='" CML "' name='scanner' version='1.2'/>\n"
         "    </module-list>\n"
         "    <agent-parameters>\n"
         "        <param xmlns='" CML "/common' name='depth' value='5'/>\n"
         "    </agent-parameters>\n"
         "</get-agent-status-response>\n"},
        {"status request naming two modules",
         [] {
             CGetAgentStatusRequest request;
             request.SetRequestId(u"s-1");
             request.AddModule(u"a");
             request.AddModule(u"b'");
             return Make(request);
         },
         "<get-agent-status-request xmlns='" CML "' request-id='s-1' schema-version='2.4.2'>\n"
         "    <module name='a'/>\n"
         "    <module name='b&apos;'/>\n"
         "</get-agent-status-request>\n"},
        {"agent-info response",
         [] {
             CAgentInfoResponse response;
             response.GetContent().SetName(u"Agent");
             response.GetContent().SetAgentId(u"A-1");
             response.GetContent().SetNamespace(u"urn:a");
             response.GetContent().SetVersion(u"4.2");
             response.GetContent().GetHostInfo().SetOs(u"linux");
             return Make(response);
         },
         "<get-agent-info-response xmlns='" CML "' request-id='' schema-version='2.4.2' name='Agent' agent-id='A-1'"
         " namespace='urn:a' version='4.2'>\n"
         "    <host-info xmlns='" CML "' os='linux' version=''/>\n"
         "</get-agent-info-response>\n"},
        {"copyright text escaped as element text",
         [] {
             CTextResponse response(kTagGetCopyrightInfoResponse);
             response.SetBody(u"(c) A & B <x> 'y'");
             return Make(response);
         },
         "<get-copyright-info-response xmlns='" CML "' request-id='' schema-version='2.4.2'>\n"
         "    <text>(c) A &amp; B &lt;x&gt; &apos;y&apos;</text>\n"
         "</get-copyright-info-response>\n"},
        {"empty patent text", [] { return Make(CTextResponse(kTagGetPatentInfoResponse)); },
         "<get-patent-info-response xmlns='" CML "' request-id='' schema-version='2.4.2'>\n"
         "    <text></text>\n"
         "</get-patent-info-response>\n"},
    };
    return rows;
}

std::vector<const GoldenRow*> AllRows() {
    std::vector<const GoldenRow*> rows;
    for (const auto* family : {&AvpRows(), &TaskRows(), &StatusRows()}) {
        for (const GoldenRow& row : *family) rows.push_back(&row);
    }
    return rows;
}

// ---- Golden texts and round trips, on both stream kinds ----

template <typename CharT>
class ContentRoundTrip : public ::testing::Test {};
using CharTypes = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(ContentRoundTrip, CharTypes);

TYPED_TEST(ContentRoundTrip, EveryClassWritesItsGoldenTextAndReadsItBack) {
    const auto written = [](const Subject& subject) {
        return std::is_same_v<TypeParam, char> ? subject.Narrow() : subject.Wide();
    };
    for (const GoldenRow* row : AllRows()) {
        SCOPED_TRACE(row->name);
        const std::unique_ptr<Subject> built = row->build();
        const std::string text = written(*built);
        EXPECT_EQ(text, row->golden);
        const Parsed parsed(text);
        const std::unique_ptr<Subject> back = built->ReadBack(parsed.Root());
        ASSERT_NE(back, nullptr) << "the factory reads this element with another class";
        EXPECT_EQ(written(*back), row->golden);
    }
}

TEST(ContentMessages, AnEnvelopeCarryingEveryMessageReadsBackWithTheSameClasses) {
    CCmlMessage message;
    std::vector<const std::type_info*> types;
    for (const GoldenRow* row : AllRows()) {
        const std::unique_ptr<Subject> subject = row->build();
        const Parsed parsed(subject->Narrow());
        if (auto request = CreateRequest(parsed.Root().GetNodeName()); typeid(*request) == subject->Type()) {
            request->Deserialize(parsed.Root());
            message.AddRequest(std::move(request));
        } else if (auto response = CreateResponse(parsed.Root().GetNodeName()); typeid(*response) == subject->Type()) {
            response->Deserialize(parsed.Root());
            message.AddResponse(std::move(response));
        }
    }
    ASSERT_EQ(message.GetRequests().size() + message.GetResponses().size(), 10u);
    std::ostringstream document;
    message.SerializeDocument(document);
    const Parsed parsed(document.str());
    CCmlMessage back;
    back.Deserialize(parsed.Envelope());
    ASSERT_EQ(back.GetRequests().size(), message.GetRequests().size());
    for (std::size_t i = 0; i < back.GetRequests().size(); ++i)
        EXPECT_EQ(typeid(*back.GetRequests()[i]), typeid(*message.GetRequests()[i])) << i;
    for (std::size_t i = 0; i < back.GetResponses().size(); ++i)
        EXPECT_EQ(typeid(*back.GetResponses()[i]), typeid(*message.GetResponses()[i])) << i;
    std::ostringstream again;
    back.SerializeDocument(again);
    EXPECT_EQ(again.str(), document.str());
    // The configured task's policy brings its namespace into the schema locations.
    EXPECT_NE(document.str().find(CML "/AvpSections ./schemas/"), std::string::npos) << document.str();
}

// ---- Dates and durations ----

struct DateTimeRow {
    const char* text;
    int32_t year, month, day, hour, minute;
    double seconds;
    bool zone;
    int32_t zoneHours, zoneMinutes;
    const char* written;
};

TEST(ContentMessages, DateTimesReadAndWriteTheirLexicalForm) {
    const DateTimeRow rows[] = {
        {"2004-03-15T08:30:00", 2004, 3, 15, 8, 30, 0, false, 0, 0, "2004-03-15T08:30:00.000000"},
        {"2004-03-15T08:30:00Z", 2004, 3, 15, 8, 30, 0, true, 0, 0, "2004-03-15T08:30:00.000000Z"},
        {"2004-03-15T08:30:00-05:30", 2004, 3, 15, 8, 30, 0, true, -5, 30, "2004-03-15T08:30:00.000000-05:30"},
        {"2005/10/26 14.37.05.25+01", 2005, 10, 26, 14, 37, 5.25, true, 1, 0, "2005-10-26T14:37:05.250000+01:00"},
        {"2004-13-45T25:61:99", 2004, 13, 45, 25, 61, 99, false, 0, 0, "2004-13-45T25:61:99.000000"},
        {"2004-03-xx", 2004, 3, 0, 0, 0, 0, false, 0, 0, "2004-03-00T00:00:00.000000"},
        {"99999999999-01-01T00:00:00", 0, 0, 0, 0, 0, 0, false, 0, 0, "0000-00-00T00:00:00.000000"},
        {"12-1-2T3:4:-5.5", 12, 1, 2, 3, 4, -5.5, false, 0, 0, "0012-01-02T03:04:-5.500000"},
        {"", 0, 0, 0, 0, 0, 0, false, 0, 0, "0000-00-00T00:00:00.000000"},
    };
    for (const DateTimeRow& row : rows) {
        SCOPED_TRACE(row.text);
        const Parsed parsed(std::string("<t v='") + row.text + "'/>");
        CDateTime value;
        value.SetDay(9);
        value.Parse(parsed.Root().GetElement()->getAttributeNode(u"v"));
        EXPECT_EQ(value.IsNull(), row.year == 0);
        EXPECT_EQ(std::vector<int32_t>({value.GetYear(), value.GetMonth(), value.GetDay(), value.GetHour(),
                                        value.GetMinute(), value.GetTimeZoneHours(), value.GetTimeZoneMinutes()}),
                  std::vector<int32_t>({row.year, row.month, row.day, row.hour, row.minute, row.zoneHours,
                                        row.zoneMinutes}));
        EXPECT_EQ(value.GetSeconds(), row.seconds);
        EXPECT_EQ(value.HasTimeZone(), row.zone);
        std::basic_ostringstream<char16_t> wide;
        value.Serialize(wide);
        EXPECT_EQ(ToUtf8(wide.str()), row.written);
    }
}

struct DurationRow {
    const char* text;
    bool null, negative;
    int32_t years, months, days, hours, minutes;
    double seconds;
    const char* written;
};

TEST(ContentMessages, DurationsReadAndWriteTheirLexicalForm) {
    const DurationRow rows[] = {
        {"P1Y2M3DT4H5M6.5S", false, false, 1, 2, 3, 4, 5, 6.5, "P1Y2M3DT4H5M6.5S"},
        {"-P1D", false, true, 0, 0, 1, 0, 0, 0, "-P0Y0M1DT0H0M0S"},
        {"PT30M", false, false, 0, 0, 0, 0, 30, 0, "P0Y0M0DT0H30M0S"},
        {"P0Y0M1DT0H0M0S", false, false, 0, 0, 1, 0, 0, 0, "P0Y0M1DT0H0M0S"},
        {"PT90M1.5S", false, false, 0, 0, 0, 0, 90, 1.5, "P0Y0M0DT0H90M1.5S"},
        {"-P0D", false, true, 0, 0, 0, 0, 0, 0, "-P0Y0M0DT0H0M0S"},
        {"P2.9Y1HT1D0.000001S", false, false, 2, 0, 0, 0, 0, 1e-06, "P2Y0M0DT0H0M1e-06S"},
        {"P1DxT2H", false, false, 0, 0, 1, 0, 0, 0, "P0Y0M1DT0H0M0S"},
        {"P99999999999DT1H", false, false, 0, 0, 0, 0, 0, 0, "P0Y0M0DT0H0M0S"},
        {"PT1e999S", true, false, 0, 0, 0, 0, 0, 0, "P0Y0M0DT0H0M0S"},
        {"P", true, false, 0, 0, 0, 0, 0, 0, "P0Y0M0DT0H0M0S"},
        {"", true, false, 0, 0, 0, 0, 0, 0, "P0Y0M0DT0H0M0S"},
    };
    for (const DurationRow& row : rows) {
        SCOPED_TRACE(row.text);
        const Parsed parsed(std::string("<t v='") + row.text + "'/>");
        CDuration value;
        value.SetHours(7);
        value.Parse(parsed.Root().GetElement()->getAttributeNode(u"v"));
        EXPECT_EQ(value.IsNull(), row.null);
        EXPECT_EQ(value.IsNegative(), row.negative);
        EXPECT_EQ(std::vector<int32_t>(
                      {value.GetYears(), value.GetMonths(), value.GetDays(), value.GetHours(), value.GetMinutes()}),
                  std::vector<int32_t>({row.years, row.months, row.days, row.hours, row.minutes}));
        EXPECT_EQ(value.GetSeconds(), row.seconds);
        std::ostringstream narrow;
        value.Serialize(narrow);
        EXPECT_EQ(narrow.str(), row.written);
    }
}

// ---- Reading rules ----

TEST(ContentMessages, SectionOrdinalsAreSettledInDocumentOrder) {
    struct Row {
        const char* sections;
        std::vector<uint32_t> ordinals;
        const char16_t* failure;
    };
    const Row rows[] = {
        {"<section/><section name='b'/><section/>", {1, 2, 3}, nullptr},
        {"<section ordinal='5'/><section/><section ordinal='0x2'/>", {2, 5, 6}, nullptr},
        {"<section ordinal='3'/><other/><section ordinal='3'/>", {3}, u"Inserting AVP section"},
        {"<section xmlns='" CML "/RoAvpSections' ordinal='abc'/><section xmlns='urn:x'/>", {1}, nullptr},
        {"<section ordinal='4294967294'/><section/>", {4294967294u}, u"Inserting AVP section"},
        {"<section><param xmlns='" CML "/common' ordinal='1'/><param xmlns='" CML "/common' ordinal='1'/></section>",
         {},
         u"Inserting name-value pair"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sections);
        const Parsed parsed(std::string("<policy xmlns='" CML "/AvpSections'>") + row.sections + "</policy>");
        CCmlAvpSections sections(kAvpSectionsReadOnly);
        try {
            sections.Deserialize(parsed.Root());
            EXPECT_EQ(row.failure, nullptr);
        } catch (const CCmlException& e) {
            ASSERT_NE(row.failure, nullptr);
            EXPECT_EQ(std::u16string(e.GetOperation()), row.failure);
            EXPECT_EQ(std::u16string(e.GetDescription()), u"Insertion failed");
            EXPECT_EQ(e.GetCode(), ZEL_E_CML_DUPLICATE_KEY);
        }
        std::vector<uint32_t> ordinals;
        for (const auto& [ordinal, section] : sections.GetSections()) {
            EXPECT_EQ(section.GetOrdinal(), ordinal);
            EXPECT_EQ(section.GetNamespaceURI(), kAvpSectionsNamespaceURI);
            ordinals.push_back(ordinal);
        }
        EXPECT_EQ(ordinals, row.ordinals);
        EXPECT_EQ(sections.GetNamespaceURI(), kAvpSectionsNamespaceURI);
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
        {"status='012'", 10, ZEL_I_CML_NOT_SPECIFIED},
        {"", ZEL_I_CML_NOT_SPECIFIED, ZEL_I_CML_NOT_SPECIFIED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.attributes);
        const Parsed parsed(std::string("<task-status xmlns='" CML "' ") + row.attributes + "/>");
        CTaskStatus status;
        status.Deserialize(parsed.Root());
        EXPECT_EQ(status.GetStatus(), row.status);
        EXPECT_EQ(status.GetCode(), row.code);
    }
}

TEST(ContentMessages, ChildrenOutsideTheirNamespaceAreSkippedOrBecomePolicies) {
    // A task outside "/cml" is no task; a foreign child of a task is a policy.
    const Parsed configure("<configure-task-request xmlns='" CML "'><task xmlns='urn:x'/><task name='t'>"
                           "<schedule time='2004-01-02T03:04:05'/><other/><p xmlns='urn:p'/></task>"
                           "</configure-task-request>");
    CConfigureTaskRequest request;
    request.Deserialize(configure.Root());
    ASSERT_EQ(request.GetTaskCount(), 1u);
    const auto& task = dynamic_cast<const CTaskDescriptor&>(request.GetTask(0));
    EXPECT_EQ(task.GetSchedule().GetTime().GetSeconds(), 5);
    EXPECT_TRUE(task.GetSchedule().GetDuration().IsNull());
    ASSERT_EQ(task.GetPolicyCount(), 1u);
    EXPECT_EQ(task.GetPolicy(0).GetNamespaceURI(), u"urn:p");

    // Parameters before a policy are dropped; parameters after it stay.
    for (const auto& [children, params] : {std::pair{"<agent-parameters><param xmlns='" CML "/common'/>"
                                                     "</agent-parameters><p xmlns='urn:p'/>", 0u},
                                           std::pair{"<p xmlns='urn:p'/><agent-parameters><param xmlns='" CML
                                                     "/common'/><param/></agent-parameters>", 1u}}) {
        const Parsed parsed(std::string("<get-agent-status-response xmlns='" CML "' status='010'>") + children +
                            "<module-list><module/><module xmlns='urn:m'/></module-list></get-agent-status-response>");
        CGetAgentStatusResponse response;
        response.Deserialize(parsed.Root());
        EXPECT_EQ(response.GetContent().GetStatus(), 8u);
        EXPECT_EQ(response.GetContent().GetParamCount(), params);
        EXPECT_EQ(response.GetContent().GetPolicyCount(), 1u);
        EXPECT_EQ(response.GetContent().GetModuleCount(), 1u);
        // With a policy, the policy takes the parameters' place in the output.
        EXPECT_EQ(Write<char>(response).find("agent-parameters"), std::string::npos);
    }

    // The last "/cml" "text" child is the body; a "module" child names a module in any namespace.
    const Parsed text("<get-patent-info-response xmlns='" CML "'><text>a</text><text xmlns='urn:x'>b</text>"
                      "<text>c&amp;d</text></get-patent-info-response>");
    CTextResponse patent(kTagGetPatentInfoResponse);
    patent.Deserialize(text.Root());
    EXPECT_EQ(patent.GetBody(), u"c&d");
}

TEST(ContentMessages, ReadOnlySectionsEmbeddedInTheAnnouncementTravelAsVersion201) {
    CCmlAvpSections embedded(kAvpSectionsReadOnly);
    embedded.SetSchemaVersion(u"9.9.9");
    embedded.InsertSection(CAvpSection(u"limits"));
    CAgentStartupAnnouncement announcement;
    announcement.GetContent().AddPolicy(embedded);
    NamespaceSet namespaces;
    announcement.CollectNamespaces(namespaces);
    ASSERT_EQ(namespaces.count(CNamespace(kRoAvpSectionsNamespaceURI, u"")), 1u);
    EXPECT_EQ(namespaces.find(CNamespace(kRoAvpSectionsNamespaceURI, u""))->GetVersion(), kAvpSectionsSchemaVersion);
    const std::string text = Write<char>(announcement);
    EXPECT_NE(text.find("    <policy xmlns='" CML "/RoAvpSections' schema-version='2.0.1'>\n"
                        "        <section xmlns='" CML "/AvpSections' name='limits' ordinal='1'/>\n"
                        "    </policy>\n"),
              std::string::npos)
        << text;

    // Read back, the document is a policy node of the content, which reads as the same sections.
    const Parsed parsed(text);
    CAgentStartupAnnouncement back;
    back.Deserialize(parsed.Root());
    ASSERT_EQ(back.GetContent().GetPolicyCount(), 1u);
    CCmlAvpSections sections;
    sections.Deserialize(dynamic_cast<const CPolicyNode&>(back.GetContent().GetPolicy(0)).GetElement());
    EXPECT_EQ(Write<char>(sections), Write<char>(announcement.GetContent().GetPolicy(0)));
}

// ---- Failures ----

TEST(ContentMessages, FailuresCarryTheirOperationTextAndCode) {
    const CCmlDOM_Element none;
    const struct {
        std::function<void()> act;
        const char16_t* operation;
        const char16_t* description;
        uint32_t code;
    } rows[] = {
        {[&] { CSchedule().Deserialize(none); }, u"Parsing schedule", u"Missing schedule specification",
         ZEL_E_CML_SCHEMA_INCONSISTENCY},
        {[&] { CTaskDescriptor().Deserialize(none); }, u"Parsing task descriptor", u"Missing task specification",
         ZEL_E_CML_SCHEMA_INCONSISTENCY},
        {[&] { CTaskStatus().Deserialize(none); }, u"Parsing task status", u"Missing task status element",
         ZEL_E_CML_SCHEMA_INCONSISTENCY},
        {[&] { CConfigureTaskRequest().Deserialize(none); }, u"Parsing configure-task-request element",
         u"No task specifications", ZEL_E_CML_SCHEMA_INCONSISTENCY},
        {[&] { CDateTime().Parse(none); }, u"Processing dateTime value", u"Null element received",
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { CDuration().Parse(none); }, u"Processing duration value", u"Null element received",
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { CAvpSection().Deserialize(none); }, u"Processing AVP section", u"Null element received",
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { CCmlAvpSections().Deserialize(none); }, u"Deserializing policy", u"Null element received",
         ZEL_E_CML_NULL_ELEMENT},
        {[&] { Write<char>(CTaskDescriptor()); }, u"Serializing task descriptor", u"No policy specification",
         ZEL_E_CML_INVALID_POLICY_CONTAINER},
        {[&] { CConfigureTaskRequest().GetTask(0); }, u"Getting task object", u"Invalid vector index",
         ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { CTaskResponse(kTagStopTaskResponse).SetTask(0, CTaskStatus()); },
         u"Setting task response task source", u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
        {[&] { CConfigureTaskRequest().AddTask(static_cast<CTaskSource*>(nullptr)); }, u"Adding task to task vector",
         u"NULL object pointer", ZEL_E_INVALIDARG},
        {[&] { CTaskNode().GetNamespaceURI(); }, u"Getting task node namespace", u"Null node",
         ZEL_E_CML_INVALID_METHOD},
        {[&] { CAgentStatusContent().GetPolicy(0); }, u"Getting policy source from agent status content",
         u"Invalid vector index", ZEL_E_CML_INDEX_OUT_OF_BOUNDS},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(ToUtf8(row.operation));
        try {
            row.act();
            ADD_FAILURE() << "no exception";
        } catch (const CCmlException& e) {
            EXPECT_EQ(std::u16string(e.GetOperation()), row.operation);
            EXPECT_EQ(std::u16string(e.GetDescription()), row.description);
            EXPECT_EQ(e.GetCode(), row.code);
        }
    }
}

}  // namespace
}  // namespace zel::cml
