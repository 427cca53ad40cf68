#include "services_fixture.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace zel::ss::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
namespace {
// The sanitizers' dlopen interceptor hides the calling object from the dynamic loader, so
// the RUNPATH that finds the session-config module beside the library is not searched.
// Loaded here by its path (and kept), the module is then found by its name among the
// objects already loaded.
const bool g_modulePreloaded = dlopen(ZEL_SCS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL) != nullptr;
}  // namespace
#endif

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.good()) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

WorkingDirectory::WorkingDirectory(const std::string& directory)
    : m_previous(std::filesystem::current_path().string()) {
    std::filesystem::current_path(directory);
}

WorkingDirectory::~WorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}

TraceRecorder::TraceRecorder(uint32_t levelMask) : m_sink{this, levelMask, &TraceRecorder::Record} {}

uint32_t TraceRecorder::Record(void* context, uint32_t level, const char* message, const char* where) {
    auto* self = static_cast<TraceRecorder*>(context);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    self->m_lines.push_back({level, message ? message : "", where ? where : ""});
    return 0;
}

std::vector<TraceLine> TraceRecorder::Lines(const char* where) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<TraceLine> lines;
    for (const TraceLine& line : m_lines)
        if (!where || line.where == where) lines.push_back(line);
    return lines;
}

int TraceRecorder::Count(uint32_t level, const std::string& message, const std::string& where) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int count = 0;
    for (const TraceLine& line : m_lines)
        if (line.level == level && line.message == message && line.where == where) ++count;
    return count;
}

RecordingServer::RecordingServer(Handler handler) : m_handler(std::move(handler)) {
    m_server.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_posts.push_back({request.path, request.get_header_value("Content-Type"), request.body});
        }
        if (m_handler)
            m_handler(request, response);
        else
            response.set_content("reply", "text/plain");
    });
    // One request per connection: a connection the module keeps open would otherwise hold
    // the server's shut-down for its keep-alive time.
    m_server.set_keep_alive_max_count(1);
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("cannot bind a test server");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // stop() does nothing before the server runs: a test that ends early must not leave the
    // listening thread behind.
    while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

RecordingServer::~RecordingServer() {
    m_server.stop();
    m_thread.join();
}

std::vector<ReceivedPost> RecordingServer::Posts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_posts;
}

bool RecordingServer::WaitForPosts(std::size_t count) const {
    return Eventually([&] { return Posts().size() >= count; });
}

SettingsFiles::SettingsFiles(const std::vector<int>& ports) {
    std::ostringstream group;
    group << "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
             "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group'\n"
             "        version='3' schema-version='1.0.0'>\n    <controller-list>\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        group << "        <controller-info name='" << (i == 0 ? std::string("primary") : "c" + std::to_string(i))
              << "' host-name='127.0.0.1' port='" << ports[i] << "'/>\n";
    group << "    </controller-list>\n</policy>\n";
    WriteFile(GroupSettingsFile(), group.str());
    SetProperties("[sensor_services]\ndnsCacheTimeout = 60000\n");
}

void SettingsFiles::SetProperties(const std::string& text) { WriteFile(PropertyFile(), text); }

bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

namespace {
std::size_t EntriesOf(const char* directory) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        (void)entry;
        ++count;
    }
    return count;
}
}  // namespace

std::size_t ThreadCount() { return EntriesOf("/proc/self/task"); }

// The iterator's own descriptor is counted in every call alike.
std::size_t DescriptorCount() { return EntriesOf("/proc/self/fd"); }

void PrintTo(const ErrorReport& report, std::ostream* out) {
    *out << std::hex << "(0x" << report.status << ", " << std::dec << report.channel << ")";
}

ErrorLog& ErrorLog::Instance() {
    static ErrorLog log;
    return log;
}

uint32_t ErrorLog::Callback(uint32_t status, uint32_t channel) {
    ErrorLog& log = Instance();
    std::lock_guard<std::mutex> lock(log.m_mutex);
    log.m_reports.push_back({status, channel, std::this_thread::get_id()});
    return 0;
}

std::vector<ErrorReport> ErrorLog::Reports() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

std::vector<ErrorReport> ErrorLog::PostFailures() const {
    std::vector<ErrorReport> failures;
    for (const ErrorReport& report : Reports())
        if (((report.status >> 16) & 0xFFF) == 0x759) failures.push_back(report);
    return failures;
}

void ErrorLog::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.clear();
}

}  // namespace zel::ss::test
