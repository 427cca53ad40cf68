/* The module's header and entry points used from plain C, as an agent written in C would. */
#include <dlfcn.h>
#include <string.h>

#include "zel/session_config.h"

/* Loads the module at modulePath, adds a controller and reads it back; 0 when every step
 * gave what it must, else the number of the failed step. */
int ScsPlainCCheck(const char* modulePath);

int ScsPlainCCheck(const char* modulePath) {
    void* module = dlopen(modulePath, RTLD_NOW | RTLD_LOCAL);
    if (!module) return 1;
    uint32_t (*init)(const char*, const char*, uint32_t, const SS_PlatformServices*,
                     const SS_TraceSink*);
    uint32_t (*shutDown)(void);
    uint32_t (*add)(const char*, const char*, const char*, const char*, const char*,
                    const char*, const char*, const char*, const char*, const char*);
    uint32_t (*info)(uint32_t, char**, char**, char**, char**, char**, char**, char**, char**);
    uint32_t (*release)(void*);
    *(void**)&init = dlsym(module, "SCS_Init");
    *(void**)&shutDown = dlsym(module, "SCS_ShutDown");
    *(void**)&add = dlsym(module, "SCS_AddController");
    *(void**)&info = dlsym(module, "SCS_GetControllerInfo");
    *(void**)&release = dlsym(module, "SCS_Free");
    if (!init || !shutDown || !add || !info || !release) return 2;
    if (init("3.0", "0f8fad5b-d9cb-469f-a165-70867728950e", 0, NULL, NULL) != 0) return 3;
    int result = 0;
    char* host = NULL;
    char* port = NULL;
    if (add("c", "example.invalid", "8443", "https", NULL, NULL, NULL, NULL, NULL, NULL) != 0)
        result = 4;
    else if (info(0, NULL, &host, &port, NULL, NULL, NULL, NULL, NULL) != 0)
        result = 5;
    else if (!host || strcmp(host, "example.invalid") != 0 || !port || strcmp(port, "8443") != 0)
        result = 6;
    release(host);
    release(port);
    if (shutDown() != 0 && result == 0) result = 7;
    dlclose(module);
    return result;
}
