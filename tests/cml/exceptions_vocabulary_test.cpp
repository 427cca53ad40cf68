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

// Format replaces what the output held.
TEST(CmlException, FormatJoinsOperationDescriptionAndLowerCaseHexCode) {
    std::u16string out = u"left over";
    CCmlException(u"Deserializing message", u"Null element received", 0xC738000F).Format(out);
    EXPECT_EQ(out, u"Deserializing message:  Null element received; error = 0xc738000f");
    CCmlException(u"", u"", 0).Format(out);
    EXPECT_EQ(out, u":  ; error = 0x0");
}

// Promoting a schema exception held as a CCmlException copies its records in the order they
// were added (the parser's tests check the texts and code, and promote plain ones).
TEST(CmlException, PromotingASchemaExceptionKeepsItsRecordsInOrder) {
    CSchemaException e(u"Parse operation", u"bad", ZEL_E_CML_PARSE_ERROR);
    e.AddIncompatibility(kCmlNamespaceURI, kCmlSchemaVersion, u"2.5.0");
    e.AddIncompatibility(kCmlBaseURI, kRootSchemaVersion, u"");
    const CCmlException& caught = e;
    const CSchemaException promoted(caught);
    std::u16string records;
    for (auto r = promoted.Begin(); r != promoted.End(); ++r)
        records += r->GetNamespaceURI() + u" " + r->GetSupportedVersion() + u" " + r->GetDocumentVersion() + u"\n";
    EXPECT_EQ(records, u"http://schemas.zel.example/cml 2.4.2 2.5.0\nhttp://schemas.zel.example 1.0.0 \n");

    // Records order by URI, then supported, then document version; a clone is equivalent to its original.
    const CSchemaIncompatibility a(u"a", u"2", u"1"), b(u"a", u"2", u"3"), c(u"a", u"3", u"0"), d(u"b", u"1", u"0");
    EXPECT_TRUE(a < b && !(b < a) && b < c && !(c < b) && c < d && !(d < c) && !(a < a));
    EXPECT_TRUE(!(*c.Clone() < c) && !(c < *c.Clone()));
}

// The table's texts are checked where they are written; here only its consistency.
TEST(Vocabulary, EveryNameOnceAndEntitiesAlikeInBothForms) {
    ASSERT_EQ(kVocabularyCount, 255u);
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
}

// The set orders by URI alone, so a second version of a namespace is a conflict.
TEST(Namespace, ConflictThrowsNamingNewPairFirst) {
    NamespaceSet set;
    AddNamespace(set, kCmlNamespaceURI, u"2.3.2", u"first");
    test::ExpectCmlError([&] { AddNamespace(set, kCmlNamespaceURI, u"2.4.2", u"Collecting"); }, u"Collecting",
                         u"Namespace/schema-version conflict among descendant elements:  tried to add namespace "
                         u"\"http://schemas.zel.example/cml\" version 2.4.2; set already contains namespace "
                         u"\"http://schemas.zel.example/cml\" version 2.3.2",
                         0xC738000Eu);
    EXPECT_EQ(set.size() == 1 ? set.begin()->GetVersion() : u"", u"2.3.2");
}

}  // namespace
}  // namespace zel::cml
