// Shared parts of the sensor services tests: temporary files, a recording trace sink, a
// recording HTTP server on 127.0.0.1, the settings files of one library start, the error
// callback's log and the entries of a /proc directory.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";
using zel::test::ReadFile;
using zel::test::TempDir;
using zel::test::WriteFile;

// Polls `condition` every few milliseconds for up to 20 s.
inline bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}
// The number of entries of a /proc directory: threads or open descriptors of this process
// (the iterator's own descriptor is counted in every call alike).
inline std::size_t EntriesOf(const char* directory) {
    const std::filesystem::directory_iterator entries(directory);
    return std::size_t(std::distance(begin(entries), end(entries)));
}

inline uint32_t ControllerCount() {
    uint32_t count = 0;
    EXPECT_EQ(0u, SS_GetControllerCount(&count));
    return count;
}

// Runs in `directory` (where the dumps go) until destroyed, then goes back.
struct WorkingDirectory {
    explicit WorkingDirectory(const std::string& directory) { std::filesystem::current_path(directory); }
    ~WorkingDirectory() { std::filesystem::current_path(m_previous, m_ignored); }
    const std::filesystem::path m_previous = std::filesystem::current_path();
    std::error_code m_ignored;
};

// A list that any thread may add to and read.
template <typename Item>
struct Recorded {
    void Add(Item item) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.push_back(std::move(item));
    }
    // The items, in the order they were added, for which `keep` holds (every item for null).
    std::vector<Item> Items(const std::function<bool(const Item&)>& keep = nullptr) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Item> items;
        for (const Item& item : m_items)
            if (!keep || keep(item)) items.push_back(item);
        return items;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.clear();
    }
    mutable std::mutex m_mutex;
    std::vector<Item> m_items;
};

struct TraceLine { uint32_t level; std::string message, where; };

// Records every line it receives, from any thread.
struct TraceRecorder : Recorded<TraceLine> {
    const SS_TraceSink* Sink() const { return &m_sink; }
    // The recorded lines of operation `where` (every line for null).
    std::vector<TraceLine> Lines(const char* where = nullptr) const {
        return Items([&](const TraceLine& line) { return !where || line.where == where; });
    }
    // How many recorded lines are exactly (level, message, where).
    int Count(uint32_t level, const std::string& message, const std::string& where) const {
        const auto same = [&](const auto& l) { return l.level == level && l.message == message && l.where == where; };
        return int(Items(same).size());
    }
    static uint32_t Receive(void* self, uint32_t level, const char* message, const char* where) {
        static_cast<TraceRecorder*>(self)->Add({level, message ? message : "", where ? where : ""});
        return 0;
    }
    const SS_TraceSink m_sink{this, SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO, &Receive};
};

struct ReceivedPost { std::string path, contentType, body; };

// An HTTP server on 127.0.0.1 and a free port that records each request and answers it
// through the handler (default: 200 with a short body).
struct RecordingServer {
    explicit RecordingServer(std::function<void(const httplib::Request&, httplib::Response&)> handler = nullptr) {
        m_server.Post(".*", [this, handler](const httplib::Request& request, httplib::Response& response) {
            m_posts.Add({request.path, request.get_header_value("Content-Type"), request.body});
            handler ? handler(request, response) : response.set_content("reply", "text/plain");
        });
        // One request per connection: a kept connection would hold the shut-down.
        m_server.set_keep_alive_max_count(1);
        if ((m_port = m_server.bind_to_any_port("127.0.0.1")) <= 0) throw std::runtime_error("cannot bind");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() does nothing before the server runs.
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~RecordingServer() {
        m_server.stop();
        m_thread.join();
    }
    int Port() const { return m_port; }
    std::vector<ReceivedPost> Posts() const { return m_posts.Items(); }
    // The bodies of the requests to `path` (of every request for null).
    std::vector<std::string> Bodies(const char* path = nullptr) const {
        std::vector<std::string> bodies;
        for (const ReceivedPost& post : Posts())
            if (!path || post.path == path) bodies.push_back(post.body);
        return bodies;
    }
    // Waits up to 20 s until at least `count` requests have arrived.
    bool WaitForPosts(std::size_t count) const { return Eventually([&] { return Posts().size() >= count; }); }
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    Recorded<ReceivedPost> m_posts;
};

// The settings files of one start: a group settings file naming the controllers on
// 127.0.0.1 at `ports` in list order (the first named "primary"), and the property file.
struct SettingsFiles {
    explicit SettingsFiles(const std::vector<int>& ports, const std::string& properties = "") {
        std::string group = "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n<policy xmlns='http://schemas."
                            "zel.example/cml/GroupSettings' name='Default Group'\n        version='3' schema-version="
                            "'1.0.0'>\n    <controller-list>\n";
        for (std::size_t i = 0; i < ports.size(); ++i)
            group += "        <controller-info name='" + (i == 0 ? std::string("primary") : "c" + std::to_string(i)) +
                     "' host-name='127.0.0.1' port='" + std::to_string(ports[i]) + "'/>\n";
        WriteFile(GroupSettingsFile(), group + "    </controller-list>\n</policy>\n");
        SetProperties("[sensor_services]\ndnsCacheTimeout = 60000\n" + properties);
    }
    void SetProperties(const std::string& text) const { WriteFile(PropertyFile(), text); }
    std::string PropertyFile() const { return dir.File("agent.properties"); }
    std::string GroupSettingsFile() const { return dir.File("group.xml"); }
    std::string MissingFile() const { return dir.File("missing.properties"); }
    TempDir dir;
};

// One call of the error callback; where it ran is not compared.
struct ErrorReport {
    uint32_t status, channel;
    std::thread::id thread{};
    bool operator==(const ErrorReport& other) const { return status == other.status && channel == other.channel; }
};
inline void PrintTo(const ErrorReport& r, std::ostream* out) { *out << std::hex << r.status << "/" << r.channel; }

// What the error callback received; the callback is a plain function, so the log is shared.
struct ErrorLog : Recorded<ErrorReport> {
    static ErrorLog& Instance() {
        static ErrorLog log;
        return log;
    }
    // The function to register with SS_RegisterErrorCallback.
    static uint32_t Callback(uint32_t status, uint32_t channel) {
        Instance().Add({status, channel, std::this_thread::get_id()});
        return 0;
    }
    std::vector<ErrorReport> Reports() const { return Items(); }
    // The reports of failed posts (session-config statuses), or of the channel `channel`.
    std::vector<ErrorReport> PostFailures(uint32_t channel = 0) const {
        return Items([&](const ErrorReport& r) {
            return channel ? r.channel == channel : ((r.status >> 16) & 0xFFF) == 0x759;
        });
    }
};

}  // namespace zel::ss::test
