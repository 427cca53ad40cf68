#include "tools/controller/options.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace zel::controller {
namespace {

bool ReadNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > max) return false;
    value = parsed;
    return true;
}

bool ReadShare(const std::string& name, const std::string& value, unsigned& share, std::string& error) {
    unsigned long number = 0;
    if (!ReadNumber(value, 100, number)) {
        error = name + " wants a percentage from 0 to 100, got " + value;
        return false;
    }
    share = static_cast<unsigned>(number);
    return true;
}

bool ReadText(const std::string& name, const std::string& value, std::string& text, std::string& error) {
    if (value.empty()) {
        error = name + " wants a value";
        return false;
    }
    text = value;
    return true;
}

// Reads one option and its value into `options`.
bool ReadOption(const std::string& name, const std::string& value, ControllerOptions& options, std::string& error) {
    unsigned long number = 0;
    if (name == "--listen") {
        const auto colon = value.rfind(':');
        if (colon == std::string::npos || colon == 0 || !ReadNumber(value.substr(colon + 1), 65535, number)) {
            error = "--listen wants ADDRESS:PORT, got " + value;
            return false;
        }
        options.host = value.substr(0, colon);
        options.port = static_cast<int>(number);
        return true;
    }
    if (name == "--group-settings") return ReadText(name, value, options.groupSettingsFile, error);
    if (name == "--group-settings-version") return ReadText(name, value, options.groupSettingsVersion, error);
    if (name == "--schema-dir") return ReadText(name, value, options.schemaDirectory, error);
    if (name == "--cert") return ReadText(name, value, options.certificateFile, error);
    if (name == "--key") return ReadText(name, value, options.keyFile, error);
    if (name == "--fail-503") return ReadShare(name, value, options.faults.serviceUnavailable, error);
    if (name == "--drop-share") return ReadShare(name, value, options.faults.drop, error);
    if (name == "--malformed-share") return ReadShare(name, value, options.faults.malformed, error);
    if (name == "--fail-503-first") {
        if (!ReadNumber(value, std::numeric_limits<uint32_t>::max(), number)) {
            error = "--fail-503-first wants a number, got " + value;
            return false;
        }
        options.fail503First = static_cast<unsigned>(number);
        return true;
    }
    if (name == "--seed") {
        if (!ReadNumber(value, std::numeric_limits<uint32_t>::max(), number)) {
            error = "--seed wants a number, got " + value;
            return false;
        }
        options.seed = static_cast<uint32_t>(number);
        return true;
    }
    if (name == "--delay-ms") {
        if (!ReadNumber(value, 600000, number)) {
            error = "--delay-ms wants milliseconds up to 600000, got " + value;
            return false;
        }
        options.delayMs = static_cast<unsigned>(number);
        return true;
    }
    error = "unknown option " + name;
    return false;
}

}  // namespace

const char* Usage() {
    return "usage: ss-controller [options]\n"
           "  --listen ADDRESS:PORT        where to listen (default 127.0.0.1:8080); port 0 picks a\n"
           "                               free port. The first line on stdout is\n"
           "                               \"listening on ADDRESS:PORT\" (+ \" (https)\").\n"
           "  --group-settings FILE        the group settings document handed to agents\n"
           "  --group-settings-version N   the version announced for it (default: the document's)\n"
           "  --schema-dir DIR             schema documents: the schema named N is DIR/N.xsd; answers\n"
           "                               get-schema requests and stores set-schema documents\n"
           "  --cert FILE --key FILE       serve HTTPS with this PEM certificate and private key\n"
           "  --fail-503 PERCENT           answer this share of heartbeats and pings with 503\n"
           "  --drop-share PERCENT         close this share of connections without an answer\n"
           "  --malformed-share PERCENT    answer this share with 200 and a body that is not XML\n"
           "                               (the three shares together at most 100)\n"
           "  --fail-503-first N           answer the first N heartbeats and pings with 503\n"
           "  --seed N                     seed of the fault choice (default 1)\n"
           "  --delay-ms N                 wait N ms before answering a heartbeat or ping\n"
           "  --help                       print this text\n"
           "Endpoints: POST /zel/sensor_services/heartbeat, POST /zel/sensor_services/ping,\n"
           "GET /admin/agents (JSON), POST /admin/queue?agent=ID (body: one CML request element\n"
           "of the /cml namespace; answers {\"request-id\":\"...\"}).\n"
           "Every exchange is logged as one line on stdout.\n";
}

std::optional<ControllerOptions> ParseOptions(int argc, const char* const argv[], std::string& error) {
    ControllerOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            return options;
        }
        if (i + 1 >= argc) {
            error = "option " + name + " needs a value";
            return std::nullopt;
        }
        if (!ReadOption(name, argv[++i], options, error)) return std::nullopt;
    }
    if (options.certificateFile.empty() != options.keyFile.empty()) {
        error = "--cert and --key go together";
        return std::nullopt;
    }
    if (options.faults.serviceUnavailable + options.faults.drop + options.faults.malformed > 100) {
        error = "--fail-503, --drop-share and --malformed-share add up to more than 100";
        return std::nullopt;
    }
    return options;
}

}  // namespace zel::controller
