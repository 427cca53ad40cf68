// The fixture's part that must run once per test program.
#include <dlfcn.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' dlopen interceptor hides the calling object from the dynamic loader, so
// the RUNPATH that finds the session-config module beside the library is not searched.
// Loaded here by its path (and kept), the module is then found by its name among the
// objects already loaded.
static const bool g_modulePreloaded = dlopen(ZEL_SCS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL) != nullptr;
#endif
