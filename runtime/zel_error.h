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
    void SetFacility(uint32_t code);

    // "%u" for a platform error number, "0x%8.8x" otherwise.
    const char* GetIdText();

    // The message text of the status with its inserts, wrapped to `width` (0: the text's own
    // line breaks and a final CR LF; 255 or more: no wrapping), followed by " [ID=...]"
    // unless `plain`. Never fails: falls back to "Status %d retrieving message text. [ID=...]"
    // and, without memory, to the identifier text.
    const char* GetText(unsigned width = 0, ZELInserts inserts = {}, bool plain = false);

    // The text shown to people: the system's own codes by their plain text, platform and
    // foreign codes as "Operating system specific status encountered. [ID=...]".
    const char* Describe(unsigned width = 0, ZELInserts inserts = {});

private:
    uint32_t m_status;
    char m_idText[12] = {};
    std::string m_text;
    bool m_ownModule;
};

// Describes `code` at width 320 (no wrapping). The text lives in a per-thread buffer that
// the next call on the same thread overwrites.
const char* StatusText(uint32_t code);

// Wraps `text` to lines of at most `width` columns (0 or 255 and above: no limit), breaking
// at blanks with `lineBreak`; CR, LF, VT and FF end a line.
std::string WordWrap(const std::string& text, unsigned width, const char* lineBreak = "\n");

}  // namespace zel
