// The command line of ss-controller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zel::controller {

struct ControllerOptions {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: a free port, printed on the first line of stdout
    std::string groupSettingsFile;  // empty: no group settings
    std::string groupSettingsVersion;  // empty: the document's own version
    unsigned fail503Percent = 0;
    unsigned fail503First = 0;  // answers refused with 503 before the percentage applies
    uint32_t seed = 1;
    unsigned delayMs = 0;
};

// Reads --listen ADDRESS:PORT, --group-settings FILE, --group-settings-version N,
// --fail-503 PERCENT (0-100), --fail-503-first N, --seed N and --delay-ms N. On a bad command
// line returns nothing and puts the reason in `error`.
std::optional<ControllerOptions> ParseOptions(int argc, const char* const argv[], std::string& error);

// The usage text.
const char* Usage();

}  // namespace zel::controller
