// A module that links the runtime and finds or creates the trace object when it is loaded,
// as the library does. Built twice, as two modules of one test process.
#include "runtime/trace.h"

#define TRACE_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
zel::TraceInterface* const g_trace = zel::ProcessTrace();
}  // namespace

// The trace object this module found or created.
TRACE_MODULE_EXPORT void* TraceModuleObject() { return g_trace; }

// Writes `text` through it with this module's name as the context: whether it was written.
TRACE_MODULE_EXPORT int TraceModuleWrite(const char* text) {
    return g_trace && g_trace->Trace(zel::kTraceCategoryGeneral, 1, ZEL_TRACE_MODULE_NAME, "%s", text);
}
