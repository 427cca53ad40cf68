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
    (void)level, (void)message, (void)where;
    ++*(unsigned*)context;
    return 0;
}

static uint32_t IgnoreError(uint32_t status, uint32_t channel) {
    (void)status, (void)channel;
    return 0;
}

static int Same(const char* text, const char* expected) { return text && strcmp(text, expected) == 0; }

/* Each step must hold, else the agent returns its number. */
#define STEP(number, condition) \
    if (result == 0 && !(condition)) result = number

/* Starts the library, manages its controllers and stops it again; 0 when every step gave
 * what it must, else the number of the failed step. */
int SsPlainCAgent(const char* propertyFile, const char* groupSettingsFile) {
    const char* id = "0f8fad5b-d9cb-469f-a165-70867728950e";
    uint32_t count = 0;
    char *name = NULL, *port = NULL, *type = NULL, *block;
    int result = 0;
    g_sink.context = &g_traceLines;
    g_sink.levelMask = SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO;
    g_sink.trace = CountTrace;
    STEP(1, SS_RegisterErrorCallback(IgnoreError) == ZEL_E_SS_NOT_INITIALIZED);
    STEP(2, SS_Allocate(8) == NULL);
    STEP(3, SS_Init(SS_INTERFACE_VERSION, propertyFile, groupSettingsFile, id, 0, ZEL_PosixPlatformServices(),
                    &g_sink) == 0);
    if (result) return result;
    STEP(4, g_traceLines != 0);
    STEP(5, SS_Init(SS_INTERFACE_VERSION, propertyFile, groupSettingsFile, id, 0, NULL, NULL) ==
                ZEL_I_SS_ALREADY_INITIALIZED);
    STEP(6, SS_RegisterErrorCallback(IgnoreError) == 0);
    STEP(7, SS_AddController("second", "127.0.0.1", "8081", "https", NULL, NULL, NULL, NULL, NULL, NULL) == 0);
    STEP(8, SS_GetControllerCount(&count) == 0 && count == 2);
    STEP(9, SS_GetControllerInfo(1, &name, NULL, &port, &type, NULL, NULL, NULL, NULL) == 0);
    STEP(10, Same(name, "second") && Same(port, "8081") && Same(type, "https"));
    SS_Free(name);
    SS_Free(port);
    SS_Free(type);
    block = (char*)SS_Allocate(16);
    STEP(11, block != NULL);
    if (block) strcpy(block, "agent's buffer");
    SS_Free(block);
    STEP(12, SS_DeleteController(1) == 0);
    STEP(13, SS_ResetToPrimaryController() == 0);
    STEP(14, SS_ShutDown() == 0);
    STEP(15, SS_GetControllerCount(&count) == ZEL_E_SS_NOT_INITIALIZED);
    return result;
}
