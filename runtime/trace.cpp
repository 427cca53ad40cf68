#include "runtime/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "runtime/platform.h"
#include "runtime/singleton_registry.h"

namespace zel {

namespace {

constexpr uint32_t kLowCategoryBits = 0x7FF;
constexpr uint32_t kDumpBytesPerLine = 16;
constexpr std::size_t kCutMarkSize = 4;  // ">>>" and its terminator
constexpr std::size_t kDiskLogMessageSize = 64;

// Builds a line in a buffer of capacity + 1 bytes, as snprintf would: text beyond
// `capacity` bytes is dropped, and a line that lost text ends in ">>>" (its last four
// bytes become ">>>" and the terminator).
class LineBuilder {
public:
    LineBuilder(char* buffer, std::size_t capacity) : m_buffer(buffer), m_capacity(capacity) { m_buffer[0] = '\0'; }

    void Append(const char* text) {
        const std::size_t size = std::strlen(text);
        const std::size_t room = m_capacity - m_length;
        if (size > room) m_cut = true;
        const std::size_t copied = std::min(size, room);
        std::memcpy(m_buffer + m_length, text, copied);
        m_length += copied;
        m_buffer[m_length] = '\0';
    }

    void AppendV(const char* format, va_list arguments) __attribute__((format(printf, 2, 0))) {
        const std::size_t room = m_capacity - m_length;
        const int written = std::vsnprintf(m_buffer + m_length, room + 1, format, arguments);
        if (written < 0) {
            m_buffer[m_length] = '\0';
        } else if (static_cast<std::size_t>(written) > room) {
            m_cut = true;
            m_length = m_capacity;
        } else {
            m_length += static_cast<std::size_t>(written);
        }
    }

    std::size_t Length() const { return m_length; }

    // The finished line.
    const char* Finish() {
        if (m_cut) {
            std::memcpy(m_buffer + m_capacity - kCutMarkSize, ">>>", kCutMarkSize);
            m_length = m_capacity - 1;
        }
        return m_buffer;
    }

private:
    char* m_buffer;
    std::size_t m_capacity;
    std::size_t m_length = 0;
    bool m_cut = false;
};

// The level a status's severity stands for (bits 31-30: error, warning, informational,
// success).
uint32_t SeverityLevel(uint32_t status) {
    static constexpr uint32_t kLevels[4] = {0, 9, 3, 1};
    return kLevels[status >> 30];
}

// One dump line after its head: "<address>: xx xx .. - \"<characters>\"".
void FormatDumpLine(LineBuilder& line, const unsigned char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char text[96];
    int length = std::snprintf(text, sizeof text, "%8.8lx:",
                               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(bytes)));
    char* out = text + length;
    for (std::size_t i = 0; i < kDumpBytesPerLine; ++i) {
        *out++ = ' ';
        *out++ = i < count ? kDigits[bytes[i] >> 4] : '.';
        *out++ = i < count ? kDigits[bytes[i] & 0xF] : '.';
    }
    std::memcpy(out, " - \"", 4);
    out += 4;
    for (std::size_t i = 0; i < count; ++i) *out++ = bytes[i] <= 0x20 ? '.' : static_cast<char>(bytes[i]);
    *out++ = '"';
    *out = '\0';
    line.Append(text);
}

}  // namespace

jsTraceCore::jsTraceCore() : m_line(new char[kTraceBufferSize + 1]) { m_line[0] = '\0'; }

jsTraceCore::~jsTraceCore() {
    jsLockGuard<jsFastSync> guard(m_lock);
    m_alive = false;
}

void jsTraceCore::SetDiskLog(std::unique_ptr<jsTraceDiskLog> log) {
    jsLockGuard<jsFastSync> guard(m_lock);
    m_diskLog = std::move(log);
}

void jsTraceCore::SetDebugOutput(std::unique_ptr<jsTraceDebugOutput> output) {
    jsLockGuard<jsFastSync> guard(m_lock);
    m_debugOutput = std::move(output);
}

void jsTraceCore::SetEventSink(std::unique_ptr<jsTraceEventSink> sink) {
    jsLockGuard<jsFastSync> guard(m_lock);
    m_eventSink = std::move(sink);
}

void jsTraceCore::SetOptions(uint32_t options, uint32_t maxLevel) {
    jsLockGuard<jsFastSync> guard(m_lock);
    m_options.store(options, std::memory_order_relaxed);
    m_maxLevel.store(maxLevel, std::memory_order_relaxed);
}

bool jsTraceCore::Enabled(uint32_t category, uint32_t level) const {
    const uint32_t options = m_options.load(std::memory_order_relaxed);
    return m_alive && (category & ~kLowCategoryBits & options) != 0 &&
           level <= m_maxLevel.load(std::memory_order_relaxed) && (options & kTraceOn) != 0;
}

void jsTraceCore::FormatHead(char (&head)[kHeadSize]) {
    const uint32_t options = m_options.load(std::memory_order_relaxed);
    const char* const prefix = options & kTraceTimestamps ? FormatPrefix() : "";
    const uint32_t sequence = m_sequence.fetch_add(1, std::memory_order_relaxed) + 1;
    if (options & kTraceSequence)
        std::snprintf(head, sizeof head, "%u %s", sequence, prefix);
    else
        std::snprintf(head, sizeof head, "%s", prefix);
}

void jsTraceCore::Emit(const char* line, const char* message, uint32_t level, uint32_t category) {
    if (m_diskLog) {
        if (const uint32_t error = m_diskLog->Write(line)) {
            m_diskLog.reset();
            m_options.fetch_or(kTraceDiskLogClosed, std::memory_order_relaxed);
            if (m_eventSink) {
                char text[kDiskLogMessageSize];
                std::snprintf(text, sizeof text, "Disk log closed after output error: %d", static_cast<int>(error));
                m_eventSink->Write(text, 1, kTraceCategoryGeneral);
            }
        }
    }
    if (m_debugOutput) m_debugOutput->Write(line);
    if (m_eventSink) m_eventSink->Write(message, level, category);
}

void jsTraceCore::WriteLineV(uint32_t category, uint32_t sinkLevel, const char* context, const char* format,
                             va_list arguments) {
    jsLockGuard<jsFastSync> guard(m_lock);
    char head[kHeadSize];
    FormatHead(head);
    LineBuilder line(m_line.get(), m_bufferSize);
    line.Append(head);
    if (context) {
        line.Append(context);
        line.Append("\t");
    }
    const std::size_t messageStart = line.Length();
    line.AppendV(format, arguments);
    const char* const text = line.Finish();
    Emit(text, text + std::min(messageStart, line.Length()), sinkLevel, category & ~kLowCategoryBits);
}

void jsTraceCore::WriteLine(uint32_t category, uint32_t sinkLevel, const char* context, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteLineV(category, sinkLevel, context, format, arguments);
    va_end(arguments);
}

bool jsTraceCore::TraceV(uint32_t category, uint32_t level, const char* context, const char* format,
                         va_list arguments) {
    if (!Enabled(category, level)) return false;
    WriteLineV(category, level, context, format, arguments);
    return true;
}

bool jsTraceCore::Trace(uint32_t category, uint32_t level, const char* context, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const bool written = TraceV(category, level, context, format, arguments);
    va_end(arguments);
    return written;
}

bool jsTraceCore::TraceStatus(uint32_t category, uint32_t level, const char* context, uint32_t status,
                              ZELInserts inserts) {
    if (!Enabled(category, level)) return false;
    ZELError error(status);
    // The text is appended as it is, never read as a format.
    WriteLine(category, std::min(level, SeverityLevel(status)), context, "%s", error.GetText(240, inserts));
    return true;
}

const char* jsTraceCore::FormatPrefix() {
    jsLockGuard<jsFastSync> guard(m_lock);
    const platform::LocalTime now = platform::GetLocalTime();
    const unsigned thread = platform::CurrentThreadId();
    const int hundredths = now.milliseconds / 10;
    const uint32_t options = m_options.load(std::memory_order_relaxed);
    int length;
    if (options & kTraceTimeOnly)
        length = std::snprintf(m_prefix, sizeof m_prefix, "%2.2d:%2.2d:%2.2d.%2.2d T:%4.4x ", now.hour, now.minute,
                               now.second, hundredths, thread);
    else if (options & kTraceMonthDayYear)
        length = std::snprintf(m_prefix, sizeof m_prefix, "%2.2d/%2.2d/%4.4d %2.2d:%2.2d:%2.2d.%2.2d T:%4.4x ",
                               now.month, now.day, now.year, now.hour, now.minute, now.second, hundredths, thread);
    else
        length = std::snprintf(m_prefix, sizeof m_prefix, "%4.4d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d.%2.2d T:%4.4x ",
                               now.year, now.month, now.day, now.hour, now.minute, now.second, hundredths, thread);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof m_prefix)
        std::memcpy(m_prefix + sizeof m_prefix - kCutMarkSize, ">>>", kCutMarkSize);
    return m_prefix;
}

void jsTraceCore::ResetSequence() { m_sequence.store(0, std::memory_order_relaxed); }

bool jsTraceCore::HexDump(uint32_t category, uint32_t level, const char* context, const char* label,
                          const void* data, std::size_t length) {
    if (!Enabled(category, level)) return false;
    // Held across the header and the bytes, so that no other line comes between them.
    jsLockGuard<jsFastSync> guard(m_lock);
    if (!Trace(category, level, context, "%s@0x%8.8lx len=%lu (%lx)", label ? label : "buffer",
               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)), static_cast<unsigned long>(length),
               static_cast<unsigned long>(length)))
        return false;
    if (!data || length == 0 || level < kTraceDumpLevel) return true;

    char head[kHeadSize];
    FormatHead(head);
    const auto* const bytes = static_cast<const unsigned char*>(data);
    for (std::size_t offset = 0; offset < length; offset += kDumpBytesPerLine) {
        LineBuilder line(m_line.get(), m_bufferSize);
        line.Append(head);
        FormatDumpLine(line, bytes + offset, std::min<std::size_t>(kDumpBytesPerLine, length - offset));
        const char* const text = line.Finish();
        Emit(text, text, level, category & ~kLowCategoryBits);
    }
    return true;
}

uint32_t jsTraceUserValue::SetUserValue(uint32_t value) {
    return m_userValue.exchange(value, std::memory_order_relaxed);
}

TraceInterface* ProcessTrace() noexcept {
    static TraceInterface* const trace = []() -> TraceInterface* {
        try {
            if (void* found = LookupSingleton(kTraceInterfaceName)) return static_cast<TraceInterface*>(found);
            auto created = std::make_unique<TraceInterface>();
            RegisterSingleton(kTraceInterfaceName, created.get());
            if (ProcessRegistryIsShared()) platform::KeepModuleLoaded(reinterpret_cast<const void*>(&ProcessTrace));
            // Never destroyed: other modules hold it, and their teardown may run after this
            // module's static destructors.
            return created.release();
        } catch (...) {
            return nullptr;
        }
    }();
    return trace;
}

}  // namespace zel
