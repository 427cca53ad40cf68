#include "runtime/singleton_registry.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "runtime/platform.h"

namespace zel {
namespace {

// The registry that another module of this process published, or null. The variable is
// inherited by child processes, where the address means nothing: the process id that
// follows the address tells whether it was published in this process, and a value without
// one is never trusted.
jsSingletonRegistry* PublishedRegistry() {
    const char* value = platform::GetEnv(kSingletonRegistryVariable);
    if (!value) return nullptr;
    char* end = nullptr;
    unsigned long long address = std::strtoull(value, &end, 16);
    unsigned long long processId = 0;
    if (end && *end == ',') processId = std::strtoull(end + 1, nullptr, 16);
    if (address == 0 || processId != platform::CurrentProcessId()) return nullptr;
    return reinterpret_cast<jsSingletonRegistry*>(static_cast<uintptr_t>(address));
}

// Set once the registry is known to other modules.
std::atomic<bool> g_registryShared{false};

}  // namespace

void jsSingletonRegistry::Register(const char* name, void* object) {
    if (name) m_objects[name] = object;
}

void* jsSingletonRegistry::Find(const char* name) const {
    if (!name) return nullptr;
    auto entry = m_objects.find(name);
    return entry == m_objects.end() ? nullptr : entry->second;
}

jsSingletonRegistry& ProcessRegistry() {
    static jsSingletonRegistry* const registry = [] {
        if (jsSingletonRegistry* published = PublishedRegistry()) {
            g_registryShared = true;
            return published;
        }
        // Never destroyed: objects registered here are looked up from other modules'
        // teardown code, which may run after this module's static destructors.
        return new jsSingletonRegistry;
    }();
    return *registry;
}

bool ProcessRegistryIsShared() {
    ProcessRegistry();
    return g_registryShared;
}

bool PublishProcessRegistry() {
    char value[48];
    std::snprintf(value, sizeof value, "%llx,%x",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&ProcessRegistry())),
                  static_cast<unsigned>(platform::CurrentProcessId()));
    if (!platform::SetEnv(kSingletonRegistryVariable, value)) return false;
    platform::KeepModuleLoaded(reinterpret_cast<const void*>(&PublishProcessRegistry));
    g_registryShared = true;
    return true;
}

void* LookupSingleton(const char* name) { return ProcessRegistry().Find(name); }

void RegisterSingleton(const char* name, void* object) { ProcessRegistry().Register(name, object); }

}  // namespace zel
