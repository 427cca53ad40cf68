// The local property file: parsing, lookups, rewrites that keep every other line, and
// crash safety of the rewrite.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "module_fixture.h"
#include "session_config/file_io.h"
#include "session_config/property_file.h"

namespace zel::scs::test {
namespace {

struct LookupRow {
    const char* text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

TEST(PropertyFile, LookupReadsTrimmedValuesCaseSensitively) {
    const LookupRow rows[] = {
        {"[a]\nk = v\n", "a", "k", "v"},
        {"[a]\n  k\t=\t v w \t\n", "a", "k", "v w"},
        {"[ a ]\nk=v", "a", "k", "v"},
        {"[a]\nk =\n", "a", "k", ""},
        {"[a]\nk = 1\nk = 2\n", "a", "k", "2"},
        {"[a]\nk = x = y\n", "a", "k", "x = y"},
        {"[a]\nk = v\n", "A", "k", std::nullopt},
        {"[a]\nk = v\n", "a", "K", std::nullopt},
        {"[a]\nk = v\n[b]\n", "b", "k", std::nullopt},
        {"k = top\n[a]\n", "", "k", "top"},
        {"# k = c\n; k = d\n[a]\n", "a", "k", std::nullopt},
        {"[a]\r\nk = crlf\r\n", "a", "k", "crlf"},
        {"\xEF\xBB\xBF[a]\nk = bom\n", "a", "k", "bom"},
        {"[a]\nk = gr\xC3\xBC\xC3\x9F\n", "a", "k", "gr\xC3\xBC\xC3\x9F"},
    };
    for (const LookupRow& row : rows) {
        CPropertyFile file;
        ASSERT_TRUE(file.Parse(row.text)) << row.text;
        EXPECT_EQ(row.expected, file.Lookup(row.section, row.key)) << row.text;
    }
}

TEST(PropertyFile, MalformedTextIsRefusedAndLeavesTheOldContent) {
    const std::string rows[] = {
        "[unclosed\n", "no equals sign\n", " = value without key\n", "[]\n", "[a]]\n",
        "[a]\nk = \xC3\x28\n", std::string("[a]\nk = a\0b\n", 12), "[a]\nk = \xED\xA0\x80\n",
        "[a]\nk = v\rw\n",
    };
    for (const std::string& text : rows) {
        CPropertyFile file;
        ASSERT_TRUE(file.Parse("[a]\nk = old\n"));
        EXPECT_FALSE(file.Parse(text)) << text;
        EXPECT_EQ("old", file.Lookup("a", "k")) << text;
    }
}

struct RewriteRow {
    const char* name;
    const char* before;
    const char* key;
    const char* value;
    const char* after;
};

TEST(PropertyFile, SetChangesOneLineAndKeepsEveryOther) {
    const RewriteRow rows[] = {
        {"ReplacesValue",
         "# Agent\n[session_config]\n  agentId=old   \n; note\nother = 1\n",
         "agentId", "new",
         "# Agent\n[session_config]\nagentId = new\n; note\nother = 1\n"},
        {"AppendsToTheSectionBeforeTheNextOne",
         "[session_config]\ncaFile = a.pem\n\n# the next section\n[custom]\nx = 1\n",
         "agentId", "id",
         "[session_config]\ncaFile = a.pem\nagentId = id\n\n# the next section\n[custom]\nx = 1\n"},
        {"AddsTheSectionAtTheEnd",
         "[sensor_services]\nretryInterval = 5\n",
         "agentId", "id",
         "[sensor_services]\nretryInterval = 5\n\n[session_config]\nagentId = id\n"},
        {"EmptyFile", "", "agentId", "id", "[session_config]\nagentId = id\n"},
        {"KeepsCrLf",
         "[session_config]\r\nagentId = a\r\n# c\r\n",
         "agentId", "b",
         "[session_config]\r\nagentId = b\r\n# c\r\n"},
        {"KeepsAMissingFinalLineEnd",
         "[session_config]\nagentId = a", "agentId", "b",
         "[session_config]\nagentId = b"},
        {"KeepsTheByteOrderMark",
         "\xEF\xBB\xBF[session_config]\nagentId = a\n", "agentId", "b",
         "\xEF\xBB\xBF[session_config]\nagentId = b\n"},
        {"ReplacesTheLastOfRepeatedKeys",
         "[session_config]\nagentId = 1\nagentId = 2\n", "agentId", "3",
         "[session_config]\nagentId = 1\nagentId = 3\n"},
        {"LeavesTheSameKeyOfOtherSections",
         "[custom]\nagentId = keep\n[session_config]\n", "agentId", "new",
         "[custom]\nagentId = keep\n[session_config]\nagentId = new\n"},
    };
    for (const RewriteRow& row : rows) {
        CPropertyFile file;
        ASSERT_TRUE(file.Parse(row.before)) << row.name;
        file.Set("session_config", row.key, row.value);
        EXPECT_EQ(row.after, file.Serialize()) << row.name;
        CPropertyFile reread;
        ASSERT_TRUE(reread.Parse(file.Serialize())) << row.name;
        EXPECT_EQ(row.value, reread.Lookup("session_config", row.key)) << row.name;
    }
}

class PropertyFileModule : public ModuleTest {
protected:
    std::string Retrieve(const char* section, const char* key, uint32_t expected = 0) {
        ScsText value;
        EXPECT_EQ(expected, Scs().SCS_RetrieveLocalProperty(section, key, value.Out()))
            << section << "/" << key;
        return value.Str();
    }
};

constexpr const char* kProperties =
    "# Local properties of the agent\n"
    "[sensor_services]\n"
    "connectTimeout = 5000\n"
    "transferTimeout=30000\n"
    "dnsCacheTimeout = 60000\n"
    "; the module's own section\n"
    "[session_config]\n"
    "agentId = 11111111-1111-1111-1111-111111111111\n"
    "verifyPeer = 1\n"
    "\n"
    "[vendor.extension]\n"
    "something = unknown to everybody\n";

TEST_F(PropertyFileModule, LoadsAndLooksUp) {
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, kProperties);
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    EXPECT_EQ("5000", Retrieve("sensor_services", "connectTimeout"));
    EXPECT_EQ("30000", Retrieve("sensor_services", "transferTimeout"));
    EXPECT_EQ("11111111-1111-1111-1111-111111111111", Retrieve("session_config", "agentId"));
    EXPECT_EQ("unknown to everybody", Retrieve("vendor.extension", "something"));
    EXPECT_EQ("<null>", Retrieve("sensor_services", "retryInterval", 0xC7590004));
    EXPECT_EQ("<null>", Retrieve("Sensor_Services", "connectTimeout", 0xC7590004));
}

TEST_F(PropertyFileModule, SetAgentIdRewritesOnlyItsLine) {
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, kProperties);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));

    ASSERT_EQ(0u, Scs().SCS_SetAgentId("22222222-2222-2222-2222-222222222222"));
    ASSERT_EQ(0u, Scs().SCS_SetLastGoodAgentId("33333333-3333-3333-3333-333333333333"));

    std::string expected = kProperties;
    expected.replace(expected.find("11111111"), 36, "22222222-2222-2222-2222-222222222222");
    expected.insert(expected.find("verifyPeer = 1\n") + 15,
                    "lastGoodAgentId = 33333333-3333-3333-3333-333333333333\n");
    EXPECT_EQ(expected, ReadFile(path));
    EXPECT_EQ("22222222-2222-2222-2222-222222222222", Retrieve("session_config", "agentId"));
    EXPECT_EQ("33333333-3333-3333-3333-333333333333",
              Retrieve("session_config", "lastGoodAgentId"));
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(std::vector<std::string>{"agent.properties"}, m_dir.Entries());

    // What was written is what a fresh load reads.
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    EXPECT_EQ("22222222-2222-2222-2222-222222222222", Retrieve("session_config", "agentId"));
}

TEST_F(PropertyFileModule, RewriteKeepsLinesEditedOnDiskSinceTheLoad) {
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, "[session_config]\nagentId = a\n");
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    WriteFile(path, "# edited by hand\n[session_config]\nagentId = a\n");
    ASSERT_EQ(0u, Scs().SCS_SetAgentId("b"));
    EXPECT_EQ("# edited by hand\n[session_config]\nagentId = b\n", ReadFile(path));
}

TEST_F(PropertyFileModule, IdentifierWithoutALoadedFileIsRefused) {
    EXPECT_EQ(0xC7590005u, Scs().SCS_SetAgentId("x"));
    EXPECT_EQ(0xC7590005u, Scs().SCS_SetLastGoodAgentId("x"));
}

TEST_F(PropertyFileModule, FailedRewriteGivesAWriteFailureAndKeepsTheOldValue) {
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, "[session_config]\nagentId = a\n");
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    // A directory in the file's place cannot be replaced by a rename.
    ASSERT_EQ(0, ::unlink(path.c_str()));
    ASSERT_EQ(0, ::mkdir(path.c_str(), 0700));
    EXPECT_EQ(0xC759001Cu, Scs().SCS_SetAgentId("b"));
    EXPECT_EQ("a", Retrieve("session_config", "agentId"));
    EXPECT_EQ(std::vector<std::string>{"agent.properties"}, m_dir.Entries());
    ASSERT_EQ(0, ::rmdir(path.c_str()));
}

TEST_F(PropertyFileModule, FailedLoadsLeaveThePreviousSettings) {
    const std::string path = m_dir.File("agent.properties");
    WriteFile(path, kProperties);
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));

    const std::string broken = m_dir.File("broken.properties");
    WriteFile(broken, "[sensor_services]\nconnectTimeout = 1\nthis line is not a property\n");
    EXPECT_EQ(0xC7590006u, Scs().SCS_LoadLocalProperties(broken.c_str()));
    EXPECT_EQ(0xC7590005u, Scs().SCS_LoadLocalProperties(m_dir.File("missing").c_str()));
    EXPECT_EQ(0xC7590005u, Scs().SCS_LoadLocalProperties(m_dir.Path().c_str()));
    const std::string huge = m_dir.File("huge.properties");
    WriteFile(huge, "[a]\n" + std::string(2u << 20, '#') + "\n");
    EXPECT_EQ(0xC7590006u, Scs().SCS_LoadLocalProperties(huge.c_str()));

    EXPECT_EQ("5000", Retrieve("sensor_services", "connectTimeout"));
    // A rewrite still goes to the file that was loaded.
    ASSERT_EQ(0u, Scs().SCS_SetAgentId("44444444-4444-4444-4444-444444444444"));
    EXPECT_NE(std::string::npos, ReadFile(path).find("agentId = 44444444"));
    EXPECT_EQ(std::string::npos, ReadFile(broken).find("agentId"));
}

// The property file of the crash test: long enough that a rewrite takes a while.
std::string CrashTemplate(const std::string& agentId) {
    std::string text = "# Properties rewritten while the writer is killed\n[sensor_services]\n";
    for (int i = 0; i < 400; ++i) text += "; padding line " + std::to_string(i) + " of the file\n";
    text += "[session_config]\nagentId = " + agentId + "\nverifyPeer = 1\n[custom]\nz = 1\n";
    return text;
}

// A child process rewrites the agent identifier without pause and is killed with SIGKILL
// at a random moment; the file must be the old or a new complete version every time.
TEST(PropertyFileCrash, KillDuringRewriteLeavesACompleteFile) {
    TempDir dir;
    const std::string path = dir.File("agent.properties");
    WriteFile(path, CrashTemplate("agent-0"));
    int strayTemporaries = 0;
    KillDuringWrite rounds;
    rounds.start = [&] {
        const ScsApi& scs = Scs();
        return scs.SCS_Init("3.0", kAgentId, 0, nullptr, nullptr) == 0 &&
               scs.SCS_LoadLocalProperties(path.c_str()) == 0;
    };
    rounds.write = [&](int round, unsigned n) {
        const std::string id = "agent-" + std::to_string(round * 100000 + n);
        return Scs().SCS_SetAgentId(id.c_str()) == 0;
    };
    // One rewrite with its two flushes takes some 10-30 ms here: the kill lands anywhere in it.
    rounds.maxDelay = std::chrono::microseconds(30000);
    rounds.check = [&](int round) {
        const std::string content = ReadFile(path);
        const auto at = content.find("agentId = agent-");
        ASSERT_NE(std::string::npos, at) << "round " << round;
        const auto end = content.find('\n', at);
        ASSERT_NE(std::string::npos, end) << "round " << round;
        const std::string id = content.substr(at + 10, end - at - 10);
        ASSERT_EQ(CrashTemplate(id), content) << "round " << round;
        for (const std::string& name : dir.Entries()) {
            if (name == "agent.properties") continue;
            // Only the instant between naming the finished temporary and renaming it can
            // leave one behind: a complete copy under the writer's temporary name.
            ASSERT_EQ(0u, name.find(TemporaryPrefix(path))) << name;
            ++strayTemporaries;
        }
        // The next load clears a dead writer's temporary.
        ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
        EXPECT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
        EXPECT_EQ(std::vector<std::string>{"agent.properties"}, dir.Entries()) << "round " << round;
        ASSERT_EQ(0u, Scs().SCS_ShutDown());
    };
    RecordProperty("rounds", RunKillDuringWrite(rounds));
    RecordProperty("stray_temporaries_before_the_next_load", strayTemporaries);
}

TEST(FileIo, ReplaceKeepsModeAndRemovesOnlyDeadWritersTemporaries) {
    TempDir dir;
    const std::string path = dir.File("f");
    ASSERT_EQ(0, ReplaceFileAtomically(path, "one", 0600));
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0644));
    FileStamp stamp;
    ASSERT_EQ(0, ReplaceFileAtomically(path, "two", 0600, &stamp));
    EXPECT_EQ("two", ReadFile(path));
    EXPECT_EQ(StampOf(path), stamp);
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);

    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string deadTemporary = dir.File(TemporaryPrefix(path) + std::to_string(dead));
    const std::string liveTemporary = dir.File(TemporaryPrefix(path) + "1");
    WriteFile(deadTemporary, "left behind");
    WriteFile(liveTemporary, "in progress");
    WriteFile(dir.File("unrelated.tmp.1"), "x");
    RemoveAbandonedTemporaries(path);
    EXPECT_EQ((std::vector<std::string>{TemporaryPrefix(path) + "1", "f", "unrelated.tmp.1"}),
              dir.Entries());
    EXPECT_EQ(ENOENT, ReplaceFileAtomically(dir.File("no/such/dir/f"), "x", 0600));
}

}  // namespace
}  // namespace zel::scs::test
