#include "tools/agent/agent_options.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
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

// The option table: every option, its value's check and its help line.
std::unique_ptr<CLI::App> MakeApp(AgentOptions& options) {
    auto app = std::make_unique<CLI::App>("ss-agent: a demo agent of the sensor services library", "ss-agent");
    app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app->add_option("--library", options.library,
                    "the sensor services library (default: the one built or installed with ss-agent)")
        ->type_name("PATH");
    app->add_option("--properties", options.propertyFile,
                    "local property file (default: the examples' local.properties)")
        ->type_name("FILE");
    app->add_option("--group-settings", options.groupSettingsFile,
                    "group settings file; updates from the controller are saved to it (default: the examples' "
                    "group_settings.xml)")
        ->type_name("FILE");
    app->add_option("--agent-id", options.agentId, "the agent's identifier, 36 characters")
        ->type_name("ID")
        ->check(CLI::Validator(
            [](std::string& id) {
                return id.size() == SS_AGENT_ID_LENGTH ? std::string() : std::string("must have 36 characters");
            },
            "", ""));
    app->add_option("--controller", options.controller, "add this controller to the list at start")
        ->type_name("HOST:PORT")
        ->check(CLI::Validator(
            [](std::string& value) {
                const auto colon = value.rfind(':');
                return colon != std::string::npos && colon > 0 && colon + 1 < value.size()
                           ? std::string()
                           : std::string("takes HOST:PORT");
            },
            "", ""));
    app->add_option("--heartbeats", options.heartbeats, "heartbeats to send (default 3)")
        ->type_name("N")
        ->check(CLI::Range(0u, 1000000u));
    app->add_option("--interval-ms", options.intervalMs, "pause between heartbeats once a reply arrived (default 1000)")
        ->type_name("MS")
        ->check(CLI::Range(0u, 3600000u));
    app->add_option("--ping-after", options.pingAfter, "send a ping after heartbeat N, 0 for none (default 2)")
        ->type_name("N")
        ->check(CLI::Range(0u, 1000000u));
    app->add_option("--trace", options.traceMask,
                    "library trace levels to print: 1 errors, 2 warnings, 8 info (default 3)")
        ->type_name("MASK")
        ->check(CLI::Range(0u, 0xFFFFFFFFu));
    app->add_option("--trace-log", options.traceLog,
                    "append every trace line, of every level, and every line printed to FILE through the "
                    "process's trace object")
        ->type_name("FILE");
    return app;
}

}  // namespace

std::string AgentUsage() {
    AgentOptions ignored;
    return MakeApp(ignored)->help();
}

std::optional<AgentOptions> ParseAgentOptions(int argc, char* argv[], std::string& error) {
    AgentOptions options;
    options.library = BuiltOrInstalled(ZEL_AGENT_BUILT_LIBRARY, ZEL_AGENT_INSTALLED_LIBRARY);
    const std::string examples = BuiltOrInstalled(ZEL_AGENT_EXAMPLES_DIR, InstalledDataDirectory() + "/examples");
    options.propertyFile = examples + "/local.properties";
    options.groupSettingsFile = examples + "/group_settings.xml";
    const std::unique_ptr<CLI::App> app = MakeApp(options);
    try {
        app->parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        error.clear();
        return std::nullopt;
    } catch (const CLI::ParseError& failure) {
        error = failure.what();
        return std::nullopt;
    }
    return options;
}

}  // namespace zel::agent
