// The heartbeat construction operations behind the exports of that family. Each takes the
// heartbeat as the CCmlMessage its handle points to and the services object for the trace
// sink and the callbacks; the argument rules are those of zel/sensor_services.h. Each
// traces with its own location, "CSensorServices::<export name>()".
#pragma once

#include <cstdint>

#include "zel/sensor_services.h"

namespace zel::cml {
class CCmlMessage;
class CModuleInfo;
}  // namespace zel::cml

namespace zel::ss {

class CSensorServices;

uint32_t CreateHeartbeat(const CSensorServices& services, cml::CCmlMessage** outHandle, const char* agentId,
                         const char* name, const char* agentNamespace, const char* version, const char* ipAddress);

uint32_t AddGetPolicyRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                             const char* name, const char* policyNamespace, const char* schemaVersion,
                             char* idBuffer, uint32_t* idLength);
uint32_t AddAgentPolicyInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                            const char* name, const char* policyNamespace, char* idBuffer, uint32_t* idLength);

// The handle types of the public header, as the library sees them.
inline cml::CCmlMessage* MessageOf(SS_Heartbeat handle) { return reinterpret_cast<cml::CCmlMessage*>(handle); }
inline SS_Heartbeat HandleOf(cml::CCmlMessage* message) { return reinterpret_cast<SS_Heartbeat>(message); }
inline cml::CModuleInfo* ModuleOf(SS_Module module) { return reinterpret_cast<cml::CModuleInfo*>(module); }
inline SS_Module HandleOf(cml::CModuleInfo* module) { return reinterpret_cast<SS_Module>(module); }

}  // namespace zel::ss
