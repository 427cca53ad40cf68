/* The module's header and entry points used from plain C, as an agent written in C would. */
#include <dlfcn.h>
#include <string.h>

#include "zel/session_config.h"

/* Loads the module at modulePath, adds a controller and reads it back; 0 when every step
 * gave what it must, else the number of the failed step. */
int ScsPlainCCheck(const char* modulePath);

/* The entry point name of the module, with the type the header declares; 2 when it is missing. */
#define ENTRY(name)                                                  \
    __typeof__(&name) p##name = (__typeof__(&name))dlsym(module, #name); \
    if (!p##name) return 2

int ScsPlainCCheck(const char* modulePath) {
    void* module = dlopen(modulePath, RTLD_NOW | RTLD_LOCAL);
    if (!module) return 1;
    ENTRY(SCS_Init);
    ENTRY(SCS_ShutDown);
    ENTRY(SCS_AddController);
    ENTRY(SCS_GetControllerInfo);
    ENTRY(SCS_Free);
    if (pSCS_Init("3.0", "0f8fad5b-d9cb-469f-a165-70867728950e", 0, NULL, NULL) != 0) return 3;
    char* host = NULL;
    char* port = NULL;
    int result = pSCS_AddController("c", "example.invalid", "8443", "https", NULL, NULL, NULL, NULL, NULL, NULL) ? 4
               : pSCS_GetControllerInfo(0, NULL, &host, &port, NULL, NULL, NULL, NULL, NULL) ? 5
               : !host || strcmp(host, "example.invalid") || !port || strcmp(port, "8443") ? 6 : 0;
    pSCS_Free(host);
    pSCS_Free(port);
    if (pSCS_ShutDown() != 0 && result == 0) result = 7;
    dlclose(module);
    return result;
}
