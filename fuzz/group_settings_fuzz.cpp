// The group settings document reader and writer. Oracles: a document that is refused
// leaves the settings untouched; settings that were read are written into a document that
// reads back to the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>

#include "session_config/group_settings.h"
#include "session_config/group_settings_document.h"

namespace {

using zel::scs::ControllerInfo;
using zel::scs::GroupSettings;

auto Fields(const ControllerInfo& c) {
    return std::tie(c.name, c.hostName, c.port, c.type, c.proxyHost, c.proxyPort, c.userName, c.passwd,
                    c.proxyUserName, c.proxyPasswd);
}

bool Equal(const GroupSettings& a, const GroupSettings& b) {
    if (std::tie(a.groupName, a.version, a.schemaVersion) != std::tie(b.groupName, b.version, b.schemaVersion))
        return false;
    if (a.controllers.size() != b.controllers.size()) return false;
    for (std::size_t i = 0; i < a.controllers.size(); ++i)
        if (Fields(a.controllers[i]) != Fields(b.controllers[i])) return false;
    return true;
}

[[noreturn]] void Fail(const char* what, const std::string& document) {
    std::fprintf(stderr, "group_settings: %s\n--- written document ---\n%s\n", what, document.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GroupSettings settings;
    if (zel::scs::ReadGroupSettingsDocument(std::string_view(reinterpret_cast<const char*>(data), size), settings) !=
        0) {
        if (!Equal(settings, GroupSettings{})) Fail("a refused document changed the settings", "");
        return 0;
    }
    const std::string written = zel::scs::WriteGroupSettingsDocument(settings);
    GroupSettings again;
    if (zel::scs::ReadGroupSettingsDocument(written, again) != 0) Fail("the written document is refused", written);
    if (!Equal(settings, again)) Fail("the written document reads back to other settings", written);
    return 0;
}
