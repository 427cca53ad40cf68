// Crash safety of the module's two rewrites (the group settings save and the identifier
// rewrite of the property file): a child process rewrites the file without pause and is
// killed with SIGKILL at a random moment; the file must be the old or a new complete
// version every time, and the next load clears what the dead writer left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "module_fixture.h"
#include "session_config/file_io.h"

namespace zel::scs::test {
namespace {

constexpr long kControllers = 100;

// Version n: the controllers c<n> ... c<n + kControllers - 1>, in the module's exact format.
std::string GroupDocument(long n) {
    std::string text =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Crash' version='1'"
        " schema-version='1.0.0'>\n"
        "    <controller-list>\n";
    for (long k = n; k < n + kControllers; ++k)
        text += "        <controller-info name='c" + std::to_string(k) + "' host-name='h" + std::to_string(k) +
                ".example' port='80' passwd='s&amp;" + std::to_string(k) + "'/>\n";
    return text + "    </controller-list>\n</policy>\n";
}

// Version n: agent identifier agent-<n>, in a file long enough that a rewrite takes a while.
std::string PropertyFile(long n) {
    std::string text = "# Properties rewritten while the writer is killed\n[sensor_services]\n";
    for (int i = 0; i < 400; ++i) text += "; padding line " + std::to_string(i) + " of the file\n";
    return text + "[session_config]\nagentId = agent-" + std::to_string(n) + "\nverifyPeer = 1\n[custom]\nz = 1\n";
}

struct CrashCase {
    const char* name;
    const char* file;
    std::string (*version)(long n);
    const char* marker;  // the version number follows its first occurrence
    uint32_t (*load)(const char* path);
    bool (*write)(long n);  // turns the loaded version n - 1 into version n and writes it
};

const CrashCase kCases[] = {
    {"GroupSettingsSave", "group.xml", GroupDocument, "name='c",
     [](const char* path) { return Scs().SCS_LoadGroupSettings(path); },
     [](long n) {
         const std::string k = std::to_string(n + kControllers - 1);
         const std::string name = "c" + k, host = "h" + k + ".example", password = "s&" + k;
         return Scs().SCS_DeleteController(0) == 0 &&
                Scs().SCS_AddController(name.c_str(), host.c_str(), "80", nullptr, nullptr, nullptr, nullptr,
                                        password.c_str(), nullptr, nullptr) == 0 &&
                Scs().SCS_SaveGroupSettings(nullptr) == 0;
     }},
    {"IdentifierRewrite", "agent.properties", PropertyFile, "agentId = agent-",
     [](const char* path) { return Scs().SCS_LoadLocalProperties(path); },
     [](long n) { return Scs().SCS_SetAgentId(("agent-" + std::to_string(n)).c_str()) == 0; }},
};

void PrintTo(const CrashCase& row, std::ostream* out) { *out << row.name; }

class KillDuringRewrite : public ::testing::TestWithParam<CrashCase> {};

TEST_P(KillDuringRewrite, LeavesACompleteFile) {
    const CrashCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.File(c.file);
    WriteFile(path, c.version(0));
    const auto versionIn = [&](const std::string& content) {
        const auto at = content.find(c.marker);
        return at == std::string::npos ? -1L : std::atol(content.c_str() + at + std::strlen(c.marker));
    };
    long n = 0;  // the version in the file; in the child, the version last written
    int strayTemporaries = 0;
    KillDuringWrite rounds;
    rounds.start = [&] {
        n = versionIn(ReadFile(path));
        return n >= 0 && Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr) == 0 && c.load(path.c_str()) == 0;
    };
    rounds.write = [&](int, unsigned) { return c.write(++n); };
    // One rewrite with its two flushes takes some 10-30 ms here: the kill lands anywhere in it.
    rounds.maxDelay = std::chrono::microseconds(30000);
    rounds.check = [&](int round) {
        const std::string content = ReadFile(path);
        n = versionIn(content);
        ASSERT_EQ(c.version(n), content) << "round " << round;
        for (const std::string& name : dir.Entries()) {
            if (name == c.file) continue;
            // Only the instant between naming the finished temporary and renaming it can
            // leave one behind: a complete copy under the writer's temporary name.
            ASSERT_EQ(0u, name.find(TemporaryPrefix(path))) << name;
            ++strayTemporaries;
        }
        ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
        EXPECT_EQ(0u, c.load(path.c_str())) << "round " << round;
        EXPECT_EQ(std::vector<std::string>{c.file}, dir.Entries()) << "round " << round;
        ASSERT_EQ(0u, Scs().SCS_ShutDown());
    };
    const int roundsRun = RunKillDuringWrite(rounds);
    RecordProperty("rounds", roundsRun);
    RecordProperty("stray_temporaries_before_the_next_load", strayTemporaries);
    EXPECT_GE(n, roundsRun) << "every round writes at least once before the kill";
}

INSTANTIATE_TEST_SUITE_P(Table, KillDuringRewrite, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zel::scs::test
