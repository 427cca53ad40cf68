#include "tools/controller/json_text.h"

#include <cstdio>

namespace zel::controller {

std::string JsonString(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

void CJsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_first.empty()) return;
    if (!m_first.back()) m_out += ',';
    m_first.back() = false;
}

CJsonWriter& CJsonWriter::Open(char bracket) {
    BeforeValue();
    m_out += bracket;
    m_first.push_back(true);
    return *this;
}

CJsonWriter& CJsonWriter::Close(char bracket) {
    m_out += bracket;
    if (!m_first.empty()) m_first.pop_back();
    return *this;
}

CJsonWriter& CJsonWriter::Key(std::string_view name) {
    BeforeValue();
    m_out += JsonString(name);
    m_out += ':';
    m_afterKey = true;
    return *this;
}

CJsonWriter& CJsonWriter::String(std::string_view text) {
    BeforeValue();
    m_out += JsonString(text);
    return *this;
}

CJsonWriter& CJsonWriter::Number(uint64_t value) {
    BeforeValue();
    m_out += std::to_string(value);
    return *this;
}

CJsonWriter& CJsonWriter::Code(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return String(text);
}

}  // namespace zel::controller
