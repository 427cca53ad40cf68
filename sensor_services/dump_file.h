// The dump files the library writes into the current directory when "dumpEnabled" is set.
#pragma once

#include <cstddef>
#include <fstream>

namespace zel::ss {

// Replaces the content of `fileName` with `length` bytes. A file that cannot be written is
// skipped: a dump is a diagnostic aid, never a reason to fail.
inline void WriteDumpFile(const char* fileName, const char* bytes, std::size_t length) {
    std::ofstream dump(fileName, std::ios::binary | std::ios::trunc);
    if (dump) dump.write(bytes, static_cast<std::streamsize>(length));
}

}  // namespace zel::ss
