/* The library used from plain C as an agent uses it: linked against libzelSensorSvcs3.so
 * and the POSIX platform services, its own trace sink and error callback. */
#include <stdio.h>
#include <string.h>

#include "zel/platform_posix.h"
#include "zel/sensor_services.h"

int SsPlainCAgent(const char* propertyFile, const char* groupSettingsFile);

/* The trace sink lives as long as the process: the library's dispatch thread may still
 * trace after SS_ShutDown has returned, while it ends. */
static unsigned g_traceLines;
static SS_TraceSink g_sink;

static uint32_t CountTrace(void* context, uint32_t level, const char* message, const char* where) {
    (void)level;
    (void)message;
    (void)where;
    ++*(unsigned*)context;
    return 0;
}

static uint32_t IgnoreError(uint32_t status, uint32_t channel) {
    (void)status;
    (void)channel;
    return 0;
}

/* Starts the library, manages its controllers and stops it again; 0 when every step gave
 * what it must, else the number of the failed step. */
int SsPlainCAgent(const char* propertyFile, const char* groupSettingsFile) {
    uint32_t count = 0;
    char* name = NULL;
    char* port = NULL;
    char* type = NULL;
    char* block;
    int result = 0;

    g_sink.context = &g_traceLines;
    g_sink.levelMask = SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO;
    g_sink.trace = CountTrace;

    if (SS_RegisterErrorCallback(IgnoreError) != ZEL_E_SS_NOT_INITIALIZED) return 1;
    if (SS_Allocate(8) != NULL) return 2;
    if (SS_Init(SS_INTERFACE_VERSION, propertyFile, groupSettingsFile, "0f8fad5b-d9cb-469f-a165-70867728950e", 0,
                ZEL_PosixPlatformServices(), &g_sink) != 0)
        return 3;
    if (g_traceLines == 0) return 4;
    if (SS_Init(SS_INTERFACE_VERSION, propertyFile, groupSettingsFile, "0f8fad5b-d9cb-469f-a165-70867728950e", 0,
                NULL, NULL) != ZEL_I_SS_ALREADY_INITIALIZED)
        result = 5;
    else if (SS_RegisterErrorCallback(IgnoreError) != 0)
        result = 6;
    else if (SS_AddController("second", "127.0.0.1", "8081", "https", NULL, NULL, NULL, NULL, NULL, NULL) != 0)
        result = 7;
    else if (SS_GetControllerCount(&count) != 0 || count != 2)
        result = 8;
    else if (SS_GetControllerInfo(1, &name, NULL, &port, &type, NULL, NULL, NULL, NULL) != 0)
        result = 9;
    else if (!name || strcmp(name, "second") != 0 || !port || strcmp(port, "8081") != 0 || !type ||
             strcmp(type, "https") != 0)
        result = 10;
    SS_Free(name);
    SS_Free(port);
    SS_Free(type);

    block = (char*)SS_Allocate(16);
    if (result == 0 && !block) result = 11;
    if (block) {
        strcpy(block, "agent's buffer");
        SS_Free(block);
    }
    if (result == 0 && SS_DeleteController(1) != 0) result = 12;
    if (result == 0 && SS_ResetToPrimaryController() != 0) result = 13;

    if (SS_ShutDown() != 0 && result == 0) result = 14;
    if (result == 0 && SS_GetControllerCount(&count) != ZEL_E_SS_NOT_INITIALIZED) result = 15;
    return result;
}
