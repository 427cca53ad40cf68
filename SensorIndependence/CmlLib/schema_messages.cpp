#include "SensorIndependence/CmlLib/schema_messages.h"

#include <new>
#include <utility>

#include <xercesc/dom/DOMException.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kTextNoSchema = u"No schema specified";

constexpr const char16_t* kOpSerializeSchema = u"Serializing schema";
constexpr const char16_t* kOpDeserializeItem = u"Deserializing schema item";
constexpr const char16_t* kOpNodeNamespace = u"Getting schema node namespace";
constexpr const char16_t* kOpNodeVersion = u"Getting schema version";
constexpr const char16_t* kOpCloneNode = u"Cloning schema node object";

constexpr const char16_t* kOpParseSchemaRequest = u"Parsing schema request element";
constexpr const char16_t* kOpParseSetSchemaRequest = u"Parsing set-schema-request element";
constexpr const char16_t* kOpParseGetSchemaResponse = u"Parsing get-schema-response element";
constexpr const char16_t* kOpParseSchemaResponse = u"Parsing schema info response element";
constexpr const char16_t* kOpParseNotSupported = u"Parsing schema-not-supported response element";

constexpr const char16_t* kOpGetSchemaRequest = u"Getting schema request";
constexpr const char16_t* kOpGetSetSchemaRequest = u"Getting set-schema request";
constexpr const char16_t* kOpGetGetSchemaResponse = u"Getting get-schema-response";
constexpr const char16_t* kOpGetSchemaResponse = u"Getting schema response";
constexpr const char16_t* kOpGetNotSupported = u"Getting schema-not-supported response";

constexpr const char16_t* kOpCloneSchemaRequest = u"Cloning schema-request object";
constexpr const char16_t* kOpCloneSetSchemaRequest = u"Cloning set-schema-request object";
constexpr const char16_t* kOpCloneGetSchemaResponse = u"Cloning get-schema-response object";
constexpr const char16_t* kOpCloneSchemaResponse = u"Cloning get-schema-info-response object";
constexpr const char16_t* kOpCloneNotSupported = u"Cloning schema-not-supported object";

bool IsElementNamed(const CCmlDOM_Node& node, const char16_t* namespaceURI, const char16_t* name) {
    return node.GetNodeType() == xercesc::DOMNode::ELEMENT_NODE && node.GetNamespaceURI() == namespaceURI &&
           node.GetNodeName() == name;
}

// Hands every "schema-info" child of the "/cml" namespace to `read`, in document order; DOM
// failures of the walk become CCmlException with `operation`.
template <typename Read>
void ReadSchemaInfoChildren(const CCmlDOM_Element& element, const char16_t* operation, Read read) {
    try {
        for (CCmlDOM_Node child = element.GetFirstChild(); !child.IsNull(); child = child.GetNextSibling()) {
            if (IsElementNamed(child, kCmlNamespaceURI, kTagSchemaInfo)) read(CCmlDOM_Element(child));
        }
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(operation, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

template <typename Items, typename CharT>
void SerializeItems(const Items& items, std::basic_ostream<CharT>& stream, int level) {
    for (const auto& item : items) item.Serialize(stream, level);
}

template <typename Items>
auto& ItemAt(Items& items, std::size_t index, const char16_t* operation) {
    if (index >= items.size()) throw CCmlException(operation, kTextInvalidVectorIndex, ZEL_E_CML_INDEX_OUT_OF_BOUNDS);
    return items[index];
}

// "<schema-info" + the info attributes + ">", the document at level 0 (a stand-alone
// document's indentation), an empty line, "</schema-info>".
template <typename CharT>
void SerializeItemWithDocument(const CSchemaInfo& info, const CSchemaSource& schema,
                               std::basic_ostream<CharT>& stream, int level) {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Name(word::kTagSchemaInfo);
    info.SerializeAttributes(stream);
    XmlSink<CharT>(stream).Ascii(">").EndLine();
    schema.Serialize(stream, 0);
    XmlSink<CharT>(stream).EndLine();
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Name(word::kTagSchemaInfo).Ascii(">").EndLine();
}
}  // namespace

// ---- CSchemaSource, CSchemaNode ----

CSchemaSource::~CSchemaSource() = default;

CSchemaNode::CSchemaNode(const CCmlDOM_Element& element)
    : CCmlDOM_Node(element.GetNode()), m_document(CDomDocumentRef::Of(element.GetNode())) {}

CSchemaNode::~CSchemaNode() = default;

int CSchemaNode::GetSourceType() const { return kSchemaSourceNode; }

std::unique_ptr<CSchemaSource> CSchemaNode::Clone() const { return CloneOrThrow(*this, kOpCloneNode); }

const std::u16string& CSchemaNode::GetNamespaceURI() const {
    if (IsNull()) throw CCmlException(kOpNodeNamespace, kTextNullNode, ZEL_E_CML_INVALID_METHOD);
    if (m_namespaceURI.empty()) m_namespaceURI = CCmlDOM_Node::GetNamespaceURI();
    return m_namespaceURI;
}

const std::u16string& CSchemaNode::GetVersion() const {
    if (IsNull()) throw CCmlException(kOpNodeVersion, kTextNullNode, ZEL_E_CML_INVALID_METHOD);
    if (m_version.empty()) m_version = GetSchemaElement().GetAttribute(kTagVersion);
    return m_version;
}

void CSchemaNode::Serialize(std::ostream& stream, int level) const { WriteNode(m_node, stream, level); }
void CSchemaNode::Serialize(std::basic_ostream<char16_t>& stream, int level) const {
    WriteNode(m_node, stream, level);
}

// The constructor took an element, so the node is one (or null).
CCmlDOM_Element CSchemaNode::GetSchemaElement() const {
    return CCmlDOM_Element(static_cast<xercesc::DOMElement*>(m_node));
}

// ---- CSchemaDocumentSlot ----

CSchemaDocumentSlot::CSchemaDocumentSlot(const CSchemaDocumentSlot& other)
    : m_schema(other.m_schema ? other.m_schema->Clone() : nullptr) {}

CSchemaDocumentSlot& CSchemaDocumentSlot::operator=(const CSchemaDocumentSlot& other) {
    if (this != &other) m_schema = other.m_schema ? other.m_schema->Clone() : nullptr;
    return *this;
}

CSchemaDocumentSlot::~CSchemaDocumentSlot() = default;

void CSchemaDocumentSlot::Read(const CCmlDOM_Element& item) {
    m_schema.reset();
    for (CCmlDOM_Node child = item.GetFirstChild(); !child.IsNull(); child = child.GetNextSibling()) {
        if (!IsElementNamed(child, kXmlSchemaNamespaceURI, kTagSchema)) continue;
        try {
            m_schema = std::make_unique<CSchemaNode>(CCmlDOM_Element(child));
        } catch (const std::bad_alloc&) {
            throw CCmlException(kOpDeserializeItem, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
        }
        return;  // only the first schema document counts
    }
}

// ---- CSchemaInfoResponseData ----

CSchemaInfoResponseData::CSchemaInfoResponseData() = default;
CSchemaInfoResponseData::~CSchemaInfoResponseData() = default;

void CSchemaInfoResponseData::Deserialize(const CCmlDOM_Element& element) {
    CSchemaInfo::Deserialize(element);
    m_code = ReadAutoBaseNumber(element.GetAttribute(kTagCode));
    m_text = element.GetAttribute(kTagText);
}

uint32_t CSchemaInfoResponseData::GetCode() const { return m_code; }
const std::u16string& CSchemaInfoResponseData::GetText() const { return m_text; }
void CSchemaInfoResponseData::SetCode(uint32_t code) { m_code = code; }
void CSchemaInfoResponseData::SetText(const char16_t* text) { m_text = Text(text); }

template <typename CharT>
void CSchemaInfoResponseData::SerializeResultAttributes(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    if (m_code != 0) sink.Ascii(" ").Name(word::kTagCode).Ascii("='0x").Hex(m_code).Ascii("'");
    if (!m_text.empty()) sink.Attribute(word::kTagText, m_text);
}

template <typename CharT>
void CSchemaInfoResponseData::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Name(word::kTagSchemaInfo);
    SerializeAttributes(stream);
    SerializeResultAttributes(stream);
    XmlSink<CharT>(stream).Ascii("/>").EndLine();
}

void CSchemaInfoResponseData::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CSchemaInfoResponseData::Serialize(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeImpl(stream, level);
}

// ---- CSetSchemaRequestData ----

CSetSchemaRequestData::CSetSchemaRequestData() = default;
CSetSchemaRequestData::~CSetSchemaRequestData() = default;

void CSetSchemaRequestData::Deserialize(const CCmlDOM_Element& element) {
    CSchemaInfo::Deserialize(element);
    m_schema.Read(element);
}

const CSchemaSource* CSetSchemaRequestData::GetSchema() const { return m_schema.Get(); }
CSchemaSource* CSetSchemaRequestData::GetSchema() { return m_schema.Get(); }
void CSetSchemaRequestData::SetSchema(std::unique_ptr<CSchemaSource> schema) { m_schema.Reset(std::move(schema)); }
void CSetSchemaRequestData::SetSchema(const CSchemaSource& schema) { m_schema.Reset(schema.Clone()); }

template <typename CharT>
void CSetSchemaRequestData::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    if (m_schema.Get() == nullptr) throw CCmlException(kOpSerializeSchema, kTextNoSchema, ZEL_E_CML_INVALID_SCHEMA);
    SerializeItemWithDocument(*this, *m_schema.Get(), stream, level);
}

void CSetSchemaRequestData::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CSetSchemaRequestData::Serialize(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeImpl(stream, level);
}

// ---- CGetSchemaResponseData ----

CGetSchemaResponseData::CGetSchemaResponseData() = default;
CGetSchemaResponseData::~CGetSchemaResponseData() = default;

void CGetSchemaResponseData::Deserialize(const CCmlDOM_Element& element) {
    CSchemaInfoResponseData::Deserialize(element);
    m_schema.Read(element);
}

const CSchemaSource* CGetSchemaResponseData::GetSchema() const { return m_schema.Get(); }
CSchemaSource* CGetSchemaResponseData::GetSchema() { return m_schema.Get(); }
void CGetSchemaResponseData::SetSchema(std::unique_ptr<CSchemaSource> schema) { m_schema.Reset(std::move(schema)); }
void CGetSchemaResponseData::SetSchema(const CSchemaSource& schema) { m_schema.Reset(schema.Clone()); }

template <typename CharT>
void CGetSchemaResponseData::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    // A document answers the request by itself: code and text are then not written.
    if (m_schema.Get() == nullptr) {
        CSchemaInfoResponseData::Serialize(stream, level);
    } else {
        SerializeItemWithDocument(*this, *m_schema.Get(), stream, level);
    }
}

void CGetSchemaResponseData::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CGetSchemaResponseData::Serialize(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeImpl(stream, level);
}

// ---- CSchemaRequest ----

CSchemaRequest::CSchemaRequest(const char16_t* tagName, const char16_t* requestId, bool needReply,
                               const char16_t* namespaceURI)
    : CCmlRequest(requestId, tagName, needReply, namespaceURI) {}

CSchemaRequest::~CSchemaRequest() = default;

CSchemaRequest* CSchemaRequest::DoClone() const { return CloneOrThrow(*this, kOpCloneSchemaRequest).release(); }

bool CSchemaRequest::HasContent() const { return !m_schemas.empty(); }

void CSchemaRequest::Deserialize(const CCmlDOM_Element& element) {
    m_schemas.clear();
    CCmlRequest::Deserialize(element);
    ReadSchemaInfoChildren(element, kOpParseSchemaRequest, [this](const CCmlDOM_Element& child) {
        m_schemas.emplace_back().Deserialize(child);
    });
}

void CSchemaRequest::SerializeContent(std::ostream& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}
void CSchemaRequest::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}

CSchemaRequest& CSchemaRequest::operator=(const CSchemaRequest& other) {
    if (this != &other) {
        CCmlRequest::operator=(other);
        m_schemas = other.m_schemas;
    }
    return *this;
}

CSchemaInfo& CSchemaRequest::AddSchemaInfo(const CSchemaInfo& info) { return m_schemas.emplace_back(info); }
std::vector<CSchemaInfo>& CSchemaRequest::GetSchemas() { return m_schemas; }
const std::vector<CSchemaInfo>& CSchemaRequest::GetSchemas() const { return m_schemas; }
std::size_t CSchemaRequest::GetSchemaCount() const { return m_schemas.size(); }
CSchemaInfo& CSchemaRequest::GetSchemaInfo(std::size_t index) { return ItemAt(m_schemas, index, kOpGetSchemaRequest); }
const CSchemaInfo& CSchemaRequest::GetSchemaInfo(std::size_t index) const {
    return ItemAt(m_schemas, index, kOpGetSchemaRequest);
}

// ---- CSetSchemaRequest ----

CSetSchemaRequest::CSetSchemaRequest(const char16_t* tagName, const char16_t* requestId, bool needReply,
                                     const char16_t* namespaceURI)
    : CCmlRequest(requestId, tagName, needReply, namespaceURI) {}

CSetSchemaRequest::~CSetSchemaRequest() = default;

CSetSchemaRequest* CSetSchemaRequest::DoClone() const {
    return CloneOrThrow(*this, kOpCloneSetSchemaRequest).release();
}

bool CSetSchemaRequest::HasContent() const { return !m_schemas.empty(); }

void CSetSchemaRequest::Deserialize(const CCmlDOM_Element& element) {
    m_schemas.clear();
    CCmlRequest::Deserialize(element);
    ReadSchemaInfoChildren(element, kOpParseSetSchemaRequest, [this](const CCmlDOM_Element& child) {
        m_schemas.emplace_back().Deserialize(child);
    });
}

void CSetSchemaRequest::SerializeContent(std::ostream& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}
void CSetSchemaRequest::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}

CSetSchemaRequest& CSetSchemaRequest::operator=(const CSetSchemaRequest& other) {
    if (this != &other) {
        // Items first: cloning the documents may fail and should leave this object as it was.
        std::vector<CSetSchemaRequestData> schemas = other.m_schemas;
        CCmlRequest::operator=(other);
        m_schemas = std::move(schemas);
    }
    return *this;
}

CSetSchemaRequestData& CSetSchemaRequest::AddSchemaData(const CSetSchemaRequestData& data) {
    return m_schemas.emplace_back(data);
}
std::vector<CSetSchemaRequestData>& CSetSchemaRequest::GetSchemas() { return m_schemas; }
const std::vector<CSetSchemaRequestData>& CSetSchemaRequest::GetSchemas() const { return m_schemas; }
std::size_t CSetSchemaRequest::GetSchemaCount() const { return m_schemas.size(); }
CSetSchemaRequestData& CSetSchemaRequest::GetSchemaData(std::size_t index) {
    return ItemAt(m_schemas, index, kOpGetSetSchemaRequest);
}
const CSetSchemaRequestData& CSetSchemaRequest::GetSchemaData(std::size_t index) const {
    return ItemAt(m_schemas, index, kOpGetSetSchemaRequest);
}

// ---- CGetSchemaResponse ----

CGetSchemaResponse::CGetSchemaResponse(const char16_t* tagName, uint32_t code, const char16_t* text,
                                       const char16_t* namespaceURI)
    : CCmlResponse(tagName, code, text, namespaceURI) {}

CGetSchemaResponse::~CGetSchemaResponse() = default;

CGetSchemaResponse* CGetSchemaResponse::DoClone() const {
    return CloneOrThrow(*this, kOpCloneGetSchemaResponse).release();
}

bool CGetSchemaResponse::HasContent() const { return !m_schemas.empty(); }

void CGetSchemaResponse::Deserialize(const CCmlDOM_Element& element) {
    m_schemas.clear();
    CCmlResponse::Deserialize(element);
    ReadSchemaInfoChildren(element, kOpParseGetSchemaResponse, [this](const CCmlDOM_Element& child) {
        m_schemas.emplace_back().Deserialize(child);
    });
}

void CGetSchemaResponse::SerializeContent(std::ostream& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}
void CGetSchemaResponse::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}

CGetSchemaResponse& CGetSchemaResponse::operator=(const CGetSchemaResponse& other) {
    if (this != &other) {
        std::vector<CGetSchemaResponseData> schemas = other.m_schemas;
        CCmlResponse::operator=(other);
        m_schemas = std::move(schemas);
    }
    return *this;
}

CGetSchemaResponseData& CGetSchemaResponse::AddSchemaData(const CGetSchemaResponseData& data) {
    return m_schemas.emplace_back(data);
}
std::vector<CGetSchemaResponseData>& CGetSchemaResponse::GetSchemas() { return m_schemas; }
const std::vector<CGetSchemaResponseData>& CGetSchemaResponse::GetSchemas() const { return m_schemas; }
std::size_t CGetSchemaResponse::GetSchemaCount() const { return m_schemas.size(); }
CGetSchemaResponseData& CGetSchemaResponse::GetSchemaData(std::size_t index) {
    return ItemAt(m_schemas, index, kOpGetGetSchemaResponse);
}
const CGetSchemaResponseData& CGetSchemaResponse::GetSchemaData(std::size_t index) const {
    return ItemAt(m_schemas, index, kOpGetGetSchemaResponse);
}

// ---- CSchemaResponse ----

CSchemaResponse::CSchemaResponse(const char16_t* tagName, uint32_t code, const char16_t* text,
                                 const char16_t* namespaceURI)
    : CCmlResponse(tagName, code, text, namespaceURI) {}

CSchemaResponse::~CSchemaResponse() = default;

CSchemaResponse* CSchemaResponse::DoClone() const { return CloneOrThrow(*this, kOpCloneSchemaResponse).release(); }

bool CSchemaResponse::HasContent() const { return !m_schemas.empty(); }

void CSchemaResponse::Deserialize(const CCmlDOM_Element& element) {
    m_schemas.clear();
    CCmlResponse::Deserialize(element);
    ReadSchemaInfoChildren(element, kOpParseSchemaResponse,
                       [this](const CCmlDOM_Element& child) { AddSchemaInfo(child); });
}

void CSchemaResponse::SerializeContent(std::ostream& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}
void CSchemaResponse::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}

CSchemaResponse& CSchemaResponse::operator=(const CSchemaResponse& other) {
    if (this != &other) {
        CCmlResponse::operator=(other);
        m_schemas = other.m_schemas;
    }
    return *this;
}

CSchemaInfoResponseData& CSchemaResponse::AddSchemaInfo(const CCmlDOM_Element& element) {
    CSchemaInfoResponseData info;
    info.Deserialize(element);
    return m_schemas.emplace_back(std::move(info));
}
CSchemaInfoResponseData& CSchemaResponse::AddSchemaInfo(const CSchemaInfoResponseData& info) {
    return m_schemas.emplace_back(info);
}
std::vector<CSchemaInfoResponseData>& CSchemaResponse::GetSchemas() { return m_schemas; }
const std::vector<CSchemaInfoResponseData>& CSchemaResponse::GetSchemas() const { return m_schemas; }
std::size_t CSchemaResponse::GetSchemaCount() const { return m_schemas.size(); }
CSchemaInfoResponseData& CSchemaResponse::GetSchemaInfo(std::size_t index) {
    return ItemAt(m_schemas, index, kOpGetSchemaResponse);
}
const CSchemaInfoResponseData& CSchemaResponse::GetSchemaInfo(std::size_t index) const {
    return ItemAt(m_schemas, index, kOpGetSchemaResponse);
}

// ---- CSchemaNotSupportedResponse ----

CSchemaNotSupportedResponse::CSchemaNotSupportedResponse(const char16_t* tagName, uint32_t code,
                                                         const char16_t* text, const char16_t* namespaceURI)
    : CCmlResponse(tagName, code, text, namespaceURI) {}

CSchemaNotSupportedResponse::~CSchemaNotSupportedResponse() = default;

CSchemaNotSupportedResponse* CSchemaNotSupportedResponse::DoClone() const {
    return CloneOrThrow(*this, kOpCloneNotSupported).release();
}

bool CSchemaNotSupportedResponse::HasContent() const { return !m_schemas.empty(); }

void CSchemaNotSupportedResponse::Deserialize(const CCmlDOM_Element& element) {
    m_schemas.clear();
    CCmlResponse::Deserialize(element);
    ReadSchemaInfoChildren(element, kOpParseNotSupported,
                       [this](const CCmlDOM_Element& child) { AddSchemaInfo(child); });
}

void CSchemaNotSupportedResponse::SerializeContent(std::ostream& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}
void CSchemaNotSupportedResponse::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeItems(m_schemas, stream, level);
}

CSchemaNotSupportedResponse& CSchemaNotSupportedResponse::operator=(const CSchemaNotSupportedResponse& other) {
    if (this != &other) {
        CCmlResponse::operator=(other);
        m_schemas = other.m_schemas;
    }
    return *this;
}

CSchemaInfo& CSchemaNotSupportedResponse::AddSchemaInfo(const CCmlDOM_Element& element) {
    CSchemaInfo info;
    info.Deserialize(element);
    return m_schemas.emplace_back(std::move(info));
}
CSchemaInfo& CSchemaNotSupportedResponse::AddSchemaInfo(const CSchemaInfo& info) {
    return m_schemas.emplace_back(info);
}
std::vector<CSchemaInfo>& CSchemaNotSupportedResponse::GetSchemas() { return m_schemas; }
const std::vector<CSchemaInfo>& CSchemaNotSupportedResponse::GetSchemas() const { return m_schemas; }
std::size_t CSchemaNotSupportedResponse::GetSchemaCount() const { return m_schemas.size(); }
CSchemaInfo& CSchemaNotSupportedResponse::GetSchemaInfo(std::size_t index) {
    return ItemAt(m_schemas, index, kOpGetNotSupported);
}
const CSchemaInfo& CSchemaNotSupportedResponse::GetSchemaInfo(std::size_t index) const {
    return ItemAt(m_schemas, index, kOpGetNotSupported);
}

}  // namespace zel::cml
