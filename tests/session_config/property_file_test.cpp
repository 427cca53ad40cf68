// The local property file: parsing, lookups, the example file, rewrites that keep every
// other line, failed loads and rewrites, and the atomic replacement of files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    const char* value;  // of agentId in section session_config
    const char* after;
};

TEST(PropertyFile, SetChangesOneLineAndKeepsEveryOther) {
    const RewriteRow rows[] = {
        {"ReplacesValue", "# Agent\n[session_config]\n  agentId=old   \n; note\nother = 1\n", "new",
         "# Agent\n[session_config]\nagentId = new\n; note\nother = 1\n"},
        {"AppendsToTheSectionBeforeTheNextOne", "[session_config]\ncaFile = a.pem\n\n# next\n[custom]\nx = 1\n", "id",
         "[session_config]\ncaFile = a.pem\nagentId = id\n\n# next\n[custom]\nx = 1\n"},
        {"AddsTheSectionAtTheEnd", "[sensor_services]\nretryInterval = 5\n", "id",
         "[sensor_services]\nretryInterval = 5\n\n[session_config]\nagentId = id\n"},
        {"EmptyFile", "", "id", "[session_config]\nagentId = id\n"},
        {"KeepsCrLf", "[session_config]\r\nagentId = a\r\n# c\r\n", "b", "[session_config]\r\nagentId = b\r\n# c\r\n"},
        {"KeepsAMissingFinalLineEnd", "[session_config]\nagentId = a", "b", "[session_config]\nagentId = b"},
        {"KeepsTheByteOrderMark", "\xEF\xBB\xBF[session_config]\nagentId = a\n", "b",
         "\xEF\xBB\xBF[session_config]\nagentId = b\n"},
        {"ReplacesTheLastOfRepeatedKeys", "[session_config]\nagentId = 1\nagentId = 2\n", "3",
         "[session_config]\nagentId = 1\nagentId = 3\n"},
        {"LeavesTheSameKeyOfOtherSections", "[custom]\nagentId = keep\n[session_config]\n", "new",
         "[custom]\nagentId = keep\n[session_config]\nagentId = new\n"},
    };
    for (const RewriteRow& row : rows) {
        CPropertyFile file;
        ASSERT_TRUE(file.Parse(row.before)) << row.name;
        file.Set("session_config", "agentId", row.value);
        EXPECT_EQ(row.after, file.Serialize()) << row.name;
        CPropertyFile reread;
        ASSERT_TRUE(reread.Parse(file.Serialize())) << row.name;
        EXPECT_EQ(row.value, reread.Lookup("session_config", "agentId")) << row.name;
    }
}

using PropertyFileModule = ModuleTest;

TEST_F(PropertyFileModule, ExampleFileHoldsEveryKey) {
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties((std::string(ZEL_SOURCE_DIR) + "/examples/local.properties").c_str()));
    const struct {
        const char* section;
        const char* key;
        const char* value;  // null: not found
    } rows[] = {
        {"sensor_services", "connectTimeout", "0"},
        {"sensor_services", "transferTimeout", "0"},
        {"sensor_services", "dnsCacheTimeout", "60000"},
        {"sensor_services", "dumpEnabled", "0"},
        {"sensor_services", "retryInterval", "60000"},
        {"sensor_services", "retryCeiling", "1800000"},
        {"sensor_services", "maxServerRetry", "5"},
        {"sensor_services", "retryPrimaryServer", "7200"},
        {"session_config", "agentId", kAgentId},
        {"session_config", "lastGoodAgentId", kAgentId},
        {"session_config", "caFile", "/etc/ssl/certs/ca-certificates.crt"},
        {"session_config", "verifyPeer", "1"},
        {"session_config", "maxResponseBytes", "16777216"},
        {"session_config", "watchInterval", "0"},
        {"session_config", "absent", nullptr},
        {"Sensor_Services", "connectTimeout", nullptr},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.value ? row.value : "<null>", Retrieve(row.section, row.key, row.value ? 0 : 0xC7590004))
            << row.key;
}

constexpr const char* kProperties =
    "# Local properties of the agent\n"
    "[sensor_services]\n"
    "connectTimeout = 5000\n"
    "; the module's own section\n"
    "[session_config]\n"
    "agentId = 11111111-1111-1111-1111-111111111111\n"
    "verifyPeer = 1\n"
    "\n"
    "[vendor.extension]\n"
    "something = unknown to everybody\n";

TEST_F(PropertyFileModule, SetAgentIdRewritesOnlyItsLine) {
    const std::string path = Write("agent.properties", kProperties);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    EXPECT_EQ("unknown to everybody", Retrieve("vendor.extension", "something"));
    ASSERT_EQ(0u, Scs().SCS_SetAgentId("22222222-2222-2222-2222-222222222222"));
    ASSERT_EQ(0u, Scs().SCS_SetLastGoodAgentId("33333333-3333-3333-3333-333333333333"));

    std::string expected = kProperties;
    expected.replace(expected.find("11111111"), 36, "22222222-2222-2222-2222-222222222222");
    expected.insert(expected.find("verifyPeer = 1\n") + 15, "lastGoodAgentId = 33333333-3333-3333-3333-333333333333\n");
    EXPECT_EQ(expected, ReadFile(path));
    EXPECT_EQ("33333333-3333-3333-3333-333333333333", Retrieve("session_config", "lastGoodAgentId"));
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(std::vector<std::string>{"agent.properties"}, m_dir.Entries());
    // What was written is what a fresh load reads.
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    EXPECT_EQ("22222222-2222-2222-2222-222222222222", Retrieve("session_config", "agentId"));

    // Lines edited on disk since the load are kept.
    WriteFile(path, "# edited by hand\n[session_config]\nagentId = a\n");
    ASSERT_EQ(0u, Scs().SCS_SetAgentId("b"));
    EXPECT_EQ("# edited by hand\n[session_config]\nagentId = b\n", ReadFile(path));
}

TEST_F(PropertyFileModule, FailedRewriteGivesAWriteFailureAndKeepsTheOldValue) {
    const std::string path = Write("agent.properties", "[session_config]\nagentId = a\n");
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
    const std::string path = Write("agent.properties", kProperties);
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(path.c_str()));
    const std::string broken = Write("broken.properties", "[sensor_services]\nconnectTimeout = 1\nno property\n");
    EXPECT_EQ(0xC7590006u, Scs().SCS_LoadLocalProperties(broken.c_str()));
    EXPECT_EQ(0xC7590005u, Scs().SCS_LoadLocalProperties(m_dir.File("missing").c_str()));
    EXPECT_EQ(0xC7590005u, Scs().SCS_LoadLocalProperties(m_dir.Path().c_str()));
    const std::string huge = Write("huge.properties", "[a]\n" + std::string(2u << 20, '#') + "\n");
    EXPECT_EQ(0xC7590006u, Scs().SCS_LoadLocalProperties(huge.c_str()));
    EXPECT_EQ("5000", Retrieve("sensor_services", "connectTimeout"));
    // A rewrite still goes to the file that was loaded.
    ASSERT_EQ(0u, Scs().SCS_SetAgentId("44444444-4444-4444-4444-444444444444"));
    EXPECT_NE(std::string::npos, ReadFile(path).find("agentId = 44444444"));
    EXPECT_EQ(std::string::npos, ReadFile(broken).find("agentId"));
}

// The kept and new file modes: see the identifier rewrite and the group settings save.
TEST(FileIo, ReplaceGivesTheStampAndRemovesOnlyDeadWritersTemporaries) {
    TempDir dir;
    const std::string path = dir.File("f");
    FileStamp stamp;
    ASSERT_EQ(0, ReplaceFileAtomically(path, "two", 0600, &stamp));
    EXPECT_EQ("two", ReadFile(path));
    EXPECT_EQ(StampOf(path), stamp);

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
