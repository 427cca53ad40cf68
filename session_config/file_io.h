// The module's file-system calls: whole-file reads, change stamps and atomic replacement.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zel::scs {

// What identifies one version of a file on disk; two equal stamps mean "unchanged".
struct FileStamp {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

enum class ReadOutcome { Ok, Missing, Unreadable, TooLarge };

// Reads the whole file into content (at most limit bytes); content is untouched on failure.
ReadOutcome ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                          FileStamp* stamp = nullptr);

// The stamp of the file at path; exists is false when there is none.
FileStamp StampOf(const std::string& path);

// Replaces the file at path with content so that a crash at any moment leaves either the
// old or the new complete file: the bytes go to a temporary file in the same directory,
// which is flushed, renamed over path, and the directory is flushed too. The new file keeps
// the old file's permissions (mode for a new file). Returns 0 or an errno value; stamp
// receives the new file's stamp.
int ReplaceFileAtomically(const std::string& path, std::string_view content, uint32_t mode,
                          FileStamp* stamp = nullptr);

// Removes temporary files that writers of path left behind when they died mid-write.
void RemoveAbandonedTemporaries(const std::string& path);

// The name pattern of the temporaries of path (for the tests): its directory and the
// prefix of the file names, which end in the writer's process id.
std::string TemporaryPrefix(const std::string& path);

}  // namespace zel::scs
