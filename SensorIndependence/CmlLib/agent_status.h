// Agent status and the simple responses: the agent announces its status (overall code, module
// states, parameters or policy documents); the controller asks for it, optionally naming
// modules, and gets it back in a response of the same shape; it asks for the agent's
// information and gets the agent-info content back; and two responses carry a block of text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/content_message.h"
#include "SensorIndependence/CmlLib/message_base.h"
#include "SensorIndependence/CmlLib/policy_list.h"

namespace zel::cml {

// The agent's status: an overall code ("status", not set 0x47380022 by default), its modules
// and either parameters or policy documents (with any policy, no parameter is written). Policy
// index failures name "Getting policy source from agent status content" / "Setting policy
// source for agent status content".
class CAgentStatusContent : public CPolicyList {
public:
    // Status not set, no module, parameter or policy.
    CAgentStatusContent();
    // Copies the lists and clones every policy.
    CAgentStatusContent(const CAgentStatusContent& other) = default;
    CAgentStatusContent(CAgentStatusContent&& other) noexcept = default;
    ~CAgentStatusContent() override;

    // Copies everything, cloning the policies; a failure leaves this as it was.
    virtual CAgentStatusContent& operator=(const CAgentStatusContent& other);
    CAgentStatusContent& operator=(CAgentStatusContent&& other) noexcept = default;
    // The namespaces of every module's policies (module order), then of its own policies.
    virtual void CollectNamespaces(NamespaceSet& namespaces) const;

    // 0x47380022 when none is set.
    virtual uint32_t GetStatus() const;
    // 0x47380022 clears the status.
    virtual void SetStatus(uint32_t status);
    virtual const ModuleInfoVector& GetModules() const;
    virtual ModuleInfoVector& GetModules();
    virtual std::size_t GetModuleCount() const;
    // Appends a copy; returns the stored module.
    virtual CModuleInfo& AddModuleInfo(const CModuleInfo& module);
    virtual const NameValuePairVector& GetParams() const;
    virtual NameValuePairVector& GetParams();
    virtual std::size_t GetParamCount() const;
    // Appends a "param" in the "/cml/common" namespace without ordinal; returns it.
    virtual CNameValuePair& AddParam(const char16_t* name, const char16_t* value);
    virtual CNameValuePair& AddParam(const CNameValuePair& param);

    // True when it has a module, a parameter or a policy.
    virtual bool HasContent() const;
    // Empties the lists, reads "status" (automatic base; absent or unreadable not set) and the
    // children: "/cml" "module-list" modules and "/cml" "agent-parameters" parameters ("/cml/common"
    // "param"), other "/cml" children skipped; a child of any other namespace drops the
    // parameters read so far and becomes a policy node. A DOM failure throws CCmlException
    // ("Parsing agent status content").
    virtual void Deserialize(const CCmlDOM_Element& element);
    // " status='0x<hex>'" when set.
    virtual void SerializeAttributes(std::ostream& stream) const;
    virtual void SerializeAttributes(std::basic_ostream<char16_t>& stream) const;
    // "module-list" (when there are modules), then the policies, or else "agent-parameters".
    virtual void SerializeContent(std::ostream& stream, int level) const;
    virtual void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const;

private:
    template <typename CharT>
    void SerializeAttributesImpl(std::basic_ostream<CharT>& stream) const;
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    uint32_t m_status;
    ModuleInfoVector m_modules;
    NameValuePairVector m_params;
};

// "agent-status-announcement": the agent's status, carried by the request element itself.
class CAgentStatusAnnouncement : public CContentMessage<CAgentStatusAnnouncement, CCmlRequest, CAgentStatusContent> {
public:
    static constexpr const char16_t* kCloneOperation = u"Cloning agent-status-announcement object";

    // An empty request id, need-reply true, the "/cml" namespace and an empty content.
    CAgentStatusAnnouncement();
};

// "get-agent-status-response": the agent's status in answer to a get-agent-status request.
class CGetAgentStatusResponse : public CContentMessage<CGetAgentStatusResponse, CCmlResponse, CAgentStatusContent> {
public:
    static constexpr const char16_t* kCloneOperation = u"Cloning get-agent-status-response object";

    // Code 0, an empty text, the "/cml" namespace and an empty content.
    CGetAgentStatusResponse();
};

// "get-agent-info-response": the agent-info content of the startup announcement, carried by
// the response element itself.
class CAgentInfoResponse : public CContentMessage<CAgentInfoResponse, CCmlResponse, CAgentInfoContent> {
public:
    static constexpr const char16_t* kCloneOperation = u"Cloning get-agent-info-response object";

    // Code 0, an empty text, the "/cml" namespace and an empty content.
    CAgentInfoResponse();
};

// "get-agent-status-request": asks for the agent's status, optionally of named modules.
class CGetAgentStatusRequest : public CCmlRequest {
public:
    // An empty request id, need-reply true, the "/cml" namespace, no module named.
    CGetAgentStatusRequest();
    CGetAgentStatusRequest(const CGetAgentStatusRequest&) = default;
    ~CGetAgentStatusRequest() override;

    // Base fields, then the module names; self-assignment does nothing.
    virtual CGetAgentStatusRequest& operator=(const CGetAgentStatusRequest& other);
    // A heap copy ("Cloning get-agent-status-request object", 0xC7210001).
    std::unique_ptr<CGetAgentStatusRequest> Clone() const {
        return std::unique_ptr<CGetAgentStatusRequest>(DoClone());
    }

    // Appends a module name (null: empty).
    virtual void AddModule(const char16_t* name);
    virtual const std::vector<std::u16string>& GetModules() const;
    virtual std::vector<std::u16string>& GetModules();
    virtual std::size_t GetModuleCount() const;

    // True when it names a module.
    bool HasContent() const override;
    // The request fields, then the "name" of every child element named "module" (in any
    // namespace). A DOM failure throws CCmlException ("Parsing get-agent-status-request element").
    void Deserialize(const CCmlDOM_Element& element) override;
    // One "<module name='...'/>" per name.
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CGetAgentStatusRequest* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::vector<std::u16string> m_modules;
};

// "get-patent-info-response" and "get-copyright-info-response": a block of text in a "text"
// child, written even when empty.
class CTextResponse : public CCmlResponse {
public:
    // A response with the element name `tagName`, code 0 and the "/cml" namespace.
    explicit CTextResponse(const char16_t* tagName);
    CTextResponse(const CTextResponse&) = default;
    ~CTextResponse() override;

    // Base fields, then the body; self-assignment does nothing.
    virtual CTextResponse& operator=(const CTextResponse& other);
    // A heap copy ("Cloning text response object", 0xC7210001).
    std::unique_ptr<CTextResponse> Clone() const { return std::unique_ptr<CTextResponse>(DoClone()); }

    // A null pointer gives the empty body.
    virtual void SetBody(const char16_t* body);
    virtual const std::u16string& GetBody() const;
    virtual std::u16string& GetBody();
    virtual void ClearBody();

    // Always true: the "text" child is always written.
    bool HasContent() const override;
    // The response fields, then the body: the value of the first child node of the last "/cml"
    // "text" child (empty when it has none). A DOM failure throws CCmlException ("Parsing text
    // response element").
    void Deserialize(const CCmlDOM_Element& element) override;
    // "<text>" + the body escaped as element text + "</text>".
    void SerializeContent(std::ostream& stream, int level) const override;
    void SerializeContent(std::basic_ostream<char16_t>& stream, int level) const override;

protected:
    CTextResponse* DoClone() const override;

private:
    template <typename CharT>
    void SerializeContentImpl(std::basic_ostream<CharT>& stream, int level) const;

    std::u16string m_body;
};

}  // namespace zel::cml
