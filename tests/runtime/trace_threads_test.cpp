// Several threads write lines and dumps through one trace object at once (also run in the
// ThreadSanitizer stage): every line comes out whole, a dump's lines stay together, and
// every line has a number of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/platform.h"
#include "runtime/trace.h"
#include "tests/runtime/trace_recorder.h"

namespace {

constexpr int kThreads = 4;
constexpr int kLinesPerThread = 300;
constexpr int kDumpEvery = 25;          // every 25th write of a thread is a dump
constexpr std::size_t kDumpBytes = 24;  // two dump lines
constexpr uint32_t kCategory = 0x800;

std::string Payload(int thread) { return std::string(100, static_cast<char>('a' + thread)); }

// A dump line of thread k's bytes ('A' + k) from its colon on, with `count` bytes.
std::string DumpLineText(int k, std::size_t count) {
    std::string text = ":";
    for (std::size_t i = 0; i < 16; ++i) text += i < count ? " 4" + std::to_string(k + 1) : " ..";
    return text + " - \"" + std::string(count, static_cast<char>('A' + k)) + "\"";
}

TEST(TraceThreads, LinesOfDifferentThreadsNeverInterleave) {
    zel::TraceInterface trace;
    zel::test::TraceRecord record;
    zel::test::InstallRecorders(trace, record);
    trace.SetOptions(zel::kTraceCategories | zel::kTraceOn | zel::kTraceSequence | zel::kTraceTimestamps,
                     zel::kTraceDumpLevel);

    unsigned char bytes[kThreads][kDumpBytes];
    std::string threadIds[kThreads];
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k) {
        for (std::size_t i = 0; i < kDumpBytes; ++i) bytes[k][i] = static_cast<unsigned char>('A' + k);
        threads.emplace_back([&, k] {
            char id[16];
            std::snprintf(id, sizeof id, "%4.4x", static_cast<unsigned>(zel::platform::CurrentThreadId()));
            threadIds[k] = id;
            const std::string context = "T" + std::to_string(k), payload = Payload(k);
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            for (int i = 0; i < kLinesPerThread; ++i) {
                if (i % kDumpEvery == 0)
                    trace.HexDump(kCategory, zel::kTraceDumpLevel, context.c_str(), context.c_str(), bytes[k],
                                  kDumpBytes);
                else
                    trace.Trace(kCategory, 1, context.c_str(), "line %d of thread %d %s", i, k, payload.c_str());
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    std::map<std::string, int> threadOf;
    for (int k = 0; k < kThreads; ++k) threadOf[threadIds[k]] = k;
    const int dumps = (kLinesPerThread + kDumpEvery - 1) / kDumpEvery;
    const std::size_t expected = kThreads * (kLinesPerThread - dumps + 3 * dumps);
    ASSERT_EQ(record.debug.size(), expected);
    EXPECT_EQ(record.disk, record.debug);

    const std::regex shape(R"((\d+) \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d T:([0-9a-f]+) (.*))");
    unsigned previous = 0;
    int nextLine[kThreads] = {};
    int dumpLinesLeft = 0, dumpThread = -1;
    for (const std::string& line : record.debug) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(line, parts, shape)) << line;
        const unsigned sequence = static_cast<unsigned>(std::stoul(parts[1]));
        ASSERT_EQ(threadOf.count(parts[2]), 1u) << line;
        const int k = threadOf[parts[2]];
        const std::string rest = parts[3], context = "T" + std::to_string(k);
        if (dumpLinesLeft > 0) {
            // The dump's lines follow its header at once, from its thread, with one number.
            ASSERT_EQ(k, dumpThread) << line;
            ASSERT_EQ(sequence, dumpLinesLeft == 2 ? previous + 1 : previous) << line;
            ASSERT_EQ(rest.substr(rest.find(':')), DumpLineText(k, dumpLinesLeft == 2 ? 16 : kDumpBytes - 16)) << line;
            --dumpLinesLeft;
        } else if (nextLine[k] % kDumpEvery == 0) {
            ASSERT_EQ(sequence, previous + 1) << line;
            ASSERT_TRUE(std::regex_match(rest, std::regex(context + "\t" + context + R"(@0x[0-9a-f]{8,} len=24 \(18\))")))
                << line;
            dumpLinesLeft = 2;
            dumpThread = k;
            ++nextLine[k];
        } else {
            ASSERT_EQ(sequence, previous + 1) << line;
            ASSERT_EQ(rest, context + "\tline " + std::to_string(nextLine[k]) + " of thread " + std::to_string(k) +
                                " " + Payload(k));
            ++nextLine[k];
        }
        previous = sequence;
    }
    for (int k = 0; k < kThreads; ++k) EXPECT_EQ(nextLine[k], kLinesPerThread);
    EXPECT_EQ(previous, static_cast<unsigned>(kThreads * (kLinesPerThread + dumps)));
}

}  // namespace
