#include "connection/library_loader.h"

#include "runtime/zel_error.h"

namespace zel {

CBaseLibraryLoader::~CBaseLibraryLoader() { Unload(); }

uint32_t CBaseLibraryLoader::Load(const char* name) { return m_library.Load(name); }

void CBaseLibraryLoader::Unload() { m_library.Unload(); }

void* CBaseLibraryLoader::GetEntry(const char* name) { return m_library.GetEntry(name); }

const char* CBaseLibraryLoader::LastErrorText() const { return StatusText(m_library.LastError()); }

}  // namespace zel
