#include "runtime/guid.h"

#include <cstring>

#include "runtime/platform.h"

namespace zel {

uint32_t jsGuidGenerator::Generate() {
    std::memset(m_guid, 0, sizeof m_guid);
    std::memset(m_text, 0, sizeof m_text);
    uint8_t bytes[sizeof m_guid];
    if (!platform::RandomBytes(bytes, sizeof bytes)) return kFailed;
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 10xx: RFC 4122
    std::memcpy(m_guid, bytes, sizeof m_guid);

    static const char kDigits[] = "0123456789abcdef";
    char* out = m_text;
    for (size_t i = 0; i < sizeof m_guid; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) *out++ = '-';
        *out++ = kDigits[m_guid[i] >> 4];
        *out++ = kDigits[m_guid[i] & 0x0F];
    }
    *out = '\0';
    return 0;
}

std::u16string NewGuidText() {
    jsGuidGenerator generator;
    generator.Generate();
    // The text is plain ASCII, so widening each character is the whole conversion.
    const char* text = generator.Text();
    return std::u16string(text, text + std::strlen(text));
}

}  // namespace zel
