// Outputs for trace objects that record what they are handed, for the trace tests.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/trace.h"

namespace zel::test {

struct SinkEntry {
    std::string message;
    uint32_t level;
    uint32_t category;
    bool operator==(const SinkEntry& other) const {
        return message == other.message && level == other.level && category == other.category;
    }
};

inline void PrintTo(const SinkEntry& entry, std::ostream* out) {
    *out << "{\"" << entry.message << "\", " << entry.level << ", 0x" << std::hex << entry.category << std::dec << "}";
}

// What the three outputs were handed, in order. Outputs run under the trace object's lock,
// so the record needs no lock of its own.
struct TraceRecord {
    std::vector<std::string> disk, debug;
    std::vector<SinkEntry> sink;
    std::string order;       // one letter per call: D disk log, d debugger output, S event sink
    int diskFailsOnWrite = 0;  // the disk log's write of this number fails with ENOSPC (0: none)
    int diskDestroyed = 0, debugDestroyed = 0;
};

struct RecordingDiskLog : jsTraceDiskLog {
    explicit RecordingDiskLog(TraceRecord& record) : m_record(record) {}
    ~RecordingDiskLog() override { ++m_record.diskDestroyed; }
    uint32_t Write(const char* line) override {
        m_record.disk.push_back(line);
        m_record.order += 'D';
        return static_cast<int>(m_record.disk.size()) == m_record.diskFailsOnWrite ? 28 : 0;
    }
    TraceRecord& m_record;
};

struct RecordingDebugOutput : jsTraceDebugOutput {
    explicit RecordingDebugOutput(TraceRecord& record) : m_record(record) {}
    ~RecordingDebugOutput() override { ++m_record.debugDestroyed; }
    void Write(const char* line) override {
        m_record.debug.push_back(line);
        m_record.order += 'd';
    }
    TraceRecord& m_record;
};

struct RecordingEventSink : jsTraceEventSink {
    explicit RecordingEventSink(TraceRecord& record) : m_record(record) {}
    void Write(const char* message, uint32_t level, uint32_t category) override {
        m_record.sink.push_back({message, level, category});
        m_record.order += 'S';
    }
    TraceRecord& m_record;
};

// Installs a recording disk log, debugger output and event sink on `trace`.
inline void InstallRecorders(jsTraceCore& trace, TraceRecord& record) {
    trace.SetDiskLog(std::make_unique<RecordingDiskLog>(record));
    trace.SetDebugOutput(std::make_unique<RecordingDebugOutput>(record));
    trace.SetEventSink(std::make_unique<RecordingEventSink>(record));
}

}  // namespace zel::test
