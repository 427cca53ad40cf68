#include "session_config/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace zel::scs {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd) {
        Close();
        m_fd = fd;
    }
    int Close() {
        int result = 0;
        if (m_fd >= 0) result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

FileStamp StampFromStat(const struct stat& st) {
    FileStamp stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int WriteAll(int fd, std::string_view content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int SyncDirectory(const std::string& directory) {
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) return errno;
    return ::fsync(dir.Get()) == 0 ? 0 : errno;
}

}  // namespace

bool FileStamp::operator==(const FileStamp& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modifiedNs == other.modifiedNs;
}

ReadOutcome ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                          FileStamp* stamp) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return errno == ENOENT || errno == ENOTDIR ? ReadOutcome::Missing
                                                                : ReadOutcome::Unreadable;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadOutcome::Unreadable;
    if (static_cast<uint64_t>(st.st_size) > limit) return ReadOutcome::TooLarge;
    std::string text;
    text.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadOutcome::Unreadable;
        }
        if (n == 0) break;
        if (text.size() + static_cast<std::size_t>(n) > limit) return ReadOutcome::TooLarge;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    if (stamp) *stamp = StampFromStat(st);
    content.swap(text);
    return ReadOutcome::Ok;
}

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FileStamp{};
    return StampFromStat(st);
}

std::string TemporaryPrefix(const std::string& path) {
    return "." + BaseNameOf(path) + ".tmp.";
}

int ReplaceFileAtomically(const std::string& path, std::string_view content, uint32_t mode,
                          FileStamp* stamp) {
    const std::string directory = DirectoryOf(path);
    const std::string temporary =
        directory + "/" + TemporaryPrefix(path) + std::to_string(::getpid());

    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;

    // The bytes are written to an unnamed file first, so a writer killed before the
    // rename leaves nothing behind; only the short step from link to rename has a name.
    bool named = false;
    FileDescriptor fd(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!fd.Valid()) {
        ::unlink(temporary.c_str());
        fd.Reset(::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
        if (!fd.Valid()) return errno;
        named = true;
    }
    auto discard = [&](int error) {
        fd.Close();
        if (named) ::unlink(temporary.c_str());
        return error;
    };
    if (::fchmod(fd.Get(), mode) != 0) return discard(errno);
    if (int error = WriteAll(fd.Get(), content)) return discard(error);
    if (::fsync(fd.Get()) != 0) return discard(errno);
    if (!named) {
        ::unlink(temporary.c_str());
        const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return discard(errno);
        named = true;
    }
    struct stat written {};
    if (::fstat(fd.Get(), &written) != 0) return discard(errno);
    if (fd.Close() != 0) return discard(errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return discard(errno);
    if (int error = SyncDirectory(directory)) return error;
    if (stamp) *stamp = StampFromStat(written);
    return 0;
}

void RemoveAbandonedTemporaries(const std::string& path) {
    const std::string directory = DirectoryOf(path);
    const std::string prefix = TemporaryPrefix(path);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long pid = std::strtol(digits.c_str(), nullptr, 10);
        // A live writer's temporary is about to be renamed; only the dead ones are stale.
        const bool alive = pid == ::getpid() ? false
                                             : (::kill(static_cast<pid_t>(pid), 0) == 0 ||
                                                errno == EPERM);
        if (!alive) ::unlinkat(dirfd(dir.get()), name.c_str(), 0);
    }
}

}  // namespace zel::scs
