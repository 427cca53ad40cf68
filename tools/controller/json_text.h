// The one JSON escaping routine of the controller.
#pragma once

#include <string>
#include <string_view>

namespace zel::controller {

// `text` (UTF-8) as a JSON string literal with its quotes: '"', '\\' and control characters
// escaped (\n, \r, \t, \b, \f by name, others as \u00XX); other bytes are copied unchanged.
std::string JsonString(std::string_view text);

}  // namespace zel::controller
