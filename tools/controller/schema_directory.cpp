#include "tools/controller/schema_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "zel/status_codes.h"

namespace zel::controller {
namespace {

// Writes all of `data` to `fd`, retrying after interruptions and short writes.
bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool CSchemaDirectory::IsUsable() const {
    struct stat info {};
    return !m_path.empty() && ::stat(m_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CSchemaDirectory::IsSafeName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name[0] == '.') return false;
    for (const char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    }
    return true;
}

SchemaFile CSchemaDirectory::Load(const std::string& name) const {
    SchemaFile file;
    if (!IsSafeName(name)) {
        file.code = ZEL_E_INVALIDARG;
        return file;
    }
    std::ifstream in(FileOf(name), std::ios::binary);
    if (!in) {
        file.code = ZEL_E_NOT_FOUND;
        return file;
    }
    file.document.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return file;
}

uint32_t CSchemaDirectory::Store(const std::string& name, const std::string& document) const {
    if (!IsSafeName(name)) return ZEL_E_INVALIDARG;
    const std::string target = FileOf(name);
    std::string pattern = m_path + "/." + name + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return ZEL_E_WRITE_FAULT;
    // mkstemp creates the file owner-only; a schema is no secret.
    ::fchmod(fd, 0644);
    const bool written = WriteAll(fd, document) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || std::rename(temporary.data(), target.c_str()) != 0) {
        std::remove(temporary.data());
        return ZEL_E_WRITE_FAULT;
    }
    return 0;
}

}  // namespace zel::controller
