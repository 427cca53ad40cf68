#include "SensorIndependence/CmlLib/cml_message.h"

#include <utility>

#include <xercesc/dom/DOMException.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/conversion_facet.h"
#include "SensorIndependence/CmlLib/message_factory.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kOpClone = u"Cloning envelope object";
constexpr const char16_t* kOpCollect = u"Constructing CmlMessage namespace object";
constexpr const char16_t* kOpDeserialize = u"Deserializing message-envelope node";
constexpr const char16_t* kOpAddRequest = u"Adding request to message vector";
constexpr const char16_t* kOpAddResponse = u"Adding response to message vector";
constexpr const char16_t* kOpParseRequests = u"Error parsing CML requests";
constexpr const char16_t* kOpParseResponses = u"Error parsing CML responses";
constexpr const char16_t* kTextInvalidParameter = u"Internal error: invalid parameter";

bool IsElement(const CCmlDOM_Node& node) {
    return !node.IsNull() && node.GetNodeType() == xercesc::DOMNode::ELEMENT_NODE;
}

// Writes indentation, `open`, the element name, ">" and a line end: "<request>",
// "</message-body>" and the like.
template <typename CharT>
void WriteTagLine(std::basic_ostream<CharT>& stream, int level, const char* open, const Word& name) {
    XmlSink<CharT>(stream).Indent(level).Ascii(open).Name(name).Ascii(">").EndLine();
}

// Walks the children of every wrapper element of `wrappers` ("request" or "response") and
// hands each "/cml" element child to `add`.
template <typename Add>
void ForEachMessageElement(const CCmlDOM_NodeList& wrappers, Add add) {
    // Item() until a null node: GetLength() of a by-name list walks the whole subtree, and an
    // item after it starts again from the top.
    for (std::size_t i = 0;; ++i) {
        const CCmlDOM_Node wrapper = wrappers.Item(i);
        if (wrapper.IsNull()) break;
        for (CCmlDOM_Node child = wrapper.GetFirstChild(); !child.IsNull(); child = child.GetNextSibling()) {
            if (!IsElement(child) || child.NamespaceURIView() != kCmlNamespaceURI) continue;
            add(CCmlDOM_Element(child));
        }
    }
}
}  // namespace

CCmlMessage::CCmlMessage() { m_source.SetTagName(kTagSource); }

CCmlMessage::CCmlMessage(const CCmlMessage& other) { CopyFrom(other); }

CCmlMessage::~CCmlMessage() = default;

CCmlMessage& CCmlMessage::operator=(const CCmlMessage& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

void CCmlMessage::CopyFrom(const CCmlMessage& other) {
    // Clone into fresh vectors first so that a failed clone leaves this envelope unchanged.
    RequestVector requests;
    requests.reserve(other.m_requests.size());
    for (const auto& request : other.m_requests) requests.push_back(request->Clone());
    ResponseVector responses;
    responses.reserve(other.m_responses.size());
    for (const auto& response : other.m_responses) responses.push_back(response->Clone());
    m_source = other.m_source;
    m_destinations = other.m_destinations;
    m_broadcast = other.m_broadcast;
    m_messageId = other.m_messageId;
    m_responseTo = other.m_responseTo;
    m_requests = std::move(requests);
    m_responses = std::move(responses);
}

std::unique_ptr<CCmlMessage> CCmlMessage::Clone() const { return CloneOrThrow(*this, kOpClone); }

void CCmlMessage::CollectNamespaces(NamespaceSet& namespaces) const {
    AddNamespace(namespaces, kCmlBaseURI, kRootSchemaVersion, kOpCollect);
    AddNamespace(namespaces, kCmlNamespaceURI, kCmlSchemaVersion, kOpCollect);
    for (const auto& request : m_requests) request->CollectNamespaces(namespaces);
    for (const auto& response : m_responses) response->CollectNamespaces(namespaces);
}

const CAgentInfo& CCmlMessage::GetSource() const { return m_source; }
CAgentInfo& CCmlMessage::GetSource() { return m_source; }
const DestinationVector& CCmlMessage::GetDestinations() const { return m_destinations; }
bool CCmlMessage::GetBroadcast() const { return m_broadcast; }
const std::u16string& CCmlMessage::GetMessageId() const { return m_messageId; }
const std::u16string& CCmlMessage::GetResponseTo() const { return m_responseTo; }

void CCmlMessage::SetSource(const CAgentInfo& source) {
    m_source = source;
    m_source.SetTagName(kTagSource);
}

void CCmlMessage::SetBroadcast(const bool& broadcast) { m_broadcast = broadcast; }
void CCmlMessage::SetMessageId(const char16_t* messageId) { m_messageId = Text(messageId); }
void CCmlMessage::SetResponseTo(const char16_t* responseTo) { m_responseTo = Text(responseTo); }

CAgentInfo& CCmlMessage::AddDestination(const CAgentInfo& destination) {
    m_destinations.push_back(destination);
    m_destinations.back().SetTagName(kTagDestination);
    return m_destinations.back();
}

CCmlRequest* CCmlMessage::AddRequest(std::unique_ptr<CCmlRequest> request) {
    if (!request) throw CCmlException(kOpAddRequest, kTextInvalidParameter, ZEL_E_INVALIDARG);
    m_requests.push_back(std::move(request));
    return m_requests.back().get();
}

CCmlRequest* CCmlMessage::AddRequest(CCmlRequest* request) { return AddRequest(std::unique_ptr<CCmlRequest>(request)); }

CCmlRequest* CCmlMessage::AddRequest(const CCmlRequest& request) { return AddRequest(request.Clone()); }

CCmlResponse* CCmlMessage::AddResponse(std::unique_ptr<CCmlResponse> response) {
    if (!response) throw CCmlException(kOpAddResponse, kTextInvalidParameter, ZEL_E_INVALIDARG);
    m_responses.push_back(std::move(response));
    return m_responses.back().get();
}

CCmlResponse* CCmlMessage::AddResponse(CCmlResponse* response) {
    return AddResponse(std::unique_ptr<CCmlResponse>(response));
}

CCmlResponse* CCmlMessage::AddResponse(const CCmlResponse& response) { return AddResponse(response.Clone()); }

const RequestVector& CCmlMessage::GetRequests() const { return m_requests; }
RequestVector& CCmlMessage::GetRequests() { return m_requests; }
const ResponseVector& CCmlMessage::GetResponses() const { return m_responses; }
ResponseVector& CCmlMessage::GetResponses() { return m_responses; }

void CCmlMessage::Deserialize(const CCmlDOM_Element& element) {
    m_requests.clear();
    m_responses.clear();
    if (element.IsNull()) throw CCmlException(kOpDeserialize, kTextNullElement, ZEL_E_CML_NULL_ELEMENT);
    // Destinations are read afresh as well, so that reading twice does not pile them up.
    m_destinations.clear();
    m_broadcast = element.GetAttribute(kTagBroadcast) == kTagTrue;
    m_messageId = element.GetAttribute(kTagMessageId);
    m_responseTo = element.GetAttribute(kTagResponseTo);
    for (CCmlDOM_Node child = element.GetFirstChild(); !child.IsNull(); child = child.GetNextSibling()) {
        if (!IsElement(child)) continue;
        const std::u16string_view name = child.NodeNameView();
        if (name == kTagSource) {
            m_source.Deserialize(CCmlDOM_Element(child));
        } else if (name == kTagDestination) {
            m_destinations.emplace_back();
            m_destinations.back().Deserialize(CCmlDOM_Element(child));
        } else if (name == kTagMessageBody) {
            CDescendantElementList requests(child.GetNode(), kCmlNamespaceURI, kTagRequest);
            ParseRequests(&requests);
            CDescendantElementList responses(child.GetNode(), kCmlNamespaceURI, kTagResponse);
            ParseResponses(&responses);
        }
    }
}

void CCmlMessage::ParseRequests(const CCmlDOM_NodeList& requests) {
    try {
        // The default object is stored first and read in place: a request that fails half-way
        // stays in the envelope as far as it was read.
        ForEachMessageElement(requests, [this](const CCmlDOM_Element& element) {
            AddRequest(CreateRequest(element.NodeNameView()))->Deserialize(element);
        });
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpParseRequests, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

void CCmlMessage::ParseResponses(const CCmlDOM_NodeList& responses) {
    try {
        ForEachMessageElement(responses, [this](const CCmlDOM_Element& element) {
            AddResponse(CreateResponse(element.NodeNameView()))->Deserialize(element);
        });
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpParseResponses, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

template <typename CharT>
void CCmlMessage::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream)
        .Indent(level)
        .Ascii("<")
        .Name(word::kTagMessageEnvelope)
        .Attribute(word::kTagBroadcast, m_broadcast ? kTagTrue : kTagFalse)
        .Attribute(word::kTagMessageId, m_messageId)
        .AttributeIfSet(word::kTagResponseTo, m_responseTo)
        .Ascii(">")
        .EndLine();

    m_source.Serialize(stream, level + 1);
    for (const CAgentInfo& destination : m_destinations) destination.Serialize(stream, level + 1);

    WriteTagLine(stream, level + 1, "<", word::kTagMessageBody);
    if (!m_requests.empty()) {
        WriteTagLine(stream, level + 2, "<", word::kTagRequest);
        for (const auto& request : m_requests) request->Serialize(stream, level + 3);
        WriteTagLine(stream, level + 2, "</", word::kTagRequest);
    }
    if (!m_responses.empty()) {
        WriteTagLine(stream, level + 2, "<", word::kTagResponse);
        for (const auto& response : m_responses) response->Serialize(stream, level + 3);
        WriteTagLine(stream, level + 2, "</", word::kTagResponse);
    }
    WriteTagLine(stream, level + 1, "</", word::kTagMessageBody);
    WriteTagLine(stream, level, "</", word::kTagMessageEnvelope);
}

template <typename CharT>
void CCmlMessage::SerializeDocumentImpl(std::basic_ostream<CharT>& stream) const {
    // Collected first: a namespace conflict throws before anything is written.
    NamespaceSet namespaces;
    CollectNamespaces(namespaces);
    const ScopedConversionFacet<CharT> facet(stream);
    WriteDocumentHead(stream, kTagZel, namespaces);
    XmlSink<CharT>(stream).EndLine();
    // The attributes begin with a blank, so this line is indented by four.
    XmlSink<CharT>(stream)
        .Ascii("   ")
        .Attribute(word::kTagXmlns, word::kCmlBaseURI)
        .Attribute(word::kTagSchemaVersion, word::kRootSchemaVersion)
        .Ascii(">")
        .EndLine();
    XmlSink<CharT>(stream)
        .Indent(1)
        .Ascii("<")
        .Name(word::kTagCml)
        .Attribute(word::kTagXmlns, word::kCmlNamespaceURI)
        .Attribute(word::kTagSchemaVersion, word::kCmlSchemaVersion)
        .Ascii(">")
        .EndLine();

    Serialize(stream, 2);

    WriteTagLine(stream, 1, "</", word::kTagCml);
    WriteTagLine(stream, 0, "</", word::kTagZel);
}

void CCmlMessage::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CCmlMessage::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CCmlMessage::SerializeDocument(std::ostream& stream) const { SerializeDocumentImpl(stream); }
void CCmlMessage::SerializeDocument(std::basic_ostream<char16_t>& stream) const { SerializeDocumentImpl(stream); }

}  // namespace zel::cml
