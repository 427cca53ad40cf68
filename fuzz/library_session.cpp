#include "fuzz/library_session.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "sensor_services/internal.h"
#include "zel/sensor_services.h"

namespace zel::fuzz {

namespace {

constexpr const char* kGroupSettings =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Fuzz Group' version='1'"
    " schema-version='1.0.0'>\n"
    "    <controller-list>\n"
    "        <controller-info name='unreachable' host-name='127.0.0.1' port='1'/>\n"
    "    </controller-list>\n"
    "</policy>\n";

// Short post limits: a post that does not fail at once still ends well within the time
// one input may take.
constexpr const char* kProperties =
    "[sensor_services]\n"
    "dnsCacheTimeout = 60000\n"
    "connectTimeout = 1000\n"
    "transferTimeout = 1000\n"
    "dumpEnabled = 0\n";

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz library session: %s\n", what.c_str());
    std::abort();
}

void WriteFile(const std::string& path, const char* text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.good()) Fail("cannot write " + path);
}

std::string MakeTemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zel-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) Fail("cannot create a directory from " + pattern);
    return pattern;
}

uint32_t IgnoreTrace(void*, uint32_t, const char*, const char*) { return 0; }

const SS_TraceSink kSilentTrace{nullptr, SS_TRACE_ERROR | SS_TRACE_WARNING | SS_TRACE_INFO, &IgnoreTrace};

}  // namespace

LibrarySession::LibrarySession()
    : m_directory(MakeTemporaryDirectory()), m_groupSettingsFile(m_directory + "/group.xml") {
    // The library finds the module by its name among the objects already loaded; loaded
    // by path here, it need not be on the loader's search path (nor does the sanitizers'
    // dlopen interceptor hide the RUNPATH that would find it).
    if (!::dlopen(ZEL_SCS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) Fail(std::string("dlopen: ") + ::dlerror());
    const std::string properties = m_directory + "/agent.properties";
    WriteFile(properties, kProperties);
    WriteFile(m_groupSettingsFile, kGroupSettings);
    const uint32_t status =
        SS_Init("3.0", properties.c_str(), m_groupSettingsFile.c_str(), kAgentId, 0, nullptr, &kSilentTrace);
    if (status != 0) Fail("SS_Init failed with status " + std::to_string(status));
}

LibrarySession::~LibrarySession() {
    SS_ShutDown();
    zel::ss::WaitUntilLibraryGone();
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
}

void LibrarySession::RestoreGroupSettings() const {
    WriteFile(m_groupSettingsFile, kGroupSettings);
    const uint32_t status = SS_LoadGroupSettings(m_groupSettingsFile.c_str());
    if (status != 0) Fail("the group settings do not load again: status " + std::to_string(status));
}

LibrarySession& Library() {
    static LibrarySession session;
    return session;
}

}  // namespace zel::fuzz
