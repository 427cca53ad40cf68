// A start of the sensor services library for the fuzz targets that drive it: synchronous
// mode, the session-config module loaded by its path, and settings files in a fresh
// temporary directory naming one controller at 127.0.0.1 port 1, so that every post fails
// at once. The trace sink takes every level and keeps nothing, so the trace texts are
// built on every path without slowing the run.
#pragma once

#include <string>

namespace zel::fuzz {

// The identifier the library is started with; the heartbeats the targets stand for carry it.
inline constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";

class LibrarySession {
public:
    // Aborts with a message when the library does not start: a target without it would
    // only exercise the "not initialised" answer.
    LibrarySession();
    ~LibrarySession();
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    // Writes and loads the group settings of the start again. A reply may replace the
    // controller list; restoring it before each input keeps every input independent of
    // the ones before it and every post aimed at the unreachable controller.
    void RestoreGroupSettings() const;

private:
    std::string m_directory;
    std::string m_groupSettingsFile;
};

// The process's session, started on the first call; it shuts the library down when the
// process exits.
LibrarySession& Library();

}  // namespace zel::fuzz
