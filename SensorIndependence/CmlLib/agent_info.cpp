#include "SensorIndependence/CmlLib/agent_info.h"

#include <xercesc/dom/DOMException.hpp>

#include "SensorIndependence/CmlLib/cml_exception.h"
#include "SensorIndependence/CmlLib/nullable_text.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "SensorIndependence/CmlLib/xml_writer.h"
#include "zel/status_codes.h"

namespace zel::cml {

namespace {
constexpr const char16_t* kOpClone = u"Cloning agent info object";
constexpr const char16_t* kOpDeserialize = u"Processing agent-info element";

}  // namespace

CAgentInfo::CAgentInfo() : m_tagName(kTagAgentInfo) {}

CAgentInfo::~CAgentInfo() = default;

CAgentInfo& CAgentInfo::operator=(const CAgentInfo& other) {
    if (this != &other) {
        m_tagName = other.m_tagName;
        m_name = other.m_name;
        m_namespace = other.m_namespace;
        m_ipAddress = other.m_ipAddress;
        m_hostName = other.m_hostName;
        m_agentId = other.m_agentId;
        m_authToken = other.m_authToken;
        m_authHash = other.m_authHash;
        m_groups = other.m_groups;
    }
    return *this;
}

std::unique_ptr<CAgentInfo> CAgentInfo::Clone() const {
    return CloneOrThrow(*this, kOpClone);
}

const std::u16string& CAgentInfo::GetTagName() const { return m_tagName; }
const std::u16string& CAgentInfo::GetName() const { return m_name; }
const std::u16string& CAgentInfo::GetNamespace() const { return m_namespace; }
const std::u16string& CAgentInfo::GetIpAddress() const { return m_ipAddress; }
const std::u16string& CAgentInfo::GetHostName() const { return m_hostName; }
const std::u16string& CAgentInfo::GetAgentId() const { return m_agentId; }
const std::u16string& CAgentInfo::GetAuthToken() const { return m_authToken; }
const std::u16string& CAgentInfo::GetAuthHash() const { return m_authHash; }
void CAgentInfo::SetTagName(const char16_t* tagName) { m_tagName = Text(tagName); }
void CAgentInfo::SetName(const char16_t* name) { m_name = Text(name); }
void CAgentInfo::SetNamespace(const char16_t* namespaceText) { m_namespace = Text(namespaceText); }
void CAgentInfo::SetIpAddress(const char16_t* ipAddress) { m_ipAddress = Text(ipAddress); }
void CAgentInfo::SetHostName(const char16_t* hostName) { m_hostName = Text(hostName); }
void CAgentInfo::SetAgentId(const char16_t* agentId) { m_agentId = Text(agentId); }
void CAgentInfo::SetAuthToken(const char16_t* authToken) { m_authToken = Text(authToken); }
void CAgentInfo::SetAuthHash(const char16_t* authHash) { m_authHash = Text(authHash); }

void CAgentInfo::AddGroup(const std::u16string& name) { m_groups.insert(name); }
bool CAgentInfo::IsInGroup(const std::u16string& name) const { return m_groups.count(name) != 0; }
const AgentGroupSet& CAgentInfo::GetGroups() const { return m_groups; }
std::size_t CAgentInfo::GetGroupCount() const { return m_groups.size(); }
void CAgentInfo::SetGroups(const AgentGroupSet& groups) { m_groups = groups; }

void CAgentInfo::Deserialize(const CCmlDOM_Element& element) {
    m_groups.clear();
    try {
        m_tagName = element.GetNodeName();
        m_name = element.GetAttribute(kTagName);
        m_namespace = element.GetAttribute(kTagNamespace);
        m_ipAddress = element.GetAttribute(kTagIpAddress);
        m_hostName = element.GetAttribute(kTagHostName);
        m_agentId = element.GetAttribute(kTagAgentId);
        m_authToken = element.GetAttribute(kTagAuthToken);
        m_authHash = element.GetAttribute(kTagAuthHash);
        for (CCmlDOM_Node child = element.GetFirstChild(); !child.IsNull(); child = child.GetNextSibling()) {
            if (child.GetNodeType() != xercesc::DOMNode::ELEMENT_NODE) continue;
            const CCmlDOM_Element group(child);
            if (group.NamespaceURIView() == kPropertyNamespaceURI && group.NodeNameView() == kTagAgentGroup) {
                m_groups.insert(group.GetAttribute(kTagName));
            }
        }
    } catch (const xercesc::DOMException& e) {
        throw CCmlException(kOpDeserialize, Text(e.getMessage()), static_cast<uint32_t>(e.code));
    }
}

template <typename CharT>
void CAgentInfo::SerializeImpl(std::basic_ostream<CharT>& stream, int level) const {
    XmlSink<CharT>(stream).Indent(level).Ascii("<").Wide(m_tagName);
    SerializeAttributes(stream);
    if (m_groups.empty()) {
        XmlSink<CharT>(stream).Ascii("/>").EndLine();
        return;
    }
    XmlSink<CharT>(stream).Ascii(">").EndLine();
    SerializeContent(stream, level + 1);
    XmlSink<CharT>(stream).Indent(level).Ascii("</").Wide(m_tagName).Ascii(">").EndLine();
}

template <typename CharT>
void CAgentInfo::SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const {
    XmlSink<CharT> sink(stream);
    sink.AttributeIfSet(word::kTagName, m_name);
    sink.AttributeIfSet(word::kTagNamespace, m_namespace);
    sink.AttributeIfSet(word::kTagIpAddress, m_ipAddress);
    sink.AttributeIfSet(word::kTagHostName, m_hostName);
    sink.AttributeIfSet(word::kTagAgentId, m_agentId);
    sink.AttributeIfSet(word::kTagAuthToken, m_authToken);
    sink.AttributeIfSet(word::kTagAuthHash, m_authHash);
}

template <typename CharT>
void CAgentInfo::SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const {
    for (const std::u16string& group : m_groups) {
        XmlSink<CharT>(stream)
            .Indent(level)
            .Ascii("<")
            .Name(word::kTagAgentGroup)
            .Attribute(word::kTagXmlns, word::kPropertyNamespaceURI)
            .Attribute(word::kTagName, group)
            .Ascii("/>")
            .EndLine();
    }
}

void CAgentInfo::Serialize(std::ostream& stream, int level) const { SerializeImpl(stream, level); }
void CAgentInfo::Serialize(std::basic_ostream<char16_t>& stream, int level) const { SerializeImpl(stream, level); }
void CAgentInfo::SerializeAttributes(std::ostream& stream) const { SerializeAttributesImpl(stream); }
void CAgentInfo::SerializeAttributes(std::basic_ostream<char16_t>& stream) const { SerializeAttributesImpl(stream); }
void CAgentInfo::SerializeContent(std::ostream& stream, int level) const { SerializeContentImpl(stream, level); }
void CAgentInfo::SerializeContent(std::basic_ostream<char16_t>& stream, int level) const {
    SerializeContentImpl(stream, level);
}

}  // namespace zel::cml
