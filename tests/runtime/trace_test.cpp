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

using Lines = std::vector<std::string>;
using Sunk = std::vector<std::tuple<std::string, uint32_t, uint32_t>>;  // message, level, category

// What the disk log and the event sink were handed, in order. Outputs run under the trace
// object's lock, so the record needs no lock of its own. The debugger output gets the same
// lines as the disk log; the tests that need it use the ready standard error output.
struct TraceRecord {
    Lines disk;
    Sunk sink;
    int diskFailsOnWrite = 0;  // the disk log's write of this number fails with ENOSPC (0: none)
    int diskDestroyed = 0;
};

// Installs a recording disk log and event sink on `trace`.
inline void InstallRecorders(zel::jsTraceCore& trace, TraceRecord& record) {
    struct Disk : zel::jsTraceDiskLog {
        explicit Disk(TraceRecord& record) : r(record) {}
        ~Disk() override { ++r.diskDestroyed; }
        uint32_t Write(const char* line) override {
            r.disk.push_back(line);
            return static_cast<int>(r.disk.size()) == r.diskFailsOnWrite ? 28 : 0;
        }
        TraceRecord& r;
    };
    struct Sink : zel::jsTraceEventSink {
        explicit Sink(TraceRecord& record) : r(record) {}
        void Write(const char* message, uint32_t level, uint32_t category) override {
            r.sink.emplace_back(message, level, category);
        }
        TraceRecord& r;
    };
    trace.SetDiskLog(std::make_unique<Disk>(record));
    trace.SetEventSink(std::make_unique<Sink>(record));
}

constexpr uint32_t kCategory = 0x800;
constexpr uint32_t kWriteAll = zel::kTraceCategories | zel::kTraceOn;

// A trace object with recording outputs and the given options.
struct Traced : TraceRecord {
    explicit Traced(uint32_t options = kWriteAll, uint32_t maxLevel = 15) {
        InstallRecorders(trace, *this);
        trace.SetOptions(options, maxLevel);
    }
    zel::TraceInterface trace;
};

// 20 bytes for a dump: 16 for the first line, 4 for the second.
const char kDumpData[] = "Hello, world\0\x01 \x7f\xff" "ABC";

std::string Hex(const void* address) {
    char text[24];
    std::snprintf(text, sizeof text, "%8.8lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
    return text;
}

TEST(TraceInterface, WritesEnabledCategoriesUpToMaxLevelAsSequencePrefixContextTabAndMessageOrADump) {
    // TraceStatus and HexDump go through the same filter as Trace.
    const struct { const char* name; uint32_t options, maxLevel, category, level; bool written; } cases[] = {
        {"enabled, low bits ignored", 0x801, 7, 0x8FF, 7, true}, {"level above max", 0x801, 1, 0x800, 2, false},
        {"tracing off", 0x800, 15, 0x800, 1, false}, {"other category", 0x1001, 15, 0x800, 1, false},
        {"one of several categories", 0x80001001, 15, 0x80001800, 1, true},
        {"low bits are no category", 0xFFFFFFFF, 15, 0x7FF, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Traced t(c.options, c.maxLevel);
        EXPECT_EQ(t.trace.Trace(c.category, c.level, nullptr, "x"), c.written);
        // A filtered line does not advance the sequence.
        EXPECT_EQ(t.trace.Sequence(), c.written ? 1u : 0u);
        // The object keeps one value of its owner's, 0 at first.
        EXPECT_TRUE(t.trace.SetUserValue(c.maxLevel) == 0u && t.trace.SetUserValue(5) == c.maxLevel);
    }
    // The debugger output (here the ready standard error output) hears the lines the disk log
    // hears; the event sink hears the message alone, with the level and the category without
    // its low bits.
    Traced t(kWriteAll | zel::kTraceSequence);
    t.trace.SetDebugOutput(std::make_unique<zel::jsStderrTraceOutput>());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(t.trace.Trace(kCategory | 0x7F, 2, "CBaseServices::Init()", "value %d of %s", 7, "seven"));
    EXPECT_TRUE(t.trace.Trace(kCategory, 2, nullptr, "no context"));
    EXPECT_TRUE(t.trace.Trace(kCategory, 2, "", "%s|%5.2f|%%|%c", "text\n", 3.14159, 'z'));  // no line end added
    const Lines lines = {"1 CBaseServices::Init()\tvalue 7 of seven", "2 no context", "3 \ttext\n| 3.14|%|z"};
    EXPECT_EQ(testing::internal::GetCapturedStderr(), lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
    EXPECT_EQ(t.sink, (Sunk{{"value 7 of seven", 2, kCategory}, {"no context", 2, kCategory},
                            {"text\n| 3.14|%|z", 2, kCategory}}));
    // The sequence starts again after a reset. A dump is a header, then sixteen bytes a line,
    // all under one number; a null buffer gives the header alone, with the default label.
    t.trace.ResetSequence();
    t.trace.Trace(kCategory, 1, nullptr, "again");
    ASSERT_TRUE(t.trace.HexDump(kCategory, 15, "Op()", "reply", kDumpData, sizeof kDumpData - 1));
    ASSERT_TRUE(t.trace.HexDump(kCategory, 15, nullptr, nullptr, nullptr, 5));
    const std::string at = Hex(kDumpData), second = Hex(kDumpData + 16);
    EXPECT_EQ(t.disk, (Lines{lines[0], lines[1], lines[2], "1 again", "2 Op()\treply@0x" + at + " len=20 (14)",
                             "3 " + at + ": 48 65 6c 6c 6f 2c 20 77 6f 72 6c 64 00 01 20 7f - \"Hello,.world...\x7f\"",
                             "3 " + second + ": ff 41 42 43 .. .. .. .. .. .. .. .. .. .. .. .. - \"\xff" "ABC\"",
                             "4 buffer@0x" + Hex(nullptr) + " len=5 (5)"}));
    // The line holds up to 1024 bytes; a longer one keeps its first 1020 and ends in ">>>".
    const struct { const char* name; bool sequence; std::size_t contextLength, messageLength; bool cut; } lengths[] = {
        {"message fills the buffer", false, 0, 1024, false}, {"one byte too many", false, 0, 1025, true},
        {"sequence and context, fits", true, 3, 1018, false}, {"sequence and context, cut", true, 3, 1019, true},
        {"context alone too long", false, 2000, 10, true}, {"empty message", false, 0, 0, false}};
    for (const auto& c : lengths) {
        SCOPED_TRACE(c.name);
        Traced t(kWriteAll | (c.sequence ? zel::kTraceSequence : 0));
        const std::string context(c.contextLength, 'c'), message(c.messageLength, 'm');
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, c.contextLength ? context.c_str() : nullptr, "%s", message.c_str()));
        // The line and the next one stay whole: the cut never runs past the buffer.
        ASSERT_TRUE(t.trace.Trace(kCategory, 1, nullptr, "next"));
        const std::string whole = (c.sequence ? "1 " : "") + (c.contextLength ? context + "\t" : "") + message;
        EXPECT_EQ(t.disk, (Lines{c.cut ? whole.substr(0, 1020) + ">>>" : whole, c.sequence ? "2 next" : "next"}));
    }
}

TEST(TraceInterface, DiskLogErrorsStatusLinesAndPrefixes) {
    // A failed write closes the disk log; the event sink hears why, and without one the log is
    // closed quietly.
    for (const bool sink : {true, false}) {
        Traced t(kWriteAll | zel::kTraceSequence);
        if (!sink) t.trace.SetEventSink(nullptr);
        t.diskFailsOnWrite = 2;  // the second write fails with error 28
        for (const char* message : {"one", "two", "three"}) t.trace.Trace(kCategory, 4, "C", "%s", message);
        EXPECT_EQ(t.disk, (Lines{"1 C\tone", "2 C\ttwo"}));  // what reached Write
        EXPECT_EQ(t.diskDestroyed, 1);
        EXPECT_EQ(t.sink, sink ? (Sunk{{"one", 4, 0x800}, {"Disk log closed after output error: 28", 1, 0x800},
                                       {"two", 4, 0x800}, {"three", 4, 0x800}}) : Sunk{});
        EXPECT_EQ(t.trace.Options(), kWriteAll | zel::kTraceSequence | zel::kTraceDiskLogClosed);
    }
    const struct { uint32_t status, level, sinkLevel; } cases[] = {
        // errors, informational, warnings, success, platform numbers
        {ZEL_E_INVALIDARG, 8, 1}, {ZEL_I_SS_NO_POLICY_CHANGE, 12, 9}, {ZEL_W_SCS_HTTP_REDIRECT, 8, 3},
        {ZEL_W_SCS_HTTP_REDIRECT, 2, 2}, {0, 8, 0}, {ENOENT, 8, 0}};
    for (const auto& c : cases) {
        Traced t;
        ASSERT_TRUE(t.trace.TraceStatus(kCategory, c.level, "Op()", c.status));
        const std::string text = zel::ZELError(c.status).GetText(240);
        EXPECT_EQ(t.disk, (Lines{"Op()\t" + text}));
        EXPECT_EQ(t.sink, (Sunk{{text, c.sinkLevel, kCategory}}));
    }
    // The text takes inserts and is never read as a format.
    Traced plain;
    ASSERT_TRUE(plain.trace.TraceStatus(kCategory, 1, nullptr, ZEL_E_GENERIC_TEXT, {"100% %s %n"}));
    EXPECT_EQ(plain.disk, (Lines{"100% %s %n [ID=0xc0000001]"}));
    // The prefix: local time and thread (after "T:") in the time-only and month-first forms,
    // after the sequence number (the threads test below checks the form with the year first).
    for (const uint32_t form : {zel::kTraceTimeOnly, zel::kTraceMonthDayYear}) {
        Traced stamped(kWriteAll | zel::kTraceSequence | zel::kTraceTimestamps | form);
        ASSERT_TRUE(stamped.trace.Trace(kCategory, 1, "Op()", "stamped"));
        const std::string date = form == zel::kTraceTimeOnly ? "" : R"(\d\d/\d\d/\d{4} )";
        const std::regex line("1 " + date + R"(\d\d:\d\d:\d\d\.\d\d T:[0-9a-f]{4,} Op\(\)\tstamped)");
        EXPECT_TRUE(std::regex_match(stamped.disk.at(0), line)) << stamped.disk[0];
    }
}

// The ready outputs (the standard error output is checked with the line format above).

TEST(TraceOutputs, FileLogAppendsLinesOrGivesTheErrorAndSyslogMapsLevels) {
    zel::test::TempDir dir;
    const std::string file = dir.File("trace.log");
    std::ofstream(file) << "kept from before\n";
    uint32_t error = 1;
    auto log = zel::jsFileTraceLog::Open(file.c_str(), error);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->Write("1 first") | log->Write("") | log->Flush(), 0u);
    // Written at once, not buffered.
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(file, std::ios::binary).rdbuf()), {}),
              "kept from before\n1 first\n\n");
    EXPECT_EQ(zel::jsFileTraceLog::Open(nullptr, error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(EINVAL));
    auto full = zel::jsFileTraceLog::Open("/dev/full", error);
    EXPECT_TRUE(full && full->Write("line") == static_cast<uint32_t>(ENOSPC));
    // The system log sink maps the trace level to a priority.
    static std::vector<std::pair<int, std::string>> g_logged;  // priority and message
    zel::jsSyslogTraceSink sink([](zel::platform::SystemLogLevel level, const char* message) {
        g_logged.emplace_back(zel::platform::SystemLogPriority(level), message);
    });
    for (const char* level : {"1", "2", "3", "0", "4"}) sink.Write(level, std::atoi(level), 0x800);
    EXPECT_EQ(g_logged, (std::vector<std::pair<int, std::string>>{
                            {LOG_ERR, "1"}, {LOG_WARNING, "2"}, {LOG_WARNING, "3"}, {LOG_INFO, "0"}, {LOG_INFO, "4"}}));
    // By default the sink writes to the system log, which copies to standard error when opened so.
    openlog("trace_test", LOG_PERROR, LOG_USER);
    testing::internal::CaptureStderr();
    zel::jsSyslogTraceSink().Write("an information line", 8, 0x800);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("an information line"), std::string::npos);
    closelog();
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
    auto write = [](void* module, const char* text) {
        return reinterpret_cast<int (*)(const char*)>(dlsym(module, "TraceModuleWrite"))(text) != 0;
    };
    // The first module created the object in the published registry; the second found it, as
    // the lines of both reaching the outputs installed on it show.
    auto* const trace = static_cast<zel::TraceInterface*>(registry->Find("TraceInterface"));
    ASSERT_NE(trace, nullptr);

    // One object: one set of outputs, one filter, one sequence.
    static TraceRecord record;  // the object keeps its outputs
    InstallRecorders(*trace, record);
    trace->SetOptions(zel::kTraceCategories | zel::kTraceOn | zel::kTraceSequence, 1);
    trace->ResetSequence();
    EXPECT_TRUE(write(first, "first") && write(second, "second") && write(first, "third"));
    EXPECT_EQ(Lines(record.disk.end() - 3, record.disk.end()),
              (Lines{"1 module-a\tfirst", "2 module-b\tsecond", "3 module-a\tthird"}));

    // The object's code is the first module's: it stays loaded when closed.
    dlclose(first);
    dlclose(second);
    EXPECT_NE(dlopen(ZEL_TRACE_MODULE_A_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
    trace->SetOptions(zel::kTraceInitialOptions, zel::kTraceInitialMaxLevel);
}

// Several threads write through one trace object at once: every line comes out whole, with
// a number of its own, and each thread's lines in their order.

constexpr int kThreads = 4, kLinesPerThread = 300;

TEST(TraceThreads, LinesOfDifferentThreadsNeverInterleave) {
    Traced t(kWriteAll | zel::kTraceSequence | zel::kTraceTimestamps);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([&, k] {
            const std::string context = "T" + std::to_string(k), payload(100, static_cast<char>('a' + k));
            for (++ready; ready < kThreads;) std::this_thread::yield();
            for (int i = 0; i < kLinesPerThread; ++i)
                t.trace.Trace(0x800, 1, context.c_str(), "line %d %s", i, payload.c_str());
        });
    }
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(t.disk.size(), std::size_t(kThreads * kLinesPerThread));
    const std::regex shape(R"((\d+) \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d T:[0-9a-f]{4,} T(\d)\tline (\d+) ([a-z]+))");
    int nextLine[kThreads] = {};
    for (std::size_t n = 0; n < t.disk.size(); ++n) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(t.disk[n], parts, shape)) << t.disk[n];
        const int k = std::stoi(parts[2]);
        ASSERT_EQ(std::make_tuple(std::stoul(parts[1]), std::stoi(parts[3]), parts[4].str()),
                  std::make_tuple(n + 1, nextLine[k]++, std::string(100, static_cast<char>('a' + k)))) << t.disk[n];
    }
}

}  // namespace
