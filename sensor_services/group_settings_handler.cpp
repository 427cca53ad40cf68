#include "sensor_services/group_settings_handler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "connection/agent_trace.h"
#include "sensor_services/failure_text.h"
#include "sensor_services/library.h"
#include "sensor_services/sensor_services_object.h"
#include "sensor_services/trace_texts.h"
#include "zel/status_codes.h"

namespace zel::ss {

namespace {

constexpr const char* kHandlerWhere = "CSensorServices::_GetPropertiesCallback()";
constexpr const char* kReloadWhere = "CSensorServices::ReloadGroupSettings()";
// The permissions of a group settings file that did not exist before: owner only, as the
// session-config module saves them, since the settings may carry controller credentials.
constexpr mode_t kNewFileMode = 0600;

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes all bytes, resuming after interruptions; 0 or the error number.
int WriteAll(int fd, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (written == 0) return ENOSPC;
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Truncates and writes the file where it is: the way to change a file in a directory the
// agent may not create files in. Not atomic, so only the fallback.
uint32_t RewriteInPlace(const std::string& path, const char* bytes, uint32_t length, int& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return ZEL_E_OPEN_FAILED;
    }
    int failure = WriteAll(fd, bytes, length);
    if (failure == 0 && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    error = failure;
    return failure == 0 ? 0 : ZEL_E_WRITE_FAULT;
}

}  // namespace

uint32_t ReplaceFileContents(const std::string& requested, const char* bytes, uint32_t length, int& error) {
    // A link is followed, so that its target is what changes.
    std::string path = requested;
    if (char* const resolved = ::realpath(requested.c_str(), nullptr)) {
        path = resolved;
        std::free(resolved);
    }
    // The checks an in-place open for writing makes, before anything is written.
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && (S_ISDIR(old.st_mode) || ::access(path.c_str(), W_OK) != 0)) {
        error = S_ISDIR(old.st_mode) ? EISDIR : errno;
        return ZEL_E_OPEN_FAILED;
    }

    const std::string directory = DirectoryOf(path);
    std::string temporary = directory + "/." + BaseNameOf(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        // A directory the agent may not write to still holds a file it may rewrite.
        if (exists && (errno == EACCES || errno == EPERM || errno == EROFS))
            return RewriteInPlace(path, bytes, length, error);
        error = errno;
        return ZEL_E_OPEN_FAILED;
    }
    const mode_t mode = exists ? (old.st_mode & 07777) : kNewFileMode;
    int failure = ::fchmod(fd, mode) == 0 ? 0 : errno;
    if (failure == 0) failure = WriteAll(fd, bytes, length);
    if (failure == 0 && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure != 0) {
        // The old file stays as it was; nothing of the new one is left behind.
        ::unlink(temporary.c_str());
        error = failure;
        return ZEL_E_WRITE_FAULT;
    }
    // The rename itself reaches the disk with the directory; the new file is in place
    // either way, so a failure here changes nothing for the caller.
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    error = 0;
    return 0;
}

uint32_t CSensorServices::_GetPropertiesCallback(const char* requestId, uint32_t requestIdLength, uint32_t status,
                                                 const char* agentId, const char* token, const char* name,
                                                 const char* policyNamespace, const char* schemaVersion,
                                                 uint32_t code, const char* itemText, const char* policy,
                                                 uint32_t policyLength, uint32_t last) {
    return ExportFrame([&](CSensorServices& services) -> uint32_t {
        const SS_TraceSink* const sink = services.TraceSink();
        if (status != 0) {
            if (TraceEnabled(sink, SS_TRACE_WARNING))
                AgentTrace(sink, SS_TRACE_WARNING, kHandlerWhere,
                           (text::kGroupSettingsErrorStatus + HexStatus(status)).c_str());
            return status;
        }
        if (code != 0) {
            // The controller has nothing newer than the version the heartbeat named.
            if (code == ZEL_I_SS_NO_POLICY_CHANGE || code == ZEL_I_SS_NO_POLICY_AVAILABLE) return 0;
            if (TraceEnabled(sink, SS_TRACE_WARNING))
                AgentTrace(sink, SS_TRACE_WARNING, kHandlerWhere,
                           (text::kGroupSettingsErrorCode + HexStatus(code) + text::kGroupSettingsErrorText +
                            (itemText ? itemText : ""))
                               .c_str());
            return ZEL_E_SS_GROUP_SETTINGS_UPDATE;
        }
        if (!policy || policyLength == 0) {
            AgentTrace(sink, SS_TRACE_ERROR, kHandlerWhere, text::kGroupSettingsMissing);
            return ZEL_E_SS_GROUP_SETTINGS_UPDATE;
        }

        const std::string& path = services.GroupSettingsFile();
        int error = 0;
        const uint32_t written = ReplaceFileContents(path, policy, policyLength, error);
        if (written != 0) {
            if (TraceEnabled(sink, SS_TRACE_WARNING))
                AgentTrace(sink, SS_TRACE_WARNING, kHandlerWhere,
                           (text::kGroupSettingsWriteFailed + path + text::kGroupSettingsWriteStatus +
                            HexStatus(written) + text::kGroupSettingsWriteErrno + std::to_string(error))
                               .c_str());
            return written;
        }

        // The next heartbeat asks with the version now on disk.
        services.SetGroupSettingsVersion(token ? token : "");
        services.ReloadGroupSettings();
        if (const SS_PolicyCallback callback = services.Callbacks().groupSettings)
            callback(requestId, requestIdLength, 0, agentId, token, name, policyNamespace, schemaVersion, 0, itemText,
                     policy, policyLength, last ? 1 : 0);
        return 0;
    });
}

void CSensorServices::ReloadGroupSettings() const {
    const CSessionConfigLoader* const binding = Binding();
    if (!binding) return;
    const std::string& path = GroupSettingsFile();
    if (binding->LoadGroupSettings(path.c_str()) != 0 && TraceEnabled(TraceSink(), SS_TRACE_WARNING))
        AgentTrace(TraceSink(), SS_TRACE_WARNING, kReloadWhere,
                   BoundedLine(text::kGroupSettingsLoadFailedFormat, path).c_str());
}

}  // namespace zel::ss
