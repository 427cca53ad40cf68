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

}  // namespace

const char* Usage() {
    return "usage: ss-controller [--listen ADDRESS:PORT] [--group-settings FILE]\n"
           "                     [--group-settings-version N] [--fail-503 PERCENT] [--seed N]\n"
           "                     [--fail-503-first N] [--delay-ms N]\n";
}

std::optional<ControllerOptions> ParseOptions(int argc, const char* const argv[], std::string& error) {
    ControllerOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            error = "option " + name + " needs a value";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        unsigned long number = 0;
        if (name == "--listen") {
            const auto colon = value.rfind(':');
            if (colon == std::string::npos || colon == 0 || !ReadNumber(value.substr(colon + 1), 65535, number)) {
                error = "--listen wants ADDRESS:PORT, got " + value;
                return std::nullopt;
            }
            options.host = value.substr(0, colon);
            options.port = static_cast<int>(number);
        } else if (name == "--group-settings") {
            options.groupSettingsFile = value;
        } else if (name == "--group-settings-version") {
            if (value.empty()) {
                error = "--group-settings-version wants a version";
                return std::nullopt;
            }
            options.groupSettingsVersion = value;
        } else if (name == "--fail-503") {
            if (!ReadNumber(value, 100, number)) {
                error = "--fail-503 wants a percentage from 0 to 100, got " + value;
                return std::nullopt;
            }
            options.fail503Percent = static_cast<unsigned>(number);
        } else if (name == "--fail-503-first") {
            if (!ReadNumber(value, std::numeric_limits<uint32_t>::max(), number)) {
                error = "--fail-503-first wants a number, got " + value;
                return std::nullopt;
            }
            options.fail503First = static_cast<unsigned>(number);
        } else if (name == "--seed") {
            if (!ReadNumber(value, std::numeric_limits<uint32_t>::max(), number)) {
                error = "--seed wants a number, got " + value;
                return std::nullopt;
            }
            options.seed = static_cast<uint32_t>(number);
        } else if (name == "--delay-ms") {
            if (!ReadNumber(value, 600000, number)) {
                error = "--delay-ms wants milliseconds up to 600000, got " + value;
                return std::nullopt;
            }
            options.delayMs = static_cast<unsigned>(number);
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace zel::controller
