#include "tools/agent/agent_options.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "zel/sensor_services.h"

namespace zel::agent {

namespace {

// `built` where ss-agent runs from its build tree (the file is there), else `installed`: a
// bare library name found through ss-agent's RUNPATH, or a path below its installation.
std::string BuiltOrInstalled(const char* built, const std::string& installed) {
    std::error_code ignored;
    return std::filesystem::exists(built, ignored) ? std::string(built) : installed;
}

// The installation's data directory, from where ss-agent's own file lies (prefix/bin).
std::string InstalledDataDirectory() {
    std::error_code ignored;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ignored);
    return (self.parent_path().parent_path() / "share" / "sensor-services").string();
}

bool ReadNumber(const char* text, uint32_t& value) {
    char* end = nullptr;
    const unsigned long number = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0' || number > 0xFFFFFFFFul) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

std::string AgentUsage() {
    return "usage: ss-agent [options]\n"
           "  --library PATH         the sensor services library (default: the one built beside ss-agent)\n"
           "  --properties FILE      local property file (default: examples/local.properties)\n"
           "  --group-settings FILE  group settings file; updates from the controller are saved to it\n"
           "                         (default: examples/group_settings.xml)\n"
           "  --agent-id ID          the agent's identifier, 36 characters\n"
           "  --controller HOST:PORT add this controller to the list at start\n"
           "  --heartbeats N         heartbeats to send (default 3)\n"
           "  --interval-ms MS       pause between heartbeats once a reply arrived (default 1000)\n"
           "  --ping-after N         send a ping after heartbeat N, 0 for none (default 2)\n"
           "  --trace MASK           library trace levels to print: 1 errors, 2 warnings, 8 info (default 3)\n"
           "  --trace-log FILE       append every trace line, of every level, and every line printed to\n"
           "                         FILE through the process's trace object\n";
}

std::optional<AgentOptions> ParseAgentOptions(int argc, char* argv[], std::string& error) {
    AgentOptions options;
    options.library = BuiltOrInstalled(ZEL_AGENT_BUILT_LIBRARY, ZEL_AGENT_INSTALLED_LIBRARY);
    const std::string examples = BuiltOrInstalled(ZEL_AGENT_EXAMPLES_DIR, InstalledDataDirectory() + "/examples");
    options.propertyFile = examples + "/local.properties";
    options.groupSettingsFile = examples + "/group_settings.xml";
    for (int i = 1; i < argc; ++i) {
        const char* const name = argv[i];
        if (std::strcmp(name, "--help") == 0) {
            error.clear();
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = std::string("missing value after ") + name;
            return std::nullopt;
        }
        const char* const value = argv[++i];
        bool good = true;
        if (std::strcmp(name, "--library") == 0) options.library = value;
        else if (std::strcmp(name, "--properties") == 0) options.propertyFile = value;
        else if (std::strcmp(name, "--group-settings") == 0) options.groupSettingsFile = value;
        else if (std::strcmp(name, "--agent-id") == 0) options.agentId = value;
        else if (std::strcmp(name, "--controller") == 0) options.controller = value;
        else if (std::strcmp(name, "--heartbeats") == 0) good = ReadNumber(value, options.heartbeats);
        else if (std::strcmp(name, "--interval-ms") == 0) good = ReadNumber(value, options.intervalMs);
        else if (std::strcmp(name, "--ping-after") == 0) good = ReadNumber(value, options.pingAfter);
        else if (std::strcmp(name, "--trace") == 0) good = ReadNumber(value, options.traceMask);
        else if (std::strcmp(name, "--trace-log") == 0) options.traceLog = value;
        else {
            error = std::string("unknown option ") + name;
            return std::nullopt;
        }
        if (!good) {
            error = std::string("bad number for ") + name + ": " + value;
            return std::nullopt;
        }
    }
    if (options.agentId.size() != SS_AGENT_ID_LENGTH) {
        error = "the agent identifier must have 36 characters";
        return std::nullopt;
    }
    if (!options.controller.empty() && options.controller.find(':') == std::string::npos) {
        error = "--controller takes HOST:PORT";
        return std::nullopt;
    }
    return options;
}

}  // namespace zel::agent
