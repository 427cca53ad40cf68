#include "runtime/trace_outputs.h"

namespace zel {

namespace {

// Writes `line` and a line feed with one call, so that lines of other writers to the same
// file (other processes included) never land inside it.
uint32_t WriteLine(int file, const char* line, std::string& buffer) {
    buffer.assign(line ? line : "");
    buffer += '\n';
    return platform::WriteFully(file, buffer.data(), buffer.size());
}

}  // namespace

std::unique_ptr<jsFileTraceLog> jsFileTraceLog::Open(const char* path, uint32_t& error) {
    const int file = platform::OpenForAppend(path, error);
    if (file < 0) return nullptr;
    return std::unique_ptr<jsFileTraceLog>(new jsFileTraceLog(file));
}

jsFileTraceLog::~jsFileTraceLog() { platform::CloseFile(m_file); }

uint32_t jsFileTraceLog::Flush() { return platform::SyncFile(m_file); }

uint32_t jsFileTraceLog::Write(const char* line) { return WriteLine(m_file, line, m_buffer); }

void jsStderrTraceOutput::Write(const char* line) { WriteLine(platform::kStandardError, line, m_buffer); }

platform::SystemLogLevel jsSyslogTraceSink::LevelOf(uint32_t level) {
    if (level == 1) return platform::SystemLogLevel::Error;
    if (level == 2 || level == 3) return platform::SystemLogLevel::Warning;
    return platform::SystemLogLevel::Info;
}

void jsSyslogTraceSink::Write(const char* message, uint32_t level, uint32_t) { m_writer(LevelOf(level), message); }

}  // namespace zel
