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

SS_EXPORT uint32_t SetBasicAgentInfo(SS_Heartbeat handle, const char* qpkVersion, const char* lastQpkPath,
                                     uint32_t qpkStatus, const char* qpkStatusDescription, uint32_t agentStatus,
                                     const char* agentInstallPath, const char* daemonInstallPath, const char* model,
                                     const char* groupnameHint, uint8_t useLocalSettings, uint8_t registerAgent) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::SetBasicAgentInfo(services, MessageOf(handle), qpkVersion, lastQpkPath, qpkStatus,
                                          qpkStatusDescription, agentStatus, agentInstallPath, daemonInstallPath, model,
                                          groupnameHint, useLocalSettings != 0, registerAgent != 0);
    });
}

SS_EXPORT uint32_t SetAgentInfo(SS_Heartbeat handle, const char* qpkVersion, const char* agentStatusText,
                                const char* /*unused: not read*/, const char* agentInstallPath,
                                const char* daemonInstallPath) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::SetAgentInfo(services, MessageOf(handle), qpkVersion, agentStatusText, agentInstallPath,
                                     daemonInstallPath);
    });
}

SS_EXPORT uint32_t SetHostInfo(SS_Heartbeat handle, const char* hostName, const char* ipAddress, const char* os,
                               const char* /*unused: not read*/, const char* nbname, const char* nbdomain,
                               const char* adObjectId, const char* adGroupId) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::SetHostInfo(services, MessageOf(handle), hostName, ipAddress, os, nbname, nbdomain, adObjectId,
                                    adGroupId);
    });
}

SS_EXPORT uint32_t AddSchemaInfo(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                                 const char* version, uint8_t root, uint8_t cpeEditable, uint8_t overwrite,
                                 uint8_t getFromAgent) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddSchemaInfo(services, MessageOf(handle), name, schemaNamespace, version, root != 0,
                                      cpeEditable != 0, overwrite != 0, getFromAgent != 0);
    });
}

SS_EXPORT uint32_t AddModuleInfo(SS_Heartbeat handle, const char* name, const char* version, uint32_t status,
                                 const char* description, SS_Module* outModule) {
    return ExportFrame([&](CSensorServices& services) {
        zel::cml::CModuleInfo* module = nullptr;
        const uint32_t result = zel::ss::AddModuleInfo(services, MessageOf(handle), name, version, status, description,
                                                       outModule ? &module : nullptr);
        if (outModule) *outModule = zel::ss::HandleOf(module);
        return result;
    });
}

SS_EXPORT uint32_t AddModuleInfoParams(SS_Module module, const char* xml, uint32_t length) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddModuleInfoParams(services, zel::ss::ModuleOf(module), xml, length);
    });
}

SS_EXPORT uint32_t AddAgentParams(SS_Heartbeat handle, const char* xml, uint32_t length) {
    return ExportFrame(
        [&](CSensorServices& services) { return zel::ss::AddAgentParams(services, MessageOf(handle), xml, length); });
}

SS_EXPORT uint32_t AddSetPolicyRequest(SS_Heartbeat handle, const char* xml, uint32_t length, char* idBuffer,
                                       uint32_t* idLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddSetPolicyRequest(services, MessageOf(handle), xml, length, idBuffer, idLength);
    });
}

SS_EXPORT uint32_t AddOptAgentProperties(SS_Heartbeat handle, const char* xml, uint32_t length, char* idBuffer,
                                         uint32_t* idLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddOptAgentProperties(services, MessageOf(handle), xml, length, idBuffer, idLength);
    });
}

SS_EXPORT uint32_t AddGetSchemaRequest(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                                       const char* version, char* idBuffer, uint32_t* idLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddGetSchemaRequest(services, MessageOf(handle), name, schemaNamespace, version, idBuffer,
                                            idLength);
    });
}

SS_EXPORT uint32_t AddSetSchemaRequest(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                                       const char* version, uint8_t overwrite, const char* xml, uint32_t length,
                                       char* idBuffer, uint32_t* idLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddSetSchemaRequest(services, MessageOf(handle), name, schemaNamespace, version, overwrite != 0,
                                            xml, length, idBuffer, idLength);
    });
}

SS_EXPORT uint32_t AddSetPolicyResponse(SS_Heartbeat handle, const char* name, const char* version,
                                        const char* policyNamespace, uint32_t status, const char* statusText,
                                        const char* schemaVersion, const char* requestId, uint32_t requestIdLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddSetPolicyResponse(services, MessageOf(handle), name, version, policyNamespace, status,
                                             statusText, schemaVersion, requestId, requestIdLength);
    });
}

SS_EXPORT uint32_t AddGetSchemaResponse(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                                        const char* version, uint32_t status, const char* statusText, const char* xml,
                                        uint32_t length, uint8_t overwrite, const char* requestId,
                                        uint32_t requestIdLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddGetSchemaResponse(services, MessageOf(handle), name, schemaNamespace, version, status,
                                             statusText, xml, length, overwrite != 0, requestId, requestIdLength);
    });
}

SS_EXPORT uint32_t AddSetSchemaResponse(SS_Heartbeat handle, const char* name, const char* schemaNamespace,
                                        const char* version, uint32_t status, const char* statusText,
                                        const char* requestId, uint32_t requestIdLength) {
    return ExportFrame([&](CSensorServices& services) {
        return zel::ss::AddSetSchemaResponse(services, MessageOf(handle), name, schemaNamespace, version, status,
                                             statusText, requestId, requestIdLength);
    });
}

SS_EXPORT uint32_t PostHeartbeat(SS_Heartbeat handle, char* idBuffer, uint32_t* idLength) {
    return ExportFrame(
        [&](CSensorServices& services) { return services.PostHeartbeat(MessageOf(handle), idBuffer, idLength); });
}
