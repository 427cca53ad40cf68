// The state of the started module: properties, group settings, controller list, agent
// identity, the poster and the notifier. One instance exists between SCS_Init and
// SCS_ShutDown; every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "session_config/file_io.h"
#include "session_config/group_settings.h"
#include "session_config/http_poster.h"
#include "session_config/notifier.h"
#include "session_config/property_file.h"
#include "zel/platform_services.h"

namespace zel::scs {

// Names in the local property file.
namespace keys {
constexpr const char* kModuleSection = "session_config";
constexpr const char* kAgentId = "agentId";
constexpr const char* kLastGoodAgentId = "lastGoodAgentId";
constexpr const char* kCaFile = "caFile";
constexpr const char* kVerifyPeer = "verifyPeer";
constexpr const char* kMaxResponseBytes = "maxResponseBytes";
constexpr const char* kWatchInterval = "watchInterval";
}  // namespace keys

class CSessionConfigModule {
public:
    // Longest path accepted, in bytes.
    static constexpr std::size_t kMaxPathBytes = 4096;
    // Longest agent identifier accepted, in bytes.
    static constexpr std::size_t kMaxAgentIdBytes = 256;
    // Largest group settings document read, in bytes.
    static constexpr std::size_t kMaxGroupSettingsBytes = 16u << 20;

    CSessionConfigModule(std::string agentId, uint32_t option,
                         const SS_PlatformServices* platform, const SS_TraceSink* trace);
    ~CSessionConfigModule();
    CSessionConfigModule(const CSessionConfigModule&) = delete;
    CSessionConfigModule& operator=(const CSessionConfigModule&) = delete;

    // Ends the notifier thread after the callback in progress; no callback runs afterwards.
    void StopNotifier();
    // True on the notifier thread (inside a settings-changed callback).
    bool OnNotifierThread() const;
    CNotifier& Notifier() { return *m_notifier; }

    // Loads the property file at path; on failure the previous properties stay.
    uint32_t LoadLocalProperties(const char* path);
    // The value of key in section, or ZEL_E_SCS_PROPERTY_NOT_FOUND.
    uint32_t RetrieveLocalProperty(const char* section, const char* key, std::string& value) const;
    // Stores value under key of the module's section and rewrites the property file.
    uint32_t PersistIdentifier(const char* key, const char* value);

    // Loads the group settings document at path (all or nothing; see group_settings_document.h).
    uint32_t LoadGroupSettings(const char* path);
    // Writes the group settings to path (null: the path last loaded) atomically.
    uint32_t SaveGroupSettings(const char* path);
    // Replaces group settings and controller list by settings read from path; all or nothing.
    uint32_t ApplyGroupSettings(GroupSettings settings, const std::string& path,
                                const FileStamp& stamp);

    std::vector<int32_t> Destinations() const;
    // The schema version and the group name (the hint while no group settings are loaded).
    void GroupSettingsInfo(std::string& schemaVersion, std::string& groupName) const;
    uint32_t ControllerCount() const;
    uint32_t ControllerAt(uint32_t index, ControllerInfo& controller) const;
    uint32_t AddController(ControllerInfo controller);
    uint32_t DeleteController(uint32_t index);
    void SetGroupnameHint(std::string hint);

    // Posts to the controller with identifier serverId; see SCS_PostData.
    uint32_t Post(int32_t serverId, const PostRequest& request, std::string& response);

    const std::string& AgentId() const { return m_agentId; }

private:
    struct Controller {
        ControllerInfo info;
        int32_t id;
    };

    // Reloads the loaded files that changed on disk (each successful load notifies).
    void PollFiles();
    // Reads the module's own keys from m_properties. Caller holds m_mutex.
    void ApplyModuleProperties();
    // Rebuilds the controller list (and identifiers) from m_group. Caller holds m_mutex.
    void RebuildControllers();
    void DropUnusedConnections();
    void Trace(uint32_t level, const char* where, const std::string& message) const;

    const std::string m_agentId;
    const uint32_t m_option;
    const std::optional<SS_PlatformServices> m_platform;
    const std::optional<SS_TraceSink> m_trace;

    // Serialises the module's file rewrites and the removal of abandoned temporaries, so a
    // rewrite's own temporary is never taken for a dead writer's. Taken before m_mutex.
    std::mutex m_fileMutex;
    mutable std::mutex m_mutex;  // guards every field below; never held across a callback,
                                 // a post or a file rewrite
    CPropertyFile m_properties;
    bool m_propertiesLoaded = false;
    std::string m_propertyPath;
    FileStamp m_propertyStamp;
    PostSettings m_postSettings;
    uint32_t m_watchInterval = 0;

    GroupSettings m_group;
    bool m_groupLoaded = false;
    std::string m_groupPath;
    FileStamp m_groupStamp;
    std::vector<Controller> m_controllers;
    CServerIds m_ids;
    std::string m_groupnameHint;

    CHttpPoster m_poster;
    std::unique_ptr<CNotifier> m_notifier;  // last: its thread may call PollFiles at once
};

}  // namespace zel::scs
