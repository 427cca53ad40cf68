#include "session_config/group_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "session_config/property_file.h"
#include "zel/status_codes.h"

namespace zel::scs {
namespace {

bool IsCleanText(const std::string& text) {
    if (text.size() > kMaxFieldBytes || !IsValidUtf8(text)) return false;
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

bool IsHostName(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    if (host.front() == '[') {
        // A bracketed IPv6 literal.
        if (host.back() != ']' || host.size() < 4) return false;
        return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        });
    }
    return std::all_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || c == '.' || c == '-' || c == '_' || u >= 0x80;
    });
}

// The port's number, or 0 when it is not a decimal 1-65535.
uint32_t PortNumber(const std::string& port) {
    if (port.empty() || port.size() > 5) return 0;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    const unsigned long value = std::strtoul(port.c_str(), nullptr, 10);
    return value >= 1 && value <= 65535 ? static_cast<uint32_t>(value) : 0;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

uint32_t ValidateController(const ControllerInfo& c) {
    for (const std::string* field : {&c.name, &c.hostName, &c.port, &c.type, &c.proxyHost,
                                     &c.proxyPort, &c.userName, &c.passwd, &c.proxyUserName,
                                     &c.proxyPasswd})
        if (!IsCleanText(*field)) return ZEL_E_SCS_BAD_INPUT;
    if (!IsHostName(c.hostName) || PortNumber(c.port) == 0) return ZEL_E_SCS_BAD_INPUT;
    if (!c.type.empty() && c.type != "http" && c.type != "https") return ZEL_E_SCS_BAD_INPUT;
    if (!c.proxyHost.empty() && !IsHostName(c.proxyHost)) return ZEL_E_SCS_BAD_INPUT;
    if (!c.proxyPort.empty() && (c.proxyHost.empty() || PortNumber(c.proxyPort) == 0))
        return ZEL_E_SCS_BAD_INPUT;
    return 0;
}

uint32_t ValidateGroupSettings(const GroupSettings& settings) {
    for (const std::string* text :
         {&settings.groupName, &settings.version, &settings.schemaVersion})
        if (!IsCleanText(*text)) return ZEL_E_SCS_FILE_INVALID;
    for (const ControllerInfo& controller : settings.controllers)
        if (ValidateController(controller) != 0) return ZEL_E_SCS_FILE_INVALID;
    return 0;
}

int32_t CServerIds::IdentifierOf(const ControllerInfo& controller) {
    auto key = std::make_tuple(std::string(controller.Scheme()), Lower(controller.hostName),
                               PortNumber(controller.port));
    const auto found = m_ids.find(key);
    if (found != m_ids.end()) return found->second;
    const int32_t id = m_next++;
    m_ids.emplace(std::move(key), id);
    return id;
}

}  // namespace zel::scs
