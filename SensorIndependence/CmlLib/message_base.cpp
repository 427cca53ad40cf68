#include "SensorIndependence/CmlLib/message_base.h"

#include <cstdlib>

#include <xercesc/dom/DOMException.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/conversion_facet.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kOpCloneMessage = u"Cloning message base object";
constexpr const char16_t* kOpCloneRequest = u"Cloning request object";
constexpr const char16_t* kOpCloneResponse = u"Cloning response object";
constexpr const char16_t* kOpDeserialize = u"Deserializing message";
constexpr const char16_t* kOpDeserializeDom = u"Parsing standard request/response element";
constexpr const char16_t* kOpCollect = u"Constructing message namespace object";

// Copies `object` to the heap as its own class, turning memory exhaustion into the CML error.
template <typename T>
T* CopyOnHeap(const T& object, const char16_t* operation) {
    // Owning pointer: the public Clone() wraps it at once.
    return CloneOrThrow(object, operation).release();
}

// Stores `text` in `field`, reusing its storage; nothing happens when the two are equal (a
// message read from a document mostly has the namespace and name it was made with).
void Assign(std::u16string& field, std::u16string_view text) {
    if (field != text) field.assign(text);
}

const std::u16string& EmptyText() {
    static const std::u16string empty;
    return empty;
}
}  // namespace

uint32_t ReadAutoBaseNumber(std::u16string_view text) { return ReadAutoBaseNumber(text, 0); }

uint32_t ReadAutoBaseNumber(std::u16string_view text, uint32_t unreadable) {
    std::string narrow;
    narrow.reserve(text.size());
    // A non-ASCII character can be part of no number: it ends the digits like any other.
    for (char16_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    char* end = nullptr;
    const long long value = std::strtoll(narrow.c_str(), &end, 0);
    return end == narrow.c_str() ? unreadable : static_cast<uint32_t>(value);
}

// ---- CMessageBase ----

CMessageBase::CMessageBase(const char16_t* requestId, const char16_t* tagName, const char16_t* namespaceURI)
    : m_namespaceURI(Text(namespaceURI)),
      m_requestId(Text(requestId)),
      m_tagName(Text(tagName)),
      m_schemaVersion(kCmlSchemaVersion) {}

CMessageBase::~CMessageBase() = default;

CMessageBase& CMessageBase::operator=(const CMessageBase& other) {
    if (this != &other) {
        m_namespaceURI = other.GetNamespaceURI();
        m_requestId = other.GetRequestId();
        m_tagName = other.GetTagName();
        m_documentSchemaVersion = other.GetDocumentSchemaVersion();
        m_schemaVersion = other.GetSchemaVersion();
    }
    return *this;
}

CMessageBase* CMessageBase::DoClone() const { return CopyOnHeap(*this, kOpCloneMessage); }

const std::u16string& CMessageBase::GetNamespaceURI() const { return m_namespaceURI; }
const std::u16string& CMessageBase::GetRequestId() const { return m_requestId; }
const std::u16string& CMessageBase::GetTagName() const { return m_tagName; }
const std::u16string& CMessageBase::GetDocumentSchemaVersion() const { return m_documentSchemaVersion; }
const std::u16string& CMessageBase::GetSchemaVersion() const { return m_schemaVersion; }
void CMessageBase::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
void CMessageBase::SetRequestId(const char16_t* requestId) { m_requestId = Text(requestId); }
void CMessageBase::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CMessageBase::SetDocumentSchemaVersion(const char16_t* version) { m_documentSchemaVersion = Text(version); }
void CMessageBase::SetSchemaVersion(const char16_t* version) { m_schemaVersion = Text(version); }

bool CMessageBase::HasContent() const { return false; }

void CMessageBase::CollectNamespaces(NamespaceSet& namespaces) const {
    AddNamespace(namespaces, m_namespaceURI, m_schemaVersion, kOpCollect);
}

uint32_t CMessageBase::GetCode() const { return 0; }

const std::u16string& CMessageBase::GetText() const { return EmptyText(); }

void CMessageBase::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw CCmlException(kOpDeserialize, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    try {
        Assign(m_namespaceURI, element.NamespaceURIView());
        Assign(m_tagName, element.NodeNameView());
        Assign(m_documentSchemaVersion, element.AttributeView(kTagSchemaVersion));
        Assign(m_requestId, element.AttributeView(kTagRequestId));
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpDeserializeDom, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

template <typename CharT>
void CMessageBase::SerializeTail(std::basic_ostream<CharT>& stream, int level) const {
    if (!HasContent()) {
        XmlSink<CharT>(stream).Ascii("/>").EndLine();
        return;
    }
    XmlSink<CharT>(stream).Ascii(">").EndLine();
    SerializeContent(stream, level + 1);
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Wide(m_tagName).Ascii(">").EndLine();
}

template <typename CharT>
void CMessageBase::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Wide(m_tagName);
    SerializeAttributes(stream);
    SerializeTail(stream, level);
}

template <typename CharT>
void CMessageBase::SerializeDocumentImpl(std::basic_ostream<CharT>& stream) const {
    NamespaceSet namespaces;
    CollectNamespaces(namespaces);
    const ScopedConversionFacet<CharT> facet(stream);
    WriteDocumentHead(stream, m_tagName, namespaces);
    SerializeAttributes(stream);
    SerializeTail(stream, 0);
}

template <typename CharT>
void CMessageBase::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT>(stream)
        .Attribute(word::kTagXmlns, m_namespaceURI)
        .Attribute(word::kTagRequestId, m_requestId)
        .Attribute(word::kTagSchemaVersion, m_schemaVersion);
}

void CMessageBase::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CMessageBase::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CMessageBase::SerializeDocument(std::ostream& stream) const { SerializeDocumentImpl(stream); }
void CMessageBase::SerializeDocument(std::basic_ostream<char16_t>& stream) const { SerializeDocumentImpl(stream); }
void CMessageBase::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CMessageBase::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    SerializeAttributesImpl(stream);
}
void CMessageBase::SerializeContent(std::ostream& /*stream*/, int /*level*/) const {}
void CMessageBase::SerializeContent(std::basic_ostream<char16_t>& /*stream*/, int /*level*/) const {}

// ---- CCmlRequest ----

CCmlRequest::CCmlRequest(const char16_t* requestId, const char16_t* tagName, bool needReply,
                         const char16_t* namespaceURI)
    : CMessageBase(requestId, tagName, namespaceURI), m_needReply(needReply) {}

CCmlRequest::~CCmlRequest() = default;

CCmlRequest& CCmlRequest::operator=(const CCmlRequest& other) {
    if (this != &other) {
        CMessageBase::operator=(other);
        m_needReply = other.GetNeedReply();
    }
    return *this;
}

CCmlRequest* CCmlRequest::DoClone() const { return CopyOnHeap(*this, kOpCloneRequest); }

bool CCmlRequest::GetNeedReply() const { return m_needReply; }
void CCmlRequest::SetNeedReply(const bool& needReply) { m_needReply = needReply; }

void CCmlRequest::Deserialize(const CCmlDOM_Element& element) {
    CMessageBase::Deserialize(element);
    try {
        m_needReply = element.AttributeView(kTagNeedReply) != kTagFalse;
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpDeserializeDom, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

template <typename CharT>
void CCmlRequest::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    CMessageBase::SerializeAttributes(stream);
    if (!m_needReply) XmlSink<CharT>(stream).Attribute(word::kTagNeedReply, word::kTagFalse);
}

void CCmlRequest::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CCmlRequest::SerializeAttributes(std::basic_ostream<char16_t>& stream) const { SerializeAttributesImpl(stream); }

// ---- CCmlResponse ----

CCmlResponse::CCmlResponse(const char16_t* tagName, uint32_t code, const char16_t* text, const char16_t* namespaceURI)
    : CMessageBase(nullptr, tagName, namespaceURI), m_code(code), m_text(Text(text)) {}

CCmlResponse::~CCmlResponse() = default;

CCmlResponse& CCmlResponse::operator=(const CCmlResponse& other) {
    if (this != &other) {
        CMessageBase::operator=(other);
        m_code = other.GetCode();
        m_text = other.GetText();
    }
    return *this;
}

CCmlResponse* CCmlResponse::DoClone() const { return CopyOnHeap(*this, kOpCloneResponse); }

uint32_t CCmlResponse::GetCode() const { return m_code; }
const std::u16string& CCmlResponse::GetText() const { return m_text; }
void CCmlResponse::SetCode(uint32_t code) { m_code = code; }
void CCmlResponse::SetText(const char16_t* text) { m_text = Text(text); }

void CCmlResponse::Deserialize(const CCmlDOM_Element& element) {
    CMessageBase::Deserialize(element);
    try {
        m_code = ReadAutoBaseNumber(element.AttributeView(kTagCode));
        Assign(m_text, element.AttributeView(kTagText));
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpDeserializeDom, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

template <typename CharT>
void CCmlResponse::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    CMessageBase::SerializeAttributes(stream);
    XmlSink<CharT> sink(stream);
    if (m_code != 0) sink.Ascii(" ").Name(word::kTagCode).Ascii("='0x").Hex(m_code).Ascii("'");
    if (!m_text.empty()) sink.Attribute(word::kTagText, m_text);
}

void CCmlResponse::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CCmlResponse::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    SerializeAttributesImpl(stream);
}

}  // namespace zel::cml
