#include "tools/agent/library_api.h"

#include <dlfcn.h>

namespace zel::agent {

bool LibraryApi::Load(const std::string& path, std::string& error) {
    m_module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_module) {
        error = dlerror();
        return false;
    }
#define ZEL_AGENT_LOOKUP(name)                                                 \
    name = reinterpret_cast<decltype(name)>(dlsym(m_module, #name));           \
    if (!name) {                                                               \
        error = path + " does not export " #name;                             \
        return false;                                                          \
    }
    ZEL_AGENT_EXPORTS(ZEL_AGENT_LOOKUP)
#undef ZEL_AGENT_LOOKUP
    return true;
}

// The library stays loaded until the process ends: after SS_ShutDown its dispatch thread
// may still be running its last lines, so unloading it would pull the code from under it.
LibraryApi::~LibraryApi() = default;

}  // namespace zel::agent
