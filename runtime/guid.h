// GUIDs in text form, used for every message, request and ping identifier.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

// Makes random (version 4) GUIDs and their 36-character text form.
class jsGuidGenerator {
public:
    static constexpr uint32_t kFailed = 0xFFFFFFFFu;  // Generate: no random source

    jsGuidGenerator() = default;
    virtual ~jsGuidGenerator() = default;

    // Makes a new GUID and its text: 0, or kFailed with the GUID zero and the text empty.
    virtual uint32_t Generate();

    // The 16 bytes of the last GUID in the order of its text form.
    const uint8_t* Guid() const { return m_guid; }
    // The last GUID as lower-case hexadecimal groups 8-4-4-4-12 joined by hyphens, no
    // braces; empty before the first and after a failed Generate.
    const char* Text() const { return m_text; }

private:
    uint8_t m_guid[16] = {};
    char m_text[37] = {};
};

// A new GUID's text as a wide string; empty when no GUID could be made.
std::u16string NewGuidText();

}  // namespace zel
