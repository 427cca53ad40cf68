#include "SensorIndependence/CmlLib/avp_sections.h"

#include <algorithm>
#include <utility>

#include "SensorIndependence/CmlLib/content_support.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kOpCloneSections = u"Cloning AVP sections object";
constexpr const char16_t* kOpCloneSection = u"Cloning AVP section object";
constexpr const char16_t* kOpInsertSection = u"Inserting AVP section";
constexpr const char16_t* kOpInsertPair = u"Inserting name-value pair";
constexpr const char16_t* kOpProcessSection = u"Processing AVP section";
constexpr const char16_t* kTextInsertionFailed = u"Insertion failed";

// Stores a copy of `entry` in `entries` under `ordinal`, or, for kNoAvpOrdinal, under the
// owner's next ordinal (the counter `next` counts up first, so a fresh owner's first
// automatic ordinal is 1; `assign` gives the copy that ordinal). An explicit ordinal raises
// the counter to at least its value, so later automatic ones never collide with it. A key
// already held, or an automatic ordinal that would reach kNoAvpOrdinal, stores nothing.
template <typename Entry, typename Assign>
const Entry& InsertByOrdinal(std::map<uint32_t, Entry>& entries, uint32_t& next, uint32_t ordinal,
                             const Entry& entry, const char16_t* operation, Assign assign) {
    const bool automatic = ordinal == kNoAvpOrdinal;
    const uint32_t key = automatic ? next + 1 : ordinal;
    if ((automatic && key == kNoAvpOrdinal) || entries.count(key) != 0) {
        throw CCmlException(operation, kTextInsertionFailed, ZEL_E_CML_DUPLICATE_KEY);
    }
    Entry stored(entry);
    if (automatic) assign(stored, key);
    const Entry& inserted = entries.emplace(key, std::move(stored)).first->second;
    next = std::max(next, key);
    return inserted;
}

template <typename Map>
const typename Map::mapped_type* Find(const Map& entries, uint32_t ordinal) {
    const auto found = entries.find(ordinal);
    return found == entries.end() ? nullptr : &found->second;
}
}  // namespace

// ---- CAvpSection ----

CAvpSection::CAvpSection(const char16_t* name, uint32_t ordinal)
    : m_tagName(kTagSection), m_namespaceURI(kAvpSectionsNamespaceURI), m_name(Text(name)), m_ordinal(ordinal) {}

CAvpSection::~CAvpSection() = default;

std::unique_ptr<CAvpSection> CAvpSection::Clone() const { return CloneOrThrow(*this, kOpCloneSection); }

const std::u16string& CAvpSection::GetTagName() const { return m_tagName; }
const std::u16string& CAvpSection::GetNamespaceURI() const { return m_namespaceURI; }
const std::u16string& CAvpSection::GetName() const { return m_name; }
uint32_t CAvpSection::GetOrdinal() const { return m_ordinal; }
void CAvpSection::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CAvpSection::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
void CAvpSection::SetName(const char16_t* name) { m_name = Text(name); }
void CAvpSection::SetOrdinal(uint32_t ordinal) { m_ordinal = ordinal; }

const CNameValuePair& CAvpSection::InsertPair(const CNameValuePair& pair) {
    return InsertByOrdinal(m_pairs, m_nextOrdinal, static_cast<uint32_t>(pair.GetOrdinal()), pair, kOpInsertPair,
                           [](CNameValuePair& stored, uint32_t key) { stored.SetOrdinal(static_cast<int32_t>(key)); });
}

const AvpPairMap& CAvpSection::GetPairs() const { return m_pairs; }
std::size_t CAvpSection::GetPairCount() const { return m_pairs.size(); }
const CNameValuePair* CAvpSection::FindPair(uint32_t ordinal) const { return Find(m_pairs, ordinal); }

void CAvpSection::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw CCmlException(kOpProcessSection, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    m_pairs.clear();
    m_nextOrdinal = 0;
    WithDomErrors(kOpProcessSection, [&] {
        m_name = element.GetAttribute(kTagName);
        m_ordinal = ReadAutoBaseNumber(element.GetAttribute(kTagOrdinal), kNoAvpOrdinal);
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (!Is(child, kCommonNamespaceURI, kTagParam)) return;
            CNameValuePair pair;
            pair.Deserialize(child);
            InsertPair(pair);
        });
    });
}

template <typename CharT>
void CAvpSection::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    sink.Indent(level).Ascii("<").Wide(m_tagName).Attribute(word::kTagXmlns, m_namespaceURI);
    sink.AttributeIfSet(word::kTagName, m_name);
    if (m_ordinal != kNoAvpOrdinal) sink.Ascii(" ").Name(word::kTagOrdinal).Ascii("='").Decimal(m_ordinal).Ascii("'");
    if (m_pairs.empty()) {
        sink.Ascii("/>").EndLine();
        return;
    }
    sink.Ascii(">").EndLine();
    for (const auto& [ordinal, pair] : m_pairs) pair.Serialize(stream, level + 1);
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Wide(m_tagName).Ascii(">").EndLine();
}

void CAvpSection::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CAvpSection::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }

// ---- CCmlAvpSections ----

CCmlAvpSections::CCmlAvpSections(int mode, const char16_t* tagName, const char16_t* schemaVersion,
                                 const char16_t* namespaceURI)
    : CCmlPolicy(tagName, mode == kAvpSectionsReadOnly ? kRoAvpSectionsNamespaceURI
                          : namespaceURI               ? namespaceURI
                                                       : kAvpSectionsNamespaceURI),
      m_schemaVersion(schemaVersion ? schemaVersion : kAvpSectionsSchemaVersion) {}

CCmlAvpSections::~CCmlAvpSections() = default;

CCmlAvpSections* CCmlAvpSections::DoClone() const { return CopyOnHeap(*this, kOpCloneSections); }

std::u16string CCmlAvpSections::GetSchemaVersion() const { return m_schemaVersion; }
void CCmlAvpSections::SetSchemaVersion(const char16_t* version) { m_schemaVersion = Text(version); }

const CAvpSection& CCmlAvpSections::InsertSection(const CAvpSection& section) {
    return InsertByOrdinal(m_sections, m_nextOrdinal, section.GetOrdinal(), section, kOpInsertSection,
                           [](CAvpSection& stored, uint32_t key) { stored.SetOrdinal(key); });
}

const AvpSectionMap& CCmlAvpSections::GetSections() const { return m_sections; }
std::size_t CCmlAvpSections::GetSectionCount() const { return m_sections.size(); }
const CAvpSection* CCmlAvpSections::FindSection(uint32_t ordinal) const { return Find(m_sections, ordinal); }
uint32_t CCmlAvpSections::GetNextOrdinal() const { return m_nextOrdinal; }
uint32_t CCmlAvpSections::TakeNextOrdinal() { return ++m_nextOrdinal; }
void CCmlAvpSections::SetNextOrdinal(uint32_t ordinal) { m_nextOrdinal = ordinal; }

bool CCmlAvpSections::HasContent() const { return !m_sections.empty(); }

void CCmlAvpSections::Deserialize(const CCmlDOM_Element& element) {
    m_sections.clear();
    m_nextOrdinal = 0;
    CCmlPolicy::Deserialize(element);
    WithDomErrors(kOpProcessSection, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            const bool isSection =
                Is(child, kAvpSectionsNamespaceURI, kTagSection) || Is(child, kRoAvpSectionsNamespaceURI, kTagSection);
            if (!isSection) return;
            // Read whole before it is stored: a section that fails to read is not kept half-read.
            CAvpSection section;
            section.Deserialize(child);
            InsertSection(section);
        });
    });
}

template <typename CharT>
void CCmlAvpSections::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    for (const auto& [ordinal, section] : m_sections) section.Serialize(stream, level);
}

void CCmlAvpSections::SerializeContent(std::ostream& stream, int level) const { SerializeContentImpl(stream, level); }
void CCmlAvpSections::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

}  // namespace zel::cml
