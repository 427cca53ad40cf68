// ss-agent's command line: each one accepted or refused with its reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/agent/agent_options.h"

namespace zel::agent {
namespace {

// The outcome: "" when accepted, "help" for the help, else the start of the reason.
std::string Outcome(std::vector<const char*> arguments, AgentOptions* read = nullptr) {
    std::vector<char*> argv{const_cast<char*>("ss-agent")};
    for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
    std::string error;
    const auto options = ParseAgentOptions(static_cast<int>(argv.size()), argv.data(), error);
    if (options && read) *read = *options;
    return options ? "" : error.empty() ? "help" : error;
}

TEST(AgentOptions, CommandLinesAreAcceptedOrRefusedWithTheirReason) {
    const struct {
        std::vector<const char*> arguments;
        std::string outcome;
    } cases[] = {
        {{}, ""},
        {{"--help"}, "help"},
        {{"--heartbeats", "0", "--ping-after", "0", "--trace", "0xb", "--controller", "h:1"}, ""},
        {{"--frobnicate", "1"}, "The following arguments were not expected: 1 --frobnicate"},
        {{"--heartbeats", "x"}, "--heartbeats: Value x not in range 0 to 1000000"},
        {{"--heartbeats", "-1"}, "--heartbeats: Value -1 not in range 0 to 1000000"},
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
    EXPECT_EQ(read.heartbeats, 7u);  // the last value counts
    EXPECT_EQ(read.traceMask, 0xBu);
    EXPECT_NE(AgentUsage().find("--trace-log FILE"), std::string::npos);
}

}  // namespace
}  // namespace zel::agent
