// ss-agent --trace-log: the agent shares its trace object with the library and installs a
// disk log on it that takes every line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// An agent that starts the library on copies of the example files in `dir`, sends nothing
// and stops; its exit status, with what it printed in dir/output.
int RunAgent(const zel::test::TempDir& dir, const std::string& traceLog) {
    namespace fs = std::filesystem;
    for (const char* name : {"local.properties", "group_settings.xml"})
        fs::copy_file(std::string(ZEL_EXAMPLES_DIR "/") + name, dir.File(name), fs::copy_options::overwrite_existing);
    const std::vector<std::string> arguments = {SS_AGENT_PATH,
                                                "--properties", dir.File("local.properties"),
                                                "--group-settings", dir.File("group_settings.xml"),
                                                "--heartbeats", "0",
                                                "--ping-after", "0",
                                                "--trace-log", traceLog};
    const std::string output = dir.File("output");
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (!freopen(output.c_str(), "w", stdout) || dup2(fileno(stdout), 2) < 0 || chdir(dir.Path().c_str()) != 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AgentTraceLog, HoldsTheLibrarysAndTheAgentsLinesAfterWhatWasThere) {
    zel::test::TempDir dir;
    const std::string log = dir.File("trace.log");
    std::ofstream(log) << "an earlier line\n";
    ASSERT_EQ(RunAgent(dir, log), 0) << ReadFile(dir.File("output"));

    const std::vector<std::string> lines = Lines(ReadFile(log));
    ASSERT_GE(lines.size(), 4u) << ReadFile(log);
    EXPECT_EQ(lines[0], "an earlier line");
    // Every line numbered in order and stamped with date, time and thread.
    const std::regex shape(R"((\d+) \d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d\d T:[0-9a-f]{4,} ([^\t]+)\t(.*))");
    std::vector<std::string> contextAndMessage;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(lines[i], parts, shape)) << lines[i];
        EXPECT_EQ(std::stoul(parts[1]), i) << lines[i];
        contextAndMessage.push_back(parts[2].str() + "|" + parts[3].str());
    }
    const auto holds = [&](const std::string& entry) {
        return std::find(contextAndMessage.begin(), contextAndMessage.end(), entry) != contextAndMessage.end();
    };
    // Information lines of the library's trace sink, which --trace alone would not print.
    EXPECT_TRUE(holds("SS_Init()|Initializing Sensor Services...")) << ReadFile(log);
    EXPECT_TRUE(holds("SS_Init()|Sensor services initialized.")) << ReadFile(log);
    // And what the agent printed.
    EXPECT_TRUE(holds("ss-agent|library shut down")) << ReadFile(log);
    EXPECT_EQ(ReadFile(dir.File("output")).find("Initializing Sensor Services"), std::string::npos);
}

TEST(AgentTraceLog, ALogThatCannotBeOpenedStopsTheAgent) {
    zel::test::TempDir dir;
    EXPECT_EQ(RunAgent(dir, dir.File("missing/trace.log")), 1);
    EXPECT_NE(ReadFile(dir.File("output")).find("cannot open the trace log " + dir.File("missing/trace.log") +
                                                ": No such file or directory"),
              std::string::npos)
        << ReadFile(dir.File("output"));
}

}  // namespace
