// CSessionConfigLoader: the binding to the session-config services module. Every other
// part of the library reaches the module through this class.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "connection/library_loader.h"
#include "zel/platform_services.h"
#include "zel/session_config.h"

namespace zel {

// The module's name as the system loads it: its SONAME (libzelSessionConfigSvcs3.so.3),
// beside the library. A module already loaded under that name (by path) is the one taken.
inline constexpr const char* kSessionConfigLibraryName = ZEL_SCS_SONAME;
// The interface version handed to SCS_Init.
inline constexpr const char* kSessionConfigInterfaceVersion = "3.0";

// The 32 entry addresses of the module, resolved by name at Init.
struct SessionConfigEntries;

// Loads the module, resolves its entry points and starts it; the forwarding operations
// pass their arguments unchanged and return the entry point's result, or
// ZEL_E_NOT_INITIALIZED while the entry table is absent (before Init, after Shutdown or
// after a failed Init) or once a later binding has taken the module over. The binding has
// no lock: Init and Shutdown must not overlap any other call of the same binding, and the
// module itself accepts concurrent calls.
//
// The module's client side is one per process. The binding that started it last owns it: a
// binding that starts it while an earlier one still holds it (a library instance shut down
// whose dispatch thread is still finishing a post) stops it and starts it afresh, and the
// earlier binding then reaches nothing but SCS_Free (a post in flight ends on its own) and
// no longer stops the module when it shuts down.
class CSessionConfigLoader : public CBaseLibraryLoader {
public:
    CSessionConfigLoader();
    ~CSessionConfigLoader() override;

    // Loads `libraryName` (from `directory` when given, else by the loader's search order),
    // resolves all 32 entry points and starts the client side (SCS_Init) and/or the server
    // side (SCS_S_Init). 0 also when already initialised (nothing is done);
    // ZEL_E_INVALIDARG for a null name or a missing entry point; the platform error number
    // when the module cannot be loaded (traced at SS_TRACE_ERROR to `trace`, naming the
    // module as it was looked for);
    // ZEL_E_NO_VIRTUAL_MEMORY; or the failure of SCS_Init / SCS_S_Init. On any failure
    // nothing of the module stays loaded.
    uint32_t Init(const char* directory, const char* libraryName, const char* agentId, uint32_t option,
                  const SS_PlatformServices* platform, const SS_TraceSink* trace, bool startClient,
                  bool startServer);
    // Stops the sides that were started (the client side only while this binding owns it),
    // unloads the module and drops the entry table; the status of SCS_ShutDown, 0 when it
    // was not called. Harmless when nothing is loaded.
    uint32_t Shutdown();

    // True between a successful Init and Shutdown, until a later binding takes over.
    bool IsInitialized() const { return m_loaded && !m_superseded; }

    // SCS_Free: releases a text or buffer handed out by the module; null is accepted.
    uint32_t Free(void* block) const;
    // SCS_RegisterSettingsChanged: the module calls `callback` after its settings changed.
    uint32_t RegisterSettingsChanged(SCS_SettingsChangedCallback callback) const;
    // SCS_UnregisterSettingsChanged: no further calls of `callback`.
    uint32_t UnregisterSettingsChanged(SCS_SettingsChangedCallback callback) const;
    // SCS_LoadLocalProperties: loads the local property file at `path`.
    uint32_t LoadLocalProperties(const char* path) const;
    // SCS_LoadGroupSettings: loads the group settings file at `path`.
    uint32_t LoadGroupSettings(const char* path) const;
    // SCS_RetrieveLocalProperty: *value receives the text of section/key (free with Free).
    uint32_t RetrieveLocalProperty(const char* section, const char* key, char** value) const;
    // SCS_GetDestinations: the controller identifiers in list order (free with Free).
    uint32_t GetDestinations(uint32_t serviceType, int32_t** servers, uint32_t* count) const;
    // SCS_GetGroupSettingsInfo: the schema version and group name texts (free with Free).
    uint32_t GetGroupSettingsInfo(uint32_t serviceType, uint32_t flags, char** schemaVersion,
                                  char** groupName) const;
    // SCS_PostData: posts `request` to controller `serverId`; the response is freed with Free.
    uint32_t PostData(uint32_t serviceType, int32_t serverId, const char* urlPath, uint32_t flags,
                      const char* mimeType, const char* request, uint32_t requestLength,
                      const uint32_t* timeouts, char** response, uint32_t* responseLength) const;
    // SCS_SetAgentId: stores and persists the agent identifier.
    uint32_t SetAgentId(const char* agentId) const;
    // SCS_SetLastGoodAgentId: stores and persists the last good agent identifier.
    uint32_t SetLastGoodAgentId(const char* agentId) const;
    // SCS_SaveGroupSettings: writes the group settings to `path` (null: the path last loaded).
    uint32_t SaveGroupSettings(const char* path) const;
    // SCS_GetControllerCount: *count receives the number of controllers.
    uint32_t GetControllerCount(uint32_t* count) const;
    // SCS_GetControllerInfo: the eight texts of controller `index` (each freed with Free).
    uint32_t GetControllerInfo(uint32_t index, char** name, char** hostName, char** port, char** type,
                               char** proxyHost, char** proxyPort, char** userName,
                               char** proxyUserName) const;
    // SCS_AddController: appends a controller given by its ten fields.
    uint32_t AddController(const char* name, const char* hostName, const char* port, const char* type,
                           const char* proxyHost, const char* proxyPort, const char* userName,
                           const char* passwd, const char* proxyUserName, const char* proxyPasswd) const;
    // SCS_DeleteController: removes the controller at list position `index`.
    uint32_t DeleteController(uint32_t index) const;
    // SCS_SetGroupnameHint: the group name reported while no group settings are loaded.
    uint32_t SetGroupnameHint(const char* hint) const;

private:
    // Resolves every entry point into a new table; false when one is missing.
    bool ResolveEntries(SessionConfigEntries& entries);

    // The entry table the forwards use: none once a later binding owns the module.
    const SessionConfigEntries* Entries() const { return m_superseded ? nullptr : m_entries.get(); }

    bool m_loaded = false;
    bool m_clientStarted = false;
    bool m_serverStarted = false;
    // Set by the binding that takes the module over, on its own thread.
    std::atomic<bool> m_superseded{false};
    std::unique_ptr<SessionConfigEntries> m_entries;
};

// Gives a text or buffer the session-config module handed out back to the module.
struct ModuleRelease {
    const CSessionConfigLoader* binding;
    void operator()(void* block) const { binding->Free(block); }
};
// A text or buffer of the session-config module, released when it goes out of scope.
using ModuleText = std::unique_ptr<char, ModuleRelease>;

}  // namespace zel
