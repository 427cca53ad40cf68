// The command line of ss-controller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/controller/fault_injection.h"

namespace zel::controller {

struct ControllerOptions {
    bool help = false;  // --help: print the usage and exit
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: a free port, printed on the first line of stdout
    std::string groupSettingsFile;  // empty: no group settings
    std::string groupSettingsVersion;  // empty: the document's own version
    std::string schemaDirectory;  // empty: no schema directory
    std::string certificateFile;  // with keyFile: serve HTTPS
    std::string keyFile;
    FaultShares faults;
    unsigned fail503First = 0;  // answers refused with 503 before the shares apply
    uint32_t seed = 1;
    unsigned delayMs = 0;
};

// Reads --listen ADDRESS:PORT, --group-settings FILE, --group-settings-version N,
// --schema-dir DIR, --cert FILE with --key FILE, --fail-503 PERCENT, --drop-share PERCENT,
// --malformed-share PERCENT (the three shares 0-100 and together at most 100),
// --fail-503-first N, --seed N, --delay-ms N (up to 600000) and --help (-h). On a bad
// command line (an unknown option, a missing or bad value) returns nothing and puts the
// reason in `error`.
std::optional<ControllerOptions> ParseOptions(int argc, const char* const argv[], std::string& error);

// The usage text, generated from the option table.
std::string Usage();

}  // namespace zel::controller
