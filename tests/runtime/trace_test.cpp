#include "runtime/trace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "runtime/platform.h"
#include "runtime/singleton_registry.h"
#include "runtime/trace_outputs.h"
#include "tests/runtime/trace_recorder.h"
#include "zel/status_codes.h"

namespace {

using zel::jsTraceCore;
using zel::TraceInterface;
using zel::test::SinkEntry;
using zel::test::TraceRecord;

constexpr uint32_t kCategory = 0x800;
constexpr uint32_t kWriteAll = zel::kTraceCategories | zel::kTraceOn;

// A trace object with recording outputs and the given options.
struct Traced {
    explicit Traced(uint32_t options = kWriteAll, uint32_t maxLevel = 15) {
        zel::test::InstallRecorders(trace, record);
        trace.SetOptions(options, maxLevel);
    }
    TraceInterface trace;
    TraceRecord record;
};

std::string Hex(const void* address) {
    char text[24];
    std::snprintf(text, sizeof text, "%8.8lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
    return text;
}

std::string Hex(std::size_t number) {
    char text[24];
    std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(number));
    return text;
}

// ---------------------------------------------------------------------------------------
// Initial state and the filter

TEST(TraceInterface, StartsWithOptions5LevelOneAndWritesNothing) {
    TraceInterface trace;
    TraceRecord record;
    zel::test::InstallRecorders(trace, record);
    EXPECT_EQ(trace.Options(), 5u);
    EXPECT_EQ(trace.MaxLevel(), 1u);
    EXPECT_EQ(trace.Sequence(), 0u);
    EXPECT_EQ(trace.SetUserValue(0), 0u);
    // Tracing is on with timestamps, but no category is enabled.
    EXPECT_FALSE(trace.Trace(zel::kTraceCategories, 1, nullptr, "never"));
    EXPECT_FALSE(trace.TraceStatus(zel::kTraceCategories, 1, nullptr, ZEL_E_INVALIDARG));
    EXPECT_FALSE(trace.HexDump(zel::kTraceCategories, 1, nullptr, "data", "abc", 3));
    EXPECT_TRUE(record.disk.empty());
    EXPECT_TRUE(record.debug.empty());
    EXPECT_TRUE(record.sink.empty());
    EXPECT_EQ(trace.Sequence(), 0u);
}

struct FilterCase {
    const char* name;
    uint32_t options, maxLevel, category, level;
    bool written;
};

void PrintTo(const FilterCase& c, std::ostream* out) { *out << c.name; }

class TraceFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(TraceFilter, WritesOnlyEnabledCategoriesUpToMaxLevelWhileOn) {
    const FilterCase& c = GetParam();
    Traced t(c.options, c.maxLevel);
    EXPECT_EQ(t.trace.Trace(c.category, c.level, nullptr, "x"), c.written);
    EXPECT_EQ(t.trace.TraceStatus(c.category, c.level, nullptr, ZEL_E_INVALIDARG), c.written);
    EXPECT_EQ(t.trace.HexDump(c.category, c.level, nullptr, nullptr, "x", 1), c.written);
    EXPECT_EQ(t.record.debug.size(), c.written ? 3u : 0u);
    // A filtered line does not advance the sequence.
    EXPECT_EQ(t.trace.Sequence(), c.written ? 3u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceFilter,
    testing::Values(FilterCase{"CategoryEnabled", 0x801, 1, 0x800, 1, true},
                    FilterCase{"LevelAboveMax", 0x801, 1, 0x800, 2, false},
                    FilterCase{"LevelAtMax", 0x801, 7, 0x800, 7, true},
                    FilterCase{"LevelZeroAtMaxZero", 0x801, 0, 0x800, 0, true},
                    FilterCase{"TracingOff", 0x800, 15, 0x800, 1, false},
                    FilterCase{"OtherCategory", 0x1001, 15, 0x800, 1, false},
                    FilterCase{"OneOfSeveralCategories", 0x1001, 15, 0x1800, 1, true},
                    FilterCase{"LowBitsAreNoCategory", 0xFFFFFFFF, 15, 0x7FF, 1, false},
                    FilterCase{"LowBitsOfCategoryIgnored", 0x801, 15, 0x8FF, 1, true},
                    FilterCase{"HighestCategory", 0x80000001, 15, 0x80000000, 1, true}),
    [](const testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The line

TEST(TraceInterface, LineIsSequencePrefixContextTabAndMessage) {
    Traced t(kWriteAll | zel::kTraceSequence);
    EXPECT_TRUE(t.trace.Trace(kCategory | 0x7F, 2, "CBaseServices::Init()", "value %d of %s", 7, "seven"));
    EXPECT_TRUE(t.trace.Trace(kCategory, 2, nullptr, "no context"));
    const std::vector<std::string> lines = {"1 CBaseServices::Init()\tvalue 7 of seven", "2 no context"};
    EXPECT_EQ(t.record.disk, lines);
    EXPECT_EQ(t.record.debug, lines);
    // The event sink hears the message alone, with the level and the category without its
    // low bits.
    EXPECT_EQ(t.record.sink, (std::vector<SinkEntry>{{"value 7 of seven", 2, kCategory}, {"no context", 2, kCategory}}));
    // The outputs are called in order: disk log, debugger output, event sink.
    EXPECT_EQ(t.record.order, "DdSDdS");
}

TEST(TraceInterface, TimestampsPutThePrefixAfterTheSequence) {
    Traced t(kWriteAll | zel::kTraceSequence | zel::kTraceTimestamps);
    ASSERT_TRUE(t.trace.Trace(kCategory, 1, "Op()", "stamped"));
    ASSERT_EQ(t.record.debug.size(), 1u);
    EXPECT_TRUE(std::regex_match(t.record.debug[0],
                                 std::regex(R"(1 \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d T:[0-9a-f]{4,} Op\(\)\tstamped)")))
        << t.record.debug[0];
    EXPECT_EQ(t.record.sink.at(0).message, "stamped");
}

TEST(TraceInterface, NoLineEndIsAddedAndTheFormatIsTheCallers) {
    Traced t;
    t.trace.Trace(kCategory, 1, "", "%s|%5.2f|%%|%c", "text\n", 3.14159, 'z');
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"\ttext\n| 3.14|%|z"}));
}

struct CutCase {
    const char* name;
    bool sequence;
    std::size_t contextLength, messageLength;
    std::size_t lineLength;  // of the written line
    bool cut;
};

void PrintTo(const CutCase& c, std::ostream* out) { *out << c.name; }

class TraceCutLine : public testing::TestWithParam<CutCase> {};

// The line holds up to 1024 bytes; a longer one keeps its first 1020 and ends in ">>>".
TEST_P(TraceCutLine, LongLinesEndInThreeMarks) {
    const CutCase& c = GetParam();
    Traced t(kWriteAll | (c.sequence ? zel::kTraceSequence : 0));
    const std::string context(c.contextLength, 'c');
    const std::string message(c.messageLength, 'm');
    ASSERT_TRUE(t.trace.Trace(kCategory, 1, c.contextLength ? context.c_str() : nullptr, "%s", message.c_str()));
    const std::string whole = (c.sequence ? "1 " : "") + (c.contextLength ? context + "\t" : "") + message;
    const std::string& line = t.record.debug.at(0);
    EXPECT_EQ(line.size(), c.lineLength);
    if (c.cut) {
        EXPECT_EQ(line, whole.substr(0, 1020) + ">>>");
    } else {
        EXPECT_EQ(line, whole);
    }
    // The event sink hears what is left of the message.
    const std::size_t head = whole.size() - message.size();
    EXPECT_EQ(t.record.sink.at(0).message, head < line.size() ? line.substr(head) : "");
    // The line and the next one stay whole: the cut never runs past the buffer.
    ASSERT_TRUE(t.trace.Trace(kCategory, 1, nullptr, "next"));
    EXPECT_EQ(t.record.debug.at(1), c.sequence ? "2 next" : "next");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceCutLine,
    testing::Values(CutCase{"MessageFillsTheBuffer", false, 0, 1024, 1024, false},
                    CutCase{"OneByteTooMany", false, 0, 1025, 1023, true},
                    CutCase{"FarTooLong", false, 0, 5000, 1023, true},
                    CutCase{"WithSequenceAndContextFits", true, 3, 1018, 1024, false},
                    CutCase{"WithSequenceAndContextCut", true, 3, 1019, 1023, true},
                    CutCase{"ContextAloneTooLong", false, 2000, 10, 1023, true},
                    CutCase{"EmptyMessage", false, 0, 0, 0, false}),
    [](const testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Outputs

TEST(TraceInterface, FailingDiskLogIsClosedOnceAndTheEventSinkToldOnce) {
    Traced t(kWriteAll | zel::kTraceSequence);
    t.record.diskFailsOnWrite = 2;  // the second write fails with error 28
    t.trace.Trace(kCategory, 4, "C", "one");
    t.trace.Trace(kCategory, 4, "C", "two");
    t.trace.Trace(kCategory, 4, "C", "three");
    EXPECT_EQ(t.record.disk, (std::vector<std::string>{"1 C\tone", "2 C\ttwo"}));  // what reached Write
    EXPECT_EQ(t.record.diskDestroyed, 1);
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"1 C\tone", "2 C\ttwo", "3 C\tthree"}));
    EXPECT_EQ(t.record.sink, (std::vector<SinkEntry>{{"one", 4, kCategory},
                                                     {"Disk log closed after output error: 28", 1, 0x800},
                                                     {"two", 4, kCategory},
                                                     {"three", 4, kCategory}}));
    EXPECT_NE(t.trace.Options() & zel::kTraceDiskLogClosed, 0u);
}

TEST(TraceInterface, FailingDiskLogWithoutEventSinkIsClosedQuietly) {
    Traced t;
    t.trace.SetEventSink(nullptr);
    t.record.diskFailsOnWrite = 1;
    t.trace.Trace(kCategory, 1, nullptr, "one");
    t.trace.Trace(kCategory, 1, nullptr, "two");
    EXPECT_EQ(t.record.diskDestroyed, 1);
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(t.trace.Options(), kWriteAll | zel::kTraceDiskLogClosed);
}

// A real file on a full device: the write fails with ENOSPC.
TEST(TraceInterface, DiskLogOnAFullDeviceIsClosedAfterItsFirstLine) {
    uint32_t error = 1;
    auto full = zel::jsFileTraceLog::Open("/dev/full", error);
    ASSERT_NE(full, nullptr) << "error " << error;
    ASSERT_EQ(error, 0u);
    Traced t;
    t.trace.SetDiskLog(std::move(full));
    t.trace.Trace(kCategory, 1, nullptr, "lost");
    t.trace.Trace(kCategory, 1, nullptr, "kept");
    const std::string closed = "Disk log closed after output error: " + std::to_string(ENOSPC);
    EXPECT_EQ(t.record.sink,
              (std::vector<SinkEntry>{{closed, 1, 0x800}, {"lost", 1, kCategory}, {"kept", 1, kCategory}}));
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"lost", "kept"}));
    EXPECT_NE(t.trace.Options() & zel::kTraceDiskLogClosed, 0u);
}

TEST(TraceInterface, InstallingAnOutputDestroysTheOldOneAndTheObjectDestroysAll) {
    TraceRecord record;
    {
        TraceInterface trace;
        zel::test::InstallRecorders(trace, record);
        zel::test::InstallRecorders(trace, record);
        EXPECT_EQ(record.diskDestroyed, 1);
        EXPECT_EQ(record.debugDestroyed, 1);
        EXPECT_EQ(record.sinkDestroyed, 1);
        trace.SetDebugOutput(nullptr);
        EXPECT_EQ(record.debugDestroyed, 2);
        trace.SetOptions(kWriteAll, 1);
        trace.Trace(kCategory, 1, nullptr, "without debugger output");
        EXPECT_EQ(record.disk.size(), 1u);
        EXPECT_TRUE(record.debug.empty());
    }
    EXPECT_EQ(record.diskDestroyed, 2);
    EXPECT_EQ(record.debugDestroyed, 2);
    EXPECT_EQ(record.sinkDestroyed, 2);
}

// ---------------------------------------------------------------------------------------
// Status lines

struct StatusCase {
    const char* name;
    uint32_t status, level, sinkLevel;
};

void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.name; }

class TraceStatusLevel : public testing::TestWithParam<StatusCase> {};

TEST_P(TraceStatusLevel, EventSinkHearsTheSmallerOfLevelAndSeverity) {
    const StatusCase& c = GetParam();
    Traced t;
    ASSERT_TRUE(t.trace.TraceStatus(kCategory, c.level, "Op()", c.status));
    zel::ZELError error(c.status);
    const std::string text = error.GetText(240);
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"Op()\t" + text}));
    EXPECT_EQ(t.record.sink, (std::vector<SinkEntry>{{text, c.sinkLevel, kCategory}}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceStatusLevel,
    testing::Values(StatusCase{"ErrorAtLevel8", ZEL_E_INVALIDARG, 8, 1},
                    StatusCase{"InformationalAtLevel8", ZEL_I_SS_NO_POLICY_CHANGE, 8, 8},
                    StatusCase{"InformationalAtLevel12", ZEL_I_SS_NO_POLICY_CHANGE, 12, 9},
                    StatusCase{"WarningAtLevel8", ZEL_W_SCS_HTTP_REDIRECT, 8, 3},
                    StatusCase{"WarningAtLevel2", ZEL_W_SCS_HTTP_REDIRECT, 2, 2},
                    StatusCase{"SuccessAtLevel8", 0, 8, 0},
                    StatusCase{"PlatformErrorNumber", ENOENT, 8, 0},
                    StatusCase{"ErrorAtLevel0", ZEL_E_INVALIDARG, 0, 0}),
    [](const testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

TEST(TraceInterface, StatusTextTakesInsertsAndIsNeverReadAsAFormat) {
    Traced t;
    ASSERT_TRUE(t.trace.TraceStatus(kCategory, 1, nullptr, ZEL_E_GENERIC_TEXT, {"100% %s %n"}));
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"100% %s %n [ID=0xc0000001]"}));
}

// ---------------------------------------------------------------------------------------
// Prefix

struct PrefixCase {
    const char* name;
    uint32_t options;
    const char* pattern;  // the thread follows "T:"
};

void PrintTo(const PrefixCase& c, std::ostream* out) { *out << c.name; }

class TracePrefix : public testing::TestWithParam<PrefixCase> {};

TEST_P(TracePrefix, DateFormAsTheOptionsAsk) {
    const PrefixCase& c = GetParam();
    TraceInterface trace;
    trace.SetOptions(c.options, 1);
    const zel::platform::LocalTime before = zel::platform::GetLocalTime();
    const std::string prefix = trace.FormatPrefix();
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(prefix, parts, std::regex(c.pattern))) << prefix;
    char thread[16];
    std::snprintf(thread, sizeof thread, "%4.4x", static_cast<unsigned>(zel::platform::CurrentThreadId()));
    EXPECT_EQ(parts[parts.size() - 1].str(), thread);
    if (parts.size() > 4) {  // a date: the year is this year (a line written at new year aside)
        const std::string year = c.options & zel::kTraceMonthDayYear ? parts[3].str() : parts[1].str();
        EXPECT_NEAR(std::stoi(year), before.year, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TracePrefix,
    testing::Values(
        PrefixCase{"YearMonthDay", 0, R"((\d{4})/(\d\d)/(\d\d) \d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        PrefixCase{"MonthDayYear", zel::kTraceMonthDayYear,
                   R"((\d\d)/(\d\d)/(\d{4}) \d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        PrefixCase{"TimeOnly", zel::kTraceTimeOnly, R"(\d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        PrefixCase{"TimeOnlyWinsOverMonthDayYear", zel::kTraceTimeOnly | zel::kTraceMonthDayYear,
                   R"(\d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"}),
    [](const testing::TestParamInfo<PrefixCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Dumps

// 20 bytes: 16 for the first line, 4 for the second.
const unsigned char kDumpData[] = {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', 0x00, 0x01, 0x20,
                                   0x7F, 0xFF, 'A', 'B', 'C'};

TEST(TraceHexDump, TwentyBytesAtLevel15AreAHeaderAndTwoLines) {
    Traced t(kWriteAll | zel::kTraceSequence);
    ASSERT_TRUE(t.trace.HexDump(kCategory, 15, "Op()", "reply", kDumpData, sizeof kDumpData));
    const std::string at = Hex(kDumpData), second = Hex(kDumpData + 16);
    const std::vector<std::string> lines = {
        "1 Op()\treply@0x" + at + " len=20 (14)",
        "2 " + at + ": 48 65 6c 6c 6f 2c 20 77 6f 72 6c 64 00 01 20 7f - \"Hello,.world...\x7f\"",
        "2 " + second + ": ff 41 42 43 .. .. .. .. .. .. .. .. .. .. .. .. - \"\xff" "ABC\""};
    EXPECT_EQ(t.record.debug, lines);
    EXPECT_EQ(t.record.disk, lines);
    // The event sink hears the header's message and each whole dump line.
    EXPECT_EQ(t.record.sink, (std::vector<SinkEntry>{{"reply@0x" + at + " len=20 (14)", 15, kCategory},
                                                     {lines[1], 15, kCategory},
                                                     {lines[2], 15, kCategory}}));
    // The whole dump took one number after the header's.
    t.trace.Trace(kCategory, 1, nullptr, "after");
    EXPECT_EQ(t.record.debug.back(), "3 after");
}

struct DumpCase {
    const char* name;
    const void* data;
    std::size_t length;
    uint32_t level;
    const char* label;
    std::size_t byteLines;      // lines after the header
    std::size_t lastLineBytes;  // bytes shown on the last line
};

void PrintTo(const DumpCase& c, std::ostream* out) { *out << c.name; }

class TraceHexDumpShape : public testing::TestWithParam<DumpCase> {};

TEST_P(TraceHexDumpShape, HeaderThenSixteenBytesALine) {
    const DumpCase& c = GetParam();
    Traced t;
    ASSERT_TRUE(t.trace.HexDump(kCategory, c.level, nullptr, c.label, c.data, c.length));
    ASSERT_EQ(t.record.debug.size(), 1 + c.byteLines);
    EXPECT_EQ(t.record.debug[0], std::string(c.label ? c.label : "buffer") + "@0x" + Hex(c.data) +
                                     " len=" + std::to_string(c.length) + " (" + Hex(c.length) + ")");
    for (std::size_t i = 1; i < t.record.debug.size(); ++i) {
        const std::string& line = t.record.debug[i];
        const auto* group = static_cast<const unsigned char*>(c.data) + 16 * (i - 1);
        EXPECT_EQ(line.substr(0, line.find(':')), Hex(group));
        const std::size_t shown = i + 1 == t.record.debug.size() ? c.lastLineBytes : 16;
        std::size_t fillers = 0;
        for (std::size_t at = line.find(" .."); at != std::string::npos; at = line.find(" ..", at + 3)) ++fillers;
        EXPECT_EQ(fillers, 16 - shown) << line;
        EXPECT_EQ(line.size(), Hex(group).size() + 1 + 48 + 4 + shown + 1) << line;
    }
}

const unsigned char kBytes[64] = {1, 2, 3};

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceHexDumpShape,
    testing::Values(DumpCase{"TwentyBytesAtLevel14HeaderOnly", kBytes, 20, 14, "data", 0, 0},
                    DumpCase{"TwentyBytesAtLevel15", kBytes, 20, 15, "data", 2, 4},
                    DumpCase{"SixteenBytesOneFullLine", kBytes, 16, 15, "data", 1, 16},
                    DumpCase{"SeventeenBytes", kBytes, 17, 15, "data", 2, 1},
                    DumpCase{"OneByte", kBytes, 1, 15, "data", 1, 1},
                    DumpCase{"SixtyFourBytes", kBytes, 64, 15, "data", 4, 16},
                    DumpCase{"NoLabelIsBuffer", kBytes, 3, 15, nullptr, 1, 3},
                    DumpCase{"ZeroLengthHeaderOnly", kBytes, 0, 15, "data", 0, 0},
                    DumpCase{"NullDataHeaderOnly", nullptr, 5, 15, "data", 0, 0}),
    [](const testing::TestParamInfo<DumpCase>& info) { return std::string(info.param.name); });

TEST(TraceHexDump, DumpLinesGoThroughTheDiskLogErrorRule) {
    Traced t;
    t.record.diskFailsOnWrite = 2;  // the first dump line
    ASSERT_TRUE(t.trace.HexDump(kCategory, 15, nullptr, "data", kBytes, 40));
    EXPECT_EQ(t.record.disk.size(), 2u);
    EXPECT_EQ(t.record.diskDestroyed, 1);
    EXPECT_EQ(t.record.debug.size(), 4u);
    ASSERT_EQ(t.record.sink.size(), 5u);
    EXPECT_EQ(t.record.sink[1], (SinkEntry{"Disk log closed after output error: 28", 1, 0x800}));
}

// ---------------------------------------------------------------------------------------
// Sequence and user value

TEST(TraceInterface, ResetSequenceStartsNumberingAgain) {
    Traced t(kWriteAll | zel::kTraceSequence);
    t.trace.Trace(kCategory, 1, nullptr, "a");
    t.trace.Trace(kCategory, 1, nullptr, "b");
    EXPECT_EQ(t.trace.Sequence(), 2u);
    t.trace.ResetSequence();
    t.trace.Trace(kCategory, 1, nullptr, "c");
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"1 a", "2 b", "1 c"}));
}

TEST(TraceInterface, SequenceAdvancesWithoutSequenceNumbersShown) {
    Traced t;
    t.trace.Trace(kCategory, 1, nullptr, "a");
    t.trace.SetOptions(kWriteAll | zel::kTraceSequence, 1);
    t.trace.Trace(kCategory, 1, nullptr, "b");
    EXPECT_EQ(t.record.debug, (std::vector<std::string>{"a", "2 b"}));
}

TEST(TraceInterface, SetUserValueReturnsThePreviousValue) {
    TraceInterface trace;
    EXPECT_EQ(trace.SetUserValue(5), 0u);
    EXPECT_EQ(trace.SetUserValue(0xFFFFFFFF), 5u);
    EXPECT_EQ(trace.SetUserValue(7), 0xFFFFFFFFu);
}

// ---------------------------------------------------------------------------------------
// The process's object

TEST(ProcessTrace, IsFoundOnceAndRegisteredAsTraceInterface) {
    TraceInterface* const trace = zel::ProcessTrace();
    ASSERT_NE(trace, nullptr);
    EXPECT_EQ(zel::ProcessTrace(), trace);
    EXPECT_EQ(zel::LookupSingleton("TraceInterface"), trace);
}

}  // namespace
