// The controller's JSON output, written with nlohmann-json.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace zel::controller {

// The compact text of `document` and a line end. Texts that are not valid UTF-8 (names and
// identifiers come from agents) have each bad byte replaced by U+FFFD, never copied raw.
inline std::string JsonText(const nlohmann::ordered_json& document) {
    return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace zel::controller
