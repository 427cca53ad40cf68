#include "tools/controller/connection_drop.h"

#include <dirent.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace zel::controller {
namespace {

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// True when `fd` is a socket connected to `peerAddress`:`peerPort`.
bool HasPeer(int fd, const std::string& peerAddress, int peerPort) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return false;
    return peerAddress == host && std::atoi(service) == peerPort;
}

}  // namespace

int FindConnection(const std::string& peerAddress, int peerPort) {
    const std::unique_ptr<DIR, DirectoryCloser> descriptors(::opendir("/proc/self/fd"));
    if (!descriptors) return -1;
    const int own = ::dirfd(descriptors.get());
    while (const dirent* entry = ::readdir(descriptors.get())) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own) continue;
        if (HasPeer(static_cast<int>(fd), peerAddress, peerPort)) return static_cast<int>(fd);
    }
    return -1;
}

bool DropConnection(int fd) { return ::shutdown(fd, SHUT_RDWR) == 0; }

}  // namespace zel::controller
