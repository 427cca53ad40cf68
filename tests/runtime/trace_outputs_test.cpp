#include "runtime/trace_outputs.h"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace {

using zel::platform::SystemLogLevel;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FileTraceLog, AppendsEachLineWithALineFeed) {
    zel::test::TempDir dir;
    const std::string path = dir.File("trace.log");
    std::ofstream(path) << "kept from before\n";
    uint32_t error = 1;
    auto log = zel::jsFileTraceLog::Open(path.c_str(), error);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(log->Write("1 first"), 0u);
    EXPECT_EQ(ReadFile(path), "kept from before\n1 first\n");  // written at once, not buffered
    EXPECT_EQ(log->Write(""), 0u);
    EXPECT_EQ(log->Write("3 third"), 0u);
    EXPECT_EQ(log->Flush(), 0u);
    log.reset();
    EXPECT_EQ(ReadFile(path), "kept from before\n1 first\n\n3 third\n");
}

TEST(FileTraceLog, CreatesAMissingFile) {
    zel::test::TempDir dir;
    uint32_t error = 1;
    auto log = zel::jsFileTraceLog::Open(dir.File("new.log").c_str(), error);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->Write("line"), 0u);
    EXPECT_EQ(ReadFile(dir.File("new.log")), "line\n");
}

TEST(FileTraceLog, OpenFailureGivesTheErrorNumber) {
    zel::test::TempDir dir;
    uint32_t error = 0;
    EXPECT_EQ(zel::jsFileTraceLog::Open(dir.File("missing/trace.log").c_str(), error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(zel::jsFileTraceLog::Open(dir.Path().c_str(), error), nullptr);  // a directory
    EXPECT_EQ(error, static_cast<uint32_t>(EISDIR));
    EXPECT_EQ(zel::jsFileTraceLog::Open(nullptr, error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(EINVAL));
}

TEST(FileTraceLog, WriteToAFullDeviceGivesTheErrorNumber) {
    uint32_t error = 1;
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

struct Logged {
    SystemLogLevel level;
    std::string message;
};
std::vector<Logged> g_logged;

void RecordLog(SystemLogLevel level, const char* message) { g_logged.push_back({level, message}); }

struct SyslogCase {
    uint32_t level;
    int priority;
};

void PrintTo(const SyslogCase& c, std::ostream* out) { *out << "level " << c.level; }

class SyslogTraceSink : public testing::TestWithParam<SyslogCase> {};

TEST_P(SyslogTraceSink, MapsTheTraceLevelToAPriority) {
    const SyslogCase& c = GetParam();
    EXPECT_EQ(zel::platform::SystemLogPriority(zel::jsSyslogTraceSink::LevelOf(c.level)), c.priority);
    g_logged.clear();
    zel::jsSyslogTraceSink sink(&RecordLog);
    sink.Write("the message", c.level, 0x800);
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_EQ(zel::platform::SystemLogPriority(g_logged[0].level), c.priority);
    EXPECT_EQ(g_logged[0].message, "the message");
}

INSTANTIATE_TEST_SUITE_P(Levels, SyslogTraceSink,
                         testing::Values(SyslogCase{1, LOG_ERR}, SyslogCase{2, LOG_WARNING}, SyslogCase{3, LOG_WARNING},
                                         SyslogCase{0, LOG_INFO}, SyslogCase{4, LOG_INFO}, SyslogCase{8, LOG_INFO},
                                         SyslogCase{9, LOG_INFO}, SyslogCase{15, LOG_INFO},
                                         SyslogCase{0xFFFFFFFF, LOG_INFO}));

TEST(SyslogTraceSink, WritesToTheSystemLogByDefault) {
    // Nothing to read back without a log daemon; the call must simply not fail.
    zel::jsSyslogTraceSink sink;
    sink.Write("ss trace test: an information line", 8, 0x800);
}

}  // namespace
