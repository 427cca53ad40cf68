#include "connection_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zel::conn::test {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

void TraceRecorder::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

void StartedModuleTest::SetUp() {
    ASSERT_EQ(0u, m_loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, kAgentId, 0, nullptr,
                                m_trace.TraceSink(), true, false));
}

void StartedModuleTest::TearDown() { m_loader.Shutdown(); }

void StartedModuleTest::LoadProperties(const std::string& text) {
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, text);
    ASSERT_EQ(0u, m_loader.LoadLocalProperties(path.c_str()));
}

int32_t StartedModuleTest::AddController(int port) {
    const std::string portText = std::to_string(port);
    EXPECT_EQ(0u, m_loader.AddController("controller", "127.0.0.1", portText.c_str(), "http", nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr));
    const std::vector<int32_t> ids = Destinations();
    return ids.empty() ? -1 : ids.back();
}

std::vector<int32_t> StartedModuleTest::Destinations() const {
    int32_t* servers = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(0u, m_loader.GetDestinations(0, &servers, &count));
    std::vector<int32_t> ids(servers, servers + (servers ? count : 0));
    m_loader.Free(servers);
    return ids;
}

}  // namespace zel::conn::test
