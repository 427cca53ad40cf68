// ss-agent: its command line (each one accepted or refused with its reason), and the real
// binary run as a child process with --trace-log, which shares the agent's trace object
// with the library and installs a disk log on it that takes every line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/agent/agent_options.h"

namespace zel::agent {
namespace {

// The outcome: "" when accepted, "help" for the help, else the start of the reason.
std::string Outcome(std::vector<const char*> arguments, AgentOptions* read = nullptr) {
    arguments.insert(arguments.begin(), "ss-agent");
    std::string error;
    const auto options =
        ParseAgentOptions(static_cast<int>(arguments.size()), const_cast<char**>(arguments.data()), error);
    if (options && read) *read = *options;
    return options ? "" : error.empty() ? "help" : error;
}

TEST(AgentOptions, CommandLinesAreAcceptedOrRefusedWithTheirReason) {
    const struct { std::vector<const char*> arguments; std::string outcome; } cases[] = {
        {{}, ""}, {{"--help"}, "help"},
        {{"--heartbeats", "0", "--ping-after", "0", "--trace", "0xb", "--controller", "h:1"}, ""},
        {{"--frobnicate", "1"}, "The following arguments were not expected: 1 --frobnicate"},
        {{"--heartbeats", "x"}, "--heartbeats: Value x not in range 0 to 1000000"},
        {{"--interval-ms"}, "--interval-ms: 1 required"},
        {{"--agent-id", "short"}, "--agent-id: must have 36 characters"},
        {{"--controller", "nohost"}, "--controller: takes HOST:PORT"},
    };
    for (const auto& c : cases) {
        const std::string outcome = Outcome(c.arguments);
        EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome) << outcome;
        EXPECT_EQ(outcome.empty(), c.outcome.empty()) << outcome;
    }
    AgentOptions read;
    ASSERT_EQ(Outcome({"--heartbeats", "4", "--heartbeats", "7", "--trace", "0xb"}, &read), "");
    EXPECT_TRUE(read.heartbeats == 7 && read.traceMask == 0xB);  // the last value counts
    EXPECT_NE(AgentUsage().find("--trace-log FILE"), std::string::npos);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An agent that starts the library on copies of the example files in `dir`, sends nothing
// and stops; its exit status, with what it printed in dir/output.
int RunAgent(const zel::test::TempDir& dir, const std::string& traceLog) {
    for (const char* name : {"local.properties", "group_settings.xml"})
        std::filesystem::copy_file(std::string(ZEL_EXAMPLES_DIR "/") + name, dir.File(name));
    const std::string properties = dir.File("local.properties"), group = dir.File("group_settings.xml");
    const char* argv[] = {SS_AGENT_PATH, "--properties", properties.c_str(), "--group-settings", group.c_str(),
                          "--heartbeats", "0", "--ping-after", "0", "--trace-log", traceLog.c_str(), nullptr};
    const pid_t child = fork();
    if (child == 0) {
        const std::string output = dir.File("output");
        if (!freopen(output.c_str(), "w", stdout) || dup2(fileno(stdout), 2) < 0 || chdir(dir.Path().c_str()) != 0)
            _exit(126);
        execv(argv[0], const_cast<char**>(argv));
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AgentTraceLog, HoldsTheLibrarysAndTheAgentsLinesAfterWhatWasThereOrStopsTheAgentWhenItCannotOpen) {
    zel::test::TempDir dir;
    const std::string log = dir.File("trace.log");
    std::ofstream(log) << "an earlier line\n";
    ASSERT_EQ(RunAgent(dir, log), 0) << ReadFile(dir.File("output"));
    std::istringstream in(ReadFile(log));
    std::string line;
    ASSERT_TRUE(std::getline(in, line) && line == "an earlier line") << ReadFile(log);
    // Every line numbered in order and stamped with date, time and thread.
    const std::regex shape(R"((\d+) \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d T:[0-9a-f]{4,} ([^\t]+)\t(.*))");
    std::set<std::string> contextAndMessage;
    for (unsigned long number = 1; std::getline(in, line); ++number) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(line, parts, shape)) << line;
        EXPECT_EQ(std::stoul(parts[1]), number) << line;
        contextAndMessage.insert(parts[2].str() + "|" + parts[3].str());
    }
    // Information lines of the library's trace sink, which --trace alone would not print,
    // and what the agent printed.
    for (const char* entry : {"SS_Init()|Initializing Sensor Services...", "SS_Init()|Sensor services initialized.",
                              "ss-agent|library shut down"})
        EXPECT_EQ(contextAndMessage.count(entry), 1u) << entry << "\n" << ReadFile(log);
    EXPECT_EQ(ReadFile(dir.File("output")).find("Initializing Sensor Services"), std::string::npos);
    zel::test::TempDir other;
    EXPECT_EQ(RunAgent(other, other.File("missing/trace.log")), 1);
    const std::string reason = "cannot open the trace log " + other.File("missing/trace.log") + ": No such file";
    EXPECT_NE(ReadFile(other.File("output")).find(reason), std::string::npos) << ReadFile(other.File("output"));
}

}  // namespace
}  // namespace zel::agent
