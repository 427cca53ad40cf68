// Shared parts of the connection tests: a temporary directory, a recording trace sink
// and a test case that starts the real session-config module through the binding.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "connection/agent_trace.h"
#include "connection/session_config_loader.h"
#include "support/temp_dir.h"

namespace zel::conn::test {

constexpr const char* kAgentId = "0f8fad5b-d9cb-469f-a165-70867728950e";

using zel::test::TempDir;

void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

struct TraceLine {
    uint32_t level;
    std::string message;
    std::string where;
};

// Records every line it receives (from any thread); the trace owner of the objects under test.
class TraceRecorder : public ITraceSinkOwner {
public:
    explicit TraceRecorder(uint32_t levelMask = SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO);
    const SS_TraceSink* TraceSink() const override { return &m_sink; }
    void SetLevelMask(uint32_t levelMask) { m_sink.levelMask = levelMask; }
    // The lines recorded so far whose operation name is `where` (all lines for null).
    std::vector<TraceLine> Lines(const char* where = nullptr) const;
    void Clear();

private:
    static uint32_t Record(void* context, uint32_t level, const char* message, const char* where);

    SS_TraceSink m_sink;
    mutable std::mutex m_mutex;
    std::vector<TraceLine> m_lines;
};

// The real module started through a CSessionConfigLoader for the duration of one test.
class StartedModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `text` as the local property file and loads it.
    void LoadProperties(const std::string& text);
    // Appends a controller on 127.0.0.1 at `port` and returns its server identifier.
    int32_t AddController(int port);
    // The module's controller identifiers in list order.
    std::vector<int32_t> Destinations() const;

    TraceRecorder m_trace;
    TempDir m_dir;
    CSessionConfigLoader m_loader;
};

}  // namespace zel::conn::test
