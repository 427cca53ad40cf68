// The ready trace outputs: the file disk log on real files, standard error and the system
// log sink.
#include "runtime/trace_outputs.h"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FileTraceLog, AppendsEachLineWithALineFeedAtOnce) {
    zel::test::TempDir dir;
    const std::string path = dir.File("trace.log");
    std::ofstream(path) << "kept from before\n";
    for (const std::string& file : {path, dir.File("new.log")}) {  // an existing file, a missing one
        uint32_t error = 1;
        auto log = zel::jsFileTraceLog::Open(file.c_str(), error);
        ASSERT_NE(log, nullptr);
        EXPECT_EQ(error, 0u);
        EXPECT_EQ(log->Write("1 first"), 0u);
        const std::string before = file == path ? "kept from before\n" : "";
        EXPECT_EQ(ReadFile(file), before + "1 first\n");  // written at once, not buffered
        EXPECT_EQ(log->Write(""), 0u);
        EXPECT_EQ(log->Write("3 third"), 0u);
        EXPECT_EQ(log->Flush(), 0u);
        log.reset();
        EXPECT_EQ(ReadFile(file), before + "1 first\n\n3 third\n");
    }
}

TEST(FileTraceLog, FailuresGiveTheErrorNumber) {
    zel::test::TempDir dir;
    uint32_t error = 0;
    EXPECT_EQ(zel::jsFileTraceLog::Open(dir.File("missing/trace.log").c_str(), error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(zel::jsFileTraceLog::Open(dir.Path().c_str(), error), nullptr);  // a directory
    EXPECT_EQ(error, static_cast<uint32_t>(EISDIR));
    EXPECT_EQ(zel::jsFileTraceLog::Open(nullptr, error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(EINVAL));
    // A write to a full device.
    auto log = zel::jsFileTraceLog::Open("/dev/full", error);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->Write("line"), static_cast<uint32_t>(ENOSPC));
}

TEST(StderrTraceOutput, WritesEachLineWithALineFeed) {
    zel::test::TempDir dir;
    const std::string path = dir.File("stderr");
    const int saved = dup(2);
    ASSERT_GE(saved, 0);
    FILE* target = std::fopen(path.c_str(), "w");
    ASSERT_NE(target, nullptr);
    dup2(fileno(target), 2);
    zel::jsStderrTraceOutput output;
    output.Write("1 to standard error");
    output.Write("2 again");
    dup2(saved, 2);
    close(saved);
    std::fclose(target);
    EXPECT_EQ(ReadFile(path), "1 to standard error\n2 again\n");
}

std::vector<std::pair<int, std::string>> g_logged;  // priority and message

void RecordLog(zel::platform::SystemLogLevel level, const char* message) {
    g_logged.emplace_back(zel::platform::SystemLogPriority(level), message);
}

TEST(SyslogTraceSink, MapsTheTraceLevelToAPriority) {
    const struct {
        uint32_t level;
        int priority;
    } cases[] = {{1, LOG_ERR}, {2, LOG_WARNING}, {3, LOG_WARNING}, {0, LOG_INFO}, {4, LOG_INFO},
                 {8, LOG_INFO}, {9, LOG_INFO}, {15, LOG_INFO}, {0xFFFFFFFF, LOG_INFO}};
    for (const auto& c : cases) {
        g_logged.clear();
        zel::jsSyslogTraceSink sink(&RecordLog);
        sink.Write("the message", c.level, 0x800);
        EXPECT_EQ(g_logged, (std::vector<std::pair<int, std::string>>{{c.priority, "the message"}})) << c.level;
    }
    // By default the sink writes to the system log: nothing to read back without a log
    // daemon; the call must simply not fail.
    zel::jsSyslogTraceSink sink;
    sink.Write("ss trace test: an information line", 8, 0x800);
}

}  // namespace
