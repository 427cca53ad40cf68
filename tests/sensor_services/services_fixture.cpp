// The fixture's part that must run once per test program (see services_fixture.h).
#include "services_fixture.h"

#include <dlfcn.h>

namespace zel::ss::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
namespace {
// The sanitizers' dlopen interceptor hides the calling object from the dynamic loader, so
// the RUNPATH that finds the session-config module beside the library is not searched.
// Loaded here by its path (and kept), the module is then found by its name among the
// objects already loaded.
const bool g_modulePreloaded = dlopen(ZEL_SCS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL) != nullptr;
}  // namespace
#endif

}  // namespace zel::ss::test
