// CAgentInfo: the identity of an agent or a controller as CML writes it (the envelope's
// "source" and "destination" elements).
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "SensorIndependence/CmlLib/dom_wrappers.h"

namespace zel::cml {

// Group names in ascending code-unit order, each at most once.
using AgentGroupSet = std::set<std::u16string>;

class CAgentInfo {
public:
    // An identity with every string and the group set empty and the tag name "agent-info".
    CAgentInfo();
    CAgentInfo(const CAgentInfo&) = default;
    virtual ~CAgentInfo();

    // Copies every field, the tag name included; self-assignment does nothing.
    virtual CAgentInfo& operator=(const CAgentInfo& other);
    // A heap copy; throws CCmlException ("Cloning agent info object", 0xC7210001) when memory runs out.
    virtual std::unique_ptr<CAgentInfo> Clone() const;

    virtual const std::u16string& GetTagName() const;
    virtual const std::u16string& GetName() const;
    virtual const std::u16string& GetNamespace() const;
    virtual const std::u16string& GetIpAddress() const;
    virtual const std::u16string& GetHostName() const;
    virtual const std::u16string& GetAgentId() const;
    virtual const std::u16string& GetAuthToken() const;
    virtual const std::u16string& GetAuthHash() const;
    // Each setter replaces the field; a null pointer gives the empty string.
    virtual void SetTagName(const char16_t* tagName);
    virtual void SetName(const char16_t* name);
    virtual void SetNamespace(const char16_t* namespaceText);
    virtual void SetIpAddress(const char16_t* ipAddress);
    virtual void SetHostName(const char16_t* hostName);
    virtual void SetAgentId(const char16_t* agentId);
    virtual void SetAuthToken(const char16_t* authToken);
    virtual void SetAuthHash(const char16_t* authHash);

    // Adds a group name; a name already present stays once.
    virtual void AddGroup(const std::u16string& name);
    // True when the set holds exactly `name` (case-sensitive).
    virtual bool IsInGroup(const std::u16string& name) const;
    virtual const AgentGroupSet& GetGroups() const;
    virtual std::size_t GetGroupCount() const;
    // Replaces the whole set.
    virtual void SetGroups(const AgentGroupSet& groups);

    // Reads the element: its node name becomes the tag name, the seven attributes the strings
    // (absent ones empty), and its "agent-group" children in the "/cml/property" namespace the
    // groups (the set is emptied first; other children are ignored). A DOM failure throws
    // CCmlException ("Processing agent-info element", the DOM message and code).
    virtual void Deserialize(const CCmlDOM_Element& element);

    // Writes the element at `level`: "<tag" + the non-empty attributes + "/>" without groups,
    // else one "agent-group" line per group and the closing tag.
    virtual void Serialize(std::ostream& stream, int level) const;
    virtual void Serialize(std::basic_ostream<char16_t>& stream, int level) const;
    // Writes " name='...'" for each non-empty string, in the fixed order.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;
    // Writes one "agent-group" line per group at `level`.
    virtual void SerializeContent(std::ostream& stream, int level) const;
    virtual void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeImpl(std::basic_ostream<CharT>& stream, int level) const;
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_tagName;
    std::u16string m_name;
    std::u16string m_namespace;
    std::u16string m_ipAddress;
    std::u16string m_hostName;
    std::u16string m_agentId;
    std::u16string m_authToken;
    std::u16string m_authHash;
    AgentGroupSet m_groups;
};

}  // namespace zel::cml
