// A handle on a dynamically loaded module whose copies share one module.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zel {

// Copies share one state (name, module, last error); the last copy to go unloads the
// module. Not synchronised: Load and Unload must not race with other calls on any copy.
class jsDynamicLibrary {
public:
    jsDynamicLibrary();
    // Shares the other handle's state; copying never loads or unloads anything.
    jsDynamicLibrary(const jsDynamicLibrary& other) = default;
    // Drops this handle's share (unloading when it was the last) and shares the other's.
    jsDynamicLibrary& operator=(const jsDynamicLibrary& other) = default;
    ~jsDynamicLibrary() = default;

    // Unloads any module held, then loads `name` ("lib<name>.so" by the loader's search
    // order, or a path): 0, ZEL_E_INVALIDARG for a null name, or the platform error number,
    // which is then also the last error.
    uint32_t Load(const char* name);
    // Unloads the module held, if any.
    void Unload();
    // The address of the exported symbol `name`, or null (the platform error is then the
    // last error; a null name changes nothing).
    void* GetEntry(const char* name);

    // True while a module is loaded.
    bool IsLoaded() const { return m_state->module != nullptr; }
    // The loader's handle of the module, or null.
    void* Module() const { return m_state->module; }
    // The name given to the last Load with a name, loaded or not.
    const std::string& Name() const { return m_state->name; }
    // The platform error number of the last failed Load or GetEntry; 0 after a good Load.
    uint32_t LastError() const { return m_state->lastError; }
    // The loader's own description of the last failed Load; empty after a good Load.
    const std::string& Detail() const { return m_state->detail; }
    // How many handles share this one's state.
    long ShareCount() const { return m_state.use_count(); }

private:
    struct State {
        ~State();
        std::string name;
        void* module = nullptr;
        uint32_t lastError = 0;
        std::string detail;
    };
    std::shared_ptr<State> m_state;
};

}  // namespace zel
