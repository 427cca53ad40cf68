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

// The options of `argv` (read with the option table of CLI11); nullopt with `error` set for
// a bad command line (an unknown option, a missing or bad value, an identifier that is not
// 36 characters, a controller that is not HOST:PORT), and with an empty `error` after --help.
std::optional<AgentOptions> ParseAgentOptions(int argc, char* argv[], std::string& error);

// The --help text, generated from the option table.
std::string AgentUsage();

}  // namespace zel::agent
