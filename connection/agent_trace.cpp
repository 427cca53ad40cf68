#include "connection/agent_trace.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

namespace zel {

void AgentTrace(const SS_TraceSink* sink, uint32_t level, const char* where, const char* message) {
    if (!TraceEnabled(sink, level)) return;
    sink->trace(sink->context, level, message ? message : "", where ? where : "");
}

void AgentTraceF(const SS_TraceSink* sink, uint32_t level, const char* where, const char* format, ...) {
    if (!TraceEnabled(sink, level) || !format) return;
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length >= 0) {
        try {
            std::string text(static_cast<std::size_t>(length), '\0');
            std::vsnprintf(text.data(), text.size() + 1, format, arguments);
            sink->trace(sink->context, level, text.c_str(), where ? where : "");
        } catch (const std::bad_alloc&) {
            // Tracing never fails its caller; the line is lost.
        }
    }
    va_end(arguments);
}

}  // namespace zel
