// CML exceptions, the vocabulary table and the namespace set.
#include <gtest/gtest.h>

#include <algorithm>
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
    struct Case {
        const char16_t* operation;
        const char16_t* description;
        uint32_t code;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"Adding request to message vector", u"Internal error: invalid parameter", 0xC7210003,
         u"Adding request to message vector:  Internal error: invalid parameter; error = 0xc7210003"},
        {u"Deserializing message", u"Null element received", 0xC738000F,
         u"Deserializing message:  Null element received; error = 0xc738000f"},
        {u"", u"", 0, u":  ; error = 0x0"},
        {u"op", u"d", 0x1A, u"op:  d; error = 0x1a"},
    };
    for (const Case& c : cases) {
        CCmlException e(c.operation, c.description, c.code);
        EXPECT_EQ(Formatted(e), c.expected);
        EXPECT_EQ(e.GetCode(), c.code);
    }
}

TEST(CmlException, SchemaExceptionKeepsRecordsInOrderAndIsCaughtAsCmlException) {
    CSchemaException empty(u"Parse operation", u"x", ZEL_E_CML_PARSE_ERROR);
    EXPECT_EQ(empty.Count(), 0u);
    EXPECT_TRUE(empty.Begin() == empty.End());

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
        EXPECT_EQ(it->GetNamespaceURI(), u"http://schemas.zel.example/cml");
        EXPECT_EQ(it->GetSupportedVersion(), u"2.4.2");
        EXPECT_EQ(it->GetDocumentVersion(), u"2.5.0");
        ++it;
        EXPECT_EQ(it->GetNamespaceURI(), u"http://schemas.zel.example");
        EXPECT_EQ(it->GetDocumentVersion(), u"");
        EXPECT_TRUE(++it == schema->End());

        // Promoting a caught exception copies its texts and code, and its records when it
        // already was a schema exception.
        CSchemaException promoted(caught);
        EXPECT_EQ(Formatted(promoted), u"Parse operation:  bad; error = 0xc7380002");
        EXPECT_EQ(promoted.Count(), 2u);
        CSchemaException fromPlain(CCmlException(u"o", u"d", ZEL_E_CML_PARSE_ERROR));
        EXPECT_EQ(fromPlain.Count(), 0u);
    }
}

TEST(CmlException, SchemaIncompatibilityOrderAndClone) {
    CSchemaIncompatibility a(u"a", u"2", u"1"), b(u"a", u"2", u"3"), c(u"b", u"1", u"1");
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_TRUE(b < c);
    EXPECT_FALSE(c < a);  // the URI decides first
    EXPECT_FALSE(a < a);
    auto copy = c.Clone();
    EXPECT_EQ(copy->GetNamespaceURI(), u"b");
    EXPECT_EQ(copy->GetSupportedVersion(), u"1");
    a = c;
    EXPECT_EQ(a.GetNamespaceURI(), u"b");
}

// The table's texts are checked where they are written; here only its consistency.
TEST(Vocabulary, EveryNameOnceAndEntitiesAlikeInBothForms) {
    ASSERT_EQ(kVocabularyCount, 255u);
    EXPECT_EQ(kTagSchemaVersion, kVocabulary[vocabulary_index::kTagSchemaVersion]);
    std::set<std::u16string> names;
    for (std::size_t i = vocabulary_index::kTagRequest; i <= vocabulary_index::kTagAltDnsname; ++i) {
        EXPECT_TRUE(names.insert(kVocabulary[i]).second) << i;
    }
    EXPECT_EQ(names.size(), 210u);
    const char* narrow[] = {kNarrowEntityApos, kNarrowEntityQuot, kNarrowEntityAmp,
                            kNarrowEntityGt, kNarrowEntityLt, kNarrowEntityLineFeed};
    const char16_t* wide[] = {kEntityApos, kEntityQuot, kEntityAmp, kEntityGt, kEntityLt, kEntityLineFeed};
    for (int i = 0; i < 6; ++i) {
        const std::string n = narrow[i];
        EXPECT_EQ(std::u16string(wide[i]), std::u16string(n.begin(), n.end()));
    }
}

TEST(Namespace, AddNamespaceKeepsOneEntryPerUriInCodeUnitOrder) {
    NamespaceSet set;
    AddNamespace(set, kCmlNamespaceURI, kCmlSchemaVersion, u"Constructing message namespace object");
    AddNamespace(set, kCmlBaseURI, kRootSchemaVersion, u"Constructing CmlMessage namespace object");
    AddNamespace(set, kCmlNamespaceURI, kCmlSchemaVersion, u"Constructing message namespace object");
    AddNamespace(set, u"http://schemas.zel.example/CML", u"9.9.9", u"x");  // differs only in case
    ASSERT_EQ(set.size(), 3u);
    auto it = set.begin();
    EXPECT_EQ(it->GetURI(), u"http://schemas.zel.example");
    EXPECT_EQ((++it)->GetURI(), u"http://schemas.zel.example/CML");
    EXPECT_EQ((++it)->GetURI(), u"http://schemas.zel.example/cml");
    EXPECT_EQ(it->GetVersion(), u"2.4.2");
}

TEST(Namespace, ConflictingVersionThrowsNamingNewPairFirst) {
    NamespaceSet set;
    AddNamespace(set, kCmlNamespaceURI, u"2.3.2", u"first");
    const char16_t* operation = u"Constructing message namespace object";
    test::ExpectCmlError([&] { AddNamespace(set, kCmlNamespaceURI, u"2.4.2", operation); }, operation,
                         u"Namespace/schema-version conflict among descendant elements:  tried to add namespace "
                         u"\"http://schemas.zel.example/cml\" version 2.4.2; set already contains namespace "
                         u"\"http://schemas.zel.example/cml\" version 2.3.2",
                         0xC738000Eu);
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set.begin()->GetVersion(), u"2.3.2");
}

TEST(Namespace, CopyAssignCloneAndOrderIgnoreVersion) {
    CNamespace a(u"b", u"1.0.0"), b(u"a", u"2.0.0");
    EXPECT_TRUE(b < a);
    EXPECT_FALSE(CNamespace(u"a", u"1") < CNamespace(u"a", u"2"));
    a = a;
    EXPECT_EQ(a.GetURI(), u"b");
    a = b;
    EXPECT_EQ(a.GetURI(), u"a");
    EXPECT_EQ(a.GetVersion(), u"2.0.0");
    auto c = b.Clone();
    EXPECT_EQ(c->GetURI(), u"a");
    EXPECT_EQ(c->GetVersion(), u"2.0.0");
}

}  // namespace
}  // namespace zel::cml
