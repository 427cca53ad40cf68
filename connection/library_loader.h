// CBaseLibraryLoader: the owner of one dynamically loaded module.
#pragma once

#include <cstdint>

#include "runtime/dynamic_library.h"

namespace zel {

// Holds at most one module; destroying the loader unloads it. Not copyable: derived loaders
// keep addresses inside the module, which must not outlive their own copy of the handle.
class CBaseLibraryLoader {
public:
    CBaseLibraryLoader() = default;
    CBaseLibraryLoader(const CBaseLibraryLoader&) = delete;
    CBaseLibraryLoader& operator=(const CBaseLibraryLoader&) = delete;
    virtual ~CBaseLibraryLoader();

    // Unloads any module held, then loads `name` by the loader's search order ("lib<name>.so";
    // a path is used as it is): 0, ZEL_E_INVALIDARG for a null name, or the platform error
    // number (below 0x10000), which is then also the last error.
    uint32_t Load(const char* name);
    // Unloads the module held, if any.
    void Unload();
    // The address of the exported symbol `name`, or null: for a null name, when nothing is
    // loaded, or when the module lacks it (the platform error is then the last error).
    void* GetEntry(const char* name);

    // True while a module is loaded.
    bool IsLoaded() const { return m_library.IsLoaded(); }
    // The platform error number of the last failed Load or GetEntry; 0 after a good Load.
    uint32_t LastError() const { return m_library.LastError(); }
    // The readable text of LastError(); valid until the next StatusText on this thread.
    const char* LastErrorText() const;

private:
    jsDynamicLibrary m_library;
};

}  // namespace zel
