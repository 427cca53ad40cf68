/* The session-config services module (libzelSessionConfigSvcs3.so): local property file,
 * group settings, controller list, agent identity and HTTP(S) posts to the controllers.
 *
 * Every entry point returns 0 or a status (zel/status_codes.h). Texts and buffers that an
 * entry point hands out are allocated by the module and released with SCS_Free; an out
 * parameter is set to null whenever the call fails. All entry points accept concurrent
 * calls from any thread. Texts are UTF-8. Compiles as C and C++. */
#ifndef ZEL_SESSION_CONFIG_H
#define ZEL_SESSION_CONFIG_H

#include <stdint.h>

#include "zel/platform_services.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Called from the module's notifier thread after the settings changed; the result is ignored. */
typedef uint32_t (*SCS_SettingsChangedCallback)(void);

/* Server side: called with each request the server receives (the server side is not built). */
typedef uint32_t (*SCS_PostDataCallback)(const char* urlPath, const char* mimeType,
                                         const char* request, uint32_t requestLength,
                                         char** response, uint32_t* responseLength);

/* Indexes of the three timeouts of SCS_PostData, in milliseconds. */
#define SCS_TIMEOUT_CONNECT 0
#define SCS_TIMEOUT_TRANSFER 1
#define SCS_TIMEOUT_DNS_CACHE 2

/* 0: starts the module; version must be "3.0"; agentId is required; platform and trace
 * may be null (both are copied). A second call while started gives 0x47590002. */
uint32_t SCS_Init(const char* version, const char* agentId, uint32_t option,
                  const SS_PlatformServices* platform, const SS_TraceSink* trace);
/* 1: stops the notifier thread (after the callback in progress) and releases every setting;
 * 0 also when not started; calls in progress finish first. From inside a settings-changed
 * callback it is refused with 0xC7590008. */
uint32_t SCS_ShutDown(void);
/* 2: server side: not implemented (0xC721003C). */
uint32_t SCS_S_Init(const char* version, const char* agentId, uint32_t option,
                    const SS_PlatformServices* platform, const SS_TraceSink* trace);
/* 3: server side: not implemented (0xC721003C). */
uint32_t SCS_S_ShutDown(void);
/* 4: *block receives size zero-filled bytes (free with SCS_Free); size 0 is bad input. */
uint32_t SCS_Allocate(uint32_t size, void** block);
/* 5: releases anything the module handed out; null is accepted; works also after shut-down. */
uint32_t SCS_Free(void* block);
/* 6: adds a settings-changed callback (registering one twice keeps one entry). */
uint32_t SCS_RegisterSettingsChanged(SCS_SettingsChangedCallback callback);
/* 7: removes the callback; waits for a call of it in progress unless called from inside it. */
uint32_t SCS_UnregisterSettingsChanged(SCS_SettingsChangedCallback callback);
/* 8: loads the local property file; on failure (0xC7590005 missing, 0xC7590006 invalid)
 * the previous properties stay. */
uint32_t SCS_LoadLocalProperties(const char* path);
/* 9: loads the group settings file (all or nothing; 0xC7590005 missing, 0xC7590006 invalid).
 * Attributes and elements the module does not know are ignored (files of newer controllers
 * load) and are not written back by SCS_SaveGroupSettings. */
uint32_t SCS_LoadGroupSettings(const char* path);
/* 10: server side: not implemented (0xC721003C). */
uint32_t SCS_LoadServerSettings(const char* path);
/* 11: *value receives the property's text (free with SCS_Free); absent: 0xC7590004, null. */
uint32_t SCS_RetrieveLocalProperty(const char* section, const char* key, char** value);
/* 12: *servers receives the controller identifiers in list order (free with SCS_Free; null
 * when the list is empty) and *count their number; serviceType is not used (pass 0). */
uint32_t SCS_GetDestinations(uint32_t serviceType, int32_t** servers, uint32_t* count);
/* 13: *schemaVersion ("1.0.0" while no group settings are loaded) and *groupName (the group
 * name, else the hint, else null); both freed with SCS_Free; the first two arguments are 0. */
uint32_t SCS_GetGroupSettingsInfo(uint32_t serviceType, uint32_t flags, char** schemaVersion,
                                  char** groupName);
/* 14: POSTs request to the controller serverId at urlPath with Content-Type mimeType.
 * timeouts: connect, transfer, DNS-cache (ms; null = 0, 0, 60000). On HTTP 200 the result
 * is 0 and *response the body (NUL-terminated beyond *responseLength; null when empty;
 * free with SCS_Free); any other result is the post's failure and *response is null. */
uint32_t SCS_PostData(uint32_t serviceType, int32_t serverId, const char* urlPath,
                      uint32_t flags, const char* mimeType, const char* request,
                      uint32_t requestLength, const uint32_t* timeouts, char** response,
                      uint32_t* responseLength);
/* 15: posting a file: not implemented (0xC721003C). */
uint32_t SCS_PostDataFile(uint32_t serviceType, int32_t serverId, const char* urlPath,
                          uint32_t flags, const char* mimeType, const char* filePath,
                          const uint32_t* timeouts, char** response, uint32_t* responseLength);
/* 16: server side: not implemented (0xC721003C). */
uint32_t SCS_S_RegisterOnPostData(SCS_PostDataCallback callback);
/* 17: server side: not implemented (0xC721003C). */
uint32_t SCS_S_StartServer(void);
/* 18: server side: not implemented (0xC721003C). */
uint32_t SCS_S_StopServer(void);
/* 19: updater: not implemented (0xC721003C). */
uint32_t SCS_PostUpdateData(uint32_t serviceType, int32_t serverId, const char* urlPath,
                            const char* mimeType, const char* request, uint32_t requestLength,
                            const char* outputPath);
/* 20: updater: not implemented (0xC721003C). */
uint32_t SCS_InitUpdater(const char* directory);
/* 21: updater: not implemented (0xC721003C). */
uint32_t SCS_UninitUpdater(void);
/* 22: stores the agent identifier and persists it as session_config/agentId in the loaded
 * local property file (atomic rewrite; other lines kept); no file loaded: 0xC7590005. */
uint32_t SCS_SetAgentId(const char* agentId);
/* 23: as SCS_SetAgentId for session_config/lastGoodAgentId. */
uint32_t SCS_SetLastGoodAgentId(const char* agentId);
/* 24: server side: not implemented (0xC721003C). */
uint32_t SCS_S_SetAgentId(const char* agentId);
/* 25: server side: not implemented (0xC721003C). */
uint32_t SCS_S_SetLastGoodAgentId(const char* agentId);
/* 26: writes the group settings to path (null: the path last loaded) atomically, passwords
 * included; a new file gets mode 0600. */
uint32_t SCS_SaveGroupSettings(const char* path);
/* 27: *count receives the number of controllers. */
uint32_t SCS_GetControllerCount(uint32_t* count);
/* 28: the texts of controller index: name, host-name, port, type, proxy-host, proxy-port,
 * user-name, proxy-user-name (never a password); null outputs are skipped; an absent field
 * gives a null text; every text is freed with SCS_Free. */
uint32_t SCS_GetControllerInfo(uint32_t index, char** name, char** hostName, char** port,
                               char** type, char** proxyHost, char** proxyPort,
                               char** userName, char** proxyUserName);
/* 29: appends a controller; hostName and port are required, type is "http" (default when
 * null or empty) or "https", a proxy port needs a proxy host. */
uint32_t SCS_AddController(const char* name, const char* hostName, const char* port,
                           const char* type, const char* proxyHost, const char* proxyPort,
                           const char* userName, const char* passwd,
                           const char* proxyUserName, const char* proxyPasswd);
/* 30: removes the controller at list position index. */
uint32_t SCS_DeleteController(uint32_t index);
/* 31: the group name reported while no group settings are loaded; null clears it. */
uint32_t SCS_SetGroupnameHint(const char* hint);

#ifdef __cplusplus
}
#endif

#endif /* ZEL_SESSION_CONFIG_H */
