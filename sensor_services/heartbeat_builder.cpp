#include "sensor_services/heartbeat_builder.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/schema_messages.h"
#include "runtime/guid.h"
#include "runtime/unicode.h"
#include "sensor_services/heartbeat_message.h"
#include "sensor_services/sensor_services_object.h"

namespace zel::ss {

namespace {

using cml::CAgentInfoContent;

// The message's first request tagged `tagName` when it is a T; null otherwise.
template <typename T>
T* FirstRequest(cml::CCmlMessage& message, const std::u16string& tagName) {
    for (const std::unique_ptr<cml::CCmlRequest>& request : message.GetRequests()) {
        if (request && request->GetTagName() == tagName) return dynamic_cast<T*>(request.get());
    }
    return nullptr;
}

// The message's first response tagged `tagName` when it is a T; null otherwise.
template <typename T>
T* FirstResponse(cml::CCmlMessage& message, const std::u16string& tagName) {
    for (const std::unique_ptr<cml::CCmlResponse>& response : message.GetResponses()) {
        if (response && response->GetTagName() == tagName) return dynamic_cast<T*>(response.get());
    }
    return nullptr;
}

// The message's get-policy-request, created (with a new request identifier) and appended
// to the body when it has none.
cml::CGetPolicyRequest& GetPolicyRequestOf(cml::CCmlMessage& message) {
    if (auto* found = FirstRequest<cml::CGetPolicyRequest>(message, cml::kTagGetPolicyRequest)) return *found;
    auto created = std::make_unique<cml::CGetPolicyRequest>();
    created->SetRequestId(NewGuidText().c_str());
    return static_cast<cml::CGetPolicyRequest&>(*message.AddRequest(std::move(created)));
}

// The message's response tagged `tagName`, created with `requestId` (the request it
// answers) and appended when it has none.
template <typename T, typename... Args>
T& ResponseOf(cml::CCmlMessage& message, const std::u16string& tagName, const std::u16string& requestId,
              Args&&... args) {
    if (T* found = FirstResponse<T>(message, tagName)) return *found;
    auto created = std::make_unique<T>(std::forward<Args>(args)...);
    created->SetRequestId(requestId.c_str());
    return static_cast<T&>(*message.AddResponse(std::move(created)));
}

// Appends one policy item to the message's get-policy-request: "token" is the version the
// agent holds ("0" when it holds none).
uint32_t AddPolicyItemRequest(const HeartbeatCall& call, cml::CCmlMessage* handle, const char* token, const char* name,
                              const char* policyNamespace, const char* schemaVersion, char* idBuffer,
                              uint32_t* idLength) {
    if (const uint32_t status = call.Require({handle, policyNamespace})) return status;
    if (const uint32_t status = call.CheckLengths({token, name, policyNamespace, schemaVersion})) return status;
    if (!call.Announcement(*handle)) return ZEL_E_INTERNAL;

    cml::CGetPolicyRequest& request = GetPolicyRequestOf(*handle);
    cml::CPolicyItem item(cml::kTagPolicyItem);
    item.SetToken(token ? WideText(token).c_str() : u"0");
    item.SetName(WideText(name).c_str());
    item.SetNamespace(WideText(policyNamespace).c_str());
    item.SetSchemaVersion(WideText(schemaVersion).c_str());
    request.AddPolicyItem(item);
    CopyIdentifier(ToUtf8(request.GetRequestId()), idBuffer, idLength);
    return 0;
}

// Stores an optional text field once its length passed: a null text leaves the field.
uint32_t SetCheckedText(const HeartbeatCall& call, CAgentInfoContent& content, const char* text,
                        void (CAgentInfoContent::*setter)(const char16_t*)) {
    if (const uint32_t status = call.CheckLengths({text})) return status;
    if (text) (content.*setter)(WideText(text).c_str());
    return 0;
}

// SetBasicAgentInfo's work under the caller's trace location. The fields are set in a
// fixed order and a text over the limit stops there: what was set before it stays set.
uint32_t ApplyAgentInfo(const HeartbeatCall& call, const CSensorServices& services, cml::CCmlMessage* handle,
                        const char* qpkVersion, const char* lastQpkPath, uint32_t qpkStatus,
                        const char* qpkStatusDescription, uint32_t agentStatus, const char* agentInstallPath,
                        const char* daemonInstallPath, const char* model, const char* groupnameHint,
                        bool useLocalSettings, bool registerAgent) {
    if (const uint32_t status = call.Require({handle})) return status;
    cml::CAgentStartupAnnouncement* const announcement = call.Announcement(*handle);
    if (!announcement) return ZEL_E_INTERNAL;
    CAgentInfoContent& content = announcement->GetContent();

    content.SetSendNewSchemas(services.Callbacks().setSchemaRequest != nullptr);
    content.SetRegisterAgent(registerAgent ? u"true" : u"false");
    if (const uint32_t status = SetCheckedText(call, content, qpkVersion, &CAgentInfoContent::SetQpkVersion))
        return status;
    if (const uint32_t status = SetCheckedText(call, content, lastQpkPath, &CAgentInfoContent::SetLastQpkPath))
        return status;
    content.SetQpkStatus(qpkStatus);
    if (const uint32_t status =
            SetCheckedText(call, content, qpkStatusDescription, &CAgentInfoContent::SetQpkStatusDescription))
        return status;
    content.SetAgentStatus(agentStatus);
    if (const uint32_t status =
            SetCheckedText(call, content, agentInstallPath, &CAgentInfoContent::SetAgentInstallPath))
        return status;
    if (const uint32_t status =
            SetCheckedText(call, content, daemonInstallPath, &CAgentInfoContent::SetDaemonInstallPath))
        return status;
    if (const uint32_t status = SetCheckedText(call, content, model, &CAgentInfoContent::SetModel)) return status;
    if (const uint32_t status = SetCheckedText(call, content, groupnameHint, &CAgentInfoContent::SetGroupnameHint))
        return status;
    content.SetUseLocalSettings(useLocalSettings);
    return 0;
}

}  // namespace

uint32_t CreateHeartbeat(const CSensorServices& services, cml::CCmlMessage** outHandle, const char* agentId,
                         const char* name, const char* agentNamespace, const char* version, const char* ipAddress) {
    const HeartbeatCall call(services, "CSensorServices::CreateHeartbeat()");
    if (const uint32_t status = call.Require({outHandle, agentId, name, agentNamespace, version, ipAddress}))
        return status;
    *outHandle = nullptr;
    if (const uint32_t status = call.CheckLengths({agentId, name, agentNamespace, version, ipAddress})) return status;

    std::unique_ptr<cml::CCmlMessage> message;
    try {
        message = NewHeartbeatMessage();
        CAgentInfoContent& content = FindAnnouncement(*message)->GetContent();
        content.SetAgentId(WideText(agentId).c_str());
        content.SetName(WideText(name).c_str());
        content.SetNamespace(WideText(agentNamespace).c_str());
        content.SetVersion(WideText(version).c_str());
        content.GetHostInfo().SetIpAddress(WideText(ipAddress).c_str());
    } catch (const std::bad_alloc&) {
        return ZEL_E_NO_VIRTUAL_MEMORY;
    }
    *outHandle = message.release();
    return 0;
}

uint32_t SetBasicAgentInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* qpkVersion,
                           const char* lastQpkPath, uint32_t qpkStatus, const char* qpkStatusDescription,
                           uint32_t agentStatus, const char* agentInstallPath, const char* daemonInstallPath,
                           const char* model, const char* groupnameHint, bool useLocalSettings, bool registerAgent) {
    const HeartbeatCall call(services, "CSensorServices::SetBasicAgentInfo()");
    return ApplyAgentInfo(call, services, handle, qpkVersion, lastQpkPath, qpkStatus, qpkStatusDescription, agentStatus,
                          agentInstallPath, daemonInstallPath, model, groupnameHint, useLocalSettings, registerAgent);
}

uint32_t SetAgentInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* qpkVersion,
                      const char* agentStatusText, const char* agentInstallPath, const char* daemonInstallPath) {
    const HeartbeatCall call(services, "CSensorServices::SetAgentInfo()");
    if (const uint32_t status = call.Require({handle})) return status;
    if (const uint32_t status = call.CheckLengths({agentStatusText})) return status;
    // Decimal as the agent writes it; a negative number is an error code's signed form.
    const uint32_t agentStatus =
        agentStatusText ? static_cast<uint32_t>(std::strtoll(agentStatusText, nullptr, 10)) : 0;
    return ApplyAgentInfo(call, services, handle, qpkVersion, nullptr, 0, nullptr, agentStatus, agentInstallPath,
                          daemonInstallPath, nullptr, nullptr, false, true);
}

uint32_t SetHostInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* hostName,
                     const char* ipAddress, const char* os, const char* nbname, const char* nbdomain,
                     const char* adObjectId, const char* adGroupId) {
    const HeartbeatCall call(services, "CSensorServices::SetHostInfo()");
    if (const uint32_t status = call.Require({handle})) return status;
    if (const uint32_t status = call.CheckLengths({hostName, ipAddress, os, nbname, nbdomain, adObjectId, adGroupId}))
        return status;
    cml::CAgentStartupAnnouncement* const announcement = call.Announcement(*handle);
    if (!announcement) return ZEL_E_INTERNAL;

    cml::CHostInfo& host = announcement->GetContent().GetHostInfo();
    const struct {
        const char* text;
        void (cml::CHostInfo::*set)(const char16_t*);
    } fields[] = {
        {hostName, &cml::CHostInfo::SetHostName},
        {ipAddress, &cml::CHostInfo::SetIpAddress},
        {os, &cml::CHostInfo::SetOs},
        {nbname, &cml::CHostInfo::SetNbName},
        {nbdomain, &cml::CHostInfo::SetNbDomain},
        {adObjectId, &cml::CHostInfo::SetAdObjectId},
        {adGroupId, &cml::CHostInfo::SetAdGroupId},
    };
    for (const auto& field : fields) {
        if (field.text) (host.*field.set)(WideText(field.text).c_str());
    }
    return 0;
}

uint32_t AddSchemaInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                       const char* schemaNamespace, const char* version, bool root, bool cpeEditable, bool overwrite,
                       bool getFromAgent) {
    const HeartbeatCall call(services, "CSensorServices::AddSchemaInfo()");
    if (const uint32_t status = call.Require({handle, schemaNamespace, version})) return status;
    if (const uint32_t status = call.CheckLengths({name, schemaNamespace, version})) return status;
    cml::CAgentStartupAnnouncement* const announcement = call.Announcement(*handle);
    if (!announcement) return ZEL_E_INTERNAL;

    cml::CSchemaInfo schema;
    schema.SetName(WideText(name).c_str());
    schema.SetNamespace(WideText(schemaNamespace).c_str());
    schema.SetVersion(WideText(version).c_str());
    schema.SetRoot(root);
    schema.SetCpeEditable(cpeEditable);
    schema.SetOverwrite(overwrite);
    schema.SetGetFromAgent(getFromAgent);
    announcement->GetContent().AddSchemaInfo(std::move(schema));
    return 0;
}

uint32_t AddModuleInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* name, const char* version,
                       uint32_t status, const char* description, cml::CModuleInfo** outModule) {
    const HeartbeatCall call(services, "CSensorServices::AddModuleInfo()");
    if (const uint32_t failure = call.Require({handle, name, version})) return failure;
    if (outModule) *outModule = nullptr;
    // The description is checked like every text but has no place in the module element.
    if (const uint32_t failure = call.CheckLengths({name, version, description})) return failure;
    cml::CAgentStartupAnnouncement* const announcement = call.Announcement(*handle);
    if (!announcement) return ZEL_E_INTERNAL;

    cml::CModuleInfo module;
    module.SetName(WideText(name).c_str());
    module.SetVersion(WideText(version).c_str());
    module.SetStatus(status);
    cml::CModuleInfo& stored = announcement->GetContent().AddModuleInfo(std::move(module));
    if (outModule) *outModule = &stored;
    return 0;
}

uint32_t AddGetPolicyRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                             const char* name, const char* policyNamespace, const char* schemaVersion, char* idBuffer,
                             uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddGetPolicyRequest()");
    return AddPolicyItemRequest(call, handle, token, name, policyNamespace, schemaVersion, idBuffer, idLength);
}

uint32_t AddAgentPolicyInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                            const char* name, const char* policyNamespace, char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddAgentPolicyInfo()");
    return AddPolicyItemRequest(call, handle, token, name, policyNamespace, nullptr, idBuffer, idLength);
}

uint32_t AddGetSchemaRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                             const char* schemaNamespace, const char* version, char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddGetSchemaRequest()");
    if (const uint32_t status = call.Require({handle, schemaNamespace})) return status;
    if (const uint32_t status = call.CheckLengths({name, schemaNamespace, version})) return status;
    if (!call.Announcement(*handle)) return ZEL_E_INTERNAL;

    auto request = std::make_unique<cml::CSchemaRequest>(cml::kTagGetSchemaRequest);
    request->SetRequestId(NewGuidText().c_str());
    cml::CSchemaInfo schema;
    schema.SetName(WideText(name).c_str());
    schema.SetNamespace(WideText(schemaNamespace).c_str());
    schema.SetVersion(WideText(version).c_str());
    request->AddSchemaInfo(schema);
    const std::string identifier = ToUtf8(request->GetRequestId());
    handle->AddRequest(std::move(request));
    CopyIdentifier(identifier, idBuffer, idLength);
    return 0;
}

uint32_t AddSetPolicyResponse(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                              const char* version, const char* policyNamespace, uint32_t status, const char* statusText,
                              const char* schemaVersion, const char* requestId, uint32_t requestIdLength) {
    const HeartbeatCall call(services, "CSensorServices::AddSetPolicyResponse()");
    if (const uint32_t failure = call.Require({handle, policyNamespace, requestId})) return failure;
    if (const uint32_t failure = call.RequireLengths({requestIdLength})) return failure;
    if (const uint32_t failure = call.CheckLengths({name, version, policyNamespace, statusText, schemaVersion}))
        return failure;
    if (!call.Announcement(*handle)) return ZEL_E_INTERNAL;

    auto& response =
        ResponseOf<cml::CSetPolicyResponse>(*handle, cml::kTagSetPolicyResponse, WideText(requestId, requestIdLength));
    // A policy installed without trouble needs no item of its own.
    if (status == 0) return 0;
    if (response.GetCode() == 0) response.SetCode(ZEL_E_CML_SET_POLICY_REQUEST_FAILED);
    cml::CPolicyItem item(cml::kTagPolicyItem);
    item.SetName(WideText(name).c_str());
    item.SetVersion(WideText(version).c_str());
    item.SetNamespace(WideText(policyNamespace).c_str());
    item.SetSchemaVersion(WideText(schemaVersion).c_str());
    item.SetCode(status);
    item.SetText(WideText(statusText).c_str());
    response.AddPolicyItem(item);
    return 0;
}

uint32_t AddSetSchemaResponse(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                              const char* schemaNamespace, const char* version, uint32_t status, const char* statusText,
                              const char* requestId, uint32_t requestIdLength) {
    const HeartbeatCall call(services, "CSensorServices::AddSetSchemaResponse()");
    if (const uint32_t failure = call.Require({handle, schemaNamespace, requestId})) return failure;
    if (const uint32_t failure = call.RequireLengths({requestIdLength})) return failure;
    if (const uint32_t failure = call.CheckLengths({name, schemaNamespace, version, statusText})) return failure;
    if (!call.Announcement(*handle)) return ZEL_E_INTERNAL;

    auto& response = ResponseOf<cml::CSchemaResponse>(*handle, cml::kTagSetSchemaResponse,
                                                      WideText(requestId, requestIdLength), cml::kTagSetSchemaResponse);
    if (status != 0 && response.GetCode() == 0) response.SetCode(ZEL_E_CML_SET_SCHEMA_REQUEST_FAILED);
    cml::CSchemaInfoResponseData item;
    item.SetName(WideText(name).c_str());
    item.SetNamespace(WideText(schemaNamespace).c_str());
    item.SetVersion(WideText(version).c_str());
    item.SetCode(status);
    item.SetText(WideText(statusText).c_str());
    response.AddSchemaInfo(item);
    return 0;
}

}  // namespace zel::ss
