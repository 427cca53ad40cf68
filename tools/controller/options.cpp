#include "tools/controller/options.h"

#include <CLI/CLI.hpp>

#include <limits>
#include <memory>

namespace zel::controller {
namespace {

constexpr const char* kEndpoints =
    "Endpoints: POST /zel/sensor_services/heartbeat, POST /zel/sensor_services/ping,\n"
    "GET /admin/agents (JSON), POST /admin/queue?agent=ID (body: one CML request element\n"
    "of the /cml namespace; answers {\"request-id\":\"...\"}).\n"
    "Every exchange is logged as one line on stdout.";

// ADDRESS:PORT with a port from 0 to 65535.
void ReadListen(const std::string& value, ControllerOptions& options) {
    const auto colon = value.rfind(':');
    const std::string port = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    if (colon == 0 || !digits || std::stoul(port) > 65535)
        throw CLI::ValidationError("--listen", "wants ADDRESS:PORT with a port from 0 to 65535, got " + value);
    options.host = value.substr(0, colon);
    options.port = static_cast<int>(std::stoul(port));
}

// The option table: every option, its value's check and its help line.
std::unique_ptr<CLI::App> MakeApp(ControllerOptions& options) {
    auto app = std::make_unique<CLI::App>("ss-controller: the reference controller of sensor services agents",
                                          "ss-controller");
    app->footer(kEndpoints);
    // As on most command lines, an option given twice takes its last value.
    app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app->add_option_function<std::string>(
           "--listen", [&options](const std::string& value) { ReadListen(value, options); },
           "where to listen (default 127.0.0.1:8080); port 0 picks a free port. The first line on stdout is "
           "\"listening on ADDRESS:PORT\" (+ \" (https)\")")
        ->type_name("ADDRESS:PORT");
    const auto nonEmpty = CLI::Validator(
        [](std::string& value) { return value.empty() ? std::string("wants a value") : std::string(); }, "", "");
    app->add_option("--group-settings", options.groupSettingsFile, "the group settings document handed to agents")
        ->type_name("FILE")
        ->check(nonEmpty);
    app->add_option("--group-settings-version", options.groupSettingsVersion,
                    "the version announced for it (default: the document's)")
        ->type_name("N")
        ->check(nonEmpty);
    app->add_option("--schema-dir", options.schemaDirectory,
                    "schema documents: the schema named N is DIR/N.xsd; answers get-schema requests and stores "
                    "set-schema documents")
        ->type_name("DIR")
        ->check(nonEmpty);
    CLI::Option* cert =
        app->add_option("--cert", options.certificateFile, "serve HTTPS with this PEM certificate (with --key)")
            ->type_name("FILE")
            ->check(nonEmpty);
    CLI::Option* key = app->add_option("--key", options.keyFile, "the PEM private key of --cert")
                           ->type_name("FILE")
                           ->check(nonEmpty);
    cert->needs(key);
    key->needs(cert);
    app->add_option("--fail-503", options.faults.serviceUnavailable,
                    "answer this share of heartbeats and pings with 503")
        ->type_name("PERCENT")
        ->check(CLI::Range(0, 100));
    app->add_option("--drop-share", options.faults.drop, "close this share of connections without an answer")
        ->type_name("PERCENT")
        ->check(CLI::Range(0, 100));
    app->add_option("--malformed-share", options.faults.malformed,
                    "answer this share with 200 and a body that is not XML (the three shares together at most "
                    "100)")
        ->type_name("PERCENT")
        ->check(CLI::Range(0, 100));
    app->add_option("--fail-503-first", options.fail503First, "answer the first N heartbeats and pings with 503")
        ->type_name("N")
        ->check(CLI::Range(0u, std::numeric_limits<unsigned>::max()));
    app->add_option("--seed", options.seed, "seed of the fault choice (default 1)")
        ->type_name("N")
        ->check(CLI::Range(0u, std::numeric_limits<uint32_t>::max()));
    app->add_option("--delay-ms", options.delayMs, "wait N ms before answering a heartbeat or ping")
        ->type_name("N")
        ->check(CLI::Range(0u, 600000u));
    return app;
}

}  // namespace

std::string Usage() {
    ControllerOptions ignored;
    return MakeApp(ignored)->help();
}

std::optional<ControllerOptions> ParseOptions(int argc, const char* const argv[], std::string& error) {
    ControllerOptions options;
    const std::unique_ptr<CLI::App> app = MakeApp(options);
    try {
        app->parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
        return options;
    } catch (const CLI::ParseError& failure) {
        error = failure.what();
        return std::nullopt;
    }
    if (options.faults.serviceUnavailable + options.faults.drop + options.faults.malformed > 100) {
        error = "--fail-503, --drop-share and --malformed-share add up to more than 100";
        return std::nullopt;
    }
    return options;
}

}  // namespace zel::controller
