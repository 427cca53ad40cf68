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

// The agent's state; send-new-schemas follows whether a set-schema-request callback is
// registered at this moment.
uint32_t SetBasicAgentInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* qpkVersion,
                           const char* lastQpkPath, uint32_t qpkStatus, const char* qpkStatusDescription,
                           uint32_t agentStatus, const char* agentInstallPath, const char* daemonInstallPath,
                           const char* model, const char* groupnameHint, bool useLocalSettings, bool registerAgent);
// SetBasicAgentInfo with the agent status given as decimal text.
uint32_t SetAgentInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* qpkVersion,
                      const char* agentStatusText, const char* agentInstallPath, const char* daemonInstallPath);
uint32_t SetHostInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* hostName,
                     const char* ipAddress, const char* os, const char* nbname, const char* nbdomain,
                     const char* adObjectId, const char* adGroupId);
uint32_t AddSchemaInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                       const char* schemaNamespace, const char* version, bool root, bool cpeEditable, bool overwrite,
                       bool getFromAgent);
// `outModule`, when given, receives the stored module (null on failure).
uint32_t AddModuleInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* name, const char* version,
                       uint32_t status, const char* description, cml::CModuleInfo** outModule);

uint32_t AddGetPolicyRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                             const char* name, const char* policyNamespace, const char* schemaVersion, char* idBuffer,
                             uint32_t* idLength);
uint32_t AddAgentPolicyInfo(const CSensorServices& services, cml::CCmlMessage* handle, const char* token,
                            const char* name, const char* policyNamespace, char* idBuffer, uint32_t* idLength);
uint32_t AddGetSchemaRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                             const char* schemaNamespace, const char* version, char* idBuffer, uint32_t* idLength);
uint32_t AddSetPolicyResponse(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                              const char* version, const char* policyNamespace, uint32_t status, const char* statusText,
                              const char* schemaVersion, const char* requestId, uint32_t requestIdLength);
uint32_t AddSetSchemaResponse(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                              const char* schemaNamespace, const char* version, uint32_t status, const char* statusText,
                              const char* requestId, uint32_t requestIdLength);

// The operations that read caller-supplied XML (heartbeat_caller_xml.cpp). A text that
// cannot be parsed gives ZEL_E_SS_POLICY_NOT_LOADED and leaves the heartbeat as it was.
uint32_t AddModuleInfoParams(const CSensorServices& services, cml::CModuleInfo* module, const char* xml,
                             uint32_t length);
uint32_t AddAgentParams(const CSensorServices& services, cml::CCmlMessage* handle, const char* xml, uint32_t length);
uint32_t AddSetPolicyRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* xml,
                             uint32_t length, char* idBuffer, uint32_t* idLength);
uint32_t AddOptAgentProperties(const CSensorServices& services, cml::CCmlMessage* handle, const char* xml,
                               uint32_t length, char* idBuffer, uint32_t* idLength);
uint32_t AddSetSchemaRequest(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                             const char* schemaNamespace, const char* version, bool overwrite, const char* xml,
                             uint32_t length, char* idBuffer, uint32_t* idLength);
uint32_t AddGetSchemaResponse(const CSensorServices& services, cml::CCmlMessage* handle, const char* name,
                              const char* schemaNamespace, const char* version, uint32_t status, const char* statusText,
                              const char* xml, uint32_t length, bool overwrite, const char* requestId,
                              uint32_t requestIdLength);

// The handle types of the public header, as the library sees them.
inline cml::CCmlMessage* MessageOf(SS_Heartbeat handle) { return reinterpret_cast<cml::CCmlMessage*>(handle); }
inline SS_Heartbeat HandleOf(cml::CCmlMessage* message) { return reinterpret_cast<SS_Heartbeat>(message); }
inline cml::CModuleInfo* ModuleOf(SS_Module module) { return reinterpret_cast<cml::CModuleInfo*>(module); }
inline SS_Module HandleOf(cml::CModuleInfo* module) { return reinterpret_cast<SS_Module>(module); }

}  // namespace zel::ss
