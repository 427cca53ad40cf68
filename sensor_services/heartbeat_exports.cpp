// The exported heartbeat family: each export is its operation inside the export frame.
#include <memory>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "sensor_services/heartbeat_builder.h"
#include "sensor_services/library.h"
#include "sensor_services/sensor_services_object.h"
#include "zel/sensor_services.h"

#define SS_EXPORT extern "C" __attribute__((visibility("default")))

using zel::ss::CSensorServices;
using zel::ss::ExportFrame;
using zel::ss::MessageOf;

SS_EXPORT uint32_t CreateHeartbeat(SS_Heartbeat* outHandle, const char* agentId, const char* name,
                                   const char* agentNamespace, const char* version, const char* ipAddress) {
    return ExportFrame([&](CSensorServices& services) {
        zel::cml::CCmlMessage* message = nullptr;
        const uint32_t status = zel::ss::CreateHeartbeat(services, outHandle ? &message : nullptr, agentId, name,
                                                         agentNamespace, version, ipAddress);
        if (outHandle) *outHandle = zel::ss::HandleOf(message);
        return status;
    });
}

SS_EXPORT uint32_t FreeHeartbeat(SS_Heartbeat handle) {
    return ExportFrame([&](CSensorServices&) -> uint32_t {
        std::unique_ptr<zel::cml::CCmlMessage> destroyed(MessageOf(handle));
        return 0;
    });
}

SS_EXPORT uint32_t AddGetPolicyRequest(SS_Heartbeat handle, const char* token, const char* name,
                                       const char* policyNamespace, const char* schemaVersion, char* idBuffer,
                                       uint32_t* idLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddGetPolicyRequest(services, MessageOf(handle), token, name, policyNamespace, schemaVersion,
                                            idBuffer, idLength);
    });
}

SS_EXPORT uint32_t AddAgentPolicyInfo(SS_Heartbeat handle, const char* token, const char* name,
                                      const char* policyNamespace, const char* /*schemaVersion: not read*/,
                                      char* idBuffer, uint32_t* idLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddAgentPolicyInfo(services, MessageOf(handle), token, name, policyNamespace, idBuffer,
                                           idLength);
    });
}

SS_EXPORT uint32_t PostHeartbeat(SS_Heartbeat handle, char* idBuffer, uint32_t* idLength) {
    return ExportFrame(
        [&](CSensorServices& services) { return services.PostHeartbeat(MessageOf(handle), idBuffer, idLength); });
}
