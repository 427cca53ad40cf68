/* A session-config module that has only its first two entry points. */
#include "zel/session_config.h"

__attribute__((visibility("default"))) uint32_t SCS_Init(const char* version, const char* agentId, uint32_t option,
                                                         const SS_PlatformServices* platform,
                                                         const SS_TraceSink* trace) {
    (void)version, (void)agentId, (void)option, (void)platform, (void)trace;
    return 0;
}

__attribute__((visibility("default"))) uint32_t SCS_ShutDown(void) { return 0; }
