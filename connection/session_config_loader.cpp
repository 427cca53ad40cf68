#include "connection/session_config_loader.h"

#include <mutex>
#include <new>
#include <string>

#include "connection/agent_trace.h"
#include "runtime/platform.h"
#include "zel/status_codes.h"

// The module's entry points in the order of its entry table.
#define ZEL_SCS_ENTRY_POINTS(X)                                                                    \
    X(SCS_Init) X(SCS_ShutDown) X(SCS_S_Init) X(SCS_S_ShutDown) X(SCS_Allocate) X(SCS_Free)        \
    X(SCS_RegisterSettingsChanged) X(SCS_UnregisterSettingsChanged) X(SCS_LoadLocalProperties)     \
    X(SCS_LoadGroupSettings) X(SCS_LoadServerSettings) X(SCS_RetrieveLocalProperty)                \
    X(SCS_GetDestinations) X(SCS_GetGroupSettingsInfo) X(SCS_PostData) X(SCS_PostDataFile)         \
    X(SCS_S_RegisterOnPostData) X(SCS_S_StartServer) X(SCS_S_StopServer) X(SCS_PostUpdateData)     \
    X(SCS_InitUpdater) X(SCS_UninitUpdater) X(SCS_SetAgentId) X(SCS_SetLastGoodAgentId)            \
    X(SCS_S_SetAgentId) X(SCS_S_SetLastGoodAgentId) X(SCS_SaveGroupSettings)                       \
    X(SCS_GetControllerCount) X(SCS_GetControllerInfo) X(SCS_AddController)                        \
    X(SCS_DeleteController) X(SCS_SetGroupnameHint)

namespace zel {

struct SessionConfigEntries {
#define ZEL_SCS_ENTRY_FIELD(name) decltype(&::name) name = nullptr;
    ZEL_SCS_ENTRY_POINTS(ZEL_SCS_ENTRY_FIELD)
#undef ZEL_SCS_ENTRY_FIELD
};

namespace {

constexpr std::size_t kEntryCount = 32;
static_assert(sizeof(SessionConfigEntries) == kEntryCount * sizeof(void (*)()),
              "the module has 32 entry points");

constexpr const char* kInitWhere = "CSessionConfigLoader::Init()";

// The binding that owns the module's client side, if any.
struct ClientOwnership {
    std::mutex mutex;
    CSessionConfigLoader* owner = nullptr;
};

ClientOwnership& Ownership() {
    // Never destroyed: a dispatch thread may still shut its binding down while the process exits.
    static ClientOwnership* const ownership = new ClientOwnership;
    return *ownership;
}

// Calls one entry of the table, or reports that the binding is not initialised.
template <typename Entry, typename... Args>
uint32_t Forward(const SessionConfigEntries* entries, Entry SessionConfigEntries::*slot, Args... args) {
    if (!entries) return ZEL_E_NOT_INITIALIZED;
    return (entries->*slot)(args...);
}

}  // namespace

CSessionConfigLoader::CSessionConfigLoader() = default;

CSessionConfigLoader::~CSessionConfigLoader() { Shutdown(); }

bool CSessionConfigLoader::ResolveEntries(SessionConfigEntries& entries) {
#define ZEL_SCS_RESOLVE(name)                                                  \
    if (void* address = GetEntry(#name))                                       \
        entries.name = reinterpret_cast<decltype(entries.name)>(address);      \
    else                                                                       \
        return false;
    ZEL_SCS_ENTRY_POINTS(ZEL_SCS_RESOLVE)
#undef ZEL_SCS_RESOLVE
    return true;
}

uint32_t CSessionConfigLoader::Init(const char* directory, const char* libraryName, const char* agentId,
                                    uint32_t option, const SS_PlatformServices* platform,
                                    const SS_TraceSink* trace, bool startClient, bool startServer) {
    if (!libraryName) return ZEL_E_INVALIDARG;
    if (m_loaded) return 0;

    std::string name = libraryName;
    if (directory && *directory) name = std::string(directory) + "/" + platform::ModuleFileName(libraryName);
    const uint32_t loadError = Load(name.c_str());
    if (loadError != 0) {
        if (TraceEnabled(trace, SS_TRACE_ERROR)) {
            const std::string text = "Error loading library '" + name + "'.  Error:  " + LastErrorText();
            AgentTrace(trace, SS_TRACE_ERROR, kInitWhere, text.c_str());
        }
        return loadError;
    }

    m_entries.reset(new (std::nothrow) SessionConfigEntries);
    if (!m_entries) {
        Shutdown();
        return ZEL_E_NO_VIRTUAL_MEMORY;
    }
    if (!ResolveEntries(*m_entries)) {
        Shutdown();
        return ZEL_E_INVALIDARG;
    }

    // The flags are set before the calls so that Shutdown also stops a side whose start
    // failed half-way.
    if (startClient) {
        m_clientStarted = true;
        uint32_t status;
        {
            ClientOwnership& ownership = Ownership();
            std::lock_guard<std::mutex> lock(ownership.mutex);
            if (ownership.owner) {
                // The earlier binding keeps its module alive for a call in progress; the
                // module restarts for this one with its own identity, platform and trace.
                ownership.owner->m_superseded = true;
                m_entries->SCS_ShutDown();
            }
            ownership.owner = this;
            status = m_entries->SCS_Init(kSessionConfigInterfaceVersion, agentId, option, platform, trace);
        }
        if (status != 0) {
            Shutdown();
            return status;
        }
    }
    if (startServer) {
        m_serverStarted = true;
        const uint32_t status =
            m_entries->SCS_S_Init(kSessionConfigInterfaceVersion, agentId, option, platform, trace);
        if (status != 0) {
            Shutdown();
            return status;
        }
    }
    m_loaded = true;
    return 0;
}

uint32_t CSessionConfigLoader::Shutdown() {
    uint32_t status = 0;
    if (m_entries && m_clientStarted) {
        ClientOwnership& ownership = Ownership();
        std::lock_guard<std::mutex> lock(ownership.mutex);
        if (ownership.owner == this) {
            status = m_entries->SCS_ShutDown();
            ownership.owner = nullptr;
        }
    }
    if (m_entries && m_serverStarted) m_entries->SCS_S_ShutDown();
    m_clientStarted = false;
    m_serverStarted = false;
    // The table points into the module, so it goes before the module does.
    m_entries.reset();
    Unload();
    m_loaded = false;
    return status;
}

uint32_t CSessionConfigLoader::Free(void* block) const {
    // Also for a binding that was taken over: a buffer of a post that was in flight then
    // still goes back to the module.
    return Forward(m_entries.get(), &SessionConfigEntries::SCS_Free, block);
}

uint32_t CSessionConfigLoader::RegisterSettingsChanged(SCS_SettingsChangedCallback callback) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_RegisterSettingsChanged, callback);
}

uint32_t CSessionConfigLoader::UnregisterSettingsChanged(SCS_SettingsChangedCallback callback) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_UnregisterSettingsChanged, callback);
}

uint32_t CSessionConfigLoader::LoadLocalProperties(const char* path) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_LoadLocalProperties, path);
}

uint32_t CSessionConfigLoader::LoadGroupSettings(const char* path) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_LoadGroupSettings, path);
}

uint32_t CSessionConfigLoader::RetrieveLocalProperty(const char* section, const char* key, char** value) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_RetrieveLocalProperty, section, key, value);
}

uint32_t CSessionConfigLoader::GetDestinations(uint32_t serviceType, int32_t** servers, uint32_t* count) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_GetDestinations, serviceType, servers, count);
}

uint32_t CSessionConfigLoader::GetGroupSettingsInfo(uint32_t serviceType, uint32_t flags, char** schemaVersion,
                                                    char** groupName) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_GetGroupSettingsInfo, serviceType, flags,
                   schemaVersion, groupName);
}

uint32_t CSessionConfigLoader::PostData(uint32_t serviceType, int32_t serverId, const char* urlPath,
                                        uint32_t flags, const char* mimeType, const char* request,
                                        uint32_t requestLength, const uint32_t* timeouts, char** response,
                                        uint32_t* responseLength) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_PostData, serviceType, serverId, urlPath, flags,
                   mimeType, request, requestLength, timeouts, response, responseLength);
}

uint32_t CSessionConfigLoader::SetAgentId(const char* agentId) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_SetAgentId, agentId);
}

uint32_t CSessionConfigLoader::SetLastGoodAgentId(const char* agentId) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_SetLastGoodAgentId, agentId);
}

uint32_t CSessionConfigLoader::SaveGroupSettings(const char* path) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_SaveGroupSettings, path);
}

uint32_t CSessionConfigLoader::GetControllerCount(uint32_t* count) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_GetControllerCount, count);
}

uint32_t CSessionConfigLoader::GetControllerInfo(uint32_t index, char** name, char** hostName, char** port,
                                                 char** type, char** proxyHost, char** proxyPort,
                                                 char** userName, char** proxyUserName) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_GetControllerInfo, index, name, hostName, port,
                   type, proxyHost, proxyPort, userName, proxyUserName);
}

uint32_t CSessionConfigLoader::AddController(const char* name, const char* hostName, const char* port,
                                             const char* type, const char* proxyHost, const char* proxyPort,
                                             const char* userName, const char* passwd,
                                             const char* proxyUserName, const char* proxyPasswd) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_AddController, name, hostName, port, type,
                   proxyHost, proxyPort, userName, passwd, proxyUserName, proxyPasswd);
}

uint32_t CSessionConfigLoader::DeleteController(uint32_t index) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_DeleteController, index);
}

uint32_t CSessionConfigLoader::SetGroupnameHint(const char* hint) const {
    return Forward(Entries(), &SessionConfigEntries::SCS_SetGroupnameHint, hint);
}

}  // namespace zel
