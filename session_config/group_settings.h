// The group settings model: group name, versions and the controller list, and the
// registry that gives every distinct controller address a stable server identifier.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace zel::scs {

// The ten fields of a controller, in their document order. Empty means absent.
struct ControllerInfo {
    std::string name;
    std::string hostName;
    std::string port;
    std::string type;  // "http" or "https"; empty reads as "http"
    std::string proxyHost;
    std::string proxyPort;
    std::string userName;
    std::string passwd;
    std::string proxyUserName;
    std::string proxyPasswd;

    // "https" or "http".
    const char* Scheme() const { return type == "https" ? "https" : "http"; }
};

struct GroupSettings {
    // The schema version reported while no group settings are loaded.
    static constexpr const char* kDefaultSchemaVersion = "1.0.0";

    std::string groupName;
    std::string version;
    std::string schemaVersion = kDefaultSchemaVersion;
    std::vector<ControllerInfo> controllers;
};

// Longest text accepted in any field.
constexpr std::size_t kMaxFieldBytes = 1024;

// 0 when the controller can be posted to: a host name without blanks, control or URL
// delimiter characters, a decimal port 1-65535, type empty/"http"/"https", a proxy port only
// with a proxy host, every field UTF-8 without control characters and at most
// kMaxFieldBytes; otherwise ZEL_E_SCS_BAD_INPUT.
uint32_t ValidateController(const ControllerInfo& controller);

// 0 when every controller is valid and the texts are well formed; ZEL_E_SCS_FILE_INVALID
// otherwise (a load takes all of a document or nothing).
uint32_t ValidateGroupSettings(const GroupSettings& settings);

// Gives each distinct (type, host, port) a positive identifier once, for the life of the
// object; identifiers are never reused. Not thread-safe: the module's lock guards it.
class CServerIds {
public:
    // The identifier of the controller's address, assigning the next one when new.
    int32_t IdentifierOf(const ControllerInfo& controller);

private:
    std::map<std::tuple<std::string, std::string, uint32_t>, int32_t> m_ids;
    int32_t m_next = 1;
};

}  // namespace zel::scs
