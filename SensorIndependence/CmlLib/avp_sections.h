// AVP sections: a policy document of named sections, each holding ordered "param" entries
// (name, value, ordinal). Agent parameters and tuning values travel in it; the agent-info
// content and module information carry its read-only form ("/cml/RoAvpSections").
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/dom_wrappers.h"
#include "SensorIndependence/CmlLib/policy.h"

namespace zel::cml {

// The schema version of AVP-sections documents, in both namespaces.
inline constexpr const char16_t* kAvpSectionsSchemaVersion = u"2.0.1";
// The ordinal of a section or pair that has not been given one yet.
inline constexpr uint32_t kNoAvpOrdinal = 0xFFFFFFFF;

// The two forms of an AVP-sections document.
enum AvpSectionsMode : int {
    kAvpSectionsEditable = 1,  // the "/cml/AvpSections" namespace
    kAvpSectionsReadOnly = 2,  // the "/cml/RoAvpSections" namespace
};

// The pairs of a section, by ordinal.
using AvpPairMap = std::map<uint32_t, CNameValuePair>;

// One "section" element: a name, an ordinal and its pairs in ascending ordinal order.
class CAvpSection {
public:
    // Tag "section", the "/cml/AvpSections" namespace; null `name` gives the empty name.
    explicit CAvpSection(const char16_t* name = nullptr, uint32_t ordinal = kNoAvpOrdinal);
    CAvpSection(const CAvpSection&) = default;
    CAvpSection(CAvpSection&&) noexcept = default;
    CAvpSection& operator=(const CAvpSection&) = default;
    CAvpSection& operator=(CAvpSection&&) noexcept = default;
    virtual ~CAvpSection();

    // A heap copy ("Cloning AVP section object", 0xC7210001 when memory runs out).
    virtual std::unique_ptr<CAvpSection> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetNamespaceURI() const;
    virtual const std::u16string& GetName() const;
    // kNoAvpOrdinal until the section is given one.
    virtual uint32_t GetOrdinal() const;
    // Each string setter replaces its field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetNamespaceURI(const char16_t* namespaceURI);
    virtual void SetName(const char16_t* name);
    virtual void SetOrdinal(uint32_t ordinal);

    // Stores a copy of `pair` under its ordinal, or under the section's next ordinal when it
    // has none (-1); an explicit ordinal raises the counter to at least its value. An ordinal
    // already held (or no ordinal left) throws CCmlException ("Inserting name-value pair",
    // "Insertion failed", 0xC7380024) and stores nothing. Returns the stored pair.
    virtual const CNameValuePair& InsertPair(const CNameValuePair& pair);
    virtual const AvpPairMap& GetPairs() const;
    virtual std::size_t GetPairCount() const;
    // The pair with `ordinal`; null when there is none.
    virtual const CNameValuePair* FindPair(uint32_t ordinal) const;

    // Empties the pairs and their counter, reads "name" and "ordinal" (automatic base; absent
    // or unreadable gives kNoAvpOrdinal), then inserts every "param" child of the
    // "/cml/common" namespace; tag and namespace stay. A null element or a DOM failure throws
    // CCmlException ("Processing AVP section").
    virtual void Deserialize(const CCmlDOM_Element& element);
    // "<section" with xmlns, name (when not empty) and ordinal (when given); with pairs, the
    // pairs one level deeper and "</section>", else "/>".
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_tagName;
    std::u16string m_namespaceURI;
    std::u16string m_name;
    uint32_t m_ordinal;
    AvpPairMap m_pairs;
    uint32_t m_nextOrdinal = 0;
};

// The sections of a document, by ordinal.
using AvpSectionMap = std::map<uint32_t, CAvpSection>;

// The AVP-sections policy document: the policy attributes and its sections in ascending
// ordinal order.
class CCmlAvpSections : public CCmlPolicy {
public:
    // A document with the given mode, element name (null: "policy"), schema version (null:
    // "2.0.1") and namespace (null: "/cml/AvpSections"); kAvpSectionsReadOnly always puts it
    // in the "/cml/RoAvpSections" namespace.
    explicit CCmlAvpSections(int mode = kAvpSectionsEditable, const char16_t* tagName = nullptr,
                             const char16_t* schemaVersion = nullptr, const char16_t* namespaceURI = nullptr);
    CCmlAvpSections(const CCmlAvpSections&) = default;
    CCmlAvpSections& operator=(const CCmlAvpSections&) = default;
    ~CCmlAvpSections() override;

    // A heap copy ("Cloning AVP sections object", 0xC7210001 when memory runs out).
    std::unique_ptr<CCmlAvpSections> Clone() const { return std::unique_ptr<CCmlAvpSections>(DoClone()); }

    // The schema version the document is written and collected with.
    std::u16string GetSchemaVersion() const override;
    // A null pointer gives the empty version.
    void SetSchemaVersion(const char16_t* version) override;

    // Stores a copy of `section` under its ordinal, or under the next ordinal when it has none
    // (kNoAvpOrdinal); an explicit ordinal raises the counter to at least its value. An
    // ordinal already held (or no ordinal left) throws CCmlException ("Inserting AVP section",
    // "Insertion failed", 0xC7380024) and stores nothing. Returns the stored section.
    virtual const CAvpSection& InsertSection(const CAvpSection& section);
    virtual const AvpSectionMap& GetSections() const;
    virtual std::size_t GetSectionCount() const;
    // The section with `ordinal`; null when there is none.
    virtual const CAvpSection* FindSection(uint32_t ordinal) const;
    // The last ordinal handed out (or raised to); 0 for a fresh document.
    virtual uint32_t GetNextOrdinal() const;
    // Increments the counter and returns the new value.
    virtual uint32_t TakeNextOrdinal();
    virtual void SetNextOrdinal(uint32_t ordinal);

    // True when the document holds a section.
    bool HasContent() const override;
    // Empties the sections and their counter, reads the policy attributes, then inserts every
    // "section" child of either AVP-sections namespace in document order (each stored in the
    // "/cml/AvpSections" namespace); other children are ignored. A duplicate ordinal throws as
    // InsertSection does, keeping the sections read before it.
    void Deserialize(const CCmlDOM_Element& element) override;
    // Each section at `level`, in ascending ordinal order.
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CCmlAvpSections* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_schemaVersion;
    uint32_t m_nextOrdinal = 0;
    AvpSectionMap m_sections;
};

}  // namespace zel::cml
