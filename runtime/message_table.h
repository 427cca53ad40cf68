// The compiled message table: the text of every status code that this library owns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

struct MessageEntry {
    uint32_t code;
    const char* text;  // the defined text: CR LF line breaks, ends with CR LF
};

// Returns the entry of code, or null when the table holds no text for it.
const MessageEntry* FindMessage(uint32_t code);

// The whole table, sorted by code (for tests and tools that list every entry).
const MessageEntry* MessageTableBegin();
const MessageEntry* MessageTableEnd();

}  // namespace zel
