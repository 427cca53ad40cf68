// CML exceptions and schema incompatibilities, the vocabulary table and the namespace set.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_namespace.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "cml/cml_test_support.h"
#include "zel/status_codes.h"

namespace zel::cml {
namespace {

std::u16string Formatted(const CCmlException& e) {
    std::u16string out = u"left over";
    e.Format(out);
    return out;
}

TEST(CmlException, FormatJoinsOperationDescriptionAndLowerCaseHexCode) {
    EXPECT_EQ(Formatted(CCmlException(u"Deserializing message", u"Null element received", 0xC738000F)),
              u"Deserializing message:  Null element received; error = 0xc738000f");
    EXPECT_EQ(Formatted(CCmlException(u"", u"", 0)), u":  ; error = 0x0");
}

TEST(CmlException, SchemaExceptionKeepsRecordsInOrderAndIsCaughtAsCmlException) {
    try {
        CSchemaException e(u"Parse operation", u"bad", ZEL_E_CML_PARSE_ERROR);
        e.AddIncompatibility(kCmlNamespaceURI, kCmlSchemaVersion, u"2.5.0");
        e.AddIncompatibility(kCmlBaseURI, kRootSchemaVersion, u"");
        throw e;
    } catch (const CCmlException& caught) {
        const auto* schema = dynamic_cast<const CSchemaException*>(&caught);
        ASSERT_NE(schema, nullptr);
        ASSERT_EQ(schema->Count(), 2u);
        auto it = schema->Begin();
        EXPECT_EQ(it->GetNamespaceURI() + u" " + it->GetSupportedVersion() + u" " + it->GetDocumentVersion(),
                  u"http://schemas.zel.example/cml 2.4.2 2.5.0");
        ++it;
        EXPECT_EQ(it->GetNamespaceURI() + u" " + it->GetDocumentVersion(), u"http://schemas.zel.example ");
        EXPECT_TRUE(++it == schema->End());

        // Promoting a caught exception copies its texts and code, and its records when it
        // already was a schema exception.
        CSchemaException promoted(caught);
        EXPECT_EQ(Formatted(promoted), u"Parse operation:  bad; error = 0xc7380002");
        EXPECT_EQ(promoted.Count(), 2u);
        const CSchemaException fromPlain(CCmlException(u"o", u"d", ZEL_E_CML_PARSE_ERROR));
        EXPECT_TRUE(fromPlain.Count() == 0 && fromPlain.Begin() == fromPlain.End());
    }
}

TEST(CmlException, SchemaIncompatibilityOrderAndClone) {
    CSchemaIncompatibility a(u"a", u"2", u"1"), b(u"a", u"2", u"3"), c(u"b", u"1", u"1");
    EXPECT_TRUE(a < b && !(b < a) && b < c && !(c < a));  // the URI decides first
    EXPECT_EQ(c.Clone()->GetNamespaceURI() + c.Clone()->GetSupportedVersion(), u"b1");
}

// The table's texts are checked where they are written; here only its consistency.
TEST(Vocabulary, EveryNameOnceAndEntitiesAlikeInBothForms) {
    ASSERT_EQ(kVocabularyCount, 255u);
    EXPECT_EQ(kTagSchemaVersion, kVocabulary[vocabulary_index::kTagSchemaVersion]);
    std::set<std::u16string> names;
    for (std::size_t i = vocabulary_index::kTagRequest; i <= vocabulary_index::kTagAltDnsname; ++i)
        EXPECT_TRUE(names.insert(kVocabulary[i]).second) << i;
    EXPECT_EQ(names.size(), 210u);
}

// Each entry's Word: both forms of the entry, the plain flag, and zeros up to the end of its
// last block (the writer copies whole blocks).
void ExpectWordOf(const Word& word, const char16_t* entry, const char* name) {
    SCOPED_TRACE(name);
    EXPECT_EQ(word.wide, entry);
    EXPECT_EQ(std::string(word.ascii), ToUtf8(entry));
    EXPECT_EQ(word.plain, word.wide.find_first_of(u"&<>\"'\n") == std::u16string_view::npos);
    const std::size_t end = (word.ascii.size() / Word::kWordBlock + 1) * Word::kWordBlock;
    for (std::size_t i = word.ascii.size(); i < end; ++i) EXPECT_EQ(word.ascii.data()[i], '\0') << i;
}

TEST(Vocabulary, EveryWordHoldsItsEntryInBothFormsPaddedToWholeBlocks) {
#define ZEL_CML_WORD(name, literal) ExpectWordOf(word::name, name, #name);
#include "SensorIndependence/CmlLib/vocabulary.inc"
#undef ZEL_CML_WORD
    EXPECT_FALSE(word::kEntityAmp.plain);
    EXPECT_TRUE(word::kCommonNamespaceURI.plain);
}

TEST(Namespace, ConflictThrowsNamingNewPairFirstAndOrderIgnoresVersion) {
    NamespaceSet set;
    AddNamespace(set, kCmlNamespaceURI, u"2.3.2", u"first");
    const char16_t* operation = u"Constructing message namespace object";
    test::ExpectCmlError([&] { AddNamespace(set, kCmlNamespaceURI, u"2.4.2", operation); }, operation,
                         u"Namespace/schema-version conflict among descendant elements:  tried to add namespace "
                         u"\"http://schemas.zel.example/cml\" version 2.4.2; set already contains namespace "
                         u"\"http://schemas.zel.example/cml\" version 2.3.2",
                         0xC738000Eu);
    EXPECT_EQ(set.size() == 1 ? set.begin()->GetVersion() : u"", u"2.3.2");
    // Order ignores the version; a self-assignment keeps the pair.
    CNamespace a(u"b", u"1.0.0"), b(u"a", u"2.0.0");
    EXPECT_TRUE(b < a && !(CNamespace(u"a", u"1") < CNamespace(u"a", u"2")));
    a = a;
    EXPECT_EQ(a.GetURI() + a.GetVersion() + b.Clone()->GetURI() + b.Clone()->GetVersion(), u"b1.0.0a2.0.0");
}

}  // namespace
}  // namespace zel::cml
