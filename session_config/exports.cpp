// The 32 entry points of the module. Each one is a few lines inside one of two frames:
// Guarded (catch-all) and WithModule (initialisation check, a reference to the module for
// the duration of the call, catch-all).
#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/platform.h"
#include "session_config/module.h"
#include "zel/session_config.h"
#include "zel/status_codes.h"

// The library is built with hidden visibility; only these entry points are exported (the
// version script exports.map then keeps everything else local).
#define SCS_EXPORT __attribute__((visibility("default")))

using zel::scs::ControllerInfo;
using zel::scs::CSessionConfigModule;

namespace {

constexpr const char* kInterfaceVersion = "3.0";

// The started module. Calls copy the pointer under the mutex, so SCS_ShutDown can
// unpublish it while calls are in progress; the last of them destroys it. (The sensor
// services library waits at exit for its dispatch threads before these go.)
struct Published {
    std::mutex mutex;
    std::shared_ptr<CSessionConfigModule> module;
};

Published& Current() {
    static Published published;
    return published;
}

std::shared_ptr<CSessionConfigModule> CurrentModule() {
    Published& published = Current();
    std::lock_guard<std::mutex> lock(published.mutex);
    return published.module;
}

template <typename Body>
uint32_t Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return ZEL_E_SCS_UNCAUGHT_EXCEPTION;
    }
}

template <typename Body>
uint32_t WithModule(Body&& body) noexcept {
    return Guarded([&]() -> uint32_t {
        const std::shared_ptr<CSessionConfigModule> module = CurrentModule();
        if (!module) return ZEL_E_SCS_NOT_INITIALIZED;
        return body(*module);
    });
}

// Sets every given output to null, so a failing call never leaves an old pointer behind.
template <typename... Out>
void ClearOutputs(Out*... outputs) {
    ((outputs ? (void)(*outputs = nullptr) : (void)0), ...);
}

// A copy of text for the caller (released with SCS_Free); null when text is empty.
char* CopyOut(const std::string& text) {
    if (text.empty()) return nullptr;
    auto* copy = static_cast<char*>(zel::platform::LocalAlloc(text.size() + 1));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, text.data(), text.size());
    return copy;
}

// A text argument copied, with null read as empty.
std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

std::once_flag g_transportOnce;
CURLcode g_transportStatus = CURLE_FAILED_INIT;

}  // namespace

extern "C" {

SCS_EXPORT uint32_t SCS_Init(const char* version, const char* agentId,
                                                         uint32_t option,
                                                         const SS_PlatformServices* platform,
                                                         const SS_TraceSink* trace) {
    return Guarded([&]() -> uint32_t {
        if (!version || std::strcmp(version, kInterfaceVersion) != 0 || !agentId ||
            ::strnlen(agentId, CSessionConfigModule::kMaxAgentIdBytes + 1) >
                CSessionConfigModule::kMaxAgentIdBytes)
            return ZEL_E_SCS_BAD_INPUT;
        Published& published = Current();
        std::lock_guard<std::mutex> lock(published.mutex);
        if (published.module) return ZEL_I_SCS_ALREADY_INITIALIZED;
        // libcurl's global set-up is not thread-safe: it runs once, before the module
        // starts its own thread, and is never undone while the process may still post.
        std::call_once(g_transportOnce, [] { g_transportStatus = curl_global_init(CURL_GLOBAL_ALL); });
        if (g_transportStatus != CURLE_OK) return ZEL_E_SCS_TRANSPORT_INIT;
        published.module = std::make_shared<CSessionConfigModule>(agentId, option, platform, trace);
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_ShutDown(void) {
    return Guarded([&]() -> uint32_t {
        std::shared_ptr<CSessionConfigModule> module = CurrentModule();
        if (!module) return ZEL_S_OK;
        // From inside a settings-changed callback the notifier could not be joined.
        if (module->OnNotifierThread()) return ZEL_E_SCS_BAD_INPUT;
        {
            Published& published = Current();
            std::lock_guard<std::mutex> lock(published.mutex);
            if (published.module != module) return ZEL_S_OK;
            published.module.reset();
        }
        module->StopNotifier();
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_S_Init(const char*, const char*, uint32_t,
                                                           const SS_PlatformServices*,
                                                           const SS_TraceSink*) {
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_S_ShutDown(void) { return ZEL_E_NOTIMPL; }

SCS_EXPORT uint32_t SCS_Allocate(uint32_t size, void** block) {
    ClearOutputs(block);
    return WithModule([&](CSessionConfigModule&) -> uint32_t {
        if (!block || size == 0) return ZEL_E_SCS_BAD_INPUT;
        *block = zel::platform::LocalAlloc(size);
        return *block ? ZEL_S_OK : ZEL_E_SCS_UNCAUGHT_EXCEPTION;
    });
}

SCS_EXPORT uint32_t SCS_Free(void* block) {
    zel::platform::LocalFree(block);
    return ZEL_S_OK;
}

SCS_EXPORT uint32_t SCS_RegisterSettingsChanged(
    SCS_SettingsChangedCallback callback) {
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!callback) return ZEL_E_SCS_BAD_INPUT;
        module.Notifier().Register(callback);
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_UnregisterSettingsChanged(
    SCS_SettingsChangedCallback callback) {
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!callback) return ZEL_E_SCS_BAD_INPUT;
        return module.Notifier().Unregister(callback) ? ZEL_S_OK : ZEL_E_SCS_BAD_INPUT;
    });
}

SCS_EXPORT uint32_t SCS_LoadLocalProperties(const char* path) {
    return WithModule([&](CSessionConfigModule& module) { return module.LoadLocalProperties(path); });
}

SCS_EXPORT uint32_t SCS_LoadGroupSettings(const char* path) {
    return WithModule([&](CSessionConfigModule& module) { return module.LoadGroupSettings(path); });
}

SCS_EXPORT uint32_t SCS_LoadServerSettings(const char*) {
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_RetrieveLocalProperty(const char* section,
                                                                          const char* key,
                                                                          char** value) {
    ClearOutputs(value);
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!value) return ZEL_E_SCS_BAD_INPUT;
        std::string text;
        if (const uint32_t status = module.RetrieveLocalProperty(section, key, text)) return status;
        // An empty value is present: it is handed out as an empty text, not as null.
        auto* copy = static_cast<char*>(zel::platform::LocalAlloc(text.size() + 1));
        if (!copy) return ZEL_E_SCS_UNCAUGHT_EXCEPTION;
        std::memcpy(copy, text.data(), text.size());
        *value = copy;
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_GetDestinations(uint32_t, int32_t** servers,
                                                                    uint32_t* count) {
    ClearOutputs(servers);
    if (count) *count = 0;
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!servers || !count) return ZEL_E_SCS_BAD_INPUT;
        const std::vector<int32_t> ids = module.Destinations();
        if (ids.empty()) return ZEL_S_OK;
        auto* array = static_cast<int32_t*>(zel::platform::LocalAlloc(ids.size() * sizeof(int32_t)));
        if (!array) return ZEL_E_SCS_UNCAUGHT_EXCEPTION;
        std::memcpy(array, ids.data(), ids.size() * sizeof(int32_t));
        *servers = array;
        *count = static_cast<uint32_t>(ids.size());
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_GetGroupSettingsInfo(uint32_t, uint32_t,
                                                                         char** schemaVersion,
                                                                         char** groupName) {
    ClearOutputs(schemaVersion, groupName);
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!schemaVersion || !groupName) return ZEL_E_SCS_BAD_INPUT;
        std::string schema, name;
        module.GroupSettingsInfo(schema, name);
        std::unique_ptr<char, void (*)(void*)> schemaCopy(CopyOut(schema), zel::platform::LocalFree);
        char* nameCopy = CopyOut(name);
        *schemaVersion = schemaCopy.release();
        *groupName = nameCopy;
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_PostData(
    uint32_t, int32_t serverId, const char* urlPath, uint32_t, const char* mimeType,
    const char* request, uint32_t requestLength, const uint32_t* timeouts, char** response,
    uint32_t* responseLength) {
    ClearOutputs(response);
    if (responseLength) *responseLength = 0;
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!response || !responseLength) return ZEL_E_SCS_BAD_INPUT;
        zel::scs::PostRequest post;
        post.urlPath = urlPath;
        post.mimeType = mimeType;
        post.body = request;
        post.bodyLength = requestLength;
        if (timeouts) {
            post.connectTimeoutMs = timeouts[SCS_TIMEOUT_CONNECT];
            post.transferTimeoutMs = timeouts[SCS_TIMEOUT_TRANSFER];
            post.dnsCacheTimeoutMs = timeouts[SCS_TIMEOUT_DNS_CACHE];
        }
        std::string body;
        const uint32_t status = module.Post(serverId, post, body);
        if (status != ZEL_S_OK || body.empty()) return status;
        // One byte more than the body: a zero after it, so a text reply can be read in place.
        auto* copy = static_cast<char*>(zel::platform::LocalAlloc(body.size() + 1));
        if (!copy) return ZEL_E_SCS_COMMUNICATION;
        std::memcpy(copy, body.data(), body.size());
        *response = copy;
        *responseLength = static_cast<uint32_t>(body.size());
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_PostDataFile(uint32_t, int32_t, const char*,
                                                                 uint32_t, const char*,
                                                                 const char*, const uint32_t*,
                                                                 char** response,
                                                                 uint32_t* responseLength) {
    ClearOutputs(response);
    if (responseLength) *responseLength = 0;
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_S_RegisterOnPostData(SCS_PostDataCallback) {
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_S_StartServer(void) { return ZEL_E_NOTIMPL; }

SCS_EXPORT uint32_t SCS_S_StopServer(void) { return ZEL_E_NOTIMPL; }

SCS_EXPORT uint32_t SCS_PostUpdateData(uint32_t, int32_t, const char*,
                                                                   const char*, const char*,
                                                                   uint32_t, const char*) {
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_InitUpdater(const char*) {
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_UninitUpdater(void) { return ZEL_E_NOTIMPL; }

SCS_EXPORT uint32_t SCS_SetAgentId(const char* agentId) {
    return WithModule([&](CSessionConfigModule& module) {
        return module.PersistIdentifier(zel::scs::keys::kAgentId, agentId);
    });
}

SCS_EXPORT uint32_t SCS_SetLastGoodAgentId(const char* agentId) {
    return WithModule([&](CSessionConfigModule& module) {
        return module.PersistIdentifier(zel::scs::keys::kLastGoodAgentId, agentId);
    });
}

SCS_EXPORT uint32_t SCS_S_SetAgentId(const char*) {
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_S_SetLastGoodAgentId(const char*) {
    return ZEL_E_NOTIMPL;
}

SCS_EXPORT uint32_t SCS_SaveGroupSettings(const char* path) {
    return WithModule([&](CSessionConfigModule& module) { return module.SaveGroupSettings(path); });
}

SCS_EXPORT uint32_t SCS_GetControllerCount(uint32_t* count) {
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!count) return ZEL_E_SCS_BAD_INPUT;
        *count = module.ControllerCount();
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_GetControllerInfo(
    uint32_t index, char** name, char** hostName, char** port, char** type, char** proxyHost,
    char** proxyPort, char** userName, char** proxyUserName) {
    ClearOutputs(name, hostName, port, type, proxyHost, proxyPort, userName, proxyUserName);
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        ControllerInfo controller;
        if (const uint32_t status = module.ControllerAt(index, controller)) return status;
        // An absent type reads as its default. Passwords never leave the module.
        const std::string scheme = controller.Scheme();
        const std::pair<char**, const std::string*> fields[] = {
            {name, &controller.name},           {hostName, &controller.hostName},
            {port, &controller.port},           {type, &scheme},
            {proxyHost, &controller.proxyHost}, {proxyPort, &controller.proxyPort},
            {userName, &controller.userName},   {proxyUserName, &controller.proxyUserName}};
        std::unique_ptr<char, void (*)(void*)> copies[8] = {
            {nullptr, zel::platform::LocalFree}, {nullptr, zel::platform::LocalFree},
            {nullptr, zel::platform::LocalFree}, {nullptr, zel::platform::LocalFree},
            {nullptr, zel::platform::LocalFree}, {nullptr, zel::platform::LocalFree},
            {nullptr, zel::platform::LocalFree}, {nullptr, zel::platform::LocalFree}};
        for (std::size_t i = 0; i < 8; ++i)
            if (fields[i].first) copies[i].reset(CopyOut(*fields[i].second));
        // Nothing is handed out until every copy exists.
        for (std::size_t i = 0; i < 8; ++i)
            if (fields[i].first) *fields[i].first = copies[i].release();
        return ZEL_S_OK;
    });
}

SCS_EXPORT uint32_t SCS_AddController(
    const char* name, const char* hostName, const char* port, const char* type,
    const char* proxyHost, const char* proxyPort, const char* userName, const char* passwd,
    const char* proxyUserName, const char* proxyPasswd) {
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (!hostName || !port) return ZEL_E_SCS_BAD_INPUT;
        // Each text is cut off past the longest field accepted, so an unterminated or huge
        // argument is refused without reading all of it.
        for (const char* text : {name, hostName, port, type, proxyHost, proxyPort, userName,
                                 passwd, proxyUserName, proxyPasswd})
            if (text && ::strnlen(text, zel::scs::kMaxFieldBytes + 1) > zel::scs::kMaxFieldBytes)
                return ZEL_E_SCS_BAD_INPUT;
        ControllerInfo controller{Text(name),      Text(hostName),  Text(port),
                                  Text(type),      Text(proxyHost), Text(proxyPort),
                                  Text(userName),  Text(passwd),    Text(proxyUserName),
                                  Text(proxyPasswd)};
        return module.AddController(std::move(controller));
    });
}

SCS_EXPORT uint32_t SCS_DeleteController(uint32_t index) {
    return WithModule([&](CSessionConfigModule& module) { return module.DeleteController(index); });
}

SCS_EXPORT uint32_t SCS_SetGroupnameHint(const char* hint) {
    return WithModule([&](CSessionConfigModule& module) -> uint32_t {
        if (hint && ::strnlen(hint, zel::scs::kMaxFieldBytes + 1) > zel::scs::kMaxFieldBytes)
            return ZEL_E_SCS_BAD_INPUT;
        std::string text = Text(hint);
        if (!zel::scs::IsValidUtf8(text)) return ZEL_E_SCS_BAD_INPUT;
        module.SetGroupnameHint(std::move(text));
        return ZEL_S_OK;
    });
}

}  // extern "C"
