// Ready outputs for the trace object (runtime/trace.h), for owners that install them: a
// disk log over a file, standard error, and an event sink over the system log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/platform.h"
#include "runtime/trace.h"

namespace zel {

// A disk log appending to a file: each line and a line feed in one write.
class jsFileTraceLog : public jsTraceDiskLog {
public:
    // Opens `path` for appending, creating it (mode 0644) when missing; null with `error`
    // set (an error number) when it cannot be opened.
    static std::unique_ptr<jsFileTraceLog> Open(const char* path, uint32_t& error);
    // Closes the file.
    ~jsFileTraceLog() override;

    // fsync of the file: 0 or an error number.
    uint32_t Flush() override;
    // 0, or the error number of the failed write (ENOSPC on a full device, ...).
    uint32_t Write(const char* line) override;

private:
    explicit jsFileTraceLog(int file) : m_file(file) {}

    int m_file;
    std::string m_buffer;  // the line with its line feed, kept to reuse its memory
};

// Every line and a line feed to standard error, in one write.
class jsStderrTraceOutput : public jsTraceDebugOutput {
public:
    void Write(const char* line) override;

private:
    std::string m_buffer;
};

// An event sink over syslog(3): level 1 as an error, 2 and 3 as warnings, every other
// level as information; the category is not passed on.
class jsSyslogTraceSink : public jsTraceEventSink {
public:
    using Writer = void (*)(platform::SystemLogLevel level, const char* message);

    // `writer` receives each message (the system log unless a test passes its own).
    explicit jsSyslogTraceSink(Writer writer = &platform::SystemLog) : m_writer(writer) {}

    // The system-log level of a trace level.
    static platform::SystemLogLevel LevelOf(uint32_t level);

    void Write(const char* message, uint32_t level, uint32_t category) override;

private:
    Writer m_writer;
};

}  // namespace zel
