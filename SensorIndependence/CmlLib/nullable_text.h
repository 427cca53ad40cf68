// Texts given as null-terminated UTF-16 pointers that may be null, as the agent's arguments
// and Xerces's DOM strings are: a null pointer stands for the empty text.
#pragma once

#include <string>
#include <string_view>

#include "runtime/unicode.h"

namespace zel::cml {

inline std::u16string_view View(const char16_t* text) noexcept {
    return text ? std::u16string_view(text, Utf16Length(text)) : std::u16string_view();
}

inline std::u16string Text(const char16_t* text) { return std::u16string(View(text)); }

}  // namespace zel::cml
