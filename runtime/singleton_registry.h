// The process-wide registry in which the modules of one process find shared singletons
// by name.
#pragma once

#include <map>
#include <string>

namespace zel {

// The environment variable through which a module publishes its registry to the other
// modules of the process: "<hex address>,<hex process id>".
constexpr const char kSingletonRegistryVariable[] = "ZEL_SINGLETON_REGISTRY";

// A map from names to objects of any type. Takes no lock: modules use it while they are
// initialised, which the platform serialises.
class jsSingletonRegistry {
public:
    jsSingletonRegistry() = default;
    virtual ~jsSingletonRegistry() = default;
    jsSingletonRegistry(const jsSingletonRegistry&) = delete;
    jsSingletonRegistry& operator=(const jsSingletonRegistry&) = delete;

    // Stores `object` under `name`, replacing any earlier entry; a null name is ignored.
    virtual void Register(const char* name, void* object);
    // The object stored under `name`, or null (also for a null name).
    void* Find(const char* name) const;

private:
    std::map<std::string, void*> m_objects;
};

// The registry of this process, found on first use and kept until the process ends: the
// one published in ZEL_SINGLETON_REGISTRY when its process id is this process's, otherwise
// a private one.
jsSingletonRegistry& ProcessRegistry();

// True when the process registry is seen by other modules too: it was found through
// ZEL_SINGLETON_REGISTRY, or this module published it.
bool ProcessRegistryIsShared();

// Publishes this module's process registry in ZEL_SINGLETON_REGISTRY, so that the modules
// loaded after the call (each with its own copy of the runtime) share it; false when the
// variable cannot be set. For agents, before they load the library: the library never
// publishes. The publishing module stays loaded for the rest of the process, since the
// registry is its memory.
bool PublishProcessRegistry();

// The object registered in the process registry under `name`, or null.
void* LookupSingleton(const char* name);

// Stores `object` in the process registry under `name`, replacing any earlier entry.
void RegisterSingleton(const char* name, void* object);

}  // namespace zel
