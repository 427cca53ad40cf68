#include "SensorIndependence/CmlLib/agent_status.h"

#include <utility>

#include "SensorIndependence/CmlLib/content_support.h"
#include "SensorIndependence/CmlLib/vocabulary.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kOpParseContent = u"Parsing agent status content";
constexpr const char16_t* kOpParseStatusRequest = u"Parsing get-agent-status-request element";
constexpr const char16_t* kOpParseText = u"Parsing text response element";
constexpr const char16_t* kOpCloneStatusRequest = u"Cloning get-agent-status-request object";
constexpr const char16_t* kOpCloneText = u"Cloning text response object";

constexpr PolicyListTexts kStatusPolicyTexts{u"Getting policy source from agent status content",
                                             u"Setting policy source for agent status content"};
}  // namespace

// ---- CAgentStatusContent ----

CAgentStatusContent::CAgentStatusContent() : CPolicyList(kStatusPolicyTexts), m_status(ZEL_I_CML_NOT_SPECIFIED) {}

CAgentStatusContent::~CAgentStatusContent() = default;

CAgentStatusContent& CAgentStatusContent::operator=(const CAgentStatusContent& other) {
    // Copy, then move: a failure while copying (memory, a policy clone) leaves this as it was.
    if (this != &other) *this = CAgentStatusContent(other);
    return *this;
}

void CAgentStatusContent::CollectNamespaces(NamespaceSet& namespaces) const {
    for (const CModuleInfo& module : m_modules) module.CollectNamespaces(namespaces);
    CollectPolicyNamespaces(namespaces);
}

uint32_t CAgentStatusContent::GetStatus() const { return m_status; }
void CAgentStatusContent::SetStatus(uint32_t status) { m_status = status; }
const ModuleInfoVector& CAgentStatusContent::GetModules() const { return m_modules; }
ModuleInfoVector& CAgentStatusContent::GetModules() { return m_modules; }
std::size_t CAgentStatusContent::GetModuleCount() const { return m_modules.size(); }

CModuleInfo& CAgentStatusContent::AddModuleInfo(const CModuleInfo& module) {
    m_modules.push_back(module);
    return m_modules.back();
}

const NameValuePairVector& CAgentStatusContent::GetParams() const { return m_params; }
NameValuePairVector& CAgentStatusContent::GetParams() { return m_params; }
std::size_t CAgentStatusContent::GetParamCount() const { return m_params.size(); }

CNameValuePair& CAgentStatusContent::AddParam(const char16_t* name, const char16_t* value) {
    m_params.emplace_back(name, value);
    return m_params.back();
}

CNameValuePair& CAgentStatusContent::AddParam(const CNameValuePair& param) {
    m_params.push_back(param);
    return m_params.back();
}

bool CAgentStatusContent::HasContent() const {
    return !m_modules.empty() || !m_params.empty() || GetPolicyCount() != 0;
}

void CAgentStatusContent::Deserialize(const CCmlDOM_Element& element) {
    m_modules.clear();
    m_params.clear();
    ClearPolicies();
    WithDomErrors(kOpParseContent, [&] {
        m_status = ReadAutoBaseNumber(element.GetAttribute(kTagStatus), ZEL_I_CML_NOT_SPECIFIED);
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (!InNamespace(child, kCmlNamespaceURI)) {
                // A policy document takes the place of the parameters read so far.
                m_params.clear();
                AddPolicy(child);
            } else if (Equals(child.GetNode()->getNodeName(), kTagModuleList)) {
                ReadList(child, kCmlNamespaceURI, kTagModule, m_modules);
            } else if (Equals(child.GetNode()->getNodeName(), kTagAgentParameters)) {
                ReadList(child, kCommonNamespaceURI, kTagParam, m_params);
            }
        });
    });
}

template <typename CharT>
void CAgentStatusContent::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    if (m_status == ZEL_I_CML_NOT_SPECIFIED) return;
    XmlSink<CharT>(stream).Ascii(" ").Name(word::kTagStatus).Ascii("='0x").Hex(m_status).Ascii("'");
}

template <typename CharT>
void CAgentStatusContent::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    WriteList(stream, level, word::kTagModuleList, m_modules);
    if (GetPolicyCount() != 0) {
        SerializePolicies(stream, level);
    } else {
        WriteList(stream, level, word::kTagAgentParameters, m_params);
    }
}

void CAgentStatusContent::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CAgentStatusContent::SerializeAttributes(std::basic_ostream<char16_t>& stream) const {
    SerializeAttributesImpl(stream);
}
void CAgentStatusContent::SerializeContent(std::ostream& stream, int level) const {
    SerializeContentImpl(stream, level);
}
void CAgentStatusContent::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- The messages that carry a content ----

CAgentStatusAnnouncement::CAgentStatusAnnouncement()
    : CContentMessage(nullptr, kTagAgentStatusAnnouncement, true, kCmlNamespaceURI) {}

CGetAgentStatusResponse::CGetAgentStatusResponse()
    : CContentMessage(kTagGetAgentStatusResponse, 0, nullptr, kCmlNamespaceURI) {}

CAgentInfoResponse::CAgentInfoResponse() : CContentMessage(kTagGetAgentInfoResponse, 0, nullptr, kCmlNamespaceURI) {}

// ---- CGetAgentStatusRequest ----

CGetAgentStatusRequest::CGetAgentStatusRequest()
    : CCmlRequest(nullptr, kTagGetAgentStatusRequest, true, kCmlNamespaceURI) {}

CGetAgentStatusRequest::~CGetAgentStatusRequest() = default;

CGetAgentStatusRequest& CGetAgentStatusRequest::operator=(const CGetAgentStatusRequest& other) {
    if (this != &other) {
        std::vector<std::u16string> modules = other.m_modules;
        CCmlRequest::operator=(other);
        m_modules = std::move(modules);
    }
    return *this;
}

CGetAgentStatusRequest* CGetAgentStatusRequest::DoClone() const { return CopyOnHeap(*this, kOpCloneStatusRequest); }

void CGetAgentStatusRequest::AddModule(const char16_t* name) { m_modules.push_back(Text(name)); }
const std::vector<std::u16string>& CGetAgentStatusRequest::GetModules() const { return m_modules; }
std::vector<std::u16string>& CGetAgentStatusRequest::GetModules() { return m_modules; }
std::size_t CGetAgentStatusRequest::GetModuleCount() const { return m_modules.size(); }

bool CGetAgentStatusRequest::HasContent() const { return !m_modules.empty(); }

void CGetAgentStatusRequest::Deserialize(const CCmlDOM_Element& element) {
    m_modules.clear();
    CCmlRequest::Deserialize(element);
    WithDomErrors(kOpParseStatusRequest, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (Equals(child.GetNode()->getNodeName(), kTagModule)) m_modules.push_back(child.GetAttribute(kTagName));
        });
    });
}

template <typename CharT>
void CGetAgentStatusRequest::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    for (const std::u16string& name : m_modules) {
        XmlSink<CharT> sink(stream);
        sink.Indent(level).Ascii("<").Name(word::kTagModule).Attribute(word::kTagName, name).Ascii("/>").EndLine();
    }
}

void CGetAgentStatusRequest::SerializeContent(std::ostream& stream, int level) const {
    SerializeContentImpl(stream, level);
}
void CGetAgentStatusRequest::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

// ---- CTextResponse ----

CTextResponse::CTextResponse(const char16_t* tagName) : CCmlResponse(tagName, 0, nullptr, kCmlNamespaceURI) {}

CTextResponse::~CTextResponse() = default;

CTextResponse& CTextResponse::operator=(const CTextResponse& other) {
    if (this != &other) {
        std::u16string body = other.m_body;
        CCmlResponse::operator=(other);
        m_body = std::move(body);
    }
    return *this;
}

CTextResponse* CTextResponse::DoClone() const { return CopyOnHeap(*this, kOpCloneText); }

void CTextResponse::SetBody(const char16_t* body) { m_body = Text(body); }
const std::u16string& CTextResponse::GetBody() const { return m_body; }
std::u16string& CTextResponse::GetBody() { return m_body; }
void CTextResponse::ClearBody() { m_body.clear(); }

bool CTextResponse::HasContent() const { return true; }

void CTextResponse::Deserialize(const CCmlDOM_Element& element) {
    m_body.clear();
    CCmlResponse::Deserialize(element);
    WithDomErrors(kOpParseText, [&] {
        ForEachChildElement(element, [&](const CCmlDOM_Element& child) {
            if (Is(child, kCmlNamespaceURI, kTagText)) m_body = child.GetFirstChild().GetNodeValue();
        });
    });
}

template <typename CharT>
void CTextResponse::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT> sink(stream);
    sink.Indent(level).Ascii("<").Name(word::kTagText).Ascii(">").Escaped(m_body, kEscapeText);
    sink.Ascii("</").Name(word::kTagText).Ascii(">").EndLine();
}

void CTextResponse::SerializeContent(std::ostream& stream, int level) const { SerializeContentImpl(stream, level); }
void CTextResponse::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

}  // namespace zel::cml
