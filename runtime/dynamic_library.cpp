#include "runtime/dynamic_library.h"

#include "runtime/platform.h"
#include "zel/status_codes.h"

namespace zel {

jsDynamicLibrary::State::~State() { platform::FreeModule(module); }

jsDynamicLibrary::jsDynamicLibrary() : m_state(std::make_shared<State>()) {}

uint32_t jsDynamicLibrary::Load(const char* name) {
    Unload();
    if (!name) return ZEL_E_INVALIDARG;
    m_state->name = name;
    m_state->module = platform::LoadModule(name, m_state->lastError, m_state->detail);
    return m_state->lastError;
}

void jsDynamicLibrary::Unload() {
    platform::FreeModule(m_state->module);
    m_state->module = nullptr;
}

void* jsDynamicLibrary::GetEntry(const char* name) {
    if (!name) return nullptr;
    uint32_t error = 0;
    void* address = platform::ModuleSymbol(m_state->module, name, error);
    if (!address) m_state->lastError = error;
    return address;
}

}  // namespace zel
