// The binding to the session-config module: loading, entry resolution, start and stop,
// and the forwarding of each operation to the real module.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "connection_fixture.h"
#include "runtime/zel_error.h"
#include "zel/status_codes.h"

namespace zel::conn::test {
namespace {

constexpr uint32_t kNotInitialized = 0xC7210035;
constexpr const char* kInitWhere = "CSessionConfigLoader::Init()";

TEST(StatusConstantsTest, HaveTheirValues) {
    EXPECT_EQ(0xC7210035u, ZEL_E_NOT_INITIALIZED);
    EXPECT_EQ(0xC7210003u, ZEL_E_INVALIDARG);
    EXPECT_EQ(0xC7210038u, ZEL_E_RETRY);
    EXPECT_EQ(0xC7210009u, ZEL_E_INVALID_HANDLE);
}

struct Forwarding {
    const char* name;
    std::function<uint32_t(const CSessionConfigLoader&)> call;
};

// Every forwarding operation, called with harmless arguments.
std::vector<Forwarding> AllForwardings() {
    static char* text = nullptr;
    static int32_t* servers = nullptr;
    static uint32_t count = 0;
    return {
        {"Free", [](const CSessionConfigLoader& l) { return l.Free(nullptr); }},
        {"RegisterSettingsChanged", [](const CSessionConfigLoader& l) { return l.RegisterSettingsChanged(nullptr); }},
        {"UnregisterSettingsChanged",
         [](const CSessionConfigLoader& l) { return l.UnregisterSettingsChanged(nullptr); }},
        {"LoadLocalProperties", [](const CSessionConfigLoader& l) { return l.LoadLocalProperties("x"); }},
        {"LoadGroupSettings", [](const CSessionConfigLoader& l) { return l.LoadGroupSettings("x"); }},
        {"RetrieveLocalProperty",
         [](const CSessionConfigLoader& l) { return l.RetrieveLocalProperty("s", "k", &text); }},
        {"GetDestinations", [](const CSessionConfigLoader& l) { return l.GetDestinations(0, &servers, &count); }},
        {"GetGroupSettingsInfo",
         [](const CSessionConfigLoader& l) { return l.GetGroupSettingsInfo(0, 0, &text, &text); }},
        {"PostData",
         [](const CSessionConfigLoader& l) {
             return l.PostData(0, 1, "/", 0, "text/plain", "x", 1, nullptr, &text, &count);
         }},
        {"SetAgentId", [](const CSessionConfigLoader& l) { return l.SetAgentId(kAgentId); }},
        {"SetLastGoodAgentId", [](const CSessionConfigLoader& l) { return l.SetLastGoodAgentId(kAgentId); }},
        {"SaveGroupSettings", [](const CSessionConfigLoader& l) { return l.SaveGroupSettings(nullptr); }},
        {"GetControllerCount", [](const CSessionConfigLoader& l) { return l.GetControllerCount(&count); }},
        {"GetControllerInfo",
         [](const CSessionConfigLoader& l) {
             return l.GetControllerInfo(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        {"AddController",
         [](const CSessionConfigLoader& l) {
             return l.AddController("n", "h", "1", "http", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        {"DeleteController", [](const CSessionConfigLoader& l) { return l.DeleteController(0); }},
        {"SetGroupnameHint", [](const CSessionConfigLoader& l) { return l.SetGroupnameHint("g"); }},
    };
}

void ExpectNotInitialized(const CSessionConfigLoader& loader, const char* when) {
    for (const Forwarding& forwarding : AllForwardings())
        EXPECT_EQ(kNotInitialized, forwarding.call(loader)) << forwarding.name << " " << when;
}

// True while the module at `path` is mapped into the process.
bool IsResident(const std::string& path) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!module) return false;
    dlclose(module);
    return true;
}

// Keeps the real module mapped while the test lives, so that its state survives the
// loader's unloading and shows whether the loader stopped it.
class ModulePin {
public:
    ModulePin() : m_module(dlopen(kModulePath.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~ModulePin() {
        if (m_module) dlclose(m_module);
    }
    ModulePin(const ModulePin&) = delete;
    ModulePin& operator=(const ModulePin&) = delete;
    bool Pinned() const { return m_module != nullptr; }

private:
    static inline const std::string kModulePath = std::string(ZEL_SCS_MODULE_DIR) + "/libzelSessionConfigSvcs3.so";
    void* m_module;
};

TEST(SessionConfigLoaderTest, ForwardingBeforeInitReportsNotInitialised) {
    const CSessionConfigLoader loader;
    ExpectNotInitialized(loader, "before Init");
}

TEST(SessionConfigLoaderTest, MissingModuleGivesThePlatformErrorAndTracesIt) {
    TraceRecorder trace(SS_TRACE_ERROR);
    CSessionConfigLoader loader;
    EXPECT_EQ(static_cast<uint32_t>(ENOENT),
              loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, trace.TraceSink(), true, false));
    EXPECT_EQ(static_cast<uint32_t>(ENOENT), loader.LastError());
    EXPECT_FALSE(loader.IsInitialized());
    EXPECT_FALSE(loader.IsLoaded());

    const std::vector<TraceLine> lines = trace.Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(SS_TRACE_ERROR, lines[0].level);
    EXPECT_EQ(kInitWhere, lines[0].where);
    EXPECT_EQ(std::string("Error loading library 'zelNoSuchModule'.  Error:  ") + StatusText(ENOENT),
              lines[0].message);
    EXPECT_NE(std::string::npos, lines[0].message.find("No such file or directory")) << lines[0].message;
    ExpectNotInitialized(loader, "after a failed load");
}

TEST(SessionConfigLoaderTest, LoadFailureIsTracedOnlyWhenErrorsAreEnabled) {
    for (uint32_t mask : {0u, SS_TRACE_WARNING | SS_TRACE_INFO}) {
        TraceRecorder trace(mask);
        CSessionConfigLoader loader;
        EXPECT_EQ(static_cast<uint32_t>(ENOENT),
                  loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, trace.TraceSink(), true, false));
        EXPECT_TRUE(trace.Lines().empty()) << "mask " << mask;
    }
    CSessionConfigLoader loader;
    EXPECT_EQ(static_cast<uint32_t>(ENOENT),
              loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, nullptr, true, false));
}

TEST(SessionConfigLoaderTest, NullLibraryNameIsInvalid) {
    CSessionConfigLoader loader;
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(nullptr, nullptr, kAgentId, 0, nullptr, nullptr, true, false));
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Load(nullptr));
}

TEST(SessionConfigLoaderTest, MissingEntryPointLeavesNothingLoaded) {
    const std::string path = std::string(ZEL_PARTIAL_MODULE_DIR) + "/libzelConnPartialModule.so";
    TraceRecorder trace;
    CSessionConfigLoader loader;
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(ZEL_PARTIAL_MODULE_DIR, "zelConnPartialModule", kAgentId, 0, nullptr,
                                            trace.TraceSink(), true, false));
    EXPECT_FALSE(loader.IsInitialized());
    EXPECT_FALSE(loader.IsLoaded());
    EXPECT_FALSE(IsResident(path));
    ExpectNotInitialized(loader, "after a missing entry point");
    EXPECT_TRUE(trace.Lines(kInitWhere).empty());
}

TEST(SessionConfigLoaderTest, RealModuleStartsAndStops) {
    const ModulePin pin;
    ASSERT_TRUE(pin.Pinned());
    TraceRecorder trace;
    CSessionConfigLoader loader;
    ASSERT_EQ(0u, loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, kAgentId, 0, nullptr,
                              trace.TraceSink(), true, false));
    EXPECT_TRUE(loader.IsInitialized());
    EXPECT_TRUE(loader.IsLoaded());
    // A second Init does nothing, so the module is not started twice.
    EXPECT_EQ(0u, loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, trace.TraceSink(), true, false));
    EXPECT_TRUE(trace.Lines(kInitWhere).empty());
    uint32_t count = 99;
    EXPECT_EQ(0u, loader.GetControllerCount(&count));
    EXPECT_EQ(0u, count);

    loader.Shutdown();
    EXPECT_FALSE(loader.IsInitialized());
    EXPECT_FALSE(loader.IsLoaded());
    ExpectNotInitialized(loader, "after Shutdown");

    // Shutdown stopped the module: starting it again succeeds rather than finding it running.
    ASSERT_EQ(0u, loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, kAgentId, 0, nullptr, nullptr, true,
                              false));
    loader.Shutdown();
}

TEST(SessionConfigLoaderTest, FailedClientStartUnloads) {
    CSessionConfigLoader loader;
    // The module refuses a start without an agent identifier.
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT,
              loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, nullptr, 0, nullptr, nullptr, true, false));
    EXPECT_FALSE(loader.IsInitialized());
    EXPECT_FALSE(loader.IsLoaded());
    ExpectNotInitialized(loader, "after a failed SCS_Init");
}

TEST(SessionConfigLoaderTest, FailedServerStartStopsTheClientSide) {
    const ModulePin pin;
    ASSERT_TRUE(pin.Pinned());
    CSessionConfigLoader loader;
    // The module has no server side, so the start fails after the client side started.
    EXPECT_EQ(ZEL_E_NOTIMPL,
              loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, kAgentId, 0, nullptr, nullptr, true, true));
    EXPECT_FALSE(loader.IsInitialized());
    EXPECT_FALSE(loader.IsLoaded());
    // Were the client side still running, the module would answer "already initialised".
    ASSERT_EQ(0u, loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, kAgentId, 0, nullptr, nullptr, true,
                              false));
    loader.Shutdown();
}

// Settings-changed notifications arrive on the module's own thread; each callback has its
// own counter.
std::mutex g_changedMutex;
std::condition_variable g_changedSignal;
int g_changedCalls[2] = {};

template <int N>
uint32_t OnSettingsChanged() {
    std::lock_guard<std::mutex> lock(g_changedMutex);
    ++g_changedCalls[N];
    g_changedSignal.notify_all();
    return 0;
}

bool WaitForChangedCalls(int callback, int calls) {
    std::unique_lock<std::mutex> lock(g_changedMutex);
    return g_changedSignal.wait_for(lock, std::chrono::seconds(10),
                                    [&] { return g_changedCalls[callback] >= calls; });
}

int ChangedCalls(int callback) {
    std::lock_guard<std::mutex> lock(g_changedMutex);
    return g_changedCalls[callback];
}

using ForwardingTest = StartedModuleTest;

TEST_F(ForwardingTest, PropertiesAndAgentIdentity) {
    LoadProperties("# agent settings\n[sensor_services]\nretryInterval = 1500\n\n[session_config]\nagentId = old\n");
    char* value = nullptr;
    ASSERT_EQ(0u, m_loader.RetrieveLocalProperty("sensor_services", "retryInterval", &value));
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ("1500", value);
    EXPECT_EQ(0u, m_loader.Free(value));
    value = nullptr;
    EXPECT_EQ(ZEL_E_SCS_PROPERTY_NOT_FOUND, m_loader.RetrieveLocalProperty("sensor_services", "absent", &value));
    EXPECT_EQ(nullptr, value);
    EXPECT_EQ(ZEL_E_SCS_FILE_NOT_LOADED, m_loader.LoadLocalProperties(m_dir.File("missing.properties").c_str()));

    EXPECT_EQ(0u, m_loader.SetAgentId("11111111-2222-3333-4444-555555555555"));
    EXPECT_EQ(0u, m_loader.SetLastGoodAgentId("66666666-7777-8888-9999-000000000000"));
    const std::string file = ReadFile(m_dir.File("agent.properties"));
    EXPECT_NE(std::string::npos, file.find("11111111-2222-3333-4444-555555555555")) << file;
    EXPECT_NE(std::string::npos, file.find("66666666-7777-8888-9999-000000000000")) << file;
    EXPECT_NE(std::string::npos, file.find("# agent settings")) << file;
}

TEST_F(ForwardingTest, ControllerListAndGroupName) {
    ASSERT_EQ(0u, m_loader.AddController("primary", "127.0.0.1", "8080", "http", nullptr, nullptr, "user", "secret",
                                         nullptr, nullptr));
    ASSERT_EQ(0u, m_loader.AddController("backup", "backup.example", "8443", "https", "proxy.example", "3128",
                                         nullptr, nullptr, "puser", "psecret"));
    uint32_t count = 0;
    ASSERT_EQ(0u, m_loader.GetControllerCount(&count));
    EXPECT_EQ(2u, count);

    char* texts[8] = {};
    ASSERT_EQ(0u, m_loader.GetControllerInfo(1, &texts[0], &texts[1], &texts[2], &texts[3], &texts[4], &texts[5],
                                             &texts[6], &texts[7]));
    const char* expected[8] = {"backup", "backup.example", "8443", "https", "proxy.example", "3128", nullptr, "puser"};
    for (int i = 0; i < 8; ++i) {
        if (expected[i])
            EXPECT_STREQ(expected[i], texts[i]) << "field " << i;
        else
            EXPECT_EQ(nullptr, texts[i]) << "field " << i;
        m_loader.Free(texts[i]);
    }

    const std::vector<int32_t> ids = Destinations();
    ASSERT_EQ(2u, ids.size());
    EXPECT_GT(ids[0], 0);
    EXPECT_GT(ids[1], 0);
    EXPECT_NE(ids[0], ids[1]);

    EXPECT_EQ(0u, m_loader.SetGroupnameHint("Hinted Group"));
    char* schemaVersion = nullptr;
    char* groupName = nullptr;
    ASSERT_EQ(0u, m_loader.GetGroupSettingsInfo(0, 0, &schemaVersion, &groupName));
    EXPECT_STREQ("1.0.0", schemaVersion);
    EXPECT_STREQ("Hinted Group", groupName);
    m_loader.Free(schemaVersion);
    m_loader.Free(groupName);

    ASSERT_EQ(0u, m_loader.DeleteController(0));
    EXPECT_EQ(std::vector<int32_t>{ids[1]}, Destinations());
}

TEST_F(ForwardingTest, PostToAnUnknownControllerIsRefusedByTheModule) {
    const uint32_t timeouts[3] = {1000, 1000, 1000};
    char* response = nullptr;
    uint32_t length = 7;
    EXPECT_EQ(ZEL_E_SCS_UNKNOWN_DESTINATION,
              m_loader.PostData(0, 4242, "/zel/sensor_services/ping", 0, "application/x-zel-xml-data", "id", 2,
                                timeouts, &response, &length));
    EXPECT_EQ(nullptr, response);
}

TEST_F(ForwardingTest, SettingsChangedCallbackIsCalledUntilUnregistered) {
    const int firstBefore = ChangedCalls(0);
    ASSERT_EQ(0u, m_loader.RegisterSettingsChanged(&OnSettingsChanged<0>));
    AddController(9001);
    ASSERT_TRUE(WaitForChangedCalls(0, firstBefore + 1));
    ASSERT_EQ(0u, m_loader.UnregisterSettingsChanged(&OnSettingsChanged<0>));
    const int firstAfter = ChangedCalls(0);

    // The second callback hears the next change; the first, unregistered, must not.
    const int secondBefore = ChangedCalls(1);
    ASSERT_EQ(0u, m_loader.RegisterSettingsChanged(&OnSettingsChanged<1>));
    AddController(9002);
    ASSERT_TRUE(WaitForChangedCalls(1, secondBefore + 1));
    EXPECT_EQ(0u, m_loader.UnregisterSettingsChanged(&OnSettingsChanged<1>));
    EXPECT_EQ(firstAfter, ChangedCalls(0));
}

}  // namespace
}  // namespace zel::conn::test
