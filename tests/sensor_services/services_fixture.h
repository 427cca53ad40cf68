// Shared parts of the sensor services tests: temporary files, a recording trace sink, a
// recording HTTP server on 127.0.0.1, the settings files of one library start, and the
// thread and descriptor counts of the process.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "zel/platform_services.h"

namespace zel::ss::test {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";

using zel::test::TempDir;

void WriteFile(const std::string& path, const std::string& text);
// The bytes of the file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Runs in `directory` (where the dumps go) until destroyed, then goes back.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& directory);
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::string m_previous;
};

struct TraceLine {
    uint32_t level;
    std::string message;
    std::string where;
};

// Records every line it receives, from any thread.
class TraceRecorder {
public:
    explicit TraceRecorder(uint32_t levelMask = SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO);
    const SS_TraceSink* Sink() const { return &m_sink; }
    // The recorded lines of operation `where` (every line for null).
    std::vector<TraceLine> Lines(const char* where = nullptr) const;
    // How many recorded lines are exactly (level, message, where).
    int Count(uint32_t level, const std::string& message, const std::string& where) const;

private:
    static uint32_t Record(void* context, uint32_t level, const char* message, const char* where);

    SS_TraceSink m_sink;
    mutable std::mutex m_mutex;
    std::vector<TraceLine> m_lines;
};

struct ReceivedPost {
    std::string path;
    std::string contentType;
    std::string body;
};

// An HTTP server on 127.0.0.1 and a free port that records each request and answers it
// through the handler (default: 200 with a short body).
class RecordingServer {
public:
    // Decides the answer; runs on a server thread after the request was recorded.
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    explicit RecordingServer(Handler handler = nullptr);
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    int Port() const { return m_port; }
    std::vector<ReceivedPost> Posts() const;
    // Waits up to 20 s until at least `count` requests have arrived.
    bool WaitForPosts(std::size_t count) const;

private:
    httplib::Server m_server;
    Handler m_handler;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<ReceivedPost> m_posts;
};

// The settings files of one start of the library in a temporary directory.
class SettingsFiles {
public:
    // Writes a group settings file naming the controllers on 127.0.0.1 at `ports`, in list
    // order; the first is named "primary".
    explicit SettingsFiles(const std::vector<int>& ports);
    explicit SettingsFiles(int controllerPort) : SettingsFiles(std::vector<int>{controllerPort}) {}
    // Writes the local property file with `text`.
    void SetProperties(const std::string& text);
    std::string PropertyFile() const { return m_dir.File("agent.properties"); }
    std::string GroupSettingsFile() const { return m_dir.File("group.xml"); }
    std::string MissingFile() const { return m_dir.File("missing.properties"); }

private:
    TempDir m_dir;
};

// One call of the error callback.
struct ErrorReport {
    uint32_t status;
    uint32_t channel;
    std::thread::id thread{};  // where the callback ran (not compared)
    bool operator==(const ErrorReport& other) const { return status == other.status && channel == other.channel; }
};
void PrintTo(const ErrorReport& report, std::ostream* out);

// What the error callback received; the callback is a plain function, so the log is shared.
class ErrorLog {
public:
    static ErrorLog& Instance();
    // The function to register with SS_RegisterErrorCallback.
    static uint32_t Callback(uint32_t status, uint32_t channel);
    std::vector<ErrorReport> Reports() const;
    // The reports of failed posts (session-config statuses), without those of refused replies.
    std::vector<ErrorReport> PostFailures() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<ErrorReport> m_reports;
};

// Polls `condition` every few milliseconds for up to 20 s.
bool Eventually(const std::function<bool()>& condition);

// The number of threads and of open descriptors of this process.
std::size_t ThreadCount();
std::size_t DescriptorCount();

}  // namespace zel::ss::test
