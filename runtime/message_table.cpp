#include "runtime/message_table.h"

#include <algorithm>
#include <iterator>

namespace zel {
namespace {

constexpr MessageEntry kMessages[] = {
#include "message_table.inc"
};
static_assert(std::size(kMessages) == ZEL_MESSAGE_TABLE_COUNT, "message table count");

constexpr bool IsSorted() {
    for (size_t i = 1; i < std::size(kMessages); ++i)
        if (kMessages[i - 1].code >= kMessages[i].code) return false;
    return true;
}
static_assert(IsSorted(), "message table must be sorted by code without duplicates");

}  // namespace

const MessageEntry* FindMessage(uint32_t code) {
    const MessageEntry* end = std::end(kMessages);
    const MessageEntry* it = std::lower_bound(std::begin(kMessages), end, code,
                                              [](const MessageEntry& e, uint32_t c) { return e.code < c; });
    return it != end && it->code == code ? it : nullptr;
}

const MessageEntry* MessageTableBegin() { return std::begin(kMessages); }
const MessageEntry* MessageTableEnd() { return std::end(kMessages); }

}  // namespace zel
