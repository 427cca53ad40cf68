// The trace object: its filter, the line it builds (sequence, prefix, context, cut), the
// three outputs and the disk log error rule, status lines, dumps, the process's object, the
// ready outputs (file log, standard error, system log), two modules sharing one object, and
// several threads writing at once (also run in the ThreadSanitizer stage).
#include "runtime/trace.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "runtime/platform.h"
#include "runtime/singleton_registry.h"
#include "runtime/trace_outputs.h"
#include "support/temp_dir.h"
#include "zel/status_codes.h"

namespace {

using zel::TraceInterface;
using SinkEntry = std::tuple<std::string, uint32_t, uint32_t>;  // message, level, category

// What the three outputs were handed, in order. Outputs run under the trace object's lock,
// so the record needs no lock of its own.
struct TraceRecord {
    std::vector<std::string> disk, debug;
    std::vector<SinkEntry> sink;
    std::string order;         // one letter per call: D disk log, d debugger output, S event sink
    int diskFailsOnWrite = 0;  // the disk log's write of this number fails with ENOSPC (0: none)
    int diskDestroyed = 0;
};

// Installs a recording disk log, debugger output and event sink on `trace`.
inline void InstallRecorders(zel::jsTraceCore& trace, TraceRecord& record) {
    struct Rec {
        explicit Rec(TraceRecord& record) : r(record) {}
        TraceRecord& r;
    };
    struct Disk : zel::jsTraceDiskLog, Rec {
        using Rec::Rec;
        ~Disk() override { ++r.diskDestroyed; }
        uint32_t Write(const char* line) override {
            r.disk.push_back(line);
            r.order += 'D';
            return static_cast<int>(r.disk.size()) == r.diskFailsOnWrite ? 28 : 0;
        }
    };
    struct Debug : zel::jsTraceDebugOutput, Rec {
        using Rec::Rec;
        void Write(const char* line) override {
            r.debug.push_back(line);
            r.order += 'd';
        }
    };
    struct Sink : zel::jsTraceEventSink, Rec {
        using Rec::Rec;
        void Write(const char* message, uint32_t level, uint32_t category) override {
            r.sink.emplace_back(message, level, category);
            r.order += 'S';
        }
    };
    trace.SetDiskLog(std::make_unique<Disk>(record));
    trace.SetDebugOutput(std::make_unique<Debug>(record));
    trace.SetEventSink(std::make_unique<Sink>(record));
}

using Lines = std::vector<std::string>;
using Sunk = std::vector<SinkEntry>;

constexpr uint32_t kCategory = 0x800;
constexpr uint32_t kWriteAll = zel::kTraceCategories | zel::kTraceOn;
const std::string kDiskLogClosed = "Disk log closed after output error: 28";

// A trace object with recording outputs and the given options.
struct Traced {
    explicit Traced(uint32_t options = kWriteAll, uint32_t maxLevel = 15) {
        InstallRecorders(trace, record);
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

TEST(TraceInterface, WritesOnlyEnabledCategoriesUpToMaxLevelWhileOnAsSequencePrefixContextTabAndMessage) {
    // A fresh object has no category enabled, and keeps a user value.
    TraceInterface fresh;
    EXPECT_FALSE(fresh.Trace(~0u, 1, nullptr, "never") || fresh.HexDump(~0u, 1, nullptr, "d", "a", 1));
    EXPECT_EQ(fresh.SetUserValue(5), 0u);
    EXPECT_EQ(fresh.SetUserValue(0xFFFFFFFF), 5u);
    const struct { const char* name; uint32_t options, maxLevel, category, level; bool written; } cases[] = {
        {"enabled, low bits ignored", 0x801, 7, 0x8FF, 7, true}, {"level above max", 0x801, 1, 0x800, 2, false},
        {"tracing off", 0x800, 15, 0x800, 1, false}, {"other category", 0x1001, 15, 0x800, 1, false},
        {"one of several categories", 0x80001001, 15, 0x80001800, 1, true},
        {"low bits are no category", 0xFFFFFFFF, 15, 0x7FF, 1, false}};
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
    t.trace.Trace(kCategory, 1, nullptr, "d");
    EXPECT_EQ(t.record.order.substr(t.record.order.size() - 5), "DdSDS");
    // The line holds up to 1024 bytes; a longer one keeps its first 1020 and ends in ">>>".
    const struct { const char* name; bool sequence; std::size_t contextLength, messageLength; bool cut; } lengths[] = {
        {"message fills the buffer", false, 0, 1024, false}, {"one byte too many", false, 0, 1025, true},
        {"sequence and context, fits", true, 3, 1018, false}, {"sequence and context, cut", true, 3, 1019, true},
        {"context alone too long", false, 2000, 10, true}, {"empty message", false, 0, 0, false}};
    for (const auto& c : lengths) {
        SCOPED_TRACE(c.name);
        Traced t(kWriteAll | (c.sequence ? zel::kTraceSequence : 0));
        const std::string context(c.contextLength, 'c');
        const std::string message(c.messageLength, 'm');
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, c.contextLength ? context.c_str() : nullptr, "%s", message.c_str()));
        const std::string whole = (c.sequence ? "1 " : "") + (c.contextLength ? context + "\t" : "") + message;
        const std::string& line = t.record.debug.at(0);
        EXPECT_EQ(line, c.cut ? whole.substr(0, 1020) + ">>>" : whole);
        // The event sink hears what is left of the message.
        const std::size_t head = whole.size() - message.size();
        EXPECT_EQ(std::get<0>(t.record.sink.at(0)), head < line.size() ? line.substr(head) : "");
        // The line and the next one stay whole: the cut never runs past the buffer.
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, nullptr, "next"));
        EXPECT_EQ(t.record.debug.at(1), c.sequence ? "2 next" : "next");
    }
}

TEST(TraceInterface, DiskLogErrorsStatusLinesAndPrefixes) {
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
    for (const char* message : {"one", "two"}) quiet.trace.Trace(kCategory, 1, nullptr, "%s", message);
    EXPECT_EQ(quiet.record.diskDestroyed, 1);
    EXPECT_EQ(quiet.record.debug, (Lines{"one", "two"}));
    EXPECT_EQ(quiet.trace.Options(), kWriteAll | zel::kTraceDiskLogClosed);
    const struct { uint32_t status, level, sinkLevel; } cases[] = {
        // errors, informational, warnings, success, platform numbers
        {ZEL_E_INVALIDARG, 8, 1}, {ZEL_I_SS_NO_POLICY_CHANGE, 12, 9}, {ZEL_W_SCS_HTTP_REDIRECT, 8, 3},
        {ZEL_W_SCS_HTTP_REDIRECT, 2, 2}, {0, 8, 0}, {ENOENT, 8, 0}};
    for (const auto& c : cases) {
        Traced t;
        ASSERT_TRUE(t.trace.TraceStatus(kCategory, c.level, "Op()", c.status));
        const std::string text = zel::ZELError(c.status).GetText(240);
        EXPECT_EQ(t.record.debug, (Lines{"Op()\t" + text}));
        EXPECT_EQ(t.record.sink, (Sunk{{text, c.sinkLevel, kCategory}}));
    }
    // The text takes inserts and is never read as a format.
    Traced plain;
    ASSERT_TRUE(plain.trace.TraceStatus(kCategory, 1, nullptr, ZEL_E_GENERIC_TEXT, {"100% %s %n"}));
    EXPECT_EQ(plain.record.debug, (Lines{"100% %s %n [ID=0xc0000001]"}));
    // The prefix: local time and thread in the date form the options ask; with timestamps on,
    // a line has it after its sequence number.
    // The thread follows "T:".
    const struct { uint32_t options; const char* pattern; } forms[] = {
        {0, R"((\d{4})/(\d\d)/(\d\d) \d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        {zel::kTraceMonthDayYear, R"((\d\d)/(\d\d)/(\d{4}) \d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"},
        {zel::kTraceTimeOnly, R"(\d\d:\d\d:\d\d\.\d\d T:([0-9a-f]{4,}) )"}};
    for (const auto& c : forms) {
        Traced t(kWriteAll | zel::kTraceSequence | zel::kTraceTimestamps | c.options);
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, "Op()", "stamped"));
        std::smatch parts;
        const std::regex line(std::string("1 ") + c.pattern + R"(Op\(\)\tstamped)");
        ASSERT_TRUE(std::regex_match(t.record.debug.at(0), parts, line)) << t.record.debug[0];
        char thread[16];
        std::snprintf(thread, sizeof thread, "%4.4x", static_cast<unsigned>(zel::platform::CurrentThreadId()));
        EXPECT_EQ(parts[parts.size() - 1].str(), thread);
        EXPECT_EQ(std::get<0>(t.record.sink.at(0)), "stamped");
    }
}

// 20 bytes: 16 for the first line, 4 for the second.
const unsigned char kDumpData[] = {'H', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', 0x00, 0x01, 0x20,
                                   0x7F, 0xFF, 'A', 'B', 'C'};

TEST(TraceHexDump, IsAHeaderThenSixteenBytesALine) {
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
    static const unsigned char bytes[64] = {1, 2, 3};
    // byteLines: the lines after the header.
    const struct { const void* data; std::size_t length; uint32_t level; const char* label; std::size_t byteLines; }
    cases[] = {
        {bytes, 20, 14, "data", 0}, {bytes, 16, 15, "data", 1}, {bytes, 33, 15, nullptr, 3}, {bytes, 0, 15, "data", 0},
        {nullptr, 5, 15, "data", 0}};
    for (const auto& c : cases) {
        Traced t;
        ASSERT_TRUE(t.trace.HexDump(kCategory, c.level, nullptr, c.label, c.data, c.length));
        ASSERT_EQ(t.record.debug.size(), 1 + c.byteLines);
        char header[64];
        std::snprintf(header, sizeof header, "%s@0x%s len=%zu (%zx)", c.label ? c.label : "buffer",
                      Hex(c.data).c_str(), c.length, c.length);
        EXPECT_EQ(t.record.debug[0], header);
        EXPECT_EQ(c.byteLines ? t.record.debug.back().find(Hex(bytes + 16 * (c.byteLines - 1)) + ":") : 0, 0u);
    }
}

// The ready outputs.

TEST(TraceOutputs, FileLogAppendsLinesOrGivesTheErrorStderrWritesLinesAndSyslogMapsLevels) {
    zel::test::TempDir dir;
    const std::string file = dir.File("trace.log");
    const auto ReadFile = [](const std::string& path) {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
    };
    std::ofstream(file) << "kept from before\n";
    uint32_t error = 1;
    auto log = zel::jsFileTraceLog::Open(file.c_str(), error);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(log->Write("1 first"), 0u);
    EXPECT_EQ(ReadFile(file), "kept from before\n1 first\n");  // written at once, not buffered
    EXPECT_EQ(log->Write("") | log->Write("3 third") | log->Flush(), 0u);
    log.reset();
    EXPECT_EQ(ReadFile(file), "kept from before\n1 first\n\n3 third\n");
    EXPECT_EQ(zel::jsFileTraceLog::Open(dir.Path().c_str(), error), nullptr);  // a directory
    EXPECT_EQ(error, static_cast<uint32_t>(EISDIR));
    EXPECT_EQ(zel::jsFileTraceLog::Open(nullptr, error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(EINVAL));
    auto full = zel::jsFileTraceLog::Open("/dev/full", error);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->Write("line"), static_cast<uint32_t>(ENOSPC));
    testing::internal::CaptureStderr();
    zel::jsStderrTraceOutput output;
    output.Write("1 to standard error");
    output.Write("2 again");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "1 to standard error\n2 again\n");
    // The system log sink maps the trace level to a priority.
    static std::vector<std::pair<int, std::string>> g_logged;  // priority and message
    const struct { uint32_t level; int priority; } cases[] = {
        {1, LOG_ERR}, {2, LOG_WARNING}, {3, LOG_WARNING}, {0, LOG_INFO}, {4, LOG_INFO}};
    for (const auto& c : cases) {
        g_logged.clear();
        zel::jsSyslogTraceSink([](zel::platform::SystemLogLevel level, const char* message) {
            g_logged.emplace_back(zel::platform::SystemLogPriority(level), message);
        }).Write("the message", c.level, 0x800);
        EXPECT_EQ(g_logged, (std::vector<std::pair<int, std::string>>{{c.priority, "the message"}})) << c.level;
    }
    // By default the sink writes to the system log: nothing to read back without a log
    // daemon; the call must simply not fail.
    zel::jsSyslogTraceSink().Write("ss trace test: an information line", 8, 0x800);
}

// Two modules of one process, each with its own copy of the runtime, write through one
// trace object once the registry is published to them.

TEST(TraceModules, TwoModulesOfOneProcessWriteThroughOneObject) {
    // This process's own object is found once and registered as TraceInterface.
    EXPECT_TRUE(zel::ProcessTrace() && zel::ProcessTrace() == zel::LookupSingleton("TraceInterface"));
    // The registry an agent would publish. Both modules are loaded here for the first time,
    // so each finds its registry now.
    static zel::jsSingletonRegistry* const registry = new zel::jsSingletonRegistry;
    char value[48];
    std::snprintf(value, sizeof value, "%llx,%x", reinterpret_cast<unsigned long long>(registry),
                  static_cast<unsigned>(getpid()));
    setenv(zel::kSingletonRegistryVariable, value, 1);
    void* const first = dlopen(ZEL_TRACE_MODULE_A_PATH, RTLD_NOW | RTLD_LOCAL);
    void* const second = dlopen(ZEL_TRACE_MODULE_B_PATH, RTLD_NOW | RTLD_LOCAL);
    unsetenv(zel::kSingletonRegistryVariable);
    ASSERT_TRUE(first && second) << dlerror();
    auto objectOf = [](void* module) { return reinterpret_cast<void* (*)()>(dlsym(module, "TraceModuleObject"))(); };
    auto write = [](void* module, const char* text) {
        return reinterpret_cast<int (*)(const char*)>(dlsym(module, "TraceModuleWrite"))(text) != 0;
    };
    // The first module created the object in the published registry; the second found it.
    auto* const trace = static_cast<zel::TraceInterface*>(registry->Find("TraceInterface"));
    ASSERT_NE(trace, nullptr);
    EXPECT_TRUE(objectOf(first) == trace && objectOf(second) == trace);

    // One object: one set of outputs, one filter, one sequence.
    static TraceRecord record;  // the object keeps its outputs
    InstallRecorders(*trace, record);
    EXPECT_FALSE(write(second, "filtered: no category enabled yet"));
    trace->SetOptions(zel::kTraceCategories | zel::kTraceOn | zel::kTraceSequence, 1);
    trace->ResetSequence();
    EXPECT_TRUE(write(first, "first") && write(second, "second") && write(first, "third"));
    const Lines expected = {"1 module-a\tfirst", "2 module-b\tsecond", "3 module-a\tthird"};
    EXPECT_EQ(Lines(record.debug.end() - 3, record.debug.end()), expected);

    // The object's code is the first module's: it stays loaded when closed.
    dlclose(first);
    dlclose(second);
    EXPECT_NE(dlopen(ZEL_TRACE_MODULE_A_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
    trace->SetOptions(zel::kTraceInitialOptions, zel::kTraceInitialMaxLevel);
}

// Several threads write lines and dumps through one trace object at once: every line comes
// out whole, a dump's lines stay together, and every line has a number of its own.

constexpr int kThreads = 4, kLinesPerThread = 300, kDumpEvery = 25;  // every 25th write is a dump
constexpr std::size_t kDumpBytes = 24;                                // two dump lines

std::string Payload(int thread) { return std::string(100, static_cast<char>('a' + thread)); }

TEST(TraceThreads, LinesOfDifferentThreadsNeverInterleave) {
    Traced t(kWriteAll | zel::kTraceSequence | zel::kTraceTimestamps, zel::kTraceDumpLevel);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([&, k] {
            const std::string context = "T" + std::to_string(k), payload = Payload(k);
            const std::string bytes(kDumpBytes, static_cast<char>('A' + k));
            for (++ready; ready < kThreads;) std::this_thread::yield();
            for (int i = 0; i < kLinesPerThread; ++i) {
                if (i % kDumpEvery == 0)
                    t.trace.HexDump(0x800, zel::kTraceDumpLevel, context.c_str(), context.c_str(), bytes.data(),
                                  kDumpBytes);
                else
                    t.trace.Trace(0x800, 1, context.c_str(), "line %d %s", i, payload.c_str());
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    const int dumps = (kLinesPerThread + kDumpEvery - 1) / kDumpEvery;
    const TraceRecord& record = t.record;
    ASSERT_EQ(record.debug.size(), std::size_t(kThreads * (kLinesPerThread - dumps + 3 * dumps)));
    EXPECT_EQ(record.disk, record.debug);
    const std::regex shape(R"((\d+) \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d T:[0-9a-f]{4,} (T(\d)\t)?(.*))");
    unsigned previous = 0;
    int nextLine[kThreads] = {}, dumpLinesLeft = 0, dumpThread = -1;
    for (const std::string& line : record.debug) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(line, parts, shape)) << line;
        const unsigned sequence = static_cast<unsigned>(std::stoul(parts[1]));
        // A dump line has no context: it belongs to the thread of its header.
        ASSERT_EQ(parts[2].matched, dumpLinesLeft == 0) << line;
        const int k = dumpLinesLeft ? dumpThread : std::stoi(parts[3]);
        const std::string rest = parts[4], context = "T" + std::to_string(k);
        // Every line takes the next number, except a dump's lines, which share the header's.
        ASSERT_EQ(sequence, dumpLinesLeft == 1 ? previous : previous + 1) << line;
        previous = sequence;
        if (dumpLinesLeft > 0) {
            // The dump's lines follow its header at once, with its thread's bytes.
            const std::size_t count = dumpLinesLeft-- == 2 ? 16 : kDumpBytes - 16;
            std::string text = ":";
            for (std::size_t i = 0; i < 16; ++i) text += i < count ? " 4" + std::to_string(k + 1) : " ..";
            ASSERT_EQ(rest.substr(rest.find(':')), text + " - \"" + std::string(count, char('A' + k)) + "\"");
        } else if (nextLine[k]++ % kDumpEvery == 0) {
            ASSERT_TRUE(std::regex_match(rest, std::regex(context + R"(@0x[0-9a-f]{8,} len=24 \(18\))"))) << line;
            dumpLinesLeft = 2;
            dumpThread = k;
        } else {
            ASSERT_EQ(rest, "line " + std::to_string(nextLine[k] - 1) + " " + Payload(k)) << line;
        }
    }
    for (int k = 0; k < kThreads; ++k) EXPECT_EQ(nextLine[k], kLinesPerThread);
    EXPECT_EQ(previous, static_cast<unsigned>(kThreads * (kLinesPerThread + dumps)));
}

}  // namespace
