// The group settings document the controller hands to agents, and the version it announces.
#pragma once

#include <string>

namespace zel::controller {

struct GroupSettings {
    // The document as UTF-8 text, exactly as read; empty when the controller has none.
    std::string document;
    // The version text sent as the policy item's token; agents holding it get "no change".
    std::u16string version;
};

// Reads the group settings file at `path` (UTF-8 path) and checks that its root is "policy"
// in the group settings namespace. `version` empty: the document's own "version" attribute
// (or "1" when it has none). Throws std::runtime_error naming the file on any failure.
GroupSettings LoadGroupSettings(const std::string& path, const std::u16string& version);

}  // namespace zel::controller
