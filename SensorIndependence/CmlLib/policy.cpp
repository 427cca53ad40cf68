#include "SensorIndependence/CmlLib/policy.h"

#include <new>
#include <utility>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/content_support.h"
#include "SensorIndependence/CmlLib/conversion_facet.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {
// Operation texts, one per failing operation.
constexpr const char16_t* kOpClonePolicyItem = u"Cloning policy item object";
constexpr const char16_t* kOpClonePolicyData = u"Cloning policy data object";
constexpr const char16_t* kOpAssignPolicyData = u"Assigning policy data object";
constexpr const char16_t* kOpConstructPolicyNode = u"Constructing policy node object";
constexpr const char16_t* kOpCreatePolicyNode = u"Creating policy node object";
constexpr const char16_t* kOpClonePolicyNode = u"Cloning policy node object";
constexpr const char16_t* kOpClonePolicyReference = u"Cloning policy reference object";
constexpr const char16_t* kOpDeserializePolicy = u"Deserializing policy";
constexpr const char16_t* kOpDeserializePolicyItem = u"Deserializing policy-item node";
constexpr const char16_t* kOpDeserializePolicyReference = u"Deserializing policy reference";
constexpr const char16_t* kOpCollectPolicy = u"Constructing policy namespace object";
constexpr const char16_t* kOpCollectPolicyNode = u"Constructing policy node namespace object";
constexpr const char16_t* kOpCollectPolicyReference = u"Constructing policy reference namespace object";
constexpr const char16_t* kOpNodeNamespace = u"Getting policy node namespace";
constexpr const char16_t* kOpNodeSchemaVersion = u"Getting policy node schema version";
constexpr const char16_t* kOpNodeTagName = u"Getting policy node tagname";
constexpr const char16_t* kOpNodeName = u"Getting policy node name";
constexpr const char16_t* kOpNodeVersion = u"Getting policy node version #";
constexpr const char16_t* kOpNodeValid = u"Getting policy node valid attribute";
constexpr const char16_t* kOpNodeSetSchemaVersion = u"Setting policy schema version";
constexpr const char16_t* kOpCloneGetRequest = u"Cloning get-policy-request object";
constexpr const char16_t* kOpCloneSetRequest = u"Cloning set-policy-request object";
constexpr const char16_t* kOpCloneGetResponse = u"Cloning get-policy-response object";
constexpr const char16_t* kOpCloneSetResponse = u"Cloning set-policy-response object";
constexpr const char16_t* kOpSerializeGetRequest = u"Serializing get-policy-request";
constexpr const char16_t* kOpSerializeSetRequest = u"Serializing set-policy-request";
constexpr const char16_t* kOpSerializeGetResponse = u"Serializing get-policy-response";
constexpr const char16_t* kOpSerializeSetResponse = u"Serializing set-policy-response";
constexpr const char16_t* kOpDeserializeGetRequest = u"Deserializing get-policy-request";
constexpr const char16_t* kOpDeserializeSetRequest = u"Deserializing set-policy-request";
constexpr const char16_t* kOpDeserializeGetResponse = u"Deserializing get-policy-response";
constexpr const char16_t* kOpDeserializeSetResponse = u"Deserializing set-policy-response";
constexpr const char16_t* kOpAddPolicy = u"Adding policy to policy vector";
constexpr const char16_t* kOpAddPolicyItem = u"Adding policy item to policy vector";
constexpr const char16_t* kOpAddResponseItem = u"Adding policy item to specification vector";
constexpr const char16_t* kOpGetSetRequestSource = u"Getting policy source from set-policy-request";
constexpr const char16_t* kOpSetSetRequestSource = u"Setting set-policy-request policy source";
constexpr const char16_t* kOpGetGetResponseItem = u"Getting set-policy request";
constexpr const char16_t* kOpGetSetResponseItem = u"Getting set-policy response";
constexpr const char16_t* kOpCollectSetRequest = u"Constructing set-policy-request namespace set";
constexpr const char16_t* kOpCollectGetResponse = u"Constructing get-policy-response namespace set";

// Descriptions of this family.
constexpr const char16_t* kTextNoPolicy = u"No policy specified";
constexpr const char16_t* kTextInvalidPolicyObject = u"Invalid policy object";

// A CPolicyNode over the root element of a parsed policy document. The parser goes out of
// scope here; the node's share of the document keeps it alive.
std::unique_ptr<CPolicyNode> ParsePolicyDocument(const XMLByte* bytes, std::size_t length, const char16_t* operation) {
    CCmlParser parser(3);
    parser.ParseBuffer(bytes, static_cast<unsigned int>(length), kParseNonValidating);
    try {
        return std::make_unique<CPolicyNode>(parser.GetDocumentElement());
    } catch (const std::bad_alloc&) {
        throw CCmlException(operation, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    }
}

std::unique_ptr<CPolicyNode> NewPolicyNode(const CCmlDOM_Element& element, const char16_t* operation) {
    try {
        return std::make_unique<CPolicyNode>(element);
    } catch (const std::bad_alloc&) {
        throw CCmlException(operation, kTextInsufficientMemory, ZEL_E_OUTOFMEMORY);
    }
}

const XMLByte* Bytes(const void* buffer) { return static_cast<const XMLByte*>(buffer); }

// Writes each element at `level`; an empty container cannot be written.
template <typename CharT, typename T>
void WriteAll(std::basic_ostream<CharT>& stream, int level, const std::vector<std::unique_ptr<T>>& vector,
              const char16_t* operation) {
    if (vector.empty()) throw CCmlException(operation, kTextNoPolicy, ZEL_E_CML_INVALID_POLICY_CONTAINER);
    for (const auto& item : vector) item->Serialize(stream, level);
}

void ReadPolicyItems(const CCmlDOM_Element& element, PolicyItemVector& items) {
    ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
        if (!Is(child, kCmlNamespaceURI, kTagPolicyItem)) return;
        Append(items, std::make_unique<CPolicyItem>(kTagPolicyItem)).Deserialize(child);
    });
}
}  // namespace

// ---- CPolicySource ----

CPolicySource::~CPolicySource() = default;

// ---- CCmlPolicy ----

CCmlPolicy::CCmlPolicy(const char16_t* tagName, const char16_t* namespaceURI)
    : m_tagName(tagName ? tagName : kTagPolicy), m_namespaceURI(Text(namespaceURI)) {}

CCmlPolicy::~CCmlPolicy() = default;

int CCmlPolicy::GetSourceType() const { return kPolicySourceDocument; }
std::u16string CCmlPolicy::GetNamespaceURI() const { return m_namespaceURI; }
std::u16string CCmlPolicy::GetTagName() const { return m_tagName; }
std::u16string CCmlPolicy::GetName() const { return m_name; }
std::u16string CCmlPolicy::GetVersion() const { return m_version; }
bool CCmlPolicy::GetValid() const { return m_valid; }
const std::u16string& CCmlPolicy::GetDocumentSchemaVersion() const { return m_documentSchemaVersion; }
bool CCmlPolicy::GetOverwrite() const { return m_overwrite; }
void CCmlPolicy::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CCmlPolicy::SetName(const char16_t* name) { m_name = Text(name); }
void CCmlPolicy::SetDocumentSchemaVersion(const char16_t* version) { m_documentSchemaVersion = Text(version); }
void CCmlPolicy::SetVersion(const char16_t* version) { m_version = Text(version); }
void CCmlPolicy::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
void CCmlPolicy::SetOverwrite(bool overwrite) { m_overwrite = overwrite; }
void CCmlPolicy::SetValid(bool valid) { m_valid = valid; }

void CCmlPolicy::CollectNamespaces(NamespaceSet& namespaces) const {
    AddNamespace(namespaces, m_namespaceURI, GetSchemaVersion(), kOpCollectPolicy);
}

void CCmlPolicy::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw CCmlException(kOpDeserializePolicy, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    WithDomErrors(kOpDeserializePolicy, [&] {
        m_tagName = element.GetNodeName();
        m_namespaceURI = element.GetNamespaceURI();
        m_name = element.GetAttribute(kTagName);
        m_version = element.GetAttribute(kTagVersion);
        m_documentSchemaVersion = element.GetAttribute(kTagSchemaVersion);
        m_overwrite = element.GetAttribute(kTagOverwrite) == kTagTrue;
        m_valid = element.GetAttribute(kTagValid) != kTagFalse;
    });
}

template <typename CharT>
void CCmlPolicy::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    SerializeStartTag(stream, level);
    SerializeContent(stream, level + 1);
    SerializeEndTag(stream, level);
}

template <typename CharT>
void CCmlPolicy::SerializeDocumentImpl(std::basic_ostream<CharT>& stream) const {
    NamespaceSet namespaces;
    CollectNamespaces(namespaces);
    const ScopedConversionFacet<CharT> facet(stream);
    WriteDocumentHead(stream, m_tagName, namespaces);
    // The attributes begin with a blank, so this line is indented by four.
    XmlSink<CharT>(stream).EndLine();
    XmlSink<CharT>(stream).Ascii("   ");
    SerializeAttributes(stream);
    if (HasContent()) {
        XmlSink<CharT>(stream).Ascii(">").EndLine();
        SerializeContent(stream, 1);
        SerializeEndTag(stream, 0);
    } else {
        XmlSink<CharT>(stream).Ascii("/>").EndLine();
    }
}

template <typename CharT>
void CCmlPolicy::SerializeStartTagImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Wide(m_tagName);
    SerializeAttributes(stream);
    XmlSink<CharT>(stream).Ascii(">").EndLine();
}

template <typename CharT>
void CCmlPolicy::SerializeEndTagImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Wide(m_tagName).Ascii(">").EndLine();
}

template <typename CharT>
void CCmlPolicy::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    sink.Attribute(word::kTagXmlns, m_namespaceURI);
    sink.AttributeIfSet(word::kTagName, m_name);
    sink.AttributeIfSet(word::kTagVersion, m_version);
    if (m_overwrite) sink.Attribute(word::kTagOverwrite, word::kTagTrue);
    sink.Attribute(word::kTagSchemaVersion, GetSchemaVersion());
    if (!m_valid) sink.Attribute(word::kTagValid, word::kTagFalse);
}

void CCmlPolicy::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CCmlPolicy::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CCmlPolicy::SerializeDocument(std::ostream& stream) const { SerializeDocumentImpl(stream); }
void CCmlPolicy::SerializeDocument(std::basic_ostream<char16_t>& stream) const { SerializeDocumentImpl(stream); }
void CCmlPolicy::SerializeStartTag(std::ostream& stream, int level) const { SerializeStartTagImpl(stream, level); }
void CCmlPolicy::SerializeStartTag(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeStartTagImpl(stream, level);
}
void CCmlPolicy::SerializeEndTag(std::ostream& stream, int level) const { SerializeEndTagImpl(stream, level); }
void CCmlPolicy::SerializeEndTag(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeEndTagImpl(stream, level);
}
void CCmlPolicy::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CCmlPolicy::SerializeAttributes(std::basic_ostream<char16_t>& stream) const { SerializeAttributesImpl(stream); }

// ---- CPolicyNode ----

CPolicyNode::CPolicyNode(const CCmlDOM_Element& element)
    : CCmlDOM_Node(element.GetNode()), m_document(CDomDocumentRef::Of(element.GetNode())) {}

CPolicyNode::~CPolicyNode() = default;

int CPolicyNode::GetSourceType() const { return kPolicySourceNode; }

namespace {
// The wrapped element; a null node throws the "Null node" error of `operation`.
CCmlDOM_Element CheckedElement(const CCmlDOM_Node& node, const char16_t* operation) {
    if (node.IsNull()) throw CCmlException(operation, kTextNullNode, ZEL_E_CML_INVALID_METHOD);
    return CCmlDOM_Element(node);
}
}  // namespace

std::u16string CPolicyNode::GetNamespaceURI() const {
    return CheckedElement(*this, kOpNodeNamespace).GetNamespaceURI();
}
std::u16string CPolicyNode::GetSchemaVersion() const {
    return CheckedElement(*this, kOpNodeSchemaVersion).GetAttribute(kTagSchemaVersion);
}
std::u16string CPolicyNode::GetTagName() const { return CheckedElement(*this, kOpNodeTagName).GetNodeName(); }
std::u16string CPolicyNode::GetName() const { return CheckedElement(*this, kOpNodeName).GetAttribute(kTagName); }
std::u16string CPolicyNode::GetVersion() const {
    return CheckedElement(*this, kOpNodeVersion).GetAttribute(kTagVersion);
}
bool CPolicyNode::GetValid() const {
    return CheckedElement(*this, kOpNodeValid).GetAttribute(kTagValid) == kTagTrue;
}

void CPolicyNode::CollectNamespaces(NamespaceSet& namespaces) const {
    // Asked one after the other so that a null node reports the namespace first.
    const std::u16string uri = GetNamespaceURI();
    AddNamespace(namespaces, uri, GetSchemaVersion(), kOpCollectPolicyNode);
}

void CPolicyNode::SetSchemaVersion(const char16_t* version) {
    const CCmlDOM_Element element = CheckedElement(*this, kOpNodeSetSchemaVersion);
    WithDomErrors(kOpNodeSetSchemaVersion,
                  [&] { element.GetElement()->setAttribute(kTagSchemaVersion, Text(version).c_str()); });
}

template <typename CharT>
void CPolicyNode::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    WriteNode(m_node, stream, level);
}

void CPolicyNode::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CPolicyNode::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }

void CPolicyNode::Deserialize(const CCmlDOM_Element& element) {
    // The new document's share is taken before the old one is dropped, so re-reading a node
    // of the same document never releases it in between.
    CDomDocumentRef document = CDomDocumentRef::Of(element.GetNode());
    m_node = element.GetNode();
    m_document = std::move(document);
}

CCmlDOM_Element CPolicyNode::GetElement() const { return CCmlDOM_Element(static_cast<const CCmlDOM_Node&>(*this)); }

CPolicyNode* CPolicyNode::DoClone() const { return CopyOnHeap(*this, kOpClonePolicyNode); }

// ---- CPolicyReference ----

CPolicyReference::CPolicyReference() : m_tagName(kTagPolicyRef), m_namespaceURI(kCmlNamespaceURI) {}

CPolicyReference::~CPolicyReference() = default;

int CPolicyReference::GetSourceType() const { return kPolicySourceReference; }
std::u16string CPolicyReference::GetNamespaceURI() const { return m_namespaceURI; }
std::u16string CPolicyReference::GetSchemaVersion() const { return kCmlSchemaVersion; }
std::u16string CPolicyReference::GetTagName() const { return m_tagName; }
std::u16string CPolicyReference::GetName() const { return m_name; }
std::u16string CPolicyReference::GetVersion() const { return m_version; }
bool CPolicyReference::GetValid() const { return true; }
const std::u16string& CPolicyReference::GetPolicyNamespace() const { return m_policyNamespace; }
void CPolicyReference::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CPolicyReference::SetNamespaceURI(const char16_t* namespaceURI) { m_namespaceURI = Text(namespaceURI); }
void CPolicyReference::SetName(const char16_t* name) { m_name = Text(name); }
void CPolicyReference::SetPolicyNamespace(const char16_t* policyNamespace) { m_policyNamespace = Text(policyNamespace); }
void CPolicyReference::SetVersion(const char16_t* version) { m_version = Text(version); }
void CPolicyReference::SetSchemaVersion(const char16_t* /*version*/) {}

void CPolicyReference::CollectNamespaces(NamespaceSet& namespaces) const {
    AddNamespace(namespaces, m_namespaceURI, kCmlSchemaVersion, kOpCollectPolicyReference);
}

void CPolicyReference::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) {
        throw CCmlException(kOpDeserializePolicyReference, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    }
    WithDomErrors(kOpDeserializePolicyReference, [&] {
        m_tagName = element.GetNodeName();
        m_namespaceURI = element.GetNamespaceURI();
        m_name = element.GetAttribute(kTagName);
        m_policyNamespace = element.GetAttribute(kTagNamespace);
        m_version = element.GetAttribute(kTagVersion);
    });
}

template <typename CharT>
void CPolicyReference::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    sink.Indent(level).Ascii("<").Wide(m_tagName);
    sink.Attribute(word::kTagXmlns, m_namespaceURI);
    sink.Attribute(word::kTagName, m_name);
    sink.Attribute(word::kTagNamespace, m_policyNamespace);
    sink.AttributeIfSet(word::kTagVersion, m_version);
    sink.Ascii("/>").EndLine();
}

void CPolicyReference::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CPolicyReference::Serialize(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeImpl(stream, level);
}

CPolicyReference* CPolicyReference::DoClone() const { return CopyOnHeap(*this, kOpClonePolicyReference); }

// ---- CPolicyItem ----

CPolicyItem::CPolicyItem(const char16_t* tagName) : m_tagName(tagName ? tagName : kTagPolicyItem) {}

CPolicyItem::~CPolicyItem() = default;

CPolicyItem& CPolicyItem::operator=(const CPolicyItem& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_name = other.m_name;
        m_namespace = other.m_namespace;
        m_version = other.m_version;
        m_schemaVersion = other.m_schemaVersion;
        m_tag = other.m_tag;
        m_code = other.m_code;
        m_text = other.m_text;
        m_token = other.m_token;
    }
    return *this;
}

CPolicyItem* CPolicyItem::DoClone() const { return CopyOnHeap(*this, kOpClonePolicyItem); }

const std::u16string& CPolicyItem::GetTagName() const { return m_tagName; }
const std::u16string& CPolicyItem::GetName() const { return m_name; }
const std::u16string& CPolicyItem::GetNamespace() const { return m_namespace; }
const std::u16string& CPolicyItem::GetVersion() const { return m_version; }
const std::u16string& CPolicyItem::GetSchemaVersion() const { return m_schemaVersion; }
const std::u16string& CPolicyItem::GetTag() const { return m_tag; }
uint32_t CPolicyItem::GetCode() const { return m_code; }
const std::u16string& CPolicyItem::GetText() const { return m_text; }
const std::u16string& CPolicyItem::GetToken() const { return m_token; }
void CPolicyItem::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CPolicyItem::SetName(const char16_t* name) { m_name = Text(name); }
void CPolicyItem::SetNamespace(const char16_t* namespaceURI) { m_namespace = Text(namespaceURI); }
void CPolicyItem::SetVersion(const char16_t* version) { m_version = Text(version); }
void CPolicyItem::SetSchemaVersion(const char16_t* version) { m_schemaVersion = Text(version); }
void CPolicyItem::SetTag(const char16_t* tag) { m_tag = Text(tag); }
void CPolicyItem::SetCode(uint32_t code) { m_code = code; }
void CPolicyItem::SetText(const char16_t* text) { m_text = Text(text); }
void CPolicyItem::SetToken(const char16_t* token) { m_token = Text(token); }

void CPolicyItem::Deserialize(const CCmlDOM_Element& element) {
    if (element.IsNull()) throw CCmlException(kOpDeserializePolicyItem, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    WithDomErrors(kOpDeserializePolicyItem, [&] {
        m_tagName = element.GetNodeName();
        m_name = element.GetAttribute(kTagName);
        m_namespace = element.GetAttribute(kTagNamespace);
        m_version = element.GetAttribute(kTagVersion);
        m_schemaVersion = element.GetAttribute(kTagSchemaVersion);
        m_tag = element.GetAttribute(kTagTag);
        m_code = ReadAutoBaseNumber(element.GetAttribute(kTagCode));
        m_text = element.GetAttribute(kTagText);
        m_token = element.GetAttribute(kTagToken);
    });
}

template <typename CharT>
void CPolicyItem::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Wide(m_tagName);
    SerializeAttributes(stream);
    XmlSink<CharT>(stream).Ascii("/>").EndLine();
}

template <typename CharT>
void CPolicyItem::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    sink.AttributeIfSet(word::kTagName, m_name);
    sink.AttributeIfSet(word::kTagNamespace, m_namespace);
    sink.AttributeIfSet(word::kTagVersion, m_version);
    sink.AttributeIfSet(word::kTagSchemaVersion, m_schemaVersion);
    sink.AttributeIfSet(word::kTagTag, m_tag);
    if (m_code != 0) sink.Ascii(" ").Name(word::kTagCode).Ascii("='0x").Hex(m_code).Ascii("'");
    sink.AttributeIfSet(word::kTagText, m_text);
    sink.AttributeIfSet(word::kTagToken, m_token);
}

void CPolicyItem::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CPolicyItem::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CPolicyItem::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CPolicyItem::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    SerializeAttributesImpl(stream);
}

// ---- CPolicyData ----

CPolicyData::CPolicyData(const char16_t* tagName) : CPolicyItem(tagName) {}

CPolicyData::CPolicyData(const CPolicyData& other)
    : CPolicyItem(other), m_policy(other.m_policy ? other.m_policy->Clone() : nullptr) {}

CPolicyData::~CPolicyData() = default;

CPolicyData& CPolicyData::operator=(const CPolicyData& other) {
    if (this == &other) return *this;
    std::unique_ptr<CPolicySource> policy;
    if (other.m_policy) {
        try {
            policy = other.m_policy->Clone();
        } catch (const CCmlException& e) {
            throw CCmlException(kOpAssignPolicyData, e.GetDescription(), e.GetCode());
        }
    }
    CPolicyItem::operator=(other);
    m_policy = std::move(policy);
    return *this;
}

CPolicyData& CPolicyData::operator=(const CPolicyItem& other) {
    CPolicyItem::operator=(other);
    return *this;
}

CPolicyData* CPolicyData::DoClone() const { return CopyOnHeap(*this, kOpClonePolicyData); }

const CPolicySource* CPolicyData::GetPolicy() const { return m_policy.get(); }
CPolicySource* CPolicyData::GetPolicy() { return m_policy.get(); }

void CPolicyData::ParsePolicy(const char* buffer, std::size_t length) {
    m_policy = ParsePolicyDocument(Bytes(buffer), length, kOpConstructPolicyNode);
}

void CPolicyData::ParsePolicy(const char16_t* buffer, std::size_t length) {
    m_policy = ParsePolicyDocument(Bytes(buffer), length * sizeof(char16_t), kOpConstructPolicyNode);
}

void CPolicyData::SetPolicy(const CPolicySource& policy) { m_policy = policy.Clone(); }

void CPolicyData::SetPolicy(CPolicySource* policy) {
    // Handing back the source already held must not delete it.
    if (policy != m_policy.get()) m_policy.reset(policy);
}

void CPolicyData::SetPolicyNode(const CCmlDOM_Element& element) {
    m_policy = NewPolicyNode(element, kOpConstructPolicyNode);
}

template <typename CharT>
void CPolicyData::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    if (!m_policy) {
        CPolicyItem::Serialize(stream, level);
        return;
    }
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Wide(GetTagName());
    SerializeAttributes(stream);
    XmlSink<CharT>(stream).Ascii(">").EndLine();
    m_policy->Serialize(stream, level + 1);
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Wide(GetTagName()).Ascii(">").EndLine();
}

void CPolicyData::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CPolicyData::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }

void CPolicyData::Deserialize(const CCmlDOM_Element& element) {
    CPolicyItem::Deserialize(element);
    m_policy.reset();
    WithDomErrors(kOpDeserializePolicyItem, [&] {
        for (CCmlDOM_Node child = element.GetFirstChild(); !child.IsNull(); child = child.GetNextSibling()) {
            if (child.GetNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
            m_policy = NewPolicyNode(CCmlDOM_Element(child), kOpConstructPolicyNode);
            break;
        }
    });
}

// ---- CGetPolicyRequest ----

CGetPolicyRequest::CGetPolicyRequest() : CCmlRequest(nullptr, kTagGetPolicyRequest, true, kCmlNamespaceURI) {}

CGetPolicyRequest::CGetPolicyRequest(const CGetPolicyRequest& other)
    : CCmlRequest(other), m_items(CloneAll(other.m_items)) {}

CGetPolicyRequest::~CGetPolicyRequest() = default;

CGetPolicyRequest& CGetPolicyRequest::operator=(const CGetPolicyRequest& other) {
    if (this != &other) {
        PolicyItemVector items = CloneAll(other.m_items);
        CCmlRequest::operator=(other);
        m_items = std::move(items);
    }
    return *this;
}

CGetPolicyRequest* CGetPolicyRequest::DoClone() const { return CopyOnHeap(*this, kOpCloneGetRequest); }

CPolicyItem& CGetPolicyRequest::AddPolicyItem(CPolicyItem* item) { return Append(m_items, item, kOpAddPolicyItem); }
CPolicyItem& CGetPolicyRequest::AddPolicyItem(const CPolicyItem& item) { return Append(m_items, item.Clone()); }
const PolicyItemVector& CGetPolicyRequest::GetPolicyItems() const { return m_items; }
PolicyItemVector& CGetPolicyRequest::GetPolicyItems() { return m_items; }
std::size_t CGetPolicyRequest::GetPolicyItemCount() const { return m_items.size(); }

bool CGetPolicyRequest::HasContent() const { return true; }

void CGetPolicyRequest::Deserialize(const CCmlDOM_Element& element) {
    m_items.clear();
    CCmlRequest::Deserialize(element);
    WithDomErrors(kOpDeserializeGetRequest, [&] { ReadPolicyItems(element, m_items); });
}

template <typename CharT>
void CGetPolicyRequest::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    WriteAll(stream, level, m_items, kOpSerializeGetRequest);
}

void CGetPolicyRequest::SerializeContent(std::ostream& stream, int level) const {
    SerializeContentImpl(stream, level);
}
void CGetPolicyRequest::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- CSetPolicyRequest ----

CSetPolicyRequest::CSetPolicyRequest() : CCmlRequest(nullptr, kTagSetPolicyRequest, true, kCmlNamespaceURI) {}

CSetPolicyRequest::CSetPolicyRequest(const CSetPolicyRequest& other)
    : CCmlRequest(other), m_policies(CloneAll(other.m_policies)) {}

CSetPolicyRequest::~CSetPolicyRequest() = default;

CSetPolicyRequest& CSetPolicyRequest::operator=(const CSetPolicyRequest& other) {
    if (this != &other) {
        PolicySourceVector policies = CloneAll(other.m_policies);
        CCmlRequest::operator=(other);
        m_policies = std::move(policies);
    }
    return *this;
}

CSetPolicyRequest* CSetPolicyRequest::DoClone() const { return CopyOnHeap(*this, kOpCloneSetRequest); }

CPolicySource& CSetPolicyRequest::AddPolicy(CPolicySource* policy) { return Append(m_policies, policy, kOpAddPolicy); }
CPolicySource& CSetPolicyRequest::AddPolicy(const CPolicySource& policy) {
    return Append(m_policies, policy.Clone());
}

CPolicySource& CSetPolicyRequest::ParsePolicy(const char* buffer, std::size_t length) {
    return Append<CPolicySource>(m_policies, ParsePolicyDocument(Bytes(buffer), length, kOpCreatePolicyNode));
}

CPolicySource& CSetPolicyRequest::ParsePolicy(const char16_t* buffer, std::size_t length) {
    return Append<CPolicySource>(m_policies,
                                 ParsePolicyDocument(Bytes(buffer), length * sizeof(char16_t), kOpCreatePolicyNode));
}

CPolicySource& CSetPolicyRequest::AddPolicyNode(const CCmlDOM_Element& element) {
    return Append<CPolicySource>(m_policies, NewPolicyNode(element, kOpCreatePolicyNode));
}

const CPolicySource& CSetPolicyRequest::GetPolicySource(std::size_t index) const {
    return At(m_policies, index, kOpGetSetRequestSource);
}
CPolicySource& CSetPolicyRequest::GetPolicySource(std::size_t index) {
    return At(m_policies, index, kOpGetSetRequestSource);
}

CPolicySource& CSetPolicyRequest::SetPolicySource(std::size_t index, const CPolicySource& policy) {
    At(m_policies, index, kOpSetSetRequestSource);
    m_policies[index] = policy.Clone();
    return *m_policies[index];
}

CPolicySource& CSetPolicyRequest::SetPolicySource(std::size_t index, CPolicySource* policy) {
    return Replace(m_policies, index, std::unique_ptr<CPolicySource>(policy), kOpSetSetRequestSource);
}

const PolicySourceVector& CSetPolicyRequest::GetPolicySources() const { return m_policies; }
PolicySourceVector& CSetPolicyRequest::GetPolicySources() { return m_policies; }
std::size_t CSetPolicyRequest::GetPolicySourceCount() const { return m_policies.size(); }

bool CSetPolicyRequest::HasContent() const { return true; }

void CSetPolicyRequest::CollectNamespaces(NamespaceSet& namespaces) const {
    CCmlRequest::CollectNamespaces(namespaces);
    if (m_policies.empty()) throw CCmlException(kOpCollectSetRequest, kTextNoPolicy, ZEL_E_CML_INVALID_POLICY_CONTAINER);
    for (const auto& policy : m_policies) policy->CollectNamespaces(namespaces);
}

void CSetPolicyRequest::Deserialize(const CCmlDOM_Element& element) {
    m_policies.clear();
    CCmlRequest::Deserialize(element);
    WithDomErrors(kOpDeserializeSetRequest, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            Append<CPolicySource>(m_policies, NewPolicyNode(child, kOpCreatePolicyNode));
        });
    });
}

template <typename CharT>
void CSetPolicyRequest::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    WriteAll(stream, level, m_policies, kOpSerializeSetRequest);
}

void CSetPolicyRequest::SerializeContent(std::ostream& stream, int level) const {
    SerializeContentImpl(stream, level);
}
void CSetPolicyRequest::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- CGetPolicyResponse ----

CGetPolicyResponse::CGetPolicyResponse() : CCmlResponse(kTagGetPolicyResponse, 0, nullptr, kCmlNamespaceURI) {}

CGetPolicyResponse::CGetPolicyResponse(const CGetPolicyResponse& other)
    : CCmlResponse(other), m_items(CloneAll(other.m_items)) {}

CGetPolicyResponse::~CGetPolicyResponse() = default;

CGetPolicyResponse& CGetPolicyResponse::operator=(const CGetPolicyResponse& other) {
    if (this != &other) {
        PolicyItemVector items = CloneAll(other.m_items);
        CCmlResponse::operator=(other);
        m_items = std::move(items);
    }
    return *this;
}

CGetPolicyResponse* CGetPolicyResponse::DoClone() const { return CopyOnHeap(*this, kOpCloneGetResponse); }

const CPolicyItem& CGetPolicyResponse::GetPolicyItem(std::size_t index) const {
    return At(m_items, index, kOpGetGetResponseItem);
}
CPolicyItem& CGetPolicyResponse::GetPolicyItem(std::size_t index) { return At(m_items, index, kOpGetGetResponseItem); }
CPolicyItem& CGetPolicyResponse::AddPolicyItem(CPolicyItem* item) { return Append(m_items, item, kOpAddResponseItem); }
CPolicyItem& CGetPolicyResponse::AddPolicyItem(const CPolicyItem& item) { return Append(m_items, item.Clone()); }
const PolicyItemVector& CGetPolicyResponse::GetPolicyItems() const { return m_items; }
PolicyItemVector& CGetPolicyResponse::GetPolicyItems() { return m_items; }
std::size_t CGetPolicyResponse::GetPolicyItemCount() const { return m_items.size(); }

bool CGetPolicyResponse::HasContent() const { return true; }

void CGetPolicyResponse::CollectNamespaces(NamespaceSet& namespaces) const {
    CCmlResponse::CollectNamespaces(namespaces);
    for (const auto& item : m_items) {
        // A coded item answers without content and so brings no namespace.
        if (item->GetCode() != 0) continue;
        const auto* data = dynamic_cast<const CPolicyData*>(item.get());
        if (!data) {
            throw CCmlException(kOpCollectGetResponse, kTextInvalidPolicyObject, ZEL_E_CML_INVALID_POLICY_CONTAINER);
        }
        if (!data->GetPolicy()) {
            throw CCmlException(kOpCollectGetResponse, kTextNoPolicy, ZEL_E_CML_INVALID_POLICY_CONTAINER);
        }
        data->GetPolicy()->CollectNamespaces(namespaces);
    }
}

void CGetPolicyResponse::Deserialize(const CCmlDOM_Element& element) {
    m_items.clear();
    CCmlResponse::Deserialize(element);
    WithDomErrors(kOpDeserializeGetResponse, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            Append<CPolicyItem>(m_items, std::make_unique<CPolicyData>(kTagPolicyItem)).Deserialize(child);
        });
    });
}

template <typename CharT>
void CGetPolicyResponse::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    WriteAll(stream, level, m_items, kOpSerializeGetResponse);
}

void CGetPolicyResponse::SerializeContent(std::ostream& stream, int level) const {
    SerializeContentImpl(stream, level);
}
void CGetPolicyResponse::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- CSetPolicyResponse ----

CSetPolicyResponse::CSetPolicyResponse() : CCmlResponse(kTagSetPolicyResponse, 0, nullptr, kCmlNamespaceURI) {}

CSetPolicyResponse::CSetPolicyResponse(const CSetPolicyResponse& other)
    : CCmlResponse(other), m_items(CloneAll(other.m_items)) {}

CSetPolicyResponse::~CSetPolicyResponse() = default;

CSetPolicyResponse& CSetPolicyResponse::operator=(const CSetPolicyResponse& other) {
    if (this != &other) {
        PolicyItemVector items = CloneAll(other.m_items);
        CCmlResponse::operator=(other);
        m_items = std::move(items);
    }
    return *this;
}

CSetPolicyResponse* CSetPolicyResponse::DoClone() const { return CopyOnHeap(*this, kOpCloneSetResponse); }

const CPolicyItem& CSetPolicyResponse::GetPolicyItem(std::size_t index) const {
    return At(m_items, index, kOpGetSetResponseItem);
}
CPolicyItem& CSetPolicyResponse::GetPolicyItem(std::size_t index) { return At(m_items, index, kOpGetSetResponseItem); }
CPolicyItem& CSetPolicyResponse::AddPolicyItem(CPolicyItem* item) { return Append(m_items, item, kOpAddPolicyItem); }
CPolicyItem& CSetPolicyResponse::AddPolicyItem(const CPolicyItem& item) { return Append(m_items, item.Clone()); }
const PolicyItemVector& CSetPolicyResponse::GetPolicyItems() const { return m_items; }
PolicyItemVector& CSetPolicyResponse::GetPolicyItems() { return m_items; }
std::size_t CSetPolicyResponse::GetPolicyItemCount() const { return m_items.size(); }

bool CSetPolicyResponse::HasContent() const { return true; }

void CSetPolicyResponse::Deserialize(const CCmlDOM_Element& element) {
    m_items.clear();
    CCmlResponse::Deserialize(element);
    WithDomErrors(kOpDeserializeSetResponse, [&] { ReadPolicyItems(element, m_items); });
}

template <typename CharT>
void CSetPolicyResponse::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    WriteAll(stream, level, m_items, kOpSerializeSetResponse);
}

void CSetPolicyResponse::SerializeContent(std::ostream& stream, int level) const {
    SerializeContentImpl(stream, level);
}
void CSetPolicyResponse::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

}  // namespace zel::cml
