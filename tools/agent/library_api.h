// The sensor services library as ss-agent uses it: loaded with dlopen, as an agent that
// ships without a link-time dependency on it would, with every export looked up by name.
#pragma once

#include <string>

#include "zel/sensor_services.h"

namespace zel::agent {

// Every export of the library: X(name).
#define ZEL_AGENT_EXPORTS(X)                                                                                     \
    X(SS_Init) X(SS_ShutDown) X(SS_Allocate) X(SS_Free) X(SS_RegisterErrorCallback) X(SS_LoadLocalProperties)    \
    X(SS_LoadGroupSettings) X(SS_SaveGroupSettings) X(SS_SetAgentId) X(SS_SetLastGoodAgentId)                    \
    X(SS_SetGroupnameHint) X(SS_ResetToPrimaryController) X(SS_GetControllerCount) X(SS_GetControllerInfo)       \
    X(SS_AddController) X(SS_DeleteController) X(CreateHeartbeat) X(FreeHeartbeat) X(SetBasicAgentInfo)          \
    X(SetHostInfo) X(SetAgentInfo) X(AddSchemaInfo) X(AddModuleInfo) X(AddModuleInfoParams) X(AddAgentParams)    \
    X(AddOptAgentProperties) X(AddAgentPolicyInfo) X(AddGetPolicyRequest) X(AddSetPolicyRequest)                 \
    X(AddGetSchemaRequest) X(AddSetSchemaRequest) X(AddSetPolicyResponse) X(AddGetSchemaResponse)                \
    X(AddSetSchemaResponse) X(PostHeartbeat) X(RegisterGetPolicyResponse) X(RegisterSetPolicyResponse)           \
    X(RegisterGetSchemaResponse) X(RegisterSetSchemaResponse) X(RegisterGetSchemaRequest)                        \
    X(RegisterSetSchemaRequest) X(RegisterGenericResponse) X(RegisterResponseComplete) X(PostPing)               \
    X(RegisterPingResponse) X(RegisterGroupSettingsResponse)

// The loaded library: one pointer per export, typed like the declaration in the header.
class LibraryApi {
public:
    // Loads the library at `path` and looks up every export; false with `error` set when
    // the library or one export is missing.
    bool Load(const std::string& path, std::string& error);
    ~LibraryApi();

#define ZEL_AGENT_POINTER(name) decltype(&::name) name = nullptr;
    ZEL_AGENT_EXPORTS(ZEL_AGENT_POINTER)
#undef ZEL_AGENT_POINTER

private:
    void* m_module = nullptr;
};

}  // namespace zel::agent
