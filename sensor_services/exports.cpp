// The exported functions. Each one is a few lines inside the export frame (library.h);
// the version script exports.map keeps every other symbol local.
#include "runtime/platform.h"
#include "sensor_services/library.h"
#include "sensor_services/sensor_services_object.h"
#include "zel/sensor_services.h"

#define SS_EXPORT extern "C" __attribute__((visibility("default")))

using zel::ss::AgentCallbacks;
using zel::ss::CSensorServices;
using zel::ss::ExportFrame;

SS_EXPORT uint32_t SS_Init(const char* version, const char* localPropertyFile, const char* groupSettingsFile,
                           const char* agentIdentifier, uint32_t option, const SS_PlatformServices* platform,
                           const SS_TraceSink* trace) {
    try {
        return zel::ss::InitializeLibrary(version, localPropertyFile, groupSettingsFile, agentIdentifier, option,
                                          platform, trace);
    } catch (...) {
        return ZEL_E_INTERNAL;
    }
}

SS_EXPORT uint32_t SS_ShutDown(void) { return zel::ss::ShutDownLibrary(); }

SS_EXPORT void* SS_Allocate(uint32_t size) {
    CSensorServices* const services = zel::ss::AcquireServices();
    if (!services) return nullptr;
    void* const block = zel::platform::LocalAlloc(size);
    zel::ss::ReleaseServices(services);
    return block;
}

SS_EXPORT void SS_Free(void* block) { zel::platform::LocalFree(block); }

SS_EXPORT uint32_t SS_RegisterErrorCallback(SS_ErrorCallback callback) {
    return ExportFrame([&](CSensorServices& services) { return services.RegisterErrorCallback(callback); });
}

SS_EXPORT uint32_t SS_LoadLocalProperties(const char* path) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->LoadLocalProperties(path); });
}

SS_EXPORT uint32_t SS_LoadGroupSettings(const char* path) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->LoadGroupSettings(path); });
}

SS_EXPORT uint32_t SS_SaveGroupSettings(const char* path) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->SaveGroupSettings(path); });
}

SS_EXPORT uint32_t SS_SetAgentId(const char* agentId) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->SetAgentId(agentId); });
}

SS_EXPORT uint32_t SS_SetLastGoodAgentId(const char* agentId) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->SetLastGoodAgentId(agentId); });
}

SS_EXPORT uint32_t SS_SetGroupnameHint(const char* hint) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->SetGroupnameHint(hint); });
}

SS_EXPORT uint32_t SS_ResetToPrimaryController(void) {
    return ExportFrame([](CSensorServices& services) { return services.ResetToPrimaryController(); });
}

SS_EXPORT uint32_t SS_GetControllerCount(uint32_t* count) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->GetControllerCount(count); });
}

SS_EXPORT uint32_t SS_GetControllerInfo(uint32_t index, char** name, char** hostName, char** port, char** type,
                                        char** proxyHost, char** proxyPort, char** userName,
                                        char** proxyUserName) {
    return ExportFrame([&](CSensorServices& services) {
        char** outputs[8] = {name, hostName, port, type, proxyHost, proxyPort, userName, proxyUserName};
        return services.GetControllerInfo(index, outputs);
    });
}

SS_EXPORT uint32_t SS_AddController(const char* name, const char* hostName, const char* port, const char* type,
                                    const char* proxyHost, const char* proxyPort, const char* userName,
                                    const char* passwd, const char* proxyUserName, const char* proxyPasswd) {
    return ExportFrame([&](CSensorServices& services) {
        return services.Binding()->AddController(name, hostName, port, type, proxyHost, proxyPort, userName, passwd,
                                                 proxyUserName, proxyPasswd);
    });
}

SS_EXPORT uint32_t SS_DeleteController(uint32_t index) {
    return ExportFrame([&](CSensorServices& services) { return services.Binding()->DeleteController(index); });
}

SS_EXPORT uint32_t PostPing(char* idBuffer, uint32_t* idLength) {
    return ExportFrame([&](CSensorServices& services) { return services.PostPing(idBuffer, idLength); });
}

// The callback registrations: each stores its pointer under the object lock.
#define SS_REGISTER_EXPORT(Name, Type, slot)                                                              \
    SS_EXPORT uint32_t Name(Type callback) {                                                               \
        return ExportFrame(                                                                                \
            [&](CSensorServices& services) { return services.RegisterCallback(&AgentCallbacks::slot, callback); }); \
    }

SS_REGISTER_EXPORT(RegisterGetSchemaRequest, SS_SchemaCallback, getSchemaRequest)
SS_REGISTER_EXPORT(RegisterSetSchemaRequest, SS_SchemaCallback, setSchemaRequest)
SS_REGISTER_EXPORT(RegisterGetSchemaResponse, SS_SchemaCallback, getSchemaResponse)
SS_REGISTER_EXPORT(RegisterSetSchemaResponse, SS_SchemaCallback, setSchemaResponse)
SS_REGISTER_EXPORT(RegisterGetPolicyResponse, SS_PolicyCallback, getPolicyResponse)
SS_REGISTER_EXPORT(RegisterSetPolicyResponse, SS_PolicyCallback, setPolicyResponse)
SS_REGISTER_EXPORT(RegisterGenericResponse, SS_GenericResponseCallback, genericResponse)
SS_REGISTER_EXPORT(RegisterResponseComplete, SS_ResponseCompleteCallback, responseComplete)
SS_REGISTER_EXPORT(RegisterPingResponse, SS_PingCallback, pingResponse)
SS_REGISTER_EXPORT(RegisterGroupSettingsResponse, SS_PolicyCallback, groupSettings)

#undef SS_REGISTER_EXPORT
