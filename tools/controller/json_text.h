// The controller's JSON output: one escaping routine and a small writer that places the commas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel::controller {

// `text` (UTF-8) as a JSON string literal with its quotes: '"', '\\' and control characters
// escaped (\n, \r, \t, \b, \f by name, others as \u00XX); other bytes are copied unchanged.
std::string JsonString(std::string_view text);

// Writes one JSON document left to right; the caller keeps the nesting balanced.
class CJsonWriter {
public:
    // Opens an object (a value of its own: after a key, in an array or at the top).
    CJsonWriter& BeginObject() { return Open('{'); }
    // Closes the innermost open object.
    CJsonWriter& EndObject() { return Close('}'); }
    // Opens an array.
    CJsonWriter& BeginArray() { return Open('['); }
    // Closes the innermost open array.
    CJsonWriter& EndArray() { return Close(']'); }
    // The name of the next member of the open object.
    CJsonWriter& Key(std::string_view name);
    // A string value (UTF-8), escaped by JsonString.
    CJsonWriter& String(std::string_view text);
    // A number value in decimal.
    CJsonWriter& Number(uint64_t value);
    // A status code as the string "0x" + eight lower-case hexadecimal digits.
    CJsonWriter& Code(uint32_t code);
    // `name` and then a string value.
    CJsonWriter& Member(std::string_view name, std::string_view text) { return Key(name).String(text); }
    // The text written so far.
    const std::string& Text() const { return m_out; }

private:
    CJsonWriter& Open(char bracket);
    CJsonWriter& Close(char bracket);
    // Writes the comma that separates this value from the previous one of the same container.
    void BeforeValue();

    std::string m_out;
    // Per open container: true until its first value.
    std::vector<bool> m_first;
    bool m_afterKey = false;
};

}  // namespace zel::controller
