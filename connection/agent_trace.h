// Trace lines to the agent's SS_TraceSink. The level is tested before anything is
// formatted, so a disabled level costs one mask test.
#pragma once

#include <cstdint>

#include "zel/platform_services.h"

namespace zel {

// Whoever holds the trace sink that an object reports to. The holder may replace or drop
// its sink while the object lives, so users ask for it at each line instead of keeping it.
class ITraceSinkOwner {
public:
    // The current sink, or null when nothing is traced.
    virtual const SS_TraceSink* TraceSink() const = 0;

protected:
    ~ITraceSinkOwner() = default;
};

// True when `sink` writes lines of `level` (any of its bits); false for a null sink or
// a sink without a trace function.
inline bool TraceEnabled(const SS_TraceSink* sink, uint32_t level) {
    return sink != nullptr && sink->trace != nullptr && (sink->levelMask & level) != 0;
}

// Writes `message` at `level` with the operation name `where` when the level is enabled.
void AgentTrace(const SS_TraceSink* sink, uint32_t level, const char* where, const char* message);

// As AgentTrace with a printf format; the text is formatted only when the level is
// enabled. A line that cannot be formatted (out of memory) is dropped.
void AgentTraceF(const SS_TraceSink* sink, uint32_t level, const char* where, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// The sink of `owner`, or null when there is no owner.
inline const SS_TraceSink* SinkOf(const ITraceSinkOwner* owner) {
    return owner ? owner->TraceSink() : nullptr;
}

}  // namespace zel
