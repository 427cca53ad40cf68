#include "session_config/module.h"

#include <cstring>
#include <set>

#include "session_config/group_settings_document.h"
#include "zel/status_codes.h"

namespace zel::scs {
namespace {

// A decimal number of at most 19 digits, or nothing.
std::optional<uint64_t> Decimal(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

// A text argument that is present, at most limit bytes, UTF-8 and free of control characters.
bool IsCleanArgument(const char* text, std::size_t limit) {
    if (!text) return false;
    const std::size_t length = ::strnlen(text, limit + 1);
    if (length > limit) return false;
    const std::string_view view(text, length);
    if (!IsValidUtf8(view)) return false;
    for (char c : view)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace

CSessionConfigModule::CSessionConfigModule(std::string agentId, uint32_t option,
                                           const SS_PlatformServices* platform,
                                           const SS_TraceSink* trace)
    : m_agentId(std::move(agentId)),
      m_option(option),
      m_platform(platform ? std::optional<SS_PlatformServices>(*platform) : std::nullopt),
      m_trace(trace ? std::optional<SS_TraceSink>(*trace) : std::nullopt),
      m_notifier(std::make_unique<CNotifier>([this] { PollFiles(); })) {}

CSessionConfigModule::~CSessionConfigModule() { StopNotifier(); }

void CSessionConfigModule::StopNotifier() { m_notifier->Stop(); }

bool CSessionConfigModule::OnNotifierThread() const { return m_notifier->IsNotifierThread(); }

void CSessionConfigModule::Trace(uint32_t level, const char* where,
                                 const std::string& message) const {
    if (m_trace && m_trace->trace && (m_trace->levelMask & level))
        m_trace->trace(m_trace->context, level, message.c_str(), where);
}

uint32_t CSessionConfigModule::LoadLocalProperties(const char* path) {
    if (!IsCleanArgument(path, kMaxPathBytes) || !*path) return ZEL_E_SCS_BAD_INPUT;
    {
        // Writers killed mid-rewrite (this process earlier, or another) leave their
        // temporaries; the next load clears them.
        std::lock_guard<std::mutex> files(m_fileMutex);
        RemoveAbandonedTemporaries(path);
    }
    uint32_t status = 0;
    uint32_t watchInterval = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string text;
        FileStamp stamp;
        switch (ReadWholeFile(path, CPropertyFile::kMaxFileBytes, text, &stamp)) {
            case ReadOutcome::Ok: break;
            case ReadOutcome::TooLarge: status = ZEL_E_SCS_FILE_INVALID; break;
            default: status = ZEL_E_SCS_FILE_NOT_LOADED; break;
        }
        CPropertyFile properties;
        if (status == 0 && !properties.Parse(text)) status = ZEL_E_SCS_FILE_INVALID;
        if (status == 0) {
            m_properties = std::move(properties);
            m_propertiesLoaded = true;
            m_propertyPath = path;
            m_propertyStamp = stamp;
            ApplyModuleProperties();
            watchInterval = m_watchInterval;
        }
    }
    if (status != 0) {
        Trace(SS_TRACE_WARNING, "SCS_LoadLocalProperties()",
              std::string("Unable to load local property file: ") + path);
        return status;
    }
    m_notifier->SetWatchInterval(watchInterval);
    m_notifier->Notify();
    return 0;
}

void CSessionConfigModule::ApplyModuleProperties() {
    const char* section = keys::kModuleSection;
    PostSettings settings;
    if (auto caFile = m_properties.Lookup(section, keys::kCaFile)) settings.caFile = *caFile;
    if (auto verify = Decimal(m_properties.Lookup(section, keys::kVerifyPeer)))
        settings.verifyPeer = *verify != 0;
    if (auto limit = Decimal(m_properties.Lookup(section, keys::kMaxResponseBytes)))
        settings.maxResponseBytes = *limit;
    m_postSettings = settings;
    const auto interval = Decimal(m_properties.Lookup(section, keys::kWatchInterval));
    m_watchInterval = interval && *interval <= 86400 ? static_cast<uint32_t>(*interval) : 0;
}

uint32_t CSessionConfigModule::RetrieveLocalProperty(const char* section, const char* key,
                                                     std::string& value) const {
    if (!IsCleanArgument(section, kMaxFieldBytes) || !IsCleanArgument(key, kMaxFieldBytes) ||
        !*key)
        return ZEL_E_SCS_BAD_INPUT;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_properties.Lookup(section, key);
    if (!found) return ZEL_E_SCS_PROPERTY_NOT_FOUND;
    value = std::move(*found);
    return 0;
}

uint32_t CSessionConfigModule::PersistIdentifier(const char* key, const char* value) {
    if (!IsCleanArgument(value, kMaxAgentIdBytes) || !*value) return ZEL_E_SCS_BAD_INPUT;
    const std::string_view text(value);
    // Blanks at either end would be trimmed away when the file is read back.
    if (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' || text.back() == '\t')
        return ZEL_E_SCS_BAD_INPUT;

    std::lock_guard<std::mutex> files(m_fileMutex);
    std::string path;
    CPropertyFile updated;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_propertiesLoaded) return ZEL_E_SCS_FILE_NOT_LOADED;
        path = m_propertyPath;
        updated = m_properties;
    }
    // Start from the file as it is on disk now, so edits made since the load survive;
    // fall back to the loaded copy when the file is gone or no longer readable.
    std::string current;
    CPropertyFile onDisk;
    if (ReadWholeFile(path, CPropertyFile::kMaxFileBytes, current) == ReadOutcome::Ok &&
        onDisk.Parse(current))
        updated = std::move(onDisk);
    updated.Set(keys::kModuleSection, key, text);
    RemoveAbandonedTemporaries(path);
    FileStamp stamp;
    // The rewrite runs without m_mutex: posts and lookups go on while it is flushed.
    if (ReplaceFileAtomically(path, updated.Serialize(), 0600, &stamp) != 0) {
        Trace(SS_TRACE_ERROR, "CSessionConfigModule::PersistIdentifier()",
              "Unable to rewrite local property file: " + path);
        return ZEL_E_SCS_LOCAL_WRITE;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    // A load of another file meanwhile replaced the properties; this file is written anyway.
    if (m_propertyPath == path) {
        m_properties = std::move(updated);
        // The module's own write is not a change for the watcher.
        m_propertyStamp = stamp;
        ApplyModuleProperties();
    }
    return 0;
}

uint32_t CSessionConfigModule::LoadGroupSettings(const char* path) {
    if (!IsCleanArgument(path, kMaxPathBytes) || !*path) return ZEL_E_SCS_BAD_INPUT;
    {
        // As for the property file: a save killed mid-write leaves its temporary behind.
        std::lock_guard<std::mutex> files(m_fileMutex);
        RemoveAbandonedTemporaries(path);
    }
    std::string text;
    FileStamp stamp;
    switch (ReadWholeFile(path, kMaxGroupSettingsBytes, text, &stamp)) {
        case ReadOutcome::Ok: break;
        case ReadOutcome::TooLarge: return ZEL_E_SCS_FILE_INVALID;
        default: return ZEL_E_SCS_FILE_NOT_LOADED;
    }
    // The parse runs without the lock: posts and lookups go on meanwhile.
    GroupSettings settings;
    if (ReadGroupSettingsDocument(text, settings) != 0) {
        Trace(SS_TRACE_WARNING, "SCS_LoadGroupSettings()",
              std::string("Unable to read group settings file: ") + path);
        return ZEL_E_SCS_FILE_INVALID;
    }
    return ApplyGroupSettings(std::move(settings), path, stamp);
}

uint32_t CSessionConfigModule::ApplyGroupSettings(GroupSettings settings, const std::string& path,
                                                  const FileStamp& stamp) {
    if (ValidateGroupSettings(settings) != 0) return ZEL_E_SCS_FILE_INVALID;
    if (settings.schemaVersion.empty()) settings.schemaVersion = GroupSettings::kDefaultSchemaVersion;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_group = std::move(settings);
        m_groupLoaded = true;
        m_groupPath = path;
        m_groupStamp = stamp;
        RebuildControllers();
    }
    DropUnusedConnections();
    m_notifier->Notify();
    return 0;
}

uint32_t CSessionConfigModule::SaveGroupSettings(const char* path) {
    if (path && (!IsCleanArgument(path, kMaxPathBytes) || !*path)) return ZEL_E_SCS_BAD_INPUT;
    std::lock_guard<std::mutex> files(m_fileMutex);
    std::string target;
    GroupSettings settings;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        target = path ? std::string(path) : m_groupPath;
        if (target.empty()) return ZEL_E_SCS_FILE_NOT_LOADED;
        settings.groupName = m_group.groupName;
        settings.version = m_group.version;
        settings.schemaVersion = m_group.schemaVersion;
        for (const Controller& controller : m_controllers)
            settings.controllers.push_back(controller.info);
    }
    const std::string text = WriteGroupSettingsDocument(settings);
    RemoveAbandonedTemporaries(target);
    FileStamp stamp;
    // The document holds passwords: a new file is readable by its owner only.
    if (ReplaceFileAtomically(target, text, 0600, &stamp) != 0) {
        Trace(SS_TRACE_ERROR, "CSessionConfigModule::SaveGroupSettings()",
              "Unable to write group settings file: " + target);
        return ZEL_E_SCS_LOCAL_WRITE;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    // The module's own write is not a change for the watcher.
    if (target == m_groupPath) m_groupStamp = stamp;
    return 0;
}

void CSessionConfigModule::RebuildControllers() {
    m_controllers.clear();
    for (const ControllerInfo& info : m_group.controllers)
        m_controllers.push_back(Controller{info, m_ids.IdentifierOf(info)});
}

void CSessionConfigModule::DropUnusedConnections() {
    std::set<int32_t> inUse;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Controller& controller : m_controllers) inUse.insert(controller.id);
    }
    m_poster.KeepOnly(inUse);
}

std::vector<int32_t> CSessionConfigModule::Destinations() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<int32_t> ids;
    ids.reserve(m_controllers.size());
    for (const Controller& controller : m_controllers) ids.push_back(controller.id);
    return ids;
}

void CSessionConfigModule::GroupSettingsInfo(std::string& schemaVersion,
                                             std::string& groupName) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    schemaVersion = m_groupLoaded ? m_group.schemaVersion : GroupSettings::kDefaultSchemaVersion;
    groupName = m_groupLoaded ? m_group.groupName : m_groupnameHint;
}

uint32_t CSessionConfigModule::ControllerCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<uint32_t>(m_controllers.size());
}

uint32_t CSessionConfigModule::ControllerAt(uint32_t index, ControllerInfo& controller) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (index >= m_controllers.size()) return ZEL_E_SCS_BAD_INPUT;
    controller = m_controllers[index].info;
    return 0;
}

uint32_t CSessionConfigModule::AddController(ControllerInfo controller) {
    if (const uint32_t status = ValidateController(controller)) return status;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int32_t id = m_ids.IdentifierOf(controller);
        m_group.controllers.push_back(controller);
        m_controllers.push_back(Controller{std::move(controller), id});
    }
    m_notifier->Notify();
    return 0;
}

uint32_t CSessionConfigModule::DeleteController(uint32_t index) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= m_controllers.size()) return ZEL_E_SCS_BAD_INPUT;
        m_controllers.erase(m_controllers.begin() + index);
        m_group.controllers.erase(m_group.controllers.begin() + index);
    }
    DropUnusedConnections();
    m_notifier->Notify();
    return 0;
}

void CSessionConfigModule::SetGroupnameHint(std::string hint) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_groupnameHint = std::move(hint);
}

uint32_t CSessionConfigModule::Post(int32_t serverId, const PostRequest& request,
                                    std::string& response) {
    if (const uint32_t status = ValidatePostArguments(request.urlPath, request.mimeType))
        return status;
    if (!request.body && request.bodyLength != 0) return ZEL_E_SCS_BAD_INPUT;
    ControllerInfo controller;
    PostSettings settings;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Controller* found = nullptr;
        for (const Controller& candidate : m_controllers)
            if (candidate.id == serverId) found = &candidate;
        if (!found) return ZEL_E_SCS_UNKNOWN_DESTINATION;
        controller = found->info;
        settings = m_postSettings;
    }
    // The post runs without the lock: other threads load, add and post meanwhile.
    return m_poster.Post(serverId, controller, settings, request, response);
}

void CSessionConfigModule::PollFiles() {
    std::string propertyPath, groupPath;
    FileStamp propertyStamp, groupStamp;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_propertiesLoaded) propertyPath = m_propertyPath;
        if (m_groupLoaded) groupPath = m_groupPath;
        propertyStamp = m_propertyStamp;
        groupStamp = m_groupStamp;
    }
    // The loads below notify by themselves; a change that fails to load keeps the old
    // settings and is retried at the next poll only if the file changes again.
    if (!propertyPath.empty()) {
        const FileStamp now = StampOf(propertyPath);
        if (now.exists && now != propertyStamp) {
            if (LoadLocalProperties(propertyPath.c_str()) != 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_propertyStamp = now;
            }
        }
    }
    if (!groupPath.empty()) {
        const FileStamp now = StampOf(groupPath);
        if (now.exists && now != groupStamp) {
            if (LoadGroupSettings(groupPath.c_str()) != 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_groupStamp = now;
            }
        }
    }
}

}  // namespace zel::scs
