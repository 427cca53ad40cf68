// The XML writer: the text-level rules every Serialize of the CML library follows
// (indentation, line ends, quoting, escaping, declarations, the document head) and a
// formatted writer for DOM subtrees. Every writing operation is one template over the
// stream's character type, instantiated for std::ostream (UTF-8 bytes) and for
// std::basic_ostream<char16_t> (UTF-16); both give the same characters. Literal pieces are
// passed as ASCII and widened here; wide text is converted to UTF-8 for narrow streams.
//
// Every document written here is well-formed XML whatever text it is given: every
// attribute value and every text goes through the escaping below, and a character that
// XML 1.0 cannot carry (a control character other than tab, line feed and carriage return,
// a surrogate without its partner, U+FFFE, U+FFFF) is written as U+FFFD in every mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

// Escaping modes, usable as flags: text mode replaces & < > " ' and attribute mode also
// the line feed; kEscapeNone (CDATA sections, comments) replaces only the characters XML
// cannot carry, which every mode writes as U+FFFD.
enum EscapeMode : unsigned {
    kEscapeNone = 0,
    kEscapeText = 1u << 0,
    kEscapeAttribute = 1u << 1,
};

// Collects the pieces of a line and hands them to the stream in one call, so that a line
// costs a few stream calls rather than one per piece. All writing operations below go
// through it; Serialize code may also use it directly:
//     XmlSink<CharT>(stream).Indent(level).Ascii("<").Name(word::kTagParam).Attribute(word::kTagName, name)
//         .Ascii("/>").EndLine();
// Name() copies a vocabulary word, Wide() writes other names and text known to need no
// escaping; values go through Attribute() and Escaped(). Wide text is converted for narrow
// streams (ASCII by narrowing, other characters through the runtime's replacing converter).
// Whatever is collected reaches the stream at Flush, EndLine or destruction, also when an
// exception leaves the writing code early. Writes go straight into the stream buffer; a
// stream in a failed state takes nothing more.
template <typename CharT>
class XmlSink {
public:
    explicit XmlSink(std::basic_ostream<CharT>& stream) : m_stream(stream) {}
    XmlSink(const XmlSink&) = delete;
    XmlSink& operator=(const XmlSink&) = delete;
    // Hands over what is left; a failure to do so is dropped (the stream shows it).
    ~XmlSink();

    // ASCII text, widened on wide streams.
    XmlSink& Ascii(std::string_view ascii) {
        if constexpr (std::is_same_v<CharT, char>) {
            Append(ascii.data(), ascii.size());
        } else {
            for (char c : ascii) Unit(static_cast<unsigned char>(c));
        }
        return *this;
    }
    // Wide text unchanged (UTF-8 on narrow streams).
    XmlSink& Wide(std::u16string_view text) {
        if constexpr (std::is_same_v<CharT, char>) {
            // Inline for the common case: ASCII text that fits the buffer.
            if (text.size() <= kCapacity - m_used) {
                const std::size_t k = CopyAscii(text, m_buffer + m_used);
                m_used += k;
                if (k == text.size()) return *this;
                text.remove_prefix(k);
            }
            Narrow(text);
        } else {
            Append(text.data(), text.size());
        }
        return *this;
    }
    // A vocabulary word as it is (a name, or a value that needs no escaping): one copy.
    XmlSink& Name(const Word& word) {
        if constexpr (std::is_same_v<CharT, char>) {
            if (word.ascii.size() + Word::kWordBlock <= kCapacity - m_used) {
                m_used += CopyWord(word, m_buffer + m_used);
            } else {
                Append(word.ascii.data(), word.ascii.size());
            }
        } else {
            Append(word.wide.data(), word.wide.size());
        }
        return *this;
    }
    // Wide text escaped in `mode`.
    XmlSink& Escaped(std::u16string_view text, EscapeMode mode);
    // The indentation of `level`: 4 x level blanks, none for level 0 or below.
    XmlSink& Indent(int level);
    // " name='value'" with the value escaped in attribute mode (a vocabulary name is copied).
    XmlSink& Attribute(std::u16string_view name, std::u16string_view value);
    XmlSink& Attribute(const Word& name, std::u16string_view value) {
        AttributeStart(name);
        Escaped(value, kEscapeAttribute);
        Unit(CharT('\''));
        return *this;
    }
    // The same, but nothing for an empty value.
    XmlSink& AttributeIfSet(std::u16string_view name, std::u16string_view value);
    XmlSink& AttributeIfSet(const Word& name, std::u16string_view value) {
        return value.empty() ? *this : Attribute(name, value);
    }
    // A vocabulary value, copied as it is unless it needs escaping.
    XmlSink& Attribute(const Word& name, const Word& value) {
        if (!value.plain) return Attribute(name, value.wide);
        AttributeStart(name);
        Name(value);
        Unit(CharT('\''));
        return *this;
    }
    // A number in decimal digits.
    XmlSink& Decimal(uint64_t value);
    // A number in lower-case hexadecimal digits, without prefix or leading zeros.
    XmlSink& Hex(uint32_t value);
    // Hands the collected text to the stream.
    void Flush();
    // Flush, then a line feed, then a flush of the stream itself.
    void EndLine();

private:
    static constexpr std::size_t kCapacity = 512;
    // The units that escaping tests and copies in one step.
    static constexpr std::size_t kBlock = 8;

    void Append(const CharT* text, std::size_t length) {
        if (length <= kCapacity - m_used) {
            std::char_traits<CharT>::copy(m_buffer + m_used, text, length);
            m_used += length;
        } else {
            AppendLong(text, length);
        }
    }
    void AppendLong(const CharT* text, std::size_t length);
    // " name='" in one pass when it fits the buffer.
    void AttributeStart(const Word& name) {
        const std::size_t length = name.wide.size();
        if (length + 3 + Word::kWordBlock > kCapacity - m_used) {
            Ascii(" ").Name(name).Ascii("='");
            return;
        }
        CharT* out = m_buffer + m_used;
        out[0] = CharT(' ');
        if constexpr (std::is_same_v<CharT, char>) {
            CopyWord(name, out + 1);
        } else {
            std::char_traits<char16_t>::copy(out + 1, name.wide.data(), length);
        }
        out[1 + length] = CharT('=');
        out[2 + length] = CharT('\'');
        m_used += length + 3;
    }
    // Copies the ASCII form of `word` to `out` in whole blocks (room for its length rounded up
    // to a block is needed); returns its length.
    static std::size_t CopyWord(const Word& word, char* out) {
        // Locals: the stores through `out` could otherwise alias the word's own fields.
        const char* const ascii = word.ascii.data();
        const std::size_t length = word.ascii.size();
        for (std::size_t i = 0; i < length; i += Word::kWordBlock) std::memcpy(out + i, ascii + i, Word::kWordBlock);
        return length;
    }
    // Copies the leading ASCII of `text` to `out` as CharT units; returns how many it copied.
    static std::size_t CopyAscii(std::u16string_view text, CharT* out) {
        std::size_t k = 0;
        while (k < text.size() && text[k] < 0x80) {
            out[k] = static_cast<CharT>(text[k]);
            ++k;
        }
        return k;
    }
    // Escapes the leading ASCII of `text` in `Mode` into the buffer; returns how many units it
    // took (all, or up to the first unit beyond ASCII).
    template <unsigned Mode>
    std::size_t EscapedAscii(std::u16string_view text);
    // Wide text as UTF-8, for narrow streams.
    void Narrow(std::u16string_view text);
    void Unit(CharT unit) {
        if (m_used == kCapacity) Flush();
        m_buffer[m_used++] = unit;
    }

    std::basic_ostream<CharT>& m_stream;
    std::size_t m_used = 0;
    CharT m_buffer[kCapacity];
};

// Four blanks per level (none for level 0 or below).
std::u16string Indent(int level);

// `text` with the attribute-mode replacements; the 8-bit form takes and gives UTF-8 (a
// byte sequence that is not UTF-8 comes out as U+FFFD).
std::u16string EscapeAttribute(std::u16string_view text);
std::string EscapeAttribute(std::string_view text);
// `text` with the text-mode replacements (line feeds stay as they are).
std::u16string EscapeText(std::u16string_view text);
std::string EscapeText(std::string_view text);

// Writes the ASCII text `ascii` (widened on wide streams).
template <typename CharT>
void WriteAscii(std::basic_ostream<CharT>& stream, std::string_view ascii);

// Writes wide text unchanged (converted to UTF-8 on narrow streams).
template <typename CharT>
void WriteWide(std::basic_ostream<CharT>& stream, std::u16string_view text);

// Writes wide text escaped in `mode`.
template <typename CharT>
void WriteEscaped(std::basic_ostream<CharT>& stream, std::u16string_view text, EscapeMode mode);

// Writes the indentation of `level`: 4 x level blanks.
template <typename CharT>
void WriteIndent(std::basic_ostream<CharT>& stream, int level);

// Writes a line feed and flushes the stream (every line end flushes).
template <typename CharT>
void WriteLineEnd(std::basic_ostream<CharT>& stream);

// Writes `value` in decimal digits.
template <typename CharT>
void WriteDecimal(std::basic_ostream<CharT>& stream, uint64_t value);

// Writes `value` in lower-case hexadecimal digits without prefix or leading zeros.
template <typename CharT>
void WriteHex(std::basic_ostream<CharT>& stream, uint32_t value);

// Writes " name='value'" with the value escaped in attribute mode.
template <typename CharT>
void WriteAttribute(std::basic_ostream<CharT>& stream, std::u16string_view name, std::u16string_view value);

// Writes the XML declaration and a line end. Narrow streams and wide file streams get the
// UTF-8 declaration; wide string streams get U+FEFF and the UTF-16 declaration; any other
// wide stream throws CCmlException ("Writing XML declaration", "Unsupported stream type",
// 0xC7210003) before writing anything.
template <typename CharT>
void WriteXmlDeclaration(std::basic_ostream<CharT>& stream, bool standalone);

// Writes the declaration (standalone "no"), "<" + rootName + " " + the schema-instance
// declaration and a line end, then, unless `namespaces` is empty, the xsi:schemaLocation
// attribute listing each namespace with its schema location, one per line, ending with "'"
// and no line end: the caller continues the root start tag. A namespace outside the CML
// base URI throws CCmlException (0xC738000A) with the head written so far left in place.
template <typename CharT>
void WriteDocumentHead(std::basic_ostream<CharT>& stream, std::u16string_view rootName, const NamespaceSet& namespaces);

// Writes `node` and its subtree in the formatted style at `level`: elements, non-blank text,
// CDATA sections and comments, one per line. The walk is not recursive, so any depth is safe
// on any stack. Other node types write a line end and
// "Unrecognized node type:  <number>" and are otherwise skipped. A null node writes nothing.
template <typename CharT>
void WriteNode(const xercesc::DOMNode* node, std::basic_ostream<CharT>& stream, int level);

// The start tag of a DOM element: name, its xmlns declaration when its namespace differs
// from its parent's and it declares none itself, its specified attributes, then ">" when it
// has children, else "/>".
template <typename CharT>
void WriteStartTag(const xercesc::DOMElement* element, std::basic_ostream<CharT>& stream);

}  // namespace zel::cml
