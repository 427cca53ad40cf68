#include "runtime/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace zel::platform {
namespace {
thread_local uint32_t t_lastError = 0;

// Random bytes come from the kernel a block at a time: a getrandom call costs about a
// microsecond on a virtual machine, and an identifier needs only 16 bytes. Each thread draws
// from its own block, so no lock is taken.
struct RandomReserve {
    static constexpr std::size_t kBytes = 512;
    unsigned char bytes[kBytes];
    std::size_t next = kBytes;  // bytes before `next` are handed out already
};
thread_local RandomReserve t_randomReserve;

// A forked child starts with a copy of the forking thread's block, which the parent goes on
// handing out: the child drops its copy, so the two never hand out the same bytes.
void DropRandomReserve() { t_randomReserve.next = RandomReserve::kBytes; }

bool KernelRandomBytes(unsigned char* out, std::size_t size) {
    while (size > 0) {
        ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool EndsWith(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// The error number of a failed dlopen. glibc's dlopen does not leave errno set, so the
// number of the failing open (ENOENT for a missing file) survives only as the strerror text
// at the end of the loader's message. A module that exists but cannot be loaded has no
// such number and counts as a bad library.
uint32_t LoaderErrorNumber(int openError, const std::string& detail) {
    if (openError > 0 && openError < 0x10000) return static_cast<uint32_t>(openError);
    char buffer[256];
    for (int error = 1; error < 512; ++error) {
        if (strerrorname_np(error) == nullptr) continue;
        if (EndsWith(detail, (std::string(": ") + strerror_r(error, buffer, sizeof buffer)).c_str()))
            return static_cast<uint32_t>(error);
    }
    return ELIBBAD;
}
}  // namespace

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t error) { t_lastError = error; }

bool ErrorText(uint32_t error, std::string& text) {
    if (error > 0xFFFF || (error != 0 && strerrorname_np(static_cast<int>(error)) == nullptr)) return false;
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not be into buffer.
    text = strerror_r(static_cast<int>(error), buffer, sizeof buffer);
    return true;
}

std::string ModuleFileName(const char* name) {
    std::string file(name);
    if (file.find('/') != std::string::npos || EndsWith(file, ".so") || file.find(".so.") != std::string::npos)
        return file;
    return "lib" + file + ".so";
}

std::string ModuleDirectoryOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return std::string();
    const std::string file(info.dli_fname);
    const std::string::size_type slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool KeepModuleLoaded(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return false;
    // The handle is never closed: RTLD_NODELETE alone already outlasts every dlclose.
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

int OpenForAppend(const char* path, uint32_t& error) {
    const int file = path ? open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : -1;
    error = file >= 0 ? 0 : path ? static_cast<uint32_t>(errno) : EINVAL;
    return file;
}

uint32_t WriteFully(int file, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(file, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return static_cast<uint32_t>(errno);
        }
        if (written == 0) return EIO;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

uint32_t SyncFile(int file) { return fsync(file) == 0 ? 0 : static_cast<uint32_t>(errno); }

void CloseFile(int file) {
    if (file >= 0) close(file);
}

int SystemLogPriority(SystemLogLevel level) {
    switch (level) {
        case SystemLogLevel::Error: return LOG_ERR;
        case SystemLogLevel::Warning: return LOG_WARNING;
        case SystemLogLevel::Info: break;
    }
    return LOG_INFO;
}

void SystemLog(SystemLogLevel level, const char* message) {
    syslog(SystemLogPriority(level), "%s", message ? message : "");
}

void* LoadModule(const char* name, uint32_t& error, std::string& detail) {
    errno = 0;
    void* module = dlopen(ModuleFileName(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module) {
        error = 0;
        detail.clear();
        return module;
    }
    int openError = errno;
    const char* why = dlerror();
    detail = why ? why : "";
    error = LoaderErrorNumber(openError, detail);
    return nullptr;
}

void* ModuleSymbol(void* module, const char* name, uint32_t& error) {
    dlerror();
    void* address = module && name ? dlsym(module, name) : nullptr;
    error = address ? 0 : ENOSYS;
    return address;
}

void FreeModule(void* module) {
    if (module) dlclose(module);
}

LocalTime GetLocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    return LocalTime{static_cast<uint16_t>(parts.tm_year + 1900), static_cast<uint16_t>(parts.tm_mon + 1),
                     static_cast<uint16_t>(parts.tm_wday), static_cast<uint16_t>(parts.tm_mday),
                     static_cast<uint16_t>(parts.tm_hour), static_cast<uint16_t>(parts.tm_min),
                     static_cast<uint16_t>(parts.tm_sec), static_cast<uint16_t>(now.tv_nsec / 1000000)};
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

void* LocalAlloc(std::size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }
void LocalFree(void* block) { std::free(block); }

bool RandomBytes(void* buffer, std::size_t size) {
    static std::once_flag s_forkHandler;
    static bool s_reserveUsable = false;
    std::call_once(s_forkHandler,
                   [] { s_reserveUsable = pthread_atfork(nullptr, nullptr, &DropRandomReserve) == 0; });
    auto* out = static_cast<unsigned char*>(buffer);
    // Large requests, and every request when a child could not be told to drop its block,
    // go to the kernel directly.
    if (!s_reserveUsable || size > RandomReserve::kBytes / 4) return KernelRandomBytes(out, size);
    RandomReserve& reserve = t_randomReserve;
    if (RandomReserve::kBytes - reserve.next < size) {
        if (!KernelRandomBytes(reserve.bytes, RandomReserve::kBytes)) return false;
        reserve.next = 0;
    }
    std::memcpy(out, reserve.bytes + reserve.next, size);
    // What is handed out is not kept.
    std::memset(reserve.bytes + reserve.next, 0, size);
    reserve.next += size;
    return true;
}

const char* GetEnv(const char* name) { return name ? std::getenv(name) : nullptr; }

bool SetEnv(const char* name, const char* value) { return name && value && setenv(name, value, 1) == 0; }

}  // namespace zel::platform
