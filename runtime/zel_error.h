// ZELError: turns a status code into its readable text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace zel {

// One argument for the %1, %2, ... inserts of a message text: a text, or a number
// (written in decimal by %n and in hexadecimal by %n!x!).
class ZELInsert {
public:
    ZELInsert(const char* text) : m_text(text ? text : ""), m_isNumber(false) {}
    ZELInsert(const std::string& text) : m_text(text), m_isNumber(false) {}
    ZELInsert(uint32_t number) : m_number(number), m_isNumber(true) {}
    ZELInsert(int number) : m_number(static_cast<uint32_t>(number)), m_isNumber(true) {}

    bool IsNumber() const { return m_isNumber; }
    const std::string& Text() const { return m_text; }
    uint32_t Number() const { return m_number; }

private:
    std::string m_text;
    uint32_t m_number = 0;
    bool m_isNumber;
};

using ZELInserts = std::initializer_list<ZELInsert>;

class ZELError {
public:
    explicit ZELError(uint32_t status, bool ownModule = false) : m_status(status), m_ownModule(ownModule) {}
    virtual ~ZELError() = default;
    ZELError(const ZELError&) = delete;
    ZELError& operator=(const ZELError&) = delete;

    uint32_t Status() const { return m_status; }

    // When the status is a platform error number (non-zero, below 0x10000), moves it into
    // the facility and severity of `code` (its upper 16 bits); otherwise does nothing.
    void SetFacility(uint32_t code) noexcept;

    // "%u" for a platform error number, "0x%8.8x" otherwise; valid until the next call.
    const char* GetIdText() noexcept;

    // The message text of the status with its inserts, wrapped to `width` (0: the text's own
    // line breaks and a final CR LF; 255 or more: no wrapping), followed by " [ID=...]"
    // unless `plain`. Never fails: falls back to "Status %d retrieving message text. [ID=...]"
    // and, without memory, to the identifier text. The result is valid until the next
    // GetText or Describe on this object.
    const char* GetText(unsigned width = 0, ZELInserts inserts = {}, bool plain = false) noexcept;

    // The text shown to people: the system's own codes by their plain text, platform and
    // foreign codes as "Operating system specific status encountered. [ID=...]". Moves a
    // security-facility error (facility 9) into facility 0x72D and a socket error number
    // (10000..12000) into facility 0x727 first; the object keeps the moved status.
    const char* Describe(unsigned width = 0, ZELInserts inserts = {}) noexcept;

private:
    // Keeps `text` word-wrapped to `width` as the object's text; without memory, returns
    // the identifier text instead.
    const char* KeepWrapped(const char* text, unsigned width) noexcept;

    uint32_t m_status;
    char m_idText[12] = {};
    std::string m_text;
    bool m_ownModule;
};

// The text of `code` with its identifier (GetText at width 320, so no wrapping). The text
// lives in a per-thread buffer that the next call on the same thread overwrites.
const char* StatusText(uint32_t code) noexcept;

// Wraps `text` to lines of at most `width` columns (0 or 255 and above: no limit), breaking
// at blanks and tabs with `lineBreak`; CR, LF, VT and FF end a line, backspace steps back
// one column, other control characters take no column. A word longer than a line is cut.
std::string WordWrap(const std::string& text, unsigned width, const char* lineBreak = "\n");

}  // namespace zel
