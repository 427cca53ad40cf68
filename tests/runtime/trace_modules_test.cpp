// Two modules of one process, each with its own copy of the runtime, write through one
// trace object once the registry is published to them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/singleton_registry.h"
#include "runtime/trace.h"
#include "tests/runtime/trace_recorder.h"

namespace {

void* ObjectOf(void* module) {
    auto object = reinterpret_cast<void* (*)()>(dlsym(module, "TraceModuleObject"));
    return object ? object() : nullptr;
}

bool WriteFrom(void* module, const char* text) {
    auto write = reinterpret_cast<int (*)(const char*)>(dlsym(module, "TraceModuleWrite"));
    return write && write(text) != 0;
}

TEST(TraceModules, TwoModulesOfOneProcessWriteThroughOneObject) {
    // The registry an agent would publish. Both modules are loaded here for the first time,
    // so each finds its registry now.
    static zel::jsSingletonRegistry* const registry = new zel::jsSingletonRegistry;
    char value[48];
    std::snprintf(value, sizeof value, "%llx,%x", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(registry)),
                  static_cast<unsigned>(getpid()));
    ASSERT_EQ(setenv(zel::kSingletonRegistryVariable, value, 1), 0);
    void* const first = dlopen(ZEL_TRACE_MODULE_A_PATH, RTLD_NOW | RTLD_LOCAL);
    void* const second = dlopen(ZEL_TRACE_MODULE_B_PATH, RTLD_NOW | RTLD_LOCAL);
    unsetenv(zel::kSingletonRegistryVariable);
    ASSERT_NE(first, nullptr) << dlerror();
    ASSERT_NE(second, nullptr) << dlerror();

    // The first module created the object in the published registry; the second found it.
    auto* const trace = static_cast<zel::TraceInterface*>(registry->Find("TraceInterface"));
    ASSERT_NE(trace, nullptr);
    EXPECT_EQ(ObjectOf(first), trace);
    EXPECT_EQ(ObjectOf(second), trace);

    // One object: one set of outputs, one filter, one sequence.
    zel::test::TraceRecord record;
    zel::test::InstallRecorders(*trace, record);
    EXPECT_FALSE(WriteFrom(second, "filtered: no category enabled yet"));
    trace->SetOptions(zel::kTraceCategories | zel::kTraceOn | zel::kTraceSequence, 1);
    trace->ResetSequence();
    EXPECT_TRUE(WriteFrom(first, "first"));
    EXPECT_TRUE(WriteFrom(second, "second"));
    EXPECT_TRUE(WriteFrom(first, "third"));
    EXPECT_EQ(record.debug,
              (std::vector<std::string>{"1 module-a\tfirst", "2 module-b\tsecond", "3 module-a\tthird"}));

    // The object's code is the first module's: it stays loaded when closed.
    dlclose(first);
    dlclose(second);
    EXPECT_NE(dlopen(ZEL_TRACE_MODULE_A_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
    trace->SetOptions(zel::kTraceInitialOptions, zel::kTraceInitialMaxLevel);
    trace->SetDiskLog(nullptr);
    trace->SetDebugOutput(nullptr);
    trace->SetEventSink(nullptr);
    EXPECT_EQ(record.debugDestroyed, 1);
}

}  // namespace
