#include "runtime/zel_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "runtime/message_table.h"
#include "runtime/platform.h"
#include "zel/status_codes.h"

namespace zel {
namespace {

// A width of 255 stands for "no limit"; larger widths are capped to it.
constexpr unsigned kNoWrapWidth = 255;
// StatusText describes at this width, which the cap turns into "no wrapping".
constexpr unsigned kStatusTextWidth = 320;

// Values below this are platform error numbers carried unchanged as status codes.
constexpr uint32_t kPlatformLimit = 0x10000;
constexpr uint32_t kCodeMask = 0xFFFF;

// Socket error numbers are moved into facility 0x727 as errors.
constexpr uint32_t kSocketErrorFirst = 10000;
constexpr uint32_t kSocketErrorLast = 12000;
constexpr uint32_t kSocketErrorBase = 0xC7270000;

// Errors of the platform's security facility are moved into facility 0x72D as errors.
constexpr uint32_t kFacilitySecurity = 0x009;
constexpr uint32_t kSecurityErrorBase = 0xC72D0000;

// Error numbers of the second cryptographic provider (their low 16 bits in the code).
constexpr uint32_t kFacilityCryptoProvider = 0x72B;
// From this facility up, the status is a packed OpenSSL or xmlsec error.
constexpr uint32_t kFacilityPackedTlsError = 0x800;

constexpr uint32_t kOwnFacilityFirst = 0x700;
constexpr uint32_t kOwnFacilityLast = 0x7FB;

// Returned by a lookup that finds no text: "no message of the desired type".
constexpr int kMessageNotFound = ENOMSG;

constexpr const char kCrLf[] = "\r\n";

uint32_t Facility(uint32_t status) { return (status >> 16) & 0xFFF; }

bool IsSocketError(uint32_t status) { return status >= kSocketErrorFirst && status <= kSocketErrorLast; }

// A packed error keeps the library in bits 26-21, the function in 20-12 and the reason in
// 11-0; the number its library reports has the library in the top byte, the function and
// the reason in 12 bits each. Only 63 library numbers fit into the packed form, so the
// last one stands for the libraries numbered from 128 on.
uint32_t UnpackTlsError(uint32_t status) {
    uint32_t library = (status >> 21) & 0x3F;
    const uint32_t function = (status >> 12) & 0x1FF;
    const uint32_t reason = status & 0xFFF;
    if (library > 62) library += 65;
    return ((library << 12 | function) << 12) | reason;
}

// Writes one insert. A number is written in decimal unless the conversion asks for
// hexadecimal; a text is written as it is whatever the conversion.
void AppendInsert(std::string& out, const ZELInsert& insert, const std::string& conversion) {
    if (!insert.IsNumber()) {
        out += insert.Text();
        return;
    }
    char digits[16];
    const uint32_t number = insert.Number();
    if (conversion == "x")
        std::snprintf(digits, sizeof digits, "%x", number);
    else if (conversion == "X")
        std::snprintf(digits, sizeof digits, "%X", number);
    else if (conversion == "d" || conversion == "i")
        std::snprintf(digits, sizeof digits, "%d", static_cast<int32_t>(number));
    else
        std::snprintf(digits, sizeof digits, "%u", number);
    out += digits;
}

bool KnownConversion(const std::string& conversion) {
    static const char* const kKnown[] = {"", "s", "u", "d", "i", "x", "X"};
    return std::find(std::begin(kKnown), std::end(kKnown), conversion) != std::end(kKnown);
}

// Replaces %n and %n!conversion! (n from 1 to 99) by the n-th insert. An insert without an
// argument, an unknown conversion and any other use of % stay as written.
std::string ExpandInserts(const std::string& text, const ZELInsert* inserts, size_t count) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        size_t end = i + 1;
        unsigned number = 0;
        while (end < text.size() && end < i + 3 && text[end] >= '0' && text[end] <= '9')
            number = number * 10 + static_cast<unsigned>(text[end++] - '0');
        if (end == i + 1 || number == 0) {
            out += '%';
            continue;
        }
        std::string conversion;
        if (end < text.size() && text[end] == '!') {
            const size_t close = text.find('!', end + 1);
            if (close != std::string::npos) {
                conversion = text.substr(end + 1, close - end - 1);
                end = close + 1;
            }
        }
        if (number <= count && KnownConversion(conversion))
            AppendInsert(out, inserts[number - 1], conversion);
        else
            out.append(text, i, end - i);
        i = end - 1;
    }
    return out;
}

// Formats a definition (CR LF line breaks, final CR LF) the way the platform's formatter
// does at width W: W = 0 keeps the line breaks; otherwise each line break becomes a blank,
// and widths below 255 re-flow the text with CR LF breaks. The line breaks are replaced
// before the inserts go in, so an insert keeps its own.
std::string FormatDefinition(const std::string& definition, unsigned width, const ZELInsert* inserts,
                             size_t count) {
    std::string text;
    if (width == 0) {
        text = definition;
    } else {
        text.reserve(definition.size());
        for (size_t i = 0; i < definition.size(); ++i) {
            if (definition[i] == '\r' && i + 1 < definition.size() && definition[i + 1] == '\n') ++i;
            text += definition[i] == '\r' || definition[i] == '\n' ? ' ' : definition[i];
        }
    }
    text = ExpandInserts(text, inserts, count);
    return width < kNoWrapWidth ? WordWrap(text, width, kCrLf) : text;
}

// The definition of `code`: this library's table first when asked, then the platform's
// texts, which are single lines and get the table's line end.
bool LookUp(uint32_t code, bool searchOwnTable, std::string& definition) {
    if (searchOwnTable) {
        if (const MessageEntry* entry = FindMessage(code)) {
            definition = entry->text;
            return true;
        }
    }
    if (platform::ErrorText(code, definition)) {
        definition += kCrLf;
        return true;
    }
    return false;
}

// Drops the text's line end: one LF, then one CR, then every trailing blank.
void StripLineEnd(std::string& text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    while (!text.empty() && text.back() == ' ') text.pop_back();
}

}  // namespace

void ZELError::SetFacility(uint32_t code) noexcept {
    if (m_status != 0 && m_status < kPlatformLimit) m_status = (code & ~kCodeMask) | m_status;
}

const char* ZELError::GetIdText() noexcept {
    if (m_status < kPlatformLimit)
        std::snprintf(m_idText, sizeof m_idText, "%u", m_status);
    else
        std::snprintf(m_idText, sizeof m_idText, "0x%8.8x", m_status);
    return m_idText;
}

const char* ZELError::KeepWrapped(const char* text, unsigned width) noexcept {
    try {
        m_text = WordWrap(text, width);
        return m_text.c_str();
    } catch (const std::bad_alloc&) {
        return m_idText;
    }
}

const char* ZELError::GetText(unsigned width, ZELInserts inserts, bool plain) noexcept {
    std::string().swap(m_text);
    const unsigned w = std::min(width, kNoWrapWidth);
    GetIdText();

    int error = 0;
    try {
        // The identifier keeps showing the status itself, whatever code is looked up.
        uint32_t code = IsSocketError(m_status) ? kSocketErrorBase | m_status : m_status;
        const ZELInsert* args = inserts.begin();
        size_t count = inserts.size();
        ZELInsert redirected(0u);
        if (Facility(code) == kFacilityCryptoProvider) {
            code = ZEL_E_CRYPTO_PROVIDER_ERROR;
            redirected = ZELInsert(m_status & kCodeMask);
            args = &redirected;
            count = 1;
        } else if (Facility(code) >= kFacilityPackedTlsError) {
            code = ZEL_E_OPENSSL_ERROR;
            redirected = ZELInsert(UnpackTlsError(m_status));
            args = &redirected;
            count = 1;
        }

        std::string definition;
        std::string text;
        if (LookUp(code, m_status >= kPlatformLimit || m_ownModule, definition))
            text = FormatDefinition(definition, w, args, count);
        const size_t n = text.size();
        if (n > 0) {
            StripLineEnd(text);
            const char* tail = w == 0 ? kCrLf : "";
            if (plain) {
                text += tail;
            } else {
                // The room left on the last line is judged by that line's length before its
                // line end was stripped, so the measure errs towards a line of its own.
                const size_t lastLf = text.rfind('\n');
                const size_t m = lastLf == std::string::npos ? n : n - lastLf - 1;
                const bool fits = std::strlen(m_idText) + m + 6 <= w;
                text += fits || w == 0 ? ' ' : '\n';
                text += "[ID=";
                text += m_idText;
                text += ']';
                text += tail;
            }
            m_text = std::move(text);
            return m_text.c_str();
        }
        platform::SetLastError(kMessageNotFound);
        error = kMessageNotFound;
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    }

    char fallback[72];
    std::snprintf(fallback, sizeof fallback, "Status %d retrieving message text. [ID=%s]", error, m_idText);
    return KeepWrapped(fallback, w);
}

const char* ZELError::Describe(unsigned width, ZELInserts inserts) noexcept {
    if (Facility(m_status) == kFacilitySecurity)
        m_status = kSecurityErrorBase | (m_status & kCodeMask);
    else if (IsSocketError(m_status))
        m_status |= kSocketErrorBase;

    const uint32_t facility = Facility(m_status);
    if (facility >= kOwnFacilityFirst && facility <= kOwnFacilityLast) return GetText(width, inserts, true);

    std::string().swap(m_text);
    char text[72];
    std::snprintf(text, sizeof text, "Operating system specific status encountered. [ID=%s]", GetIdText());
    return KeepWrapped(text, width);
}

const char* StatusText(uint32_t code) noexcept {
    // The loader's callers want the platform's own text for its error numbers, which
    // Describe would hide behind the generic operating-system text; hence GetText.
    thread_local std::string t_text;
    thread_local char t_idText[12];
    ZELError error(code);
    const char* text = error.GetText(kStatusTextWidth);
    try {
        t_text = text;
        return t_text.c_str();
    } catch (const std::bad_alloc&) {
        std::snprintf(t_idText, sizeof t_idText, "%s", error.GetIdText());
        return t_idText;
    }
}

}  // namespace zel
