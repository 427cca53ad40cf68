// The CML vocabulary: the table of every tag name, attribute name, namespace URI, schema
// version and piece of XML punctuation that the CML library uses, with one named constant
// per entry, and the XML declarations beside it. The entries come from vocabulary.inc.
// Comparisons with document content are always by value, never by pointer.
#pragma once

#include <cstddef>
#include <iterator>

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

// The entity replacements once more as 8-bit strings, for the writer's narrow output.
inline constexpr const char* kNarrowEntityApos = "&apos;";
inline constexpr const char* kNarrowEntityQuot = "&quot;";
inline constexpr const char* kNarrowEntityAmp = "&amp;";
inline constexpr const char* kNarrowEntityGt = "&gt;";
inline constexpr const char* kNarrowEntityLt = "&lt;";
inline constexpr const char* kNarrowEntityLineFeed = "&#xa;";

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
