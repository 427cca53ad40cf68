#include "sensor_services/heartbeat_builder.h"

#include <memory>
#include <new>

#include "SensorIndependence/CmlLib/agent_info_content.h"
#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "runtime/guid.h"
#include "runtime/unicode.h"
#include "sensor_services/heartbeat_message.h"
#include "sensor_services/sensor_services_object.h"

namespace zel::ss {

namespace {

// The message's get-policy-request, created (with a new request identifier) and appended
// to the body when it has none.
cml::CGetPolicyRequest& GetPolicyRequestOf(cml::CCmlMessage& message) {
    for (const std::unique_ptr<cml::CCmlRequest>& request : message.GetRequests()) {
        if (request && request->GetTagName() == cml::kTagGetPolicyRequest) {
            if (auto* found = dynamic_cast<cml::CGetPolicyRequest*>(request.get())) return *found;
            break;
        }
    }
    auto created = std::make_unique<cml::CGetPolicyRequest>();
    created->SetRequestId(NewGuidText().c_str());
    return static_cast<cml::CGetPolicyRequest&>(*message.AddRequest(std::move(created)));
}

// Appends one policy item to the message's get-policy-request: "token" is the version the
// agent holds ("0" when it holds none).
uint32_t AddPolicyItemRequest(const HeartbeatCall& call, cml::CCmlMessage* handle, const char* token,
                              const char* name, const char* policyNamespace, const char* schemaVersion,
                              char* idBuffer, uint32_t* idLength) {
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
        cml::CAgentInfoContent& content = FindAnnouncement(*message)->GetContent();
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

uint32_t AddGetPolicyRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                             const char* name, const char* policyNamespace, const char* schemaVersion,
                             char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddGetPolicyRequest()");
    return AddPolicyItemRequest(call, handle, token, name, policyNamespace, schemaVersion, idBuffer, idLength);
}

uint32_t AddAgentPolicyInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                            const char* name, const char* policyNamespace, char* idBuffer, uint32_t* idLength) {
    const HeartbeatCall call(services, "CSensorServices::AddAgentPolicyInfo()");
    return AddPolicyItemRequest(call, handle, token, name, policyNamespace, nullptr, idBuffer, idLength);
}

}  // namespace zel::ss
