// The process-wide trace object: filters trace lines by category and level, formats them
// (sequence number, timestamp, thread, operation, message) and hands each line to the up
// to three outputs its owner installs. Every module of a process that links the runtime
// finds the same object under "TraceInterface" in the singleton registry.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "runtime/sync.h"
#include "runtime/zel_error.h"

namespace zel {

// Options bits (SetOptions).
constexpr uint32_t kTraceOn = 0x01;             // tracing on
constexpr uint32_t kTraceSequence = 0x02;       // lines start with their sequence number
constexpr uint32_t kTraceTimestamps = 0x04;     // then with the FormatPrefix text
constexpr uint32_t kTraceDiskLogClosed = 0x08;  // set by the object when a disk log write failed
constexpr uint32_t kTraceMonthDayYear = 0x10;   // prefix dates as month/day/year
constexpr uint32_t kTraceTimeOnly = 0x20;       // prefix with the time and no date
constexpr uint32_t kTraceCategories = 0xFFFFF800u;  // bits 11-31: the enabled categories

constexpr uint32_t kTraceInitialOptions = kTraceOn | kTraceTimestamps;  // no category enabled
constexpr uint32_t kTraceInitialMaxLevel = 1;
constexpr uint32_t kTraceBufferSize = 1024;  // bytes of a line, the cut ">>>" included
// The category of the object's own message to the event sink.
constexpr uint32_t kTraceCategoryGeneral = 0x800;
// HexDump writes the bytes from this level on, and only the header line below it.
constexpr uint32_t kTraceDumpLevel = 15;

constexpr const char kTraceInterfaceName[] = "TraceInterface";

// Output 1, typically a file. Outputs are called under the trace object's lock, one line
// at a time, and must not trace themselves.
class jsTraceDiskLog {
public:
    virtual ~jsTraceDiskLog() = default;
    // Forces the lines written so far to storage: 0 or an error number. The trace object
    // never calls it; the owner may.
    virtual uint32_t Flush() { return 0; }
    // Writes one line (it has no line end): 0, or an error number, after which the trace
    // object destroys the log.
    virtual uint32_t Write(const char* line) = 0;
};

// Output 2: a debugging channel that receives every line.
class jsTraceDebugOutput {
public:
    virtual ~jsTraceDebugOutput() = default;
    virtual void Write(const char* line) = 0;
};

// Output 3: an event log that receives the message part of each line (no sequence number,
// prefix or context) with its level and category.
class jsTraceEventSink {
public:
    virtual ~jsTraceEventSink() = default;
    virtual void Write(const char* message, uint32_t level, uint32_t category) = 0;
};

// The tracing core. A line is written when its category (low 11 bits ignored) meets an
// enabled category of the options, its level is at most maxLevel and tracing is on; every
// operation that writes returns whether it did. Filtering takes no lock; formatting and
// output run under the object's lock, so lines of different threads never interleave.
// Every public operation is virtual: a module that found the object in the registry runs
// the code of the module that created it.
class jsTraceCore {
public:
    jsTraceCore();
    // Destroys the three outputs.
    virtual ~jsTraceCore();
    jsTraceCore(const jsTraceCore&) = delete;
    jsTraceCore& operator=(const jsTraceCore&) = delete;

    // Install an output (null: none), destroying the one installed before.
    virtual void SetDiskLog(std::unique_ptr<jsTraceDiskLog> log);
    virtual void SetDebugOutput(std::unique_ptr<jsTraceDebugOutput> output);
    virtual void SetEventSink(std::unique_ptr<jsTraceEventSink> sink);
    // Replaces the options bits (kTrace...) and the highest level written.
    virtual void SetOptions(uint32_t options, uint32_t maxLevel);

    // One line: "<sequence> <prefix><context>\t<message>" (sequence and prefix as the options
    // ask, context and tab only with a context). A line longer than kTraceBufferSize bytes is
    // cut and ends in ">>>"; no line end is added.
    virtual bool TraceV(uint32_t category, uint32_t level, const char* context, const char* format,
                        va_list arguments) __attribute__((format(printf, 5, 0)));
    // A line whose message is the text of `status` (ZELError, width 240, with `inserts`). The
    // event sink receives the smaller of `level` and the status severity's level (error 1,
    // warning 3, informational 9, success 0).
    virtual bool TraceStatus(uint32_t category, uint32_t level, const char* context, uint32_t status,
                             ZELInserts inserts = {});
    virtual bool Trace(uint32_t category, uint32_t level, const char* context, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    // The timestamp text of lines: local time and thread, "YYYY/MM/DD hh:mm:ss.cc T:tttt "
    // (MM/DD/YYYY with kTraceMonthDayYear, no date with kTraceTimeOnly). The text lives in
    // the object until the next line.
    virtual const char* FormatPrefix();
    // The next line gets sequence number 1.
    virtual void ResetSequence();
    // A header line "<label or buffer>@0x<address> len=<n> (<hex n>)" and, from level 15 on,
    // one line per 16 bytes: address, the bytes in hexadecimal (" .." past the end) and as
    // characters (0x20 and below as '.'). The lines of one dump stay together and share one
    // sequence number after the header's. False when the header was filtered out.
    virtual bool HexDump(uint32_t category, uint32_t level, const char* context, const char* label,
                         const void* data, std::size_t length);

    uint32_t Options() const { return m_options.load(std::memory_order_relaxed); }
    uint32_t MaxLevel() const { return m_maxLevel.load(std::memory_order_relaxed); }
    // The number of the last line.
    uint32_t Sequence() const { return m_sequence.load(std::memory_order_relaxed); }

private:
    static constexpr std::size_t kPrefixSize = 64;
    static constexpr std::size_t kHeadSize = 80;  // a sequence number and a prefix

    bool Enabled(uint32_t category, uint32_t level) const;
    // Writes "<sequence> <prefix>" as the options ask into `head`, advancing the sequence.
    // Under the lock.
    void FormatHead(char (&head)[kHeadSize]);
    // Builds and emits one line of `format`; the event sink hears `sinkLevel`. Takes the
    // lock.
    void WriteLineV(uint32_t category, uint32_t sinkLevel, const char* context, const char* format,
                    va_list arguments) __attribute__((format(printf, 5, 0)));
    void WriteLine(uint32_t category, uint32_t sinkLevel, const char* context, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    // Hands one line to the outputs, `message` (a part of it) to the event sink. Under the
    // lock.
    void Emit(const char* line, const char* message, uint32_t level, uint32_t category);

    std::unique_ptr<char[]> m_line;  // kTraceBufferSize + 1 bytes: the line being built
    char m_prefix[kPrefixSize] = {};
    std::unique_ptr<jsTraceDiskLog> m_diskLog;
    std::unique_ptr<jsTraceDebugOutput> m_debugOutput;
    std::unique_ptr<jsTraceEventSink> m_eventSink;
    jsFastSync m_lock;  // guards everything above and the settings changes
    bool m_alive = true;  // cleared by the destructor: a late caller writes nothing
    std::atomic<uint32_t> m_options{kTraceInitialOptions};
    std::atomic<uint32_t> m_maxLevel{kTraceInitialMaxLevel};
    std::atomic<uint32_t> m_sequence{0};
    const uint32_t m_bufferSize = kTraceBufferSize;
};

// The core with one value of the owner's.
class jsTraceUserValue : public jsTraceCore {
public:
    // Stores `value`; returns the value stored before (initially 0).
    virtual uint32_t SetUserValue(uint32_t value);

private:
    std::atomic<uint32_t> m_userValue{0};
};

// The class registered as "TraceInterface".
class TraceInterface final : public jsTraceUserValue {};

// The process's trace object, found under "TraceInterface" in the process registry or, when
// absent, created and registered there; found once, then kept. A module that creates it in
// a registry shared with other modules stays loaded for the rest of the process, since the
// object's code is that module's. Null only when it could not be created (no memory).
TraceInterface* ProcessTrace() noexcept;

}  // namespace zel
