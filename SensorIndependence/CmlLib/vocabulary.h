// The CML vocabulary: the table of every tag name, attribute name, namespace URI, schema
// version and piece of XML punctuation that the CML library uses, with one named constant
// per entry, and the XML declarations beside it. The entries come from vocabulary.inc.
// Comparisons with document content are always by value, never by pointer.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

// The CML base URI. Every CML namespace URI is this text followed by a path; it is spelled
// nowhere else.
#define ZEL_CML_BASE_URI u"http://schemas.zel.example"

namespace zel::cml {

// Positions of the entries in the table, in table order.
namespace vocabulary_index {
enum : std::size_t {
#define ZEL_CML_WORD(name, text) name,
#include "SensorIndependence/CmlLib/vocabulary.inc"
#undef ZEL_CML_WORD
    kCount
};
}  // namespace vocabulary_index

// The table: constant, process-wide, in the order of vocabulary.inc.
inline constexpr const char16_t* kVocabulary[] = {
#define ZEL_CML_WORD(name, text) text,
#include "SensorIndependence/CmlLib/vocabulary.inc"
#undef ZEL_CML_WORD
};

inline constexpr std::size_t kVocabularyCount = std::size(kVocabulary);
static_assert(kVocabularyCount == vocabulary_index::kCount, "vocabulary index and table disagree");
// 3 versions, the XML Schema URI, the base URI and 11 namespaces, 2 frame names, 210 tag and
// attribute names, 4 small strings, 23 punctuation pieces.
static_assert(kVocabularyCount == 255, "vocabulary.inc changed: update the expected count");

// One named constant per entry, e.g. kTagSchemaVersion for "schema-version".
#define ZEL_CML_WORD(name, text) inline constexpr const char16_t* name = kVocabulary[vocabulary_index::name];
#include "SensorIndependence/CmlLib/vocabulary.inc"
#undef ZEL_CML_WORD

// A vocabulary entry as the writer puts it on its two kinds of stream: the UTF-16 text and the
// same in ASCII, lengths known, and whether it needs no escaping as a text or attribute value
// (printable ASCII without & < > " '). Writing one is a single copy: the ASCII form's storage
// is padded with zeros to whole blocks of kWordBlock bytes, which the writer copies block by
// block. Words are made only here, one per entry of the table.
struct Word {
    static constexpr std::size_t kWordBlock = 16;

    std::u16string_view wide;
    std::string_view ascii;
    bool plain;
};

namespace vocabulary_detail {

constexpr std::size_t Padded(std::size_t size) {
    return (size + Word::kWordBlock - 1) / Word::kWordBlock * Word::kWordBlock;
}

template <std::size_t N>
struct AsciiText {
    char text[Padded(N)];
};

// The ASCII twin of an entry (every entry is ASCII, checked below).
template <std::size_t N>
constexpr AsciiText<N> AsciiOf(const char16_t (&text)[N]) {
    AsciiText<N> ascii{};
    for (std::size_t i = 0; i < N; ++i) ascii.text[i] = static_cast<char>(text[i]);
    return ascii;
}

constexpr bool IsPlain(std::u16string_view text) {
    for (char16_t c : text) {
        if (c < u' ' || c > u'~' || c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == u'\'') return false;
    }
    return true;
}

constexpr bool EveryEntryIsAscii() {
    for (const char16_t* text : kVocabulary) {
        for (; *text != 0; ++text) {
            if (*text > 0x7F) return false;
        }
    }
    return true;
}
static_assert(EveryEntryIsAscii(), "the writer copies vocabulary entries as ASCII");

#define ZEL_CML_WORD(name, literal) inline constexpr auto name = AsciiOf(literal);
#include "SensorIndependence/CmlLib/vocabulary.inc"
#undef ZEL_CML_WORD

}  // namespace vocabulary_detail

// One Word per entry under the entry's name, e.g. word::kTagName for "name".
namespace word {
#define ZEL_CML_WORD(name, literal)                                                                    \
    inline constexpr Word name{std::u16string_view(literal, std::size(literal) - 1),                  \
                               std::string_view(vocabulary_detail::name.text, std::size(literal) - 1), \
                               vocabulary_detail::IsPlain(literal)};
#include "SensorIndependence/CmlLib/vocabulary.inc"
#undef ZEL_CML_WORD
}  // namespace word

// The XML declarations, indexed by XmlDeclaration. The UCS4 forms are never chosen.
enum XmlDeclaration : std::size_t {
    kDeclarationUtf8Standalone,
    kDeclarationUtf16Standalone,
    kDeclarationUcs4Standalone,
    kDeclarationUtf8NotStandalone,
    kDeclarationUtf16NotStandalone,
    kDeclarationUcs4NotStandalone,
    kDeclarationCount
};
inline constexpr const char* kXmlDeclarations[kDeclarationCount] = {
    "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>",
    "<?xml version='1.0' encoding='UTF-16' standalone='yes'?>",
    "<?xml version='1.0' encoding='UCS4' standalone='yes'?>",
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>",
    "<?xml version='1.0' encoding='UTF-16' standalone='no'?>",
    "<?xml version='1.0' encoding='UCS4' standalone='no'?>",
};

// The schema-instance namespace declaration written into every document's root start tag.
inline constexpr const char* kSchemaInstanceDeclaration = "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'";

// The root schema version the parser takes as its own at start-up (the same value as
// kRootSchemaVersion).
inline constexpr const char16_t* kParserRootSchemaVersion = u"1.0.0";

}  // namespace zel::cml
