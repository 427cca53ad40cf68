// Platform parts: locks, lock guards and events across threads (also run in the
// ThreadSanitizer stage), jsDynamicLibrary on a real module, the singleton registry (the
// process's, and one published by another module, checked in fresh processes) and the GUID
// generator.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/dynamic_library.h"
#include "runtime/guid.h"
#include "runtime/platform.h"
#include "runtime/singleton_registry.h"
#include "runtime/sync.h"
#include "zel/status_codes.h"

namespace zel {
namespace {

// Whether another thread can take the lock right now (it lets go again at once).
bool FreeForOtherThread(jsRecursiveSync& lock) {
    return std::async(std::launch::async, [&lock] { return lock.TryLock() && (lock.Unlock(), true); }).get();
}

// Each thread reads, yields and writes back: without mutual exclusion increments get lost.
// Each round enters twice, as the owner may (a plain mutex would deadlock).
template <class Lock>
void ExpectMutualExclusion() {
    Lock lock;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                jsLockGuard<Lock> guard(lock), again(lock);
                const int seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 4 * 2000);
}

TEST(Sync, LocksExcludeOtherThreadsAdmitTheirOwnerKeepTheLastErrorAndGuardsReleaseWhatTheyHold) {
    jsRecursiveSync lock;
    ASSERT_TRUE(lock.IsValid());
    EXPECT_TRUE(FreeForOtherThread(lock));
    // The owner enters three times (twice blocking, once trying) and must leave three times.
    lock.Lock();
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());
    for (int held = 3; held > 0; --held, lock.Unlock()) EXPECT_FALSE(FreeForOtherThread(lock)) << held;
    EXPECT_TRUE(FreeForOtherThread(lock));
    // Created locked, it belongs to the creating thread.
    jsRecursiveSync locked(true);
    EXPECT_FALSE(FreeForOtherThread(locked));
    locked.Unlock();
    EXPECT_TRUE(FreeForOtherThread(locked));
    ExpectMutualExclusion<jsFastSync>();
    ExpectMutualExclusion<jsRecursiveSync>();
    // Unlocking keeps the thread's last error.
    jsFastSync fast;
    jsRecursiveSync recursive;
    fast.Lock();
    recursive.Lock();
    recursive.Lock();
    zel::platform::SetLastError(0xC7210003u);
    fast.Unlock();
    recursive.Unlock();
    recursive.Unlock();
    EXPECT_EQ(zel::platform::GetLastError(), 0xC7210003u);
    // A lock guard releases exactly what it acquired.
    {
        jsLockGuard<jsRecursiveSync> guard(lock);
        EXPECT_TRUE(guard.IsValid() && guard.Count() == 1);
        EXPECT_FALSE(FreeForOtherThread(lock));
        guard.Release();
        EXPECT_EQ(guard.Count(), 0u);
        EXPECT_TRUE(FreeForOtherThread(lock));
        // A second Release and the destructor must not unlock a hold the guard does not own.
        lock.Lock();
        guard.Release();
        EXPECT_FALSE(FreeForOtherThread(lock));
    }
    EXPECT_EQ(jsLockGuard<jsRecursiveSync>(lock, false).Count(), 0u);
    EXPECT_FALSE(FreeForOtherThread(lock));
    lock.Unlock();
    EXPECT_TRUE(FreeForOtherThread(lock));
}

TEST(Event, StatesFollowTheResetModeAndSetsReleaseWaiters) {
    for (int mode = 0; mode < 4; ++mode) {
        const bool clear = mode & 1, manual = mode & 2;
        SCOPED_TRACE(mode);
        jsEvent event(clear, manual);
        ASSERT_TRUE(event.IsValid());
        EXPECT_EQ(event.Wait(0), clear ? jsEvent::kTimedOut : jsEvent::kSignalled);
        // A manual-reset event stays signalled; an automatic one was consumed by the first wait.
        EXPECT_EQ(event.Wait(1), !clear && manual ? jsEvent::kSignalled : jsEvent::kTimedOut);
        ASSERT_TRUE(event.Set());
        EXPECT_EQ(event.Wait(0), jsEvent::kSignalled);
        EXPECT_EQ(event.Wait(0), manual ? jsEvent::kSignalled : jsEvent::kTimedOut);
        ASSERT_TRUE(event.Set() && event.Reset());
        EXPECT_EQ(event.Wait(20), jsEvent::kTimedOut);
    }
    // Two waiters: a manual-reset event releases both at one Set; an automatic one releases one
    // waiter per Set and is clear again after each.
    for (bool manual : {true, false}) {
        jsEvent event(true, manual);
        std::atomic<int> waiting{0}, released{0};
        auto waiter = [&] {
            ++waiting;
            const uint32_t result = event.Wait(jsEvent::kInfinite);
            ++released;
            return result;
        };
        auto first = std::async(std::launch::async, waiter), second = std::async(std::launch::async, waiter);
        while (waiting < 2) std::this_thread::yield();
        ASSERT_TRUE(event.Set());
        if (!manual) {
            while (released < 1) std::this_thread::yield();
            EXPECT_EQ(event.Wait(0), jsEvent::kTimedOut);
            EXPECT_EQ(released.load(), 1);
            ASSERT_TRUE(event.Set());
        }
        EXPECT_EQ(first.get(), jsEvent::kSignalled);
        EXPECT_EQ(second.get(), jsEvent::kSignalled);
        EXPECT_EQ(event.Wait(0), manual ? jsEvent::kSignalled : jsEvent::kTimedOut);
    }
}

constexpr const char kModulePath[] = ZEL_TEST_MODULE_PATH;

// Whether the test module is mapped into the process right now, asked of the loader
// without loading it.
bool ModuleResident() {
    void* module = dlopen(kModulePath, RTLD_NOW | RTLD_NOLOAD);
    return module && !dlclose(module);
}

TEST(DynamicLibrary, LoadsByPathResolvesAnExportAndCopiesShareTheModule) {
    ASSERT_FALSE(ModuleResident());
    jsDynamicLibrary library;
    ASSERT_EQ(library.Load(kModulePath), 0u) << library.Detail();
    EXPECT_TRUE(ModuleResident());
    EXPECT_EQ(library.Name() + library.Detail(), kModulePath);
    auto answer = reinterpret_cast<int (*)()>(library.GetEntry("zel_test_module_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    // A missing export gives no address and stores the error; a null name asks nothing.
    EXPECT_EQ(library.GetEntry("zel_test_module_missing"), nullptr);
    EXPECT_EQ(library.LastError(), static_cast<uint32_t>(ENOSYS));
    EXPECT_TRUE(library.IsLoaded() && library.GetEntry(nullptr) == nullptr);
    EXPECT_EQ(library.LastError(), static_cast<uint32_t>(ENOSYS));
    library.Unload();
    EXPECT_FALSE(library.IsLoaded() || ModuleResident());
    EXPECT_EQ(library.GetEntry("zel_test_module_answer"), nullptr);
    // Copies share one module and the last to go unloads it.
    {
        jsDynamicLibrary second = library;
        ASSERT_EQ(second.Load(kModulePath), 0u);
        EXPECT_EQ(library.Module(), second.Module());
    }
    EXPECT_TRUE(library.IsLoaded() && ModuleResident());
    {
        jsDynamicLibrary last = library;
        library = jsDynamicLibrary();  // assignment drops the old share
        EXPECT_TRUE(ModuleResident());
    }
    EXPECT_FALSE(ModuleResident() || library.IsLoaded());
    // Loading another module first lets go of the one held, whether or not the new one loads.
    const std::string notAModule = testing::TempDir() + "zel_not_a_module.so";
    std::ofstream(notAModule) << "not an ELF file\n";
    const struct { const char* name; uint32_t error; } cases[] = {
        {"/nonexistent/directory/libzelNoSuchModule.so", ENOENT}, {"zelNoSuchModule", ENOENT},
        {notAModule.c_str(), ELIBBAD}, {nullptr, ZEL_E_INVALIDARG}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "null");
        jsDynamicLibrary library;
        ASSERT_EQ(library.Load(kModulePath), 0u);
        EXPECT_EQ(library.Load(c.name), c.error);
        EXPECT_FALSE(library.IsLoaded() || ModuleResident());
        if (!c.name) continue;
        EXPECT_EQ(library.LastError(), c.error);
        EXPECT_EQ(library.Name(), c.name);
        EXPECT_NE(library.Detail().find(c.error == ELIBBAD ? c.name : " "), std::string::npos) << library.Detail();
    }
    std::remove(notAModule.c_str());
}

// Exit codes of the child: which registry it found.
constexpr int kUsedPublished = 10, kUsedPrivate = 11, kInconsistent = 12;

// A child process publishes a registry of its own as `format` (its address, or 0 for a null
// one, and `pid` fill it in) before it first looks for one.
[[noreturn]] void FindRegistryInFreshProcess(const char* format, unsigned pid, bool null) {
    zel::jsSingletonRegistry published;
    static int marker;
    published.Register("Marker", &marker);
    char value[64];
    std::snprintf(value, sizeof value, format, null ? 0ull : reinterpret_cast<unsigned long long>(&published), pid);
    setenv(zel::kSingletonRegistryVariable, value, 1);
    const bool usedPublished = &zel::ProcessRegistry() == &published;
    const bool found = zel::LookupSingleton("Marker");
    const int code = usedPublished != found ? kInconsistent : usedPublished ? kUsedPublished : kUsedPrivate;
    std::fprintf(stderr, "%s=%s -> %d\n", zel::kSingletonRegistryVariable, value, code);
    std::exit(code);
}

TEST(SingletonRegistryAndGuid, StoresFindsIsUsedOnlyWithThisProcessIdAndGuidTextsAreRandomVersion4) {
    zel::jsSingletonRegistry registry;
    int first = 1, second = 2;
    registry.Register("TraceInterface", &first);
    registry.Register("TraceInterface", &second);
    registry.Register(nullptr, &first);
    EXPECT_EQ(registry.Find("TraceInterface"), &second);
    EXPECT_EQ(registry.Find("traceinterface"), nullptr);  // names are exact
    EXPECT_TRUE(registry.Find(nullptr) == nullptr && registry.Find("") == nullptr);
    // The registry is cached per process, so each case looks it up in a freshly started copy
    // of this test program (the "threadsafe" death-test style re-executes the binary).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct { const char* format; bool parent, null, used; } cases[] = {{"%llx", false, false, false},
        {"%llx,%x", true, false, false}, {"%llx,%x", false, false, true}, {"%llx,%x", false, true, false}};
    for (const auto& c : cases) {
        const unsigned pid = static_cast<unsigned>(c.parent ? getppid() : getpid());
        EXPECT_EXIT(FindRegistryInFreshProcess(c.format, pid, c.null),
                    testing::ExitedWithCode(c.used ? kUsedPublished : kUsedPrivate), "ZEL_SINGLETON_REGISTRY=");
    }
    // The process registry (looked up only now, after the fresh processes) serves the lookups.
    zel::RegisterSingleton("RegistryTest.Object", &first);
    EXPECT_EQ(zel::ProcessRegistry().Find("RegistryTest.Object"), &first);
    zel::RegisterSingleton("RegistryTest.Object", nullptr);
    zel::jsGuidGenerator generator;
    // 8-4-4-4-12 lower-case hexadecimal digits, version digit 4, variant digit 8, 9, a or b.
    const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(generator.Generate(), 0u);
        ASSERT_TRUE(std::regex_match(generator.Text(), shape)) << generator.Text();
        EXPECT_TRUE(seen.insert(generator.Text()).second) << "repeated " << generator.Text();
    }
    // The text spells the bytes in order.
    std::string hex = generator.Text();
    hex.erase(std::remove(hex.begin(), hex.end(), '-'), hex.end());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(std::stoi(hex.substr(2 * i, 2), nullptr, 16), generator.Guid()[i]) << i;
    // NewGuidText is the wide text form.
    const std::u16string wide = zel::NewGuidText();
    EXPECT_TRUE(std::regex_match(std::string(wide.begin(), wide.end()), shape) && wide != zel::NewGuidText());
    EXPECT_LT(*std::max_element(wide.begin(), wide.end()), 0x80);
}

}  // namespace
}  // namespace zel
