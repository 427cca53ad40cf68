// The module's 32 entry points, loaded from the real shared library with dlopen as the
// sensor services library loads them.
#pragma once

#include <string>

#include "zel/session_config.h"

#define ZEL_SCS_ENTRY_POINTS(X)                                                            \
    X(SCS_Init) X(SCS_ShutDown) X(SCS_S_Init) X(SCS_S_ShutDown) X(SCS_Allocate) X(SCS_Free) \
    X(SCS_RegisterSettingsChanged) X(SCS_UnregisterSettingsChanged)                         \
    X(SCS_LoadLocalProperties) X(SCS_LoadGroupSettings) X(SCS_LoadServerSettings)           \
    X(SCS_RetrieveLocalProperty) X(SCS_GetDestinations) X(SCS_GetGroupSettingsInfo)         \
    X(SCS_PostData) X(SCS_PostDataFile) X(SCS_S_RegisterOnPostData) X(SCS_S_StartServer)    \
    X(SCS_S_StopServer) X(SCS_PostUpdateData) X(SCS_InitUpdater) X(SCS_UninitUpdater)       \
    X(SCS_SetAgentId) X(SCS_SetLastGoodAgentId) X(SCS_S_SetAgentId)                         \
    X(SCS_S_SetLastGoodAgentId) X(SCS_SaveGroupSettings) X(SCS_GetControllerCount)          \
    X(SCS_GetControllerInfo) X(SCS_AddController) X(SCS_DeleteController)                   \
    X(SCS_SetGroupnameHint)

namespace zel::scs::test {

struct ScsApi {
#define ZEL_SCS_FIELD(name) decltype(&::name) name = nullptr;
    ZEL_SCS_ENTRY_POINTS(ZEL_SCS_FIELD)
#undef ZEL_SCS_FIELD
};

// The path of the built module.
const char* ModulePath();

// The entry points of the module, loaded once per process; aborts the test program when
// the module or an entry point is missing.
const ScsApi& Scs();

// A text handed out by the module, released with SCS_Free.
class ScsText {
public:
    ScsText() = default;
    ~ScsText();
    ScsText(const ScsText&) = delete;
    ScsText& operator=(const ScsText&) = delete;
    char** Out() { return &m_text; }
    const char* Get() const { return m_text; }
    // The text, or "<null>".
    std::string Str() const { return m_text ? m_text : "<null>"; }

private:
    char* m_text = nullptr;
};

}  // namespace zel::scs::test
