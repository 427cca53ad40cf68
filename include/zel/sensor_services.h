/* The sensor services library (libzelSensorSvcs3.so): the exported interface an agent uses
 * to stay in contact with its controller.
 *
 * Every function returns 0 or a status code (zel/status_codes.h) unless said otherwise.
 * Every function but SS_Init, SS_ShutDown, SS_Allocate and SS_Free returns
 * ZEL_E_SS_NOT_INITIALIZED (0xC7560003) before SS_Init and after SS_ShutDown, and
 * ZEL_E_INTERNAL (0xC7210005) when something unexpected went wrong inside. Texts are
 * NUL-terminated UTF-8. A buffer the library hands to the agent is allocated with
 * SS_Allocate and released by the agent with SS_Free; the functions that do so say it.
 * Compiles as C and C++. */
#ifndef ZEL_SENSOR_SERVICES_H
#define ZEL_SENSOR_SERVICES_H

#include <stdint.h>

#include "zel/platform_services.h"
#include "zel/status_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The interface version an agent passes to SS_Init. */
#define SS_INTERFACE_VERSION "3.0"
/* The length of the agent identifier passed to SS_Init (a GUID in text form, no braces). */
#define SS_AGENT_ID_LENGTH 36

/* Channels of the error callback: which post failed. */
#define SS_CHANNEL_HEARTBEAT 1u
#define SS_CHANNEL_PING 2u

/* Called on the dispatch thread (in synchronous mode on the posting thread) whenever a post
 * to the controller fails, with the post's status and its channel; the result is ignored.
 * No library lock is held during the call, so it may call the exports. */
typedef uint32_t (*SS_ErrorCallback)(uint32_t status, uint32_t channel);

/* Starts the library. version must be exactly "3.0"; localPropertyFile and groupSettingsFile
 * are paths; agentIdentifier has exactly 36 characters; option is handed unchanged to the
 * session-config module. platform may be null (synchronous mode: no thread, posts run on
 * the caller's thread); trace may be null. Both blocks must stay valid until the library
 * is shut down and its dispatch thread has ended. Results: 0; ZEL_E_INVALIDARG for a bad
 * argument; ZEL_I_SS_ALREADY_INITIALIZED (0x47560004) when already started (nothing
 * changes); the status of the session-config module when it cannot be loaded or the group
 * settings file cannot be loaded; in synchronous mode also the status of the property
 * lookup of "dnsCacheTimeout". A missing local property file is not a failure. SS_Init
 * waits until an instance shut down earlier has finished its clean-up. */
uint32_t SS_Init(const char* version, const char* localPropertyFile, const char* groupSettingsFile,
                 const char* agentIdentifier, uint32_t option, const SS_PlatformServices* platform,
                 const SS_TraceSink* trace);

/* Stops the library; always 0, also when it was not started. It does not wait for the
 * dispatch thread, which ends on its own and releases everything when the last call in
 * progress has left; until then that thread may still call the trace sink, the platform
 * services and (for a post in flight) the error callback. A later SS_Init waits for it. */
uint32_t SS_ShutDown(void);

/* A zero-filled block of size bytes from the library's heap, or null when the library is
 * not initialised or out of memory. The agent releases it with SS_Free. */
void* SS_Allocate(uint32_t size);

/* Releases a block from SS_Allocate or a buffer the library handed out; null is accepted.
 * Works also when the library is not initialised. */
void SS_Free(void* block);

/* Registers the error callback (null removes it), replacing any earlier one; 0. */
uint32_t SS_RegisterErrorCallback(SS_ErrorCallback callback);

/* Makes the session-config module load (again) the local property file at path; the
 * module's status. */
uint32_t SS_LoadLocalProperties(const char* path);

/* Makes the session-config module load the group settings file at path; the file the
 * library writes group settings to is not changed. The module's status. */
uint32_t SS_LoadGroupSettings(const char* path);

/* Writes the current group settings to path (null: the file last loaded); the module's
 * status. */
uint32_t SS_SaveGroupSettings(const char* path);

/* Stores the agent identifier the controller knows the agent by and persists it in the
 * local property file; the module's status. */
uint32_t SS_SetAgentId(const char* agentId);

/* Stores and persists the last agent identifier the controller accepted; the module's
 * status. */
uint32_t SS_SetLastGoodAgentId(const char* agentId);

/* The group name the module reports while no group settings are loaded (null clears it);
 * the module's status. */
uint32_t SS_SetGroupnameHint(const char* hint);

/* Goes back to the primary controller and wakes the dispatch thread; 0. */
uint32_t SS_ResetToPrimaryController(void);

/* *count receives the number of controllers; the module's status. */
uint32_t SS_GetControllerCount(uint32_t* count);

/* The texts of the controller at list position index: name, host name, port, type
 * ("http" or "https"), proxy host, proxy port, user name, proxy user name (passwords are
 * never handed out). Each non-null output receives a copy allocated with SS_Allocate, or
 * null for an absent field; the agent frees every copy with SS_Free. Null outputs are
 * skipped. On failure (the module's status, or ZEL_E_NO_VIRTUAL_MEMORY) no output is
 * written or every written one is null again. */
uint32_t SS_GetControllerInfo(uint32_t index, char** name, char** hostName, char** port, char** type,
                              char** proxyHost, char** proxyPort, char** userName, char** proxyUserName);

/* Appends a controller: hostName and port are required, type is "http" (null or empty) or
 * "https", a proxy port needs a proxy host; the texts are copied. The module's status. */
uint32_t SS_AddController(const char* name, const char* hostName, const char* port, const char* type,
                          const char* proxyHost, const char* proxyPort, const char* userName,
                          const char* passwd, const char* proxyUserName, const char* proxyPasswd);

/* Removes the controller at list position index; the module's status. */
uint32_t SS_DeleteController(uint32_t index);

#ifdef __cplusplus
}
#endif

#endif /* ZEL_SENSOR_SERVICES_H */
