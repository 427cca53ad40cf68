// The trace object: its filter, the line it builds (sequence, prefix, context, cut), the
// three outputs and the disk log error rule, status lines, dumps and the process's object.
#include "runtime/trace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "runtime/platform.h"
#include "runtime/singleton_registry.h"
#include "tests/runtime/trace_recorder.h"
#include "zel/status_codes.h"

namespace {

using zel::TraceInterface;
using zel::test::SinkEntry;
using zel::test::TraceRecord;
using Lines = std::vector<std::string>;
using Sunk = std::vector<SinkEntry>;

constexpr uint32_t kCategory = 0x800;
constexpr uint32_t kWriteAll = zel::kTraceCategories | zel::kTraceOn;
const std::string kDiskLogClosed = "Disk log closed after output error: 28";

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

TEST(TraceInterface, FreshObjectHasNoCategoryEnabledAndKeepsAUserValue) {
    TraceInterface trace;
    TraceRecord record;
    zel::test::InstallRecorders(trace, record);
    EXPECT_FALSE(trace.Trace(zel::kTraceCategories, 1, nullptr, "never"));
    EXPECT_FALSE(trace.HexDump(zel::kTraceCategories, 1, nullptr, "data", "abc", 3));
    EXPECT_EQ(record.order, "");
    EXPECT_EQ(trace.SetUserValue(5), 0u);
    EXPECT_EQ(trace.SetUserValue(0xFFFFFFFF), 5u);
}

TEST(TraceInterface, WritesOnlyEnabledCategoriesUpToMaxLevelWhileOn) {
    const struct {
        const char* name;
        uint32_t options, maxLevel, category, level;
        bool written;
    } cases[] = {
        {"category enabled", 0x801, 1, 0x800, 1, true},
        {"level above max", 0x801, 1, 0x800, 2, false},
        {"level at max", 0x801, 7, 0x800, 7, true},
        {"level zero at max zero", 0x801, 0, 0x800, 0, true},
        {"tracing off", 0x800, 15, 0x800, 1, false},
        {"other category", 0x1001, 15, 0x800, 1, false},
        {"one of several categories", 0x1001, 15, 0x1800, 1, true},
        {"low bits are no category", 0xFFFFFFFF, 15, 0x7FF, 1, false},
        {"low bits of the category ignored", 0x801, 15, 0x8FF, 1, true},
        {"highest category", 0x80000001, 15, 0x80000000, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Traced t(c.options, c.maxLevel);
        EXPECT_EQ(t.trace.Trace(c.category, c.level, nullptr, "x"), c.written);
        EXPECT_EQ(t.trace.TraceStatus(c.category, c.level, nullptr, ZEL_E_INVALIDARG), c.written);
        EXPECT_EQ(t.trace.HexDump(c.category, c.level, nullptr, nullptr, "x", 1), c.written);
        EXPECT_EQ(t.record.debug.size(), c.written ? 3u : 0u);
        // A filtered line does not advance the sequence.
        EXPECT_EQ(t.trace.Sequence(), c.written ? 3u : 0u);
    }
}

TEST(TraceInterface, LineIsSequencePrefixContextTabAndMessage) {
    Traced t(kWriteAll | zel::kTraceSequence);
    EXPECT_TRUE(t.trace.Trace(kCategory | 0x7F, 2, "CBaseServices::Init()", "value %d of %s", 7, "seven"));
    EXPECT_TRUE(t.trace.Trace(kCategory, 2, nullptr, "no context"));
    EXPECT_TRUE(t.trace.Trace(kCategory, 2, "", "%s|%5.2f|%%|%c", "text\n", 3.14159, 'z'));  // no line end added
    const Lines lines = {"1 CBaseServices::Init()\tvalue 7 of seven", "2 no context", "3 \ttext\n| 3.14|%|z"};
    EXPECT_EQ(t.record.disk, lines);
    EXPECT_EQ(t.record.debug, lines);
    // The event sink hears the message alone, with the level and the category without its
    // low bits; the outputs are called in order: disk log, debugger output, event sink.
    EXPECT_EQ(t.record.sink, (Sunk{{"value 7 of seven", 2, kCategory}, {"no context", 2, kCategory},
                                   {"text\n| 3.14|%|z", 2, kCategory}}));
    EXPECT_EQ(t.record.order, "DdSDdSDdS");

    // The sequence goes on without numbers shown, and starts again after a reset.
    t.trace.SetOptions(kWriteAll, 1);
    t.trace.Trace(kCategory, 1, nullptr, "a");
    t.trace.SetOptions(kWriteAll | zel::kTraceSequence, 1);
    t.trace.Trace(kCategory, 1, nullptr, "b");
    t.trace.ResetSequence();
    t.trace.Trace(kCategory, 1, nullptr, "c");
    EXPECT_EQ(Lines(t.record.debug.begin() + 3, t.record.debug.end()), (Lines{"a", "5 b", "1 c"}));

    // Without a debugger output the other two still hear every line.
    t.trace.SetDebugOutput(nullptr);
    EXPECT_EQ(t.record.debugDestroyed, 1);
    t.trace.Trace(kCategory, 1, nullptr, "d");
    EXPECT_EQ(t.record.order.substr(t.record.order.size() - 5), "DdSDS");
}

// The line holds up to 1024 bytes; a longer one keeps its first 1020 and ends in ">>>".
TEST(TraceInterface, LongLinesEndInThreeMarks) {
    const struct {
        const char* name;
        bool sequence;
        std::size_t contextLength, messageLength, lineLength;
        bool cut;
    } cases[] = {
        {"message fills the buffer", false, 0, 1024, 1024, false},
        {"one byte too many", false, 0, 1025, 1023, true},
        {"far too long", false, 0, 5000, 1023, true},
        {"with sequence and context, fits", true, 3, 1018, 1024, false},
        {"with sequence and context, cut", true, 3, 1019, 1023, true},
        {"context alone too long", false, 2000, 10, 1023, true},
        {"empty message", false, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Traced t(kWriteAll | (c.sequence ? zel::kTraceSequence : 0));
        const std::string context(c.contextLength, 'c');
        const std::string message(c.messageLength, 'm');
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, c.contextLength ? context.c_str() : nullptr, "%s", message.c_str()));
        const std::string whole = (c.sequence ? "1 " : "") + (c.contextLength ? context + "\t" : "") + message;
        const std::string& line = t.record.debug.at(0);
        EXPECT_EQ(line.size(), c.lineLength);
        EXPECT_EQ(line, c.cut ? whole.substr(0, 1020) + ">>>" : whole);
        // The event sink hears what is left of the message.
        const std::size_t head = whole.size() - message.size();
        EXPECT_EQ(t.record.sink.at(0).message, head < line.size() ? line.substr(head) : "");
        // The line and the next one stay whole: the cut never runs past the buffer.
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, nullptr, "next"));
        EXPECT_EQ(t.record.debug.at(1), c.sequence ? "2 next" : "next");
    }
}

TEST(TraceInterface, FailingDiskLogIsClosedOnceAndTheEventSinkToldOnce) {
    Traced t(kWriteAll | zel::kTraceSequence);
    t.record.diskFailsOnWrite = 2;  // the second write fails with error 28
    for (const char* message : {"one", "two", "three"}) t.trace.Trace(kCategory, 4, "C", "%s", message);
    EXPECT_EQ(t.record.disk, (Lines{"1 C\tone", "2 C\ttwo"}));  // what reached Write
    EXPECT_EQ(t.record.diskDestroyed, 1);
    EXPECT_EQ(t.record.debug, (Lines{"1 C\tone", "2 C\ttwo", "3 C\tthree"}));
    EXPECT_EQ(t.record.sink, (Sunk{{"one", 4, kCategory}, {kDiskLogClosed, 1, 0x800}, {"two", 4, kCategory},
                                   {"three", 4, kCategory}}));
    EXPECT_NE(t.trace.Options() & zel::kTraceDiskLogClosed, 0u);

    // Without an event sink the log is closed quietly.
    Traced quiet;
    quiet.trace.SetEventSink(nullptr);
    quiet.record.diskFailsOnWrite = 1;
    quiet.trace.Trace(kCategory, 1, nullptr, "one");
    quiet.trace.Trace(kCategory, 1, nullptr, "two");
    EXPECT_EQ(quiet.record.diskDestroyed, 1);
    EXPECT_EQ(quiet.record.debug, (Lines{"one", "two"}));
    EXPECT_EQ(quiet.trace.Options(), kWriteAll | zel::kTraceDiskLogClosed);
}

TEST(TraceInterface, EventSinkHearsTheSmallerOfLevelAndSeverity) {
    const struct {
        uint32_t status, level, sinkLevel;
    } cases[] = {
        {ZEL_E_INVALIDARG, 8, 1}, {ZEL_I_SS_NO_POLICY_CHANGE, 8, 8}, {ZEL_I_SS_NO_POLICY_CHANGE, 12, 9},
        {ZEL_W_SCS_HTTP_REDIRECT, 8, 3}, {ZEL_W_SCS_HTTP_REDIRECT, 2, 2}, {0, 8, 0}, {ENOENT, 8, 0},
        {ZEL_E_INVALIDARG, 0, 0},  // errors, informational, warnings, success, platform numbers
    };
    for (const auto& c : cases) {
        Traced t;
        ASSERT_TRUE(t.trace.TraceStatus(kCategory, c.level, "Op()", c.status));
        zel::ZELError error(c.status);
        const std::string text = error.GetText(240);
        EXPECT_EQ(t.record.debug, (Lines{"Op()\t" + text}));
        EXPECT_EQ(t.record.sink, (Sunk{{text, c.sinkLevel, kCategory}}));
    }
    // The text takes inserts and is never read as a format.
    Traced t;
    ASSERT_TRUE(t.trace.TraceStatus(kCategory, 1, nullptr, ZEL_E_GENERIC_TEXT, {"100% %s %n"}));
    EXPECT_EQ(t.record.debug, (Lines{"100% %s %n [ID=0xc0000001]"}));
}

// The prefix: local time and thread in the date form the options ask; with timestamps on,
// a line has it after its sequence number.
TEST(TraceInterface, PrefixHasTheDateFormTheOptionsAsk) {
    const struct {
        uint32_t options;
        const char* pattern;  // the thread follows "T:"
    } cases[] = {
        {0, R"((\d{4})/(\d\d)/(\d\d) \d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        {zel::kTraceMonthDayYear, R"((\d\d)/(\d\d)/(\d{4}) \d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        {zel::kTraceTimeOnly, R"(\d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        {zel::kTraceTimeOnly | zel::kTraceMonthDayYear, R"(\d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
    };
    for (const auto& c : cases) {
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
        Traced t(kWriteAll | zel::kTraceSequence | zel::kTraceTimestamps | c.options);
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, "Op()", "stamped"));
        const std::regex line(std::string("1 ") + c.pattern + R"(Op\(\)\tstamped)");
        EXPECT_TRUE(std::regex_match(t.record.debug.at(0), line)) << t.record.debug[0];
        EXPECT_EQ(t.record.sink.at(0).message, "stamped");
    }
}

// 20 bytes: 16 for the first line, 4 for the second.
const unsigned char kDumpData[] = {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', 0x00, 0x01, 0x20,
                                   0x7F, 0xFF, 'A', 'B', 'C'};

TEST(TraceHexDump, TwentyBytesAtLevel15AreAHeaderAndTwoLines) {
    Traced t(kWriteAll | zel::kTraceSequence);
    ASSERT_TRUE(t.trace.HexDump(kCategory, 15, "Op()", "reply", kDumpData, sizeof kDumpData));
    const std::string at = Hex(kDumpData), second = Hex(kDumpData + 16);
    const Lines lines = {
        "1 Op()\treply@0x" + at + " len=20 (14)",
        "2 " + at + ": 48 65 6c 6c 6f 2c 20 77 6f 72 6c 64 00 01 20 7f - \"Hello,.world...\x7f\"",
        "2 " + second + ": ff 41 42 43 .. .. .. .. .. .. .. .. .. .. .. .. - \"\xff" "ABC\""};
    EXPECT_EQ(t.record.debug, lines);
    EXPECT_EQ(t.record.disk, lines);
    // The event sink hears the header's message and each whole dump line.
    EXPECT_EQ(t.record.sink, (Sunk{{"reply@0x" + at + " len=20 (14)", 15, kCategory}, {lines[1], 15, kCategory},
                                   {lines[2], 15, kCategory}}));
    // The whole dump took one number after the header's.
    t.trace.Trace(kCategory, 1, nullptr, "after");
    EXPECT_EQ(t.record.debug.back(), "3 after");
}

TEST(TraceHexDump, HeaderThenSixteenBytesALine) {
    static const unsigned char bytes[64] = {1, 2, 3};
    const struct {
        const void* data;
        std::size_t length;
        uint32_t level;
        const char* label;
        std::size_t byteLines, lastLineBytes;  // lines after the header, bytes on the last one
    } cases[] = {
        {bytes, 20, 14, "data", 0, 0}, {bytes, 20, 15, "data", 2, 4}, {bytes, 16, 15, "data", 1, 16},
        {bytes, 17, 15, "data", 2, 1}, {bytes, 1, 15, "data", 1, 1}, {bytes, 64, 15, "data", 4, 16},
        {bytes, 3, 15, nullptr, 1, 3}, {bytes, 0, 15, "data", 0, 0}, {nullptr, 5, 15, "data", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " bytes at level " + std::to_string(c.level));
        Traced t;
        ASSERT_TRUE(t.trace.HexDump(kCategory, c.level, nullptr, c.label, c.data, c.length));
        ASSERT_EQ(t.record.debug.size(), 1 + c.byteLines);
        char header[64];
        std::snprintf(header, sizeof header, "%s@0x%s len=%zu (%zx)", c.label ? c.label : "buffer",
                      Hex(c.data).c_str(), c.length, c.length);
        EXPECT_EQ(t.record.debug[0], header);
        for (std::size_t i = 1; i < t.record.debug.size(); ++i) {
            const std::string& line = t.record.debug[i];
            const std::string group = Hex(static_cast<const unsigned char*>(c.data) + 16 * (i - 1));
            EXPECT_EQ(line.substr(0, line.find(':')), group);
            const std::size_t shown = i + 1 == t.record.debug.size() ? c.lastLineBytes : 16;
            std::size_t fillers = 0;
            for (std::size_t at = line.find(" .."); at != std::string::npos; at = line.find(" ..", at + 3)) ++fillers;
            EXPECT_EQ(fillers, 16 - shown) << line;
            EXPECT_EQ(line.size(), group.size() + 1 + 48 + 4 + shown + 1) << line;
        }
    }
    // Dump lines go through the disk log error rule.
    Traced t;
    t.record.diskFailsOnWrite = 2;  // the first dump line
    ASSERT_TRUE(t.trace.HexDump(kCategory, 15, nullptr, "data", bytes, 40));
    EXPECT_EQ(t.record.disk.size(), 2u);
    EXPECT_EQ(t.record.diskDestroyed, 1);
    EXPECT_EQ(t.record.debug.size(), 4u);
    ASSERT_EQ(t.record.sink.size(), 5u);
    EXPECT_EQ(t.record.sink[1], (SinkEntry{kDiskLogClosed, 1, 0x800}));
}

TEST(ProcessTrace, IsFoundOnceAndRegisteredAsTraceInterface) {
    TraceInterface* const trace = zel::ProcessTrace();
    ASSERT_NE(trace, nullptr);
    EXPECT_EQ(zel::ProcessTrace(), trace);
    EXPECT_EQ(zel::LookupSingleton("TraceInterface"), trace);
}

}  // namespace
