#include "scs_api.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace zel::scs::test {

const char* ModulePath() { return ZEL_SCS_MODULE_PATH; }

const ScsApi& Scs() {
    static const ScsApi api = [] {
        ScsApi loaded;
        void* module = ::dlopen(ModulePath(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            std::fprintf(stderr, "cannot load %s: %s\n", ModulePath(), ::dlerror());
            std::abort();
        }
#define ZEL_SCS_RESOLVE(name)                                                            \
    loaded.name = reinterpret_cast<decltype(loaded.name)>(::dlsym(module, #name));     \
    if (!loaded.name) {                                                                \
        std::fprintf(stderr, "entry point %s missing\n", #name);                       \
        std::abort();                                                                  \
    }
        ZEL_SCS_ENTRY_POINTS(ZEL_SCS_RESOLVE)
#undef ZEL_SCS_RESOLVE
        return loaded;
    }();
    return api;
}

ScsText::~ScsText() {
    if (m_text) Scs().SCS_Free(m_text);
}

}  // namespace zel::scs::test
