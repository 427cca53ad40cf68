// Platform parts: locks, lock guards and events across threads (also run in the
// ThreadSanitizer stage), jsDynamicLibrary on a real module, the singleton registry (the
// process's, and one published by another module, checked in fresh processes) and the GUID
// generator.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <regex>
#include <string>
#include <thread>

#include "runtime/dynamic_library.h"
#include "runtime/guid.h"
#include "runtime/singleton_registry.h"
#include "runtime/sync.h"
#include "zel/status_codes.h"

namespace zel {
namespace {

// Whether another thread can take the lock right now (it lets go again at once).
bool FreeForOtherThread(jsRecursiveSync& lock) {
    return std::async(std::launch::async, [&lock] { return lock.TryLock() && (lock.Unlock(), true); }).get();
}

// Two threads read, yield and write back: without mutual exclusion increments get lost.
// Each round enters twice, as the owner may (a plain mutex would deadlock).
template <class Lock>
void ExpectMutualExclusion() {
    Lock lock;
    int counter = 0;
    auto add = [&] {
        for (int i = 0; i < 4000; ++i) {
            jsLockGuard<Lock> guard(lock), again(lock);
            const int seen = counter;
            std::this_thread::yield();
            counter = seen + 1;
        }
    };
    auto other = std::async(std::launch::async, add);
    add();
    other.get();
    EXPECT_EQ(counter, 2 * 4000);
}

TEST(Sync, LocksExcludeOtherThreadsAdmitTheirOwnerAndGuardsReleaseWhatTheyHold) {
    jsRecursiveSync lock;
    // The owner enters twice (once blocking, once trying) and must leave twice.
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());
    for (int held = 2; held > 0; --held, lock.Unlock()) EXPECT_FALSE(FreeForOtherThread(lock)) << held;
    EXPECT_TRUE(FreeForOtherThread(lock));
    ExpectMutualExclusion<jsFastSync>();
    ExpectMutualExclusion<jsRecursiveSync>();
    // A lock guard releases exactly what it acquired (taking and leaving it is checked above):
    // after its Release, a second Release and the destructor must not unlock a hold the guard
    // does not own.
    {
        jsLockGuard<jsRecursiveSync> guard(lock);
        EXPECT_TRUE(guard.IsValid() && guard.Count() == 1 && !FreeForOtherThread(lock));
        guard.Release();
        EXPECT_TRUE(FreeForOtherThread(lock));
        lock.Lock();
        guard.Release();
    }
    EXPECT_FALSE(FreeForOtherThread(lock));
    lock.Unlock();
}

TEST(Event, StatesFollowTheResetModeAndSetsReleaseWaiters) {
    for (bool manual : {true, false}) {
        SCOPED_TRACE(manual ? "manual reset" : "automatic reset");
        EXPECT_EQ(jsEvent(false, manual).Wait(0), jsEvent::kSignalled);
        // Two waiters on a clear event: a manual-reset event releases both at one Set and stays
        // signalled; an automatic one releases one waiter per Set and is clear again after each.
        jsEvent event(true, manual);
        std::atomic<int> released{0};
        auto waiter = [&] {
            const uint32_t result = event.Wait(jsEvent::kInfinite);
            ++released;
            return result;
        };
        auto first = std::async(std::launch::async, waiter), second = std::async(std::launch::async, waiter);
        ASSERT_TRUE(event.Set());
        if (!manual) {
            while (released < 1) std::this_thread::yield();
            EXPECT_EQ(event.Wait(0), jsEvent::kTimedOut);
            EXPECT_EQ(released.load(), 1);
            ASSERT_TRUE(event.Set());
        }
        EXPECT_TRUE(first.get() == jsEvent::kSignalled && second.get() == jsEvent::kSignalled);
        EXPECT_EQ(event.Wait(0), manual ? jsEvent::kSignalled : jsEvent::kTimedOut);
        ASSERT_TRUE(event.Reset());
        EXPECT_EQ(event.Wait(0), jsEvent::kTimedOut);
    }
}

// Whether the test module is mapped into the process right now, asked of the loader
// without loading it.
bool ModuleResident() {
    void* module = dlopen(ZEL_TEST_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    return module && !dlclose(module);
}

TEST(DynamicLibrary, LoadsByPathResolvesAnExportAndCopiesShareTheModule) {
    jsDynamicLibrary library;
    ASSERT_EQ(library.Load(ZEL_TEST_MODULE_PATH), 0u) << library.Detail();
    EXPECT_TRUE(ModuleResident());
    auto answer = reinterpret_cast<int (*)()>(library.GetEntry("zel_test_module_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    // A missing export gives no address and stores the error; a null name asks nothing.
    EXPECT_EQ(library.GetEntry("zel_test_module_missing"), nullptr);
    EXPECT_EQ(library.LastError(), static_cast<uint32_t>(ENOSYS));
    EXPECT_TRUE(library.IsLoaded() && library.GetEntry(nullptr) == nullptr);
    library.Unload();
    EXPECT_FALSE(library.IsLoaded() || ModuleResident());
    EXPECT_EQ(library.GetEntry("zel_test_module_answer"), nullptr);
    // Copies share one module and the last to go unloads it; assignment drops the old share.
    {
        jsDynamicLibrary second = library;
        ASSERT_EQ(second.Load(ZEL_TEST_MODULE_PATH), 0u);
        EXPECT_EQ(library.Module(), second.Module());
    }
    EXPECT_TRUE(library.IsLoaded() && ModuleResident());
    library = jsDynamicLibrary();
    EXPECT_FALSE(ModuleResident() || library.IsLoaded());
    // Loading another module first lets go of the one held, whether or not the new one loads.
    const std::string notAModule = testing::TempDir() + "zel_not_a_module.so";
    std::fclose(std::fopen(notAModule.c_str(), "w"));  // an empty file
    const struct { const char* name; uint32_t error; } cases[] = {
        {"/nonexistent/directory/libzelNoSuchModule.so", ENOENT}, {nullptr, ZEL_E_INVALIDARG},
        {notAModule.c_str(), ELIBBAD}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "null");
        ASSERT_EQ(library.Load(ZEL_TEST_MODULE_PATH), 0u);
        EXPECT_EQ(library.Load(c.name), c.error);
        EXPECT_FALSE(library.IsLoaded() || ModuleResident());
        // The name is kept, and the loader's message starts with it.
        EXPECT_TRUE(!c.name || (library.Name() == c.name && library.Detail().rfind(c.name, 0) == 0));
    }
    std::remove(notAModule.c_str());
}

// A child process publishes a registry of its own as `format` (its address, or 0 for a null
// one, and its own or its parent's process id fill it in) before it first looks for one. It
// exits with 10 if it uses the published registry, with 11 if it uses one of its own.
[[noreturn]] void FindRegistryInFreshProcess(const char* format, bool parent, bool null) {
    static zel::jsSingletonRegistry published;
    char value[64];
    std::snprintf(value, sizeof value, format, null ? 0ull : reinterpret_cast<unsigned long long>(&published),
                  static_cast<unsigned>(parent ? getppid() : getpid()));
    setenv(zel::kSingletonRegistryVariable, value, 1);
    std::exit(&zel::ProcessRegistry() == &published ? 10 : 11);
}

TEST(SingletonRegistryAndGuid, StoresFindsIsUsedOnlyWithThisProcessIdAndGuidTextsAreRandomVersion4AndDifferAfterAFork) {
    zel::jsSingletonRegistry registry;
    int first = 1, second = 2;
    registry.Register("TraceInterface", &first);
    registry.Register("TraceInterface", &second);
    registry.Register(nullptr, &first);
    EXPECT_EQ(registry.Find("TraceInterface"), &second);
    EXPECT_TRUE(registry.Find(nullptr) == nullptr && registry.Find("") == nullptr);
    // The registry is cached per process, so each case looks it up in a freshly started copy
    // of this test program (the "threadsafe" death-test style re-executes the binary).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct { const char* format; bool parent, null, used; } cases[] = {{"%llx", false, false, false},
        {"%llx,%x", true, false, false}, {"%llx,%x", false, false, true}, {"%llx,%x", false, true, false}};
    for (const auto& c : cases)
        EXPECT_EXIT(FindRegistryInFreshProcess(c.format, c.parent, c.null), testing::ExitedWithCode(c.used ? 10 : 11),
                    "");
    // A GUID text (the generator's, widened): 8-4-4-4-12 lower-case hexadecimal digits, version
    // digit 4, variant digit 8, 9, a or b, and a new one each time.
    const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::u16string previous;
    for (int i = 0; i < 100; ++i) {
        const std::u16string wide = zel::NewGuidText();
        ASSERT_TRUE(std::regex_match(std::string(wide.begin(), wide.end()), shape) && wide != previous);
        ASSERT_LT(*std::max_element(wide.begin(), wide.end()), 0x80);
        previous = wide;
    }
    // A forked child and its parent go on with different GUIDs, though the child starts as a copy of the parent.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const pid_t child = fork();
    if (child == 0) {
        const std::u16string guid = zel::NewGuidText();
        _exit(guid.size() == 36 && write(ends[1], guid.data(), 72) == 72 ? 0 : 1);
    }
    close(ends[1]);
    std::u16string fromChild(36, u'\0');
    EXPECT_TRUE(child > 0 && read(ends[0], fromChild.data(), 72) == 72 && waitpid(child, nullptr, 0) == child);
    EXPECT_NE(fromChild, zel::NewGuidText());
    close(ends[0]);
}

}  // namespace
}  // namespace zel
