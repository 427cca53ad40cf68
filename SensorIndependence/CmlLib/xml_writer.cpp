#include "SensorIndependence/CmlLib/xml_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <type_traits>

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMCharacterData.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMText.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "SensorIndependence/CmlLib/schema_file_name.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "runtime/unicode.h"
#include "zel/status_codes.h"

static_assert(std::is_same_v<XMLCh, char16_t>, "DOM strings are used as UTF-16 text without conversion");

namespace zel::cml {
namespace {

// Marks the ASCII characters that XML 1.0 cannot carry: the controls other than tab, line
// feed and carriage return. They are replaced in every mode.
constexpr unsigned kNotXmlCharacter = 1u << 2;

// Which escaping modes replace each ASCII character; characters from 128 up are replaced
// only when XML cannot carry them (see EscapeIn).
constexpr std::array<uint8_t, 128> MakeEscapeTable() {
    std::array<uint8_t, 128> table{};
    for (unsigned c = 0; c < 0x20; ++c) {
        if (c != '\t' && c != '\n' && c != '\r') table[c] = kNotXmlCharacter;
    }
    for (char c : {'&', '<', '>', '"', '\''}) {
        table[static_cast<unsigned char>(c)] = kEscapeText | kEscapeAttribute;
    }
    table['\n'] = kEscapeAttribute;
    return table;
}
constexpr std::array<uint8_t, 128> kEscapeTable = MakeEscapeTable();
constexpr char16_t kLastSpecial = u'>';
// The most units any replacement takes ("&quot;").
constexpr std::size_t kLongestReplacement = 6;

constexpr char16_t kFirstSurrogate = 0xD800;

// Eight UTF-16 units in one vector register, and the same narrowed to bytes (GCC and Clang
// vector extensions, which compile to the target's own vector instructions).
using UnitBlock = uint16_t __attribute__((vector_size(16)));
using ByteBlock = uint8_t __attribute__((vector_size(8)));
static_assert(sizeof(UnitBlock) / sizeof(uint16_t) == 8);

// True when no lane of a comparison's result is set.
template <typename Mask>
bool NoneSet(const Mask& mask) {
    static_assert(sizeof(Mask) == 2 * sizeof(uint64_t));
    uint64_t halves[2];
    std::memcpy(halves, &mask, sizeof halves);
    return (halves[0] | halves[1]) == 0;
}

// True when each of the eight units at `text` is ASCII; `units` receives them.
bool IsAsciiBlock(const char16_t* text, UnitBlock& units) {
    std::memcpy(&units, text, sizeof units);
    return NoneSet(units >= uint16_t{0x80});
}

// True when each of the eight `units` is ASCII that `Mode` writes as it is. The scalars are
// 16-bit integers like the units: not every compiler takes a char16_t beside them.
template <unsigned Mode>
bool IsPlainAscii(const UnitBlock& units) {
    constexpr uint16_t kTab = u'\t', kLineFeed = u'\n', kReturn = u'\r';
    constexpr uint16_t kAmp = u'&', kLess = u'<', kGreater = u'>', kQuote = u'"', kApostrophe = u'\'';
    auto replaced = (units >= uint16_t{0x80}) | ((units < uint16_t{0x20}) & (units != kTab) & (units != kReturn));
    if constexpr ((Mode & kEscapeAttribute) == 0) replaced &= ~(units == kLineFeed);
    if constexpr ((Mode & (kEscapeText | kEscapeAttribute)) != 0) {
        replaced |= (units == kAmp) | (units == kLess) | (units == kGreater) | (units == kQuote) | (units == kApostrophe);
    }
    return NoneSet(replaced);
}

// The same for the eight units at `text`; `units` receives them.
template <unsigned Mode>
bool IsPlainAsciiBlock(const char16_t* text, UnitBlock& units) {
    std::memcpy(&units, text, sizeof units);
    return IsPlainAscii<Mode>(units);
}

// A text of four to seven units as one block: its first four units, then its last four (the
// middle ones twice). Both halves are read as integers and joined in a register, without
// reading beyond the text and without a store that a wide load would have to wait for.
using HalfBlocks = uint64_t __attribute__((vector_size(16)));
constexpr std::size_t kHalfBlock = 4;
HalfBlocks HeadAndTail(std::u16string_view text) {
    uint64_t head, tail;
    std::memcpy(&head, text.data(), sizeof head);
    std::memcpy(&tail, text.data() + text.size() - kHalfBlock, sizeof tail);
    return HalfBlocks{head, tail};
}

// Writes the head and tail of HeadAndTail back as the `size` units they came from.
template <typename CharT>
void StoreHeadAndTail(CharT* out, const HalfBlocks& halves, std::size_t size) {
    if constexpr (std::is_same_v<CharT, char>) {
        const ByteBlock bytes = __builtin_convertvector(reinterpret_cast<UnitBlock>(halves), ByteBlock);
        const auto* const narrowed = reinterpret_cast<const unsigned char*>(&bytes);
        std::memcpy(out, narrowed, kHalfBlock);
        std::memcpy(out + size - kHalfBlock, narrowed + kHalfBlock, kHalfBlock);
    } else {
        const uint64_t head = halves[0], tail = halves[1];
        std::memcpy(out, &head, sizeof head);
        std::memcpy(out + size - kHalfBlock, &tail, sizeof tail);
    }
}

// Writes the eight units, narrowed for 8-bit output.
template <typename CharT>
void StoreBlock(CharT* out, const UnitBlock& units) {
    if constexpr (std::is_same_v<CharT, char>) {
        const ByteBlock bytes = __builtin_convertvector(units, ByteBlock);
        std::memcpy(out, &bytes, sizeof bytes);
    } else {
        std::memcpy(out, &units, sizeof units);
    }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The replacement of `unit`: an entity for the characters the modes replace, U+FFFD for a
// character XML cannot carry, in the form of the output's character type.
template <typename CharT>
std::basic_string_view<CharT> Replacement(char16_t unit) {
    const Word* entity = nullptr;
    switch (unit) {
        case u'&': entity = &word::kEntityAmp; break;
        case u'<': entity = &word::kEntityLt; break;
        case u'>': entity = &word::kEntityGt; break;
        case u'"': entity = &word::kEntityQuot; break;
        case u'\'': entity = &word::kEntityApos; break;
        case u'\n': entity = &word::kEntityLineFeed; break;
        default: break;
    }
    if constexpr (std::is_same_v<CharT, char>) {
        return entity ? entity->ascii : "\xEF\xBF\xBD";
    } else {
        return entity ? entity->wide : u"\uFFFD";
    }
}

// The one escaping routine: hands each run of characters that need no replacement to
// `run` whole, and each character that does to `replace`. The mode is a template argument
// so that the scan loop tests a constant. Most characters pass on one comparison: every
// ASCII character that is replaced lies at or below '>', every other one at or above the
// first surrogate (surrogates that do not form a pair, U+FFFE and U+FFFF).
template <unsigned Mode, typename Run, typename Replace>
void EscapeIn(const char16_t* text, std::size_t length, Run& run, Replace& replace) {
    constexpr unsigned kReplaced = Mode | kNotXmlCharacter;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t unit = text[i];
        if (unit <= kLastSpecial) {
            if ((kEscapeTable[unit] & kReplaced) == 0) continue;
        } else if (unit < kFirstSurrogate) {
            continue;
        } else if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            ++i;  // a pair: one character beyond the basic plane
            continue;
        } else if (unit < 0xFFFE && !IsHighSurrogate(unit) && !IsLowSurrogate(unit)) {
            continue;
        }
        if (i > runStart) run(text + runStart, i - runStart);
        replace(unit);
        runStart = i + 1;
    }
    if (length > runStart) run(text + runStart, length - runStart);
}

template <typename Run, typename Replace>
void Escape(std::u16string_view text, unsigned mode, Run&& run, Replace&& replace) {
    switch (mode) {
        case kEscapeText: return EscapeIn<kEscapeText>(text.data(), text.size(), run, replace);
        case kEscapeAttribute: return EscapeIn<kEscapeAttribute>(text.data(), text.size(), run, replace);
        default: return EscapeIn<kEscapeNone>(text.data(), text.size(), run, replace);
    }
}

// Writes straight into the stream buffer; a stream already in a failed state takes
// nothing more, and a short write marks it bad.
template <typename CharT>
void Put(std::basic_ostream<CharT>& stream, const CharT* text, std::size_t length) {
    if (length == 0 || !stream.good()) return;
    if (static_cast<std::size_t>(stream.rdbuf()->sputn(text, static_cast<std::streamsize>(length))) != length) {
        stream.setstate(std::ios_base::badbit);
    }
}

// A text or CDATA node that formatted output leaves out: ignorable white space, empty, or
// made of blanks and line feeds only (tabs and carriage returns count as content).
bool IsSkippedText(const xercesc::DOMText* text) {
    if (text->isIgnorableWhitespace()) return true;
    for (char16_t c : View(text->getData())) {
        if (c != u' ' && c != u'\n') return false;
    }
    return true;
}

std::u16string EscapedString(std::u16string_view text, unsigned mode) {
    std::u16string out;
    out.reserve(text.size());
    Escape(
        text, mode, [&out](const char16_t* run, std::size_t n) { out.append(run, n); },
        [&out](char16_t unit) { out += Replacement<char16_t>(unit); });
    return out;
}

template <typename CharT>
void WriteStartTagTo(XmlSink<CharT>& sink, const xercesc::DOMElement* element) {
    sink.Ascii("<").Escaped(View(element->getNodeName()), kEscapeText);

    const xercesc::DOMNode* parent = element->getParentNode();
    if (parent == nullptr || View(element->getNamespaceURI()) != View(parent->getNamespaceURI())) {
        std::u16string prefixed = u"xmlns:";
        prefixed += View(element->getPrefix());
        if (!element->hasAttribute(u"xmlns") && !element->hasAttribute(prefixed.c_str())) {
            sink.Ascii(" xmlns='").Escaped(View(element->getNamespaceURI()), kEscapeText).Ascii("'");
        }
    }

    if (const xercesc::DOMNamedNodeMap* attributes = element->getAttributes()) {
        const XMLSize_t count = attributes->getLength();
        for (XMLSize_t i = 0; i < count; ++i) {
            const auto* attribute = static_cast<const xercesc::DOMAttr*>(attributes->item(i));
            if (!attribute->getSpecified()) continue;  // supplied by a schema default only
            sink.Ascii(" ").Escaped(View(attribute->getName()), kEscapeText);
            sink.Ascii("='").Escaped(View(AttributeValue(attribute)), kEscapeAttribute).Ascii("'");
        }
    }
    sink.Ascii(element->hasChildNodes() ? ">" : "/>");
}

// Writes the line of `node` at `level`: an element's start tag, a text, CDATA section or
// comment, or the mark of a node type that is not written. True when the node is an element
// whose children follow.
template <typename CharT>
bool WriteNodeLine(XmlSink<CharT>& sink, const xercesc::DOMNode* node, int level) {
    switch (node->getNodeType()) {
        case xercesc::DOMNode::ELEMENT_NODE: {
            const auto* element = static_cast<const xercesc::DOMElement*>(node);
            sink.Indent(level);
            WriteStartTagTo(sink, element);
            sink.EndLine();
            return element->hasChildNodes();
        }
        case xercesc::DOMNode::TEXT_NODE: {
            const auto* text = static_cast<const xercesc::DOMText*>(node);
            if (!IsSkippedText(text)) sink.Indent(level).Escaped(View(text->getData()), kEscapeText).EndLine();
            return false;
        }
        case xercesc::DOMNode::CDATA_SECTION_NODE: {
            const auto* text = static_cast<const xercesc::DOMText*>(node);
            if (IsSkippedText(text)) return false;
            sink.Indent(level).Ascii("<![CDATA[").Escaped(View(text->getData()), kEscapeNone).Ascii("]]>").EndLine();
            return false;
        }
        case xercesc::DOMNode::COMMENT_NODE: {
            const auto* comment = static_cast<const xercesc::DOMCharacterData*>(node);
            sink.Indent(level).Ascii("<!--").Escaped(View(comment->getData()), kEscapeNone).Ascii("-->").EndLine();
            return false;
        }
        default:
            sink.EndLine();
            sink.Ascii("Unrecognized node type:  ").Decimal(static_cast<uint64_t>(node->getNodeType()));
            return false;
    }
}

}  // namespace

template <typename CharT>
XmlSink<CharT>::~XmlSink() {
    try {
        Flush();
    } catch (...) {
        // A throwing stream buffer has marked the stream; nothing more can be done here.
    }
}

template <typename CharT>
void XmlSink<CharT>::AppendLong(const CharT* text, std::size_t length) {
    Flush();
    if (length > kCapacity) {
        Put(m_stream, text, length);
    } else {
        std::char_traits<CharT>::copy(m_buffer, text, length);
        m_used = length;
    }
}

template <typename CharT>
void XmlSink<CharT>::Narrow(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        // Narrow ASCII straight into the buffer until a non-ASCII unit or a full buffer.
        if (m_used == kCapacity) Flush();
        const std::size_t limit = std::min(text.size() - i, kCapacity - m_used);
        CharT* out = m_buffer + m_used;
        std::size_t k = 0;
        // Blocks of eight units that are all ASCII first, then unit by unit.
        UnitBlock units;
        for (; k + kBlock <= limit && IsAsciiBlock(text.data() + i + k, units); k += kBlock) {
            StoreBlock(out + k, units);
        }
        k += CopyAscii(text.substr(i + k, limit - k), out + k);
        m_used += k;
        i += k;
        if (k == limit) continue;
        std::size_t end = i;
        while (end < text.size() && text[end] >= 0x80) ++end;
        // A high surrogate that ends the run has no partner (ASCII or the end follows),
        // but the converter would take it for an incomplete input and drop it: it is
        // written as U+FFFD like every other unpaired surrogate.
        const bool unpairedLast = text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF;
        std::string utf8;
        zelToUtf8(text.data() + i, end - i - (unpairedLast ? 1 : 0), utf8);
        if (unpairedLast) zelToUtf8(u"\uFFFD", 1, utf8, false);
        if constexpr (std::is_same_v<CharT, char>) Append(utf8.data(), utf8.size());
        i = end;
    }
}

template <typename CharT>
template <unsigned Mode>
std::size_t XmlSink<CharT>::EscapedAscii(std::u16string_view text) {
    constexpr unsigned kReplaced = Mode | kNotXmlCharacter;
    // The count of used units stays in a local: stores through the 8-bit buffer could alias
    // the member.
    std::size_t used = m_used;
    std::size_t i = 0;
    while (i < text.size()) {
        // Room for a block whose every unit is replaced.
        if (used > kCapacity - kBlock * kLongestReplacement) {
            m_used = used;
            Flush();
            used = 0;
        }
        // A block of plain ASCII is tested and copied in a few vector instructions; a block
        // with anything else goes unit by unit.
        UnitBlock units;
        if (i + kBlock <= text.size()) {
            if (IsPlainAsciiBlock<Mode>(text.data() + i, units)) {
                StoreBlock(m_buffer + used, units);
                used += kBlock;
                i += kBlock;
                continue;
            }
        } else if (text.size() >= kBlock) {
            // The last block, overlapping units already written: when it is plain, those
            // were written as they are and are simply written again.
            const std::size_t overlap = i - (text.size() - kBlock);
            if (overlap <= used && IsPlainAsciiBlock<Mode>(text.data() + text.size() - kBlock, units)) {
                StoreBlock(m_buffer + used - overlap, units);
                used += kBlock - overlap;
                i = text.size();
                break;
            }
        } else if (text.size() >= kHalfBlock) {
            // A short text, most attribute values, in one test as well.
            const HalfBlocks halves = HeadAndTail(text);
            if (IsPlainAscii<Mode>(reinterpret_cast<UnitBlock>(halves))) {
                StoreHeadAndTail(m_buffer + used, halves, text.size());
                used += text.size();
                i = text.size();
                break;
            }
        }
        const std::size_t blockEnd = std::min(text.size(), i + kBlock);
        for (; i < blockEnd; ++i) {
            const char16_t unit = text[i];
            if (unit >= 0x80) {
                m_used = used;
                return i;
            }
            if ((kEscapeTable[unit] & kReplaced) == 0) {
                m_buffer[used++] = static_cast<CharT>(unit);
            } else {
                const std::basic_string_view<CharT> replacement = Replacement<CharT>(unit);
                std::char_traits<CharT>::copy(m_buffer + used, replacement.data(), replacement.size());
                used += replacement.size();
            }
        }
    }
    m_used = used;
    return i;
}

template <typename CharT>
XmlSink<CharT>& XmlSink<CharT>::Escaped(std::u16string_view text, EscapeMode mode) {
    // ASCII, by far the usual text, goes straight into the buffer, replacements included;
    // from the first unit beyond ASCII the general routine takes the rest.
    std::size_t i = 0;
    switch (mode) {
        case kEscapeText: i = EscapedAscii<kEscapeText>(text); break;
        case kEscapeAttribute: i = EscapedAscii<kEscapeAttribute>(text); break;
        default: i = EscapedAscii<kEscapeNone>(text); break;
    }
    if (i == text.size()) return *this;
    Escape(
        text.substr(i), mode, [this](const char16_t* run, std::size_t n) { Wide({run, n}); },
        [this](char16_t unit) {
            const std::basic_string_view<CharT> replacement = Replacement<CharT>(unit);
            Append(replacement.data(), replacement.size());
        });
    return *this;
}

template <typename CharT>
XmlSink<CharT>& XmlSink<CharT>::Indent(int level) {
    std::size_t blanks = level > 0 ? 4 * static_cast<std::size_t>(level) : 0;
    while (blanks > 0) {
        if (m_used == kCapacity) Flush();
        const std::size_t count = std::min(blanks, kCapacity - m_used);
        std::char_traits<CharT>::assign(m_buffer + m_used, count, CharT(' '));
        m_used += count;
        blanks -= count;
    }
    return *this;
}

template <typename CharT>
XmlSink<CharT>& XmlSink<CharT>::Attribute(std::u16string_view name, std::u16string_view value) {
    // Names are short ASCII: " name='" goes into the buffer in one pass when it fits.
    const std::size_t used = m_used;
    if (name.size() + 3 <= kCapacity - used) {
        CharT* out = m_buffer + used;
        out[0] = CharT(' ');
        const std::size_t k = CopyAscii(name, out + 1);
        if (k == name.size()) {
            out[1 + k] = CharT('=');
            out[2 + k] = CharT('\'');
            m_used = used + k + 3;
            Escaped(value, kEscapeAttribute);
            Unit(CharT('\''));
            return *this;
        }
    }
    return Ascii(" ").Wide(name).Ascii("='").Escaped(value, kEscapeAttribute).Ascii("'");
}

template <typename CharT>
XmlSink<CharT>& XmlSink<CharT>::AttributeIfSet(std::u16string_view name, std::u16string_view value) {
    return value.empty() ? *this : Attribute(name, value);
}

template <typename CharT>
XmlSink<CharT>& XmlSink<CharT>::Decimal(uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    return Ascii(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

template <typename CharT>
XmlSink<CharT>& XmlSink<CharT>::Hex(uint32_t value) {
    char digits[12];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value, 16);
    return Ascii(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

template <typename CharT>
void XmlSink<CharT>::Flush() {
    const std::size_t used = m_used;
    m_used = 0;
    if (used != 0) Put(m_stream, m_buffer, used);
}

template <typename CharT>
void XmlSink<CharT>::EndLine() {
    Unit(CharT('\n'));
    Flush();
    // What flush() does, without the sentry: the streams written here are not tied to others.
    if (m_stream.good() && m_stream.rdbuf()->pubsync() == -1) m_stream.setstate(std::ios_base::badbit);
}

std::u16string Indent(int level) { return std::u16string(level > 0 ? 4 * static_cast<std::size_t>(level) : 0, u' '); }

std::u16string EscapeAttribute(std::u16string_view text) { return EscapedString(text, kEscapeAttribute); }

std::string EscapeAttribute(std::string_view text) {
    return ToUtf8(EscapedString(ToUtf16(std::string(text)), kEscapeAttribute));
}

std::u16string EscapeText(std::u16string_view text) { return EscapedString(text, kEscapeText); }

std::string EscapeText(std::string_view text) { return ToUtf8(EscapedString(ToUtf16(std::string(text)), kEscapeText)); }

template <typename CharT>
void WriteAscii(std::basic_ostream<CharT>& stream, std::string_view ascii) {
    XmlSink<CharT>(stream).Ascii(ascii);
}

template <typename CharT>
void WriteWide(std::basic_ostream<CharT>& stream, std::u16string_view text) {
    if constexpr (std::is_same_v<CharT, char>) {
        XmlSink<CharT>(stream).Wide(text);
    } else {
        Put(stream, text.data(), text.size());
    }
}

template <typename CharT>
void WriteEscaped(std::basic_ostream<CharT>& stream, std::u16string_view text, EscapeMode mode) {
    XmlSink<CharT>(stream).Escaped(text, mode);
}

template <typename CharT>
void WriteIndent(std::basic_ostream<CharT>& stream, int level) {
    XmlSink<CharT>(stream).Indent(level);
}

template <typename CharT>
void WriteLineEnd(std::basic_ostream<CharT>& stream) {
    XmlSink<CharT>(stream).EndLine();
}

template <typename CharT>
void WriteDecimal(std::basic_ostream<CharT>& stream, uint64_t value) {
    XmlSink<CharT>(stream).Decimal(value);
}

template <typename CharT>
void WriteHex(std::basic_ostream<CharT>& stream, uint32_t value) {
    XmlSink<CharT>(stream).Hex(value);
}

template <typename CharT>
void WriteAttribute(std::basic_ostream<CharT>& stream, std::u16string_view name, std::u16string_view value) {
    XmlSink<CharT>(stream).Attribute(name, value);
}

template <typename CharT>
void WriteXmlDeclaration(std::basic_ostream<CharT>& stream, bool standalone) {
    XmlDeclaration declaration = standalone ? kDeclarationUtf8Standalone : kDeclarationUtf8NotStandalone;
    bool byteOrderMark = false;
    if constexpr (!std::is_same_v<CharT, char>) {
        // The buffer tells the kind: a file buffer converts to UTF-8 bytes on its way out,
        // a string buffer keeps UTF-16 code units.
        std::basic_streambuf<CharT>* buffer = stream.rdbuf();
        if (dynamic_cast<std::basic_stringbuf<CharT>*>(buffer) != nullptr) {
            declaration = standalone ? kDeclarationUtf16Standalone : kDeclarationUtf16NotStandalone;
            byteOrderMark = true;
        } else if (dynamic_cast<std::basic_filebuf<CharT>*>(buffer) == nullptr) {
            throw CCmlException(u"Writing XML declaration", u"Unsupported stream type", ZEL_E_INVALIDARG);
        }
    }
    if (byteOrderMark) WriteWide(stream, u"\uFEFF");
    XmlSink<CharT>(stream).Ascii(kXmlDeclarations[declaration]).EndLine();
}

template <typename CharT>
void WriteDocumentHead(std::basic_ostream<CharT>& stream, std::u16string_view rootName, const NamespaceSet& namespaces) {
    WriteXmlDeclaration(stream, false);
    XmlSink<CharT> sink(stream);
    sink.Ascii("<").Wide(rootName).Ascii(" ").Ascii(kSchemaInstanceDeclaration).EndLine();
    if (namespaces.empty()) return;

    sink.Ascii("    xsi:schemaLocation='");
    bool first = true;
    std::u16string location;
    for (const CNamespace& ns : namespaces) {
        if (!first) {
            sink.EndLine();
            sink.Indent(1);
        }
        first = false;
        // May throw for a URI outside the CML base URI; the sink hands over the head so far.
        SchemaLocation(ns.GetURI(), ns.GetVersion(), kSchemaDirectory, location);
        sink.Escaped(ns.GetURI(), kEscapeAttribute).Ascii(" ").Escaped(location, kEscapeAttribute);
    }
    sink.Ascii("'");
}

template <typename CharT>
void WriteStartTag(const xercesc::DOMElement* element, std::basic_ostream<CharT>& stream) {
    XmlSink<CharT> sink(stream);
    WriteStartTagTo(sink, element);
}

template <typename CharT>
void WriteNode(const xercesc::DOMNode* node, std::basic_ostream<CharT>& stream, int level) {
    if (node == nullptr) return;
    // A walk along parent and sibling links rather than a recursion: the stack stays flat
    // however deep the subtree is.
    XmlSink<CharT> sink(stream);
    const xercesc::DOMNode* current = node;
    int depth = 0;
    for (;;) {
        if (WriteNodeLine(sink, current, level + depth)) {
            current = current->getFirstChild();
            ++depth;
            continue;
        }
        while (current != node && current->getNextSibling() == nullptr) {
            current = current->getParentNode();
            --depth;
            sink.Indent(level + depth)
                .Ascii("</")
                .Escaped(View(current->getNodeName()), kEscapeText)
                .Ascii(">")
                .EndLine();
        }
        if (current == node) return;
        current = current->getNextSibling();
    }
}

template class XmlSink<char>;
template class XmlSink<char16_t>;

#define ZEL_CML_INSTANTIATE_WRITER(CharT)                                                                        \
    template void WriteAscii<CharT>(std::basic_ostream<CharT>&, std::string_view);                             \
    template void WriteWide<CharT>(std::basic_ostream<CharT>&, std::u16string_view);                           \
    template void WriteEscaped<CharT>(std::basic_ostream<CharT>&, std::u16string_view, EscapeMode);            \
    template void WriteIndent<CharT>(std::basic_ostream<CharT>&, int);                                         \
    template void WriteLineEnd<CharT>(std::basic_ostream<CharT>&);                                             \
    template void WriteDecimal<CharT>(std::basic_ostream<CharT>&, uint64_t);                                   \
    template void WriteHex<CharT>(std::basic_ostream<CharT>&, uint32_t);                                       \
    template void WriteAttribute<CharT>(std::basic_ostream<CharT>&, std::u16string_view, std::u16string_view); \
    template void WriteXmlDeclaration<CharT>(std::basic_ostream<CharT>&, bool);                                \
    template void WriteDocumentHead<CharT>(std::basic_ostream<CharT>&, std::u16string_view, const NamespaceSet&); \
    template void WriteStartTag<CharT>(const xercesc::DOMElement*, std::basic_ostream<CharT>&);                \
    template void WriteNode<CharT>(const xercesc::DOMNode*, std::basic_ostream<CharT>&, int);

ZEL_CML_INSTANTIATE_WRITER(char)
ZEL_CML_INSTANTIATE_WRITER(char16_t)

#undef ZEL_CML_INSTANTIATE_WRITER

}  // namespace zel::cml
