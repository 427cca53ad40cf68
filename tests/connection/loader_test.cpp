// The binding to the session-config module: loading, entry resolution, start and stop,
// and the forwarding of each operation to the real module.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
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

struct Forwarding {
    const char* name;
    std::function<uint32_t(const CSessionConfigLoader&)> call;
};

// Every forwarding operation, called with harmless arguments, must report "not initialised".
void ExpectNotInitialized(const CSessionConfigLoader& loader, const char* when) {
    static char* text = nullptr;
    static int32_t* servers = nullptr;
    static uint32_t count = 0;
    using L = const CSessionConfigLoader&;
    const Forwarding all[] = {
        {"Free", [](L l) { return l.Free(nullptr); }},
        {"RegisterSettingsChanged", [](L l) { return l.RegisterSettingsChanged(nullptr); }},
        {"UnregisterSettingsChanged", [](L l) { return l.UnregisterSettingsChanged(nullptr); }},
        {"LoadLocalProperties", [](L l) { return l.LoadLocalProperties("x"); }},
        {"LoadGroupSettings", [](L l) { return l.LoadGroupSettings("x"); }},
        {"RetrieveLocalProperty", [](L l) { return l.RetrieveLocalProperty("s", "k", &text); }},
        {"GetDestinations", [](L l) { return l.GetDestinations(0, &servers, &count); }},
        {"GetGroupSettingsInfo", [](L l) { return l.GetGroupSettingsInfo(0, 0, &text, &text); }},
        {"PostData", [](L l) { return l.PostData(0, 1, "/", 0, "text/plain", "x", 1, nullptr, &text, &count); }},
        {"SetAgentId", [](L l) { return l.SetAgentId(kAgentId); }},
        {"SetLastGoodAgentId", [](L l) { return l.SetLastGoodAgentId(kAgentId); }},
        {"SaveGroupSettings", [](L l) { return l.SaveGroupSettings(nullptr); }},
        {"GetControllerCount", [](L l) { return l.GetControllerCount(&count); }},
        {"GetControllerInfo",
         [](L l) {
             return l.GetControllerInfo(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        {"AddController",
         [](L l) {
             return l.AddController("n", "h", "1", "http", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
         }},
        {"DeleteController", [](L l) { return l.DeleteController(0); }},
        {"SetGroupnameHint", [](L l) { return l.SetGroupnameHint("g"); }},
    };
    for (const Forwarding& forwarding : all)
        EXPECT_EQ(kNotInitialized, forwarding.call(loader)) << forwarding.name << " " << when;
}

// Keeps the real module mapped while the test lives, so that its state survives the
// loader's unloading and shows whether the loader stopped it.
using ModulePin = std::unique_ptr<void, int (*)(void*)>;
ModulePin PinModule() {
    const std::string path = std::string(ZEL_SCS_MODULE_DIR) + "/libzelSessionConfigSvcs3.so";
    return ModulePin(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL), dlclose);
}

uint32_t InitReal(CSessionConfigLoader& loader, const char* agentId = kAgentId, const SS_TraceSink* trace = nullptr,
                  bool startServer = false) {
    return loader.Init(ZEL_SCS_MODULE_DIR, kSessionConfigLibraryName, agentId, 0, nullptr, trace, true, startServer);
}

// A missing module gives the platform error, traced at the error level only.
TEST(SessionConfigLoaderTest, MissingModuleGivesThePlatformErrorAndTracesIt) {
    for (const uint32_t mask : {SS_TRACE_ERROR, 0u, SS_TRACE_WARNING | SS_TRACE_INFO}) {
        TraceRecorder trace(mask);
        CSessionConfigLoader loader;
        ExpectNotInitialized(loader, "before Init");
        EXPECT_EQ(static_cast<uint32_t>(ENOENT),
                  loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, trace.TraceSink(), true, false));
        EXPECT_EQ(static_cast<uint32_t>(ENOENT), loader.LastError());
        EXPECT_FALSE(loader.IsInitialized());
        EXPECT_FALSE(loader.IsLoaded());
        ExpectNotInitialized(loader, "after a failed load");
        const std::vector<TraceLine> lines = trace.Lines();
        if (mask != SS_TRACE_ERROR) {
            EXPECT_TRUE(lines.empty()) << "mask " << mask;
            continue;
        }
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(SS_TRACE_ERROR, lines[0].level);
        EXPECT_EQ(kInitWhere, lines[0].where);
        EXPECT_EQ(std::string("Error loading library 'zelNoSuchModule'.  Error:  ") + StatusText(ENOENT),
                  lines[0].message);
        EXPECT_NE(std::string::npos, lines[0].message.find("No such file or directory")) << lines[0].message;
    }
    CSessionConfigLoader loader;
    EXPECT_EQ(static_cast<uint32_t>(ENOENT),
              loader.Init(nullptr, "zelNoSuchModule", kAgentId, 0, nullptr, nullptr, true, false));
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(nullptr, nullptr, kAgentId, 0, nullptr, nullptr, true, false));
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Load(nullptr));
}

TEST(SessionConfigLoaderTest, MissingEntryPointLeavesNothingLoaded) {
    TraceRecorder trace;
    CSessionConfigLoader loader;
    EXPECT_EQ(ZEL_E_INVALIDARG, loader.Init(ZEL_PARTIAL_MODULE_DIR, "zelConnPartialModule", kAgentId, 0, nullptr,
                                            trace.TraceSink(), true, false));
    EXPECT_FALSE(loader.IsInitialized());
    EXPECT_FALSE(loader.IsLoaded());
    const std::string path = std::string(ZEL_PARTIAL_MODULE_DIR) + "/libzelConnPartialModule.so";
    EXPECT_EQ(nullptr, dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) << "the module was unloaded";
    ExpectNotInitialized(loader, "after a missing entry point");
    EXPECT_TRUE(trace.Lines(kInitWhere).empty());
}

TEST(SessionConfigLoaderTest, RealModuleStartsAndStops) {
    const ModulePin pin = PinModule();
    ASSERT_NE(nullptr, pin);
    TraceRecorder trace;
    CSessionConfigLoader loader;
    ASSERT_EQ(0u, InitReal(loader, kAgentId, trace.TraceSink()));
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
    ASSERT_EQ(0u, InitReal(loader));
    loader.Shutdown();
}

TEST(SessionConfigLoaderTest, FailedStartUnloadsAndStopsTheClientSide) {
    const ModulePin pin = PinModule();
    ASSERT_NE(nullptr, pin);
    CSessionConfigLoader loader;
    // The module refuses a start without an agent identifier.
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT, InitReal(loader, nullptr));
    EXPECT_FALSE(loader.IsLoaded());
    ExpectNotInitialized(loader, "after a failed SCS_Init");
    // The module has no server side, so the start fails after the client side started.
    EXPECT_EQ(ZEL_E_NOTIMPL, InitReal(loader, kAgentId, nullptr, true));
    EXPECT_FALSE(loader.IsInitialized());
    EXPECT_FALSE(loader.IsLoaded());
    // Were the client side still running, the module would answer "already initialised".
    ASSERT_EQ(0u, InitReal(loader));
    loader.Shutdown();
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
    EXPECT_NE(std::string::npos, file.find("agentId = 11111111-2222-3333-4444-555555555555")) << file;
    EXPECT_NE(std::string::npos, file.find("lastGoodAgentId = 66666666-7777-8888-9999-000000000000")) << file;
}

TEST_F(ForwardingTest, ControllerListGroupSettingsAndPosts) {
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
        EXPECT_EQ(std::string(expected[i] ? expected[i] : "<null>"), texts[i] ? texts[i] : "<null>") << i;
        m_loader.Free(texts[i]);
    }
    const std::vector<int32_t> ids = Destinations();
    ASSERT_EQ(2u, ids.size());
    EXPECT_NE(ids[0], ids[1]);

    EXPECT_EQ(0u, m_loader.SetGroupnameHint("Hinted Group"));
    char* schemaVersion = nullptr;
    char* groupName = nullptr;
    ASSERT_EQ(0u, m_loader.GetGroupSettingsInfo(0, 0, &schemaVersion, &groupName));
    EXPECT_STREQ("1.0.0", schemaVersion);
    EXPECT_STREQ("Hinted Group", groupName);
    m_loader.Free(schemaVersion);
    m_loader.Free(groupName);

    // Saved, shortened and loaded back through the binding.
    const std::string path = m_dir.File("group.xml");
    ASSERT_EQ(0u, m_loader.SaveGroupSettings(path.c_str()));
    ASSERT_EQ(0u, m_loader.DeleteController(0));
    EXPECT_EQ(std::vector<int32_t>{ids[1]}, Destinations());
    ASSERT_EQ(0u, m_loader.LoadGroupSettings(path.c_str()));
    EXPECT_EQ(ids, Destinations());

    const uint32_t timeouts[3] = {1000, 1000, 1000};
    char* response = nullptr;
    uint32_t length = 7;
    EXPECT_EQ(ZEL_E_SCS_UNKNOWN_DESTINATION, m_loader.PostData(0, 4242, "/zel/sensor_services/ping", 0,
                                                               "application/x-zel-xml-data", "id", 2, timeouts,
                                                               &response, &length));
    EXPECT_EQ(nullptr, response);
}

// Settings-changed notifications arrive on the module's own thread.
std::mutex g_changedMutex;
std::condition_variable g_changedSignal;
int g_changedCalls = 0;

uint32_t OnSettingsChanged() {
    std::lock_guard<std::mutex> lock(g_changedMutex);
    ++g_changedCalls;
    g_changedSignal.notify_all();
    return 0;
}

TEST_F(ForwardingTest, SettingsChangedCallbackIsRegisteredAndUnregistered) {
    int before = 0;
    {
        std::lock_guard<std::mutex> lock(g_changedMutex);
        before = g_changedCalls;
    }
    ASSERT_EQ(0u, m_loader.RegisterSettingsChanged(&OnSettingsChanged));
    AddController(9001);
    std::unique_lock<std::mutex> lock(g_changedMutex);
    EXPECT_TRUE(g_changedSignal.wait_for(lock, std::chrono::seconds(10), [&] { return g_changedCalls > before; }));
    lock.unlock();
    ASSERT_EQ(0u, m_loader.UnregisterSettingsChanged(&OnSettingsChanged));
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT, m_loader.UnregisterSettingsChanged(&OnSettingsChanged)) << "already removed";
}

}  // namespace
}  // namespace zel::conn::test
