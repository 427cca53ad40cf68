// The platform layer: every operating-system call of the code base goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zel::platform {

// The calling thread's last platform error number (an errno value, below 0x10000).
uint32_t GetLastError();
void SetLastError(uint32_t error);

// The platform's text for an error number, without a line end; false when the platform
// knows no such number.
bool ErrorText(uint32_t error, std::string& text);

// Dynamic modules. A bare name ("zelSessionConfigSvcs3") is loaded as "lib<name>.so" through
// the normal search order; a name holding '/' or ending in ".so" is used as it is. On
// failure the result is null and `error` receives a platform error number and `detail`
// the loader's own description.
void* LoadModule(const char* name, uint32_t& error, std::string& detail);
void* ModuleSymbol(void* module, const char* name, uint32_t& error);
void FreeModule(void* module);
std::string ModuleFileName(const char* name);
// The directory of the loaded module (library or executable) that holds `address`, or ""
// when the loader cannot tell.
std::string ModuleDirectoryOf(const void* address);
// True when `path` names an existing file.
bool FileExists(const std::string& path);
// Keeps the loaded module that holds `address` in memory until the process ends, whatever
// unloads it later; false when the loader cannot tell the module.
bool KeepModuleLoaded(const void* address);

// Files written line by line (the trace outputs). OpenForAppend opens `path` for writing at
// its end, creating it with mode 0644 when missing: a descriptor, or -1 with `error` set.
int OpenForAppend(const char* path, uint32_t& error);
// Writes all `size` bytes, resuming after short writes: 0 or the error number (EIO when the
// file takes no more bytes).
uint32_t WriteFully(int file, const char* data, std::size_t size);
// Forces what was written to storage: 0 or the error number.
uint32_t SyncFile(int file);
void CloseFile(int file);
constexpr int kStandardError = 2;

// The system log (syslog(3)) and its priorities.
enum class SystemLogLevel { Error, Warning, Info };
int SystemLogPriority(SystemLogLevel level);
// Hands one message to the system log at `level`.
void SystemLog(SystemLogLevel level, const char* message);

struct LocalTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
LocalTime GetLocalTime();
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();

// Zero-filled allocation; null when out of memory.
void* LocalAlloc(std::size_t bytes);
void LocalFree(void* block);

// Fills `buffer` from the kernel's random source; false when it cannot. Small requests are
// served from a block the thread drew earlier, each byte once; a forked child never reuses
// its parent's block.
bool RandomBytes(void* buffer, std::size_t size);

// The value of an environment variable, or null.
const char* GetEnv(const char* name);
// Sets an environment variable, replacing its value; false when it cannot.
bool SetEnv(const char* name, const char* value);

}  // namespace zel::platform
