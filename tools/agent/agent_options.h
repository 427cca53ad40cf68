// The command line of ss-agent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zel::agent {

struct AgentOptions {
    std::string library;            // path of libzelSensorSvcs3.so
    std::string propertyFile;       // local property file
    std::string groupSettingsFile;  // group settings file (the library rewrites it on updates)
    std::string agentId = "0f8fad5b-d9cb-469f-a165-70867728950e";
    std::string controller;         // HOST:PORT added to the controller list at start (optional)
    uint32_t heartbeats = 3;        // heartbeats to send
    uint32_t intervalMs = 1000;     // pause between heartbeats once the previous reply arrived
    uint32_t pingAfter = 2;         // heartbeat after which a ping is sent (0: none)
    uint32_t traceMask = 0x3;       // trace levels printed (1 error, 2 warning, 8 info)
    std::string traceLog;           // file the process's trace object writes to (optional)
};

// The options of `argv`; nullopt with `error` set for a bad command line, and with an
// empty `error` after --help.
std::optional<AgentOptions> ParseAgentOptions(int argc, char* argv[], std::string& error);

// The --help text.
std::string AgentUsage();

}  // namespace zel::agent
