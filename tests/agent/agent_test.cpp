// ss-agent: its command line (each one accepted or refused with its reason), and the real
// binary run as a child process with --trace-log, which shares the agent's trace object
// with the library and installs a disk log on it that takes every line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/agent/agent_options.h"

namespace zel::agent {
namespace {

// (Missing values and range checks are the command-line parser's own.)
TEST(AgentOptions, CommandLinesAreAcceptedOrRefusedWithTheirReason) {
    // The outcome: "" when accepted, "help" for the help, else the start of the reason.
    const struct { std::vector<const char*> arguments; std::string outcome; } cases[] = {
        {{}, ""}, {{"--help"}, "help"},
        {{"--heartbeats", "0", "--ping-after", "0", "--trace", "0xb", "--controller", "h:1"}, ""},
        {{"--frobnicate", "1"}, "The following arguments were not expected: 1 --frobnicate"},
        {{"--agent-id", "short"}, "--agent-id: must have 36 characters"},
        {{"--controller", "nohost"}, "--controller: takes HOST:PORT"},
    };
    for (auto c : cases) {
        c.arguments.insert(c.arguments.begin(), "ss-agent");
        std::string error;
        const auto options = ParseAgentOptions(int(c.arguments.size()), const_cast<char**>(c.arguments.data()), error);
        const std::string outcome = options ? "" : error.empty() ? "help" : error;
        EXPECT_EQ(c.outcome, c.outcome.empty() ? outcome : outcome.substr(0, c.outcome.size())) << outcome;
    }
    // The help that ss-agent prints for --help names each option with its value.
    EXPECT_NE(AgentUsage().find("--trace-log FILE"), std::string::npos) << AgentUsage();
}

using zel::test::ReadFile;

// An agent that starts the library on copies of the example files in `dir`, sends nothing
// and stops; its exit status, with what it printed in dir/output.
int RunAgent(const zel::test::TempDir& dir, const std::string& traceLog) {
    for (const char* name : {"local.properties", "group_settings.xml"})
        std::filesystem::copy_file(std::string(ZEL_EXAMPLES_DIR "/") + name, dir.File(name));
    const std::string command = "cd '" + dir.Path() + "' && '" SS_AGENT_PATH "' --properties local.properties "
                                "--group-settings group_settings.xml --heartbeats 0 --ping-after 0 --trace-log '" +
                                traceLog + "' >output 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AgentTraceLog, HoldsTheLibrarysAndTheAgentsLinesAfterWhatWasThereOrStopsTheAgentWhenItCannotOpen) {
    zel::test::TempDir dir;
    const std::string log = dir.File("trace.log");
    std::ofstream(log) << "an earlier line\n";
    ASSERT_EQ(RunAgent(dir, log), 0) << ReadFile(dir.File("output"));
    const std::string text = ReadFile(log);
    std::istringstream in(text);
    std::string line;
    ASSERT_TRUE(std::getline(in, line) && line == "an earlier line") << text;
    // Every line numbered in order and stamped with date, time and thread.
    const std::regex shape(R"(\d+ \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d T:[0-9a-f]{4,} [^\t]+\t.*)");
    for (unsigned long number = 1; std::getline(in, line); ++number)
        EXPECT_TRUE(std::regex_match(line, shape) && line.rfind(std::to_string(number) + " ", 0) == 0) << line;
    // Information lines of the library's trace sink, and what the agent printed.
    for (const char* entry : {" SS_Init()\tInitializing Sensor Services...\n",
                              " SS_Init()\tSensor services initialized.\n", " ss-agent\tlibrary shut down\n"})
        EXPECT_NE(text.find(entry), std::string::npos) << entry << text;
    zel::test::TempDir other;
    EXPECT_EQ(RunAgent(other, other.File("missing/trace.log")), 1);
    const std::string reason = "cannot open the trace log " + other.File("missing/trace.log") + ": No such file";
    EXPECT_NE(ReadFile(other.File("output")).find(reason), std::string::npos) << ReadFile(other.File("output"));
}

}  // namespace
}  // namespace zel::agent
