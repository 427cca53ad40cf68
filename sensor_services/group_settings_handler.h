// The library's own handling of the group settings the controller sends with its replies,
// and the file replacement it saves them with.
#pragma once

#include <cstdint>
#include <string>

namespace zel::ss {

// Replaces the file at `path` (a link: its target) with the `length` bytes at `bytes` so
// that a crash at any moment leaves either the old or the new file whole: the bytes go to a
// temporary file in the same directory, which is flushed to disk and renamed over the file.
// It keeps the permissions of the file it replaces; a new file is readable by its owner
// only. Where an in-place write would be refused (a directory, a file the process may not
// write) nothing is written; in a directory the process may not create files in, an
// existing file is rewritten in place instead. 0; ZEL_E_OPEN_FAILED when the file cannot be
// opened or the temporary file cannot be created; ZEL_E_WRITE_FAULT when a write, the flush
// or the rename fails (nothing of the temporary file stays behind). `error` receives the
// system's error number of the failure (0 on success).
uint32_t ReplaceFileContents(const std::string& path, const char* bytes, uint32_t length, int& error);

}  // namespace zel::ss
