// The module's two files: the local property file and the group settings document, their
// parsing, lookups, exact rewrites, failed loads and crash-safe replacement.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>

#include "module_fixture.h"
#include "session_config/file_io.h"
#include "session_config/property_file.h"

namespace zel::scs::test {
namespace {

// The local property file: parsing, lookups, the example file, rewrites that keep every
// other line, failed loads and rewrites, and the atomic replacement of files.

// Each text is parsed over "[a]\nk = old\n": a valid one replaces it, a malformed one is refused and leaves it.
TEST(PropertyFile, ParseReadsTrimmedValuesRefusesMalformedTextAndSetKeepsEveryOtherLine) {
    const struct { std::string text; const char *section, *key; std::optional<std::string> expected; } rows[] = {
        {"[a]\n  k\t=\t v w \t\n", "a", "k", "v w"}, {"[a]\nk =\n", "a", "k", ""},
        {"[a]\nk = 1\nk = 2\n", "a", "k", "2"}, {"[a]\nk = v\n", "A", "k", std::nullopt},
        {"# k = c\n; k = d\n[a]\n", "a", "k", std::nullopt}, {"[a]\r\nk = crlf\r\n", "a", "k", "crlf"},
        {"\xEF\xBB\xBF[a]\nk = bom\n", "a", "k", "bom"}, {"k = top\n[a]\n", "", "k", "top"},
        // Malformed.
        {"[unclosed\n", "a", "k", "old"}, {"no equals sign\n", "a", "k", "old"}, {" = no key\n", "a", "k", "old"},
        {"[a]\nk = \xC3\x28\n", "a", "k", "old"}, {std::string("[a]\nk = a\0b\n", 12), "a", "k", "old"},
        {"[a]\nk = v\rw\n", "a", "k", "old"},
    };
    for (const auto& row : rows) {
        CPropertyFile file;
        ASSERT_TRUE(file.Parse("[a]\nk = old\n"));
        EXPECT_EQ(row.expected != "old", file.Parse(row.text)) << row.text;
        EXPECT_EQ(row.expected, file.Lookup(row.section, row.key)) << row.text;
    }
    // Set changes one line and keeps every other: before, the value of agentId in section session_config, after.
    const struct { const char *before, *value, *after; } edits[] = {
        {"[session_config]\ncaFile = a.pem\n\n# next\n[custom]\nx = 1\n", "id",
         "[session_config]\ncaFile = a.pem\nagentId = id\n\n# next\n[custom]\nx = 1\n"},
        {"[sensor_services]\nretryInterval = 5\n", "id",
         "[sensor_services]\nretryInterval = 5\n\n[session_config]\nagentId = id\n"},
        {"", "id", "[session_config]\nagentId = id\n"},
        {"[session_config]\r\nagentId = a\r\n# c\r\n", "b", "[session_config]\r\nagentId = b\r\n# c\r\n"},
        {"[custom]\nagentId = keep\n[session_config]\n", "new",
         "[custom]\nagentId = keep\n[session_config]\nagentId = new\n"},
    };
    for (const auto& row : edits) {
        CPropertyFile file;
        ASSERT_TRUE(file.Parse(row.before)) << row.before;
        file.Set("session_config", "agentId", row.value);
        EXPECT_EQ(row.after, file.Serialize()) << row.before;
    }
}

// The group settings document through the module's entry points: exact bytes written,
// round trips, stable identifiers, all-or-nothing loads of malformed documents, unknown
// content, passwords and the example file.
// examples/group_settings.xml as the module writes it.
constexpr const char* kExampleAsSaved =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group'"
    " version='3' schema-version='1.0.0'>\n    <controller-list>\n"
    "        <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n"
    "        <controller-info name='backup' host-name='backup.example' port='8443' type='https'"
    " proxy-host='proxy.example' proxy-port='3128'/>\n    </controller-list>\n</policy>\n";

constexpr const char* kNamespace = "http://schemas.zel.example/cml/GroupSettings";

// A document with the given root attributes and controller-list content.
std::string Policy(const std::string& controllers, const std::string& rootAttributes = "name='G'") {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<policy xmlns='" + std::string(kNamespace) + "' " + rootAttributes +
           ">\n<controller-list>\n" + controllers + "</controller-list>\n</policy>\n";
}

uint32_t Load(const std::string& path) { return SCS(LoadGroupSettings)(path.c_str()); }
// Saves to path; the file's text.
std::string Saved(const std::string& path) {
    EXPECT_EQ(0u, SCS(SaveGroupSettings)(path.c_str()));
    return ReadFile(path);
}

// Identifiers are per type, host and port, and never reused (loads keep the identifiers of the addresses they list:
// see the concurrent posts and reloads). Then markup characters in every kind of field and passwords come back from a
// load and are written in the same bytes: passwords must reach the file, or a save would lose them. They are used for
// posts (here through the controller's proxy, which gets both the controller's credentials and its own), but are
// never handed out.
TEST_F(ModuleTest, GroupSettingsIdentifiersMarkupAndPasswordsRoundTripAndPasswordsAreUsedButNeverHandedOut) {
    const int32_t a = AddController("a.example", "80");
    const int32_t aTls = AddController("a.example", "80", "https");
    EXPECT_GT(a, 0);
    EXPECT_NE(a, aTls);
    ASSERT_EQ(0u, SCS(DeleteController)(0));
    EXPECT_EQ(a, AddController("A.Example", "080", "")) << "the host in other case, an empty type, a leading zero";
    EXPECT_EQ(0u, (std::set<int32_t>{a, aTls}.count(AddController("b.example", "80")))) << "a new address";
    TestServer& server = StartServer([](const httplib::Request&, httplib::Response&) {});
    const std::string golden =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings'"
        " name='R&amp;D &lt;lab&gt; &apos;east&apos;' version='7&quot;' schema-version='1.0.0'>\n"
        "    <controller-list>\n        <controller-info name='it&apos;s &quot;primary&quot;'"
        " host-name='controller.invalid' port='8080' proxy-host='127.0.0.1' proxy-port='" + server.port + "'"
        " user-name='a&amp;b' passwd='p&amp;w&lt;&apos;d' proxy-user-name='&lt;relay&gt;'"
        " proxy-passwd='r&amp;&apos;&lt;&gt;'/>\n    </controller-list>\n</policy>\n";
    ASSERT_EQ(0u, Load(Write("group.xml", golden)));
    EXPECT_EQ(golden, Saved(m_dir.File("saved.xml")));
    // Name, host, port, type, proxy host and port, user names: no password.
    ScsText t[8];
    ASSERT_EQ(0u, SCS(GetControllerInfo)(0, &t[0].p, &t[1].p, &t[2].p, &t[3].p, &t[4].p, &t[5].p, &t[6].p, &t[7].p));
    std::string texts;
    for (const ScsText& text : t) texts += text.Str() + ",";
    EXPECT_EQ("it's \"primary\",controller.invalid,8080,http,127.0.0.1," + server.port + ",a&b,<relay>,", texts);
    EXPECT_EQ(0u, Post(Destinations().at(0), "").status) << "an empty body is posted too";
    const auto requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("Basic YSZiOnAmdzwnZA==", requests[0].get_header_value("Authorization"));  // a&b:p&w<'d
    EXPECT_EQ("Basic PHJlbGF5PjpyJic8Pg==", requests[0].get_header_value("Proxy-Authorization"));  // <relay>:r&'<>
    EXPECT_NE(std::string::npos, requests[0].path.find("controller.invalid:8080")) << "a proxied request";
    EXPECT_EQ("", requests[0].body);
}

// Both files of a started module. A copy of the example property file holds its keys; failed loads leave the
// previous settings; a rewrite changes only its line of the file last loaded, keeping its mode and the lines edited on
// disk since; a failed one keeps the old value.
TEST_F(ModuleTest, SettingsFilesLoadRewriteRefuseMalformedTextAndIgnoreUnknownContent) {
    const std::string example = ReadFile(ZEL_SOURCE_DIR "/examples/local.properties");
    const std::string path = Write("agent.properties", example);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    ASSERT_EQ(0u, SCS(LoadLocalProperties)(path.c_str()));
    EXPECT_EQ("<null>", Retrieve("session_config", "absent", 0xC7590004));
    const std::string broken = Write("broken.properties", "[sensor_services]\nconnectTimeout = 1\nno property\n");
    EXPECT_EQ(0xC7590006u, SCS(LoadLocalProperties)(broken.c_str()));
    EXPECT_EQ(0xC7590005u, SCS(LoadLocalProperties)(m_dir.File("missing").c_str()));
    EXPECT_EQ(0xC7590006u, SCS(LoadLocalProperties)(Write("huge.properties", std::string(2u << 20, '#')).c_str()));
    EXPECT_EQ("0", Retrieve("sensor_services", "connectTimeout"));

    ASSERT_EQ(0u, SCS(SetAgentId)("22222222-2222-2222-2222-222222222222"));
    ASSERT_EQ(0u, SCS(SetLastGoodAgentId)("33333333-3333-3333-3333-333333333333"));
    std::string rewritten = example;
    rewritten.replace(rewritten.find("\nagentId = ") + 11, 36, "22222222-2222-2222-2222-222222222222");
    rewritten.replace(rewritten.find("\nlastGoodAgentId = ") + 19, 36, "33333333-3333-3333-3333-333333333333");
    EXPECT_EQ(rewritten, ReadFile(path));
    EXPECT_EQ(std::string::npos, ReadFile(broken).find("agentId"));
    struct stat st {};
    EXPECT_EQ(0640u, ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0);
    const std::vector<std::string> files = {"agent.properties", "broken.properties", "huge.properties"};
    EXPECT_EQ(files, m_dir.Entries());
    WriteFile(path, "# edited by hand\n[session_config]\nagentId = a\n");
    ASSERT_EQ(0u, SCS(SetAgentId)("b"));
    EXPECT_EQ("# edited by hand\n[session_config]\nagentId = b\n", ReadFile(path));

    // A directory in the file's place cannot be replaced by a rename.
    ASSERT_EQ(0, ::unlink(path.c_str()));
    ASSERT_EQ(0, ::mkdir(path.c_str(), 0700));
    EXPECT_EQ(0xC759001Cu, SCS(SetAgentId)("c"));
    EXPECT_EQ("b", Retrieve("session_config", "agentId"));
    EXPECT_EQ(files, m_dir.Entries());
    ASSERT_EQ(0, ::rmdir(path.c_str()));

    // Each malformed group settings document is refused as a whole: the settings stay those of the example, as its
    // golden text shows when saved to a new file (privately: it may hold passwords), and a save still goes to the
    // file that was loaded, in place and without leftovers.
    const std::string good = Write("group.xml", ReadFile(ZEL_SOURCE_DIR "/examples/group_settings.xml"));
    ASSERT_EQ(0u, Load(good));
    const std::string h = "<controller-info host-name='h.example' port='80'/>\n", ns = kNamespace;
    const auto one = [](const std::string& attributes) { return Policy("<controller-info " + attributes + "/>"); };
    const std::string rows[] = {
        "", std::string(kExampleAsSaved).substr(0, 200),
        "<?xml version='1.0'?>\n<!DOCTYPE policy [<!ENTITY e 'x'>]>\n<policy xmlns='" + ns +
            "' name='&e;'><controller-list>" + h + "</controller-list></policy>",
        "<!DOCTYPE policy SYSTEM 'file:///etc/passwd'>\n<policy xmlns='" + ns + "'>&e;</policy>",
        "<policy xmlns='" + ns + "/Other' name='G'><controller-list>" + h + "</controller-list></policy>",
        "<settings xmlns='" + ns + "'><controller-list>" + h + "</controller-list></settings>",
        one("host-name='h.example' port='80a'"), one("host-name='h.example' port='0'"),
        one("host-name='h.example' port='65536'"), one("host-name='h.example' port='80' type='ftp'"),
        one("port='80'"), one("host-name='h.example' port='80' proxy-port='3128'"),
        one("host-name='h.example' port='80' passwd='" + std::string(1025, 'p') + "'"),
        Policy(h + "<controller-info host-name='i.example' port='x'/>"),
        Policy(h + "</controller-list>\n<controller-list>\n" + h), Policy(h, "name='a&#x9;b'"),
    };
    for (const std::string& text : rows) {
        EXPECT_EQ(0xC7590006u, Load(Write("bad.xml", text))) << text;
        EXPECT_EQ(kExampleAsSaved, Saved(m_dir.File("state.xml"))) << text;
    }
    EXPECT_EQ(0xC7590005u, Load(m_dir.File("missing.xml")));
    EXPECT_EQ(0600u, ::stat(m_dir.File("state.xml").c_str(), &st) == 0 ? st.st_mode & 07777 : 0);
    ASSERT_EQ(0u, SCS(SaveGroupSettings)(nullptr));
    EXPECT_EQ(kExampleAsSaved, ReadFile(good));
    const std::vector<std::string> left = {"bad.xml", "broken.properties", "group.xml", "huge.properties", "state.xml"};
    EXPECT_EQ(left, m_dir.Entries());

    // Files of newer controllers carry more than this module knows: it takes what it knows,
    // wherever the rest is, and writes back only that.
    ASSERT_EQ(0u, Load(Write(
        "unknown.xml",
        "<gs:policy xmlns:gs='" + ns + "' xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
        " xsi:schemaLocation='x y' name='Default Group' version='3' schema-version='1.1.0' colour='blue'>\n"
        "  <gs:controller-info host-name='outside.example' port='1'/>\n"
        "  <gs:controller-list priority='high'>\n    text between controllers\n"
        "    <gs:controller-info name='primary' host-name='127.0.0.1' port='8080' weight='2'>\n"
        "      <gs:certificate>abc</gs:certificate>\n    </gs:controller-info>\n"
        "    <other:controller-info xmlns:other='urn:other' host-name='foreign.example' port='2'/>\n"
        "    <gs:controller-info name='backup' host-name='backup.example' port='8443' type='https'\n"
        "        proxy-host='proxy.example' proxy-port='3128'/>\n  </gs:controller-list>\n</gs:policy>\n")));
    std::string expected = kExampleAsSaved;
    expected.replace(expected.find("schema-version='1.0.0'"), 22, "schema-version='1.1.0'");
    EXPECT_EQ(expected, Saved(m_dir.File("saved.xml")));

    // No controller list at all is an empty list, written too; the document's name replaces the
    // hint, and a document without schema-version reads as 1.0.0.
    ASSERT_EQ(0u, SCS(SetGroupnameHint)("Hinted Group"));
    ASSERT_EQ(0u, Load(Write("bare.xml", "<policy xmlns='" + ns + "' name='Bare'/>")));
    ScsText schema, group;
    ASSERT_EQ(0u, SCS(GetGroupSettingsInfo)(0, 0, &schema.p, &group.p));
    EXPECT_EQ("1.0.0|Bare", schema.Str() + "|" + group.Str());
    EXPECT_EQ("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n<policy"
              " xmlns='http://schemas.zel.example/cml/GroupSettings' name='Bare' schema-version='1.0.0'>\n"
              "    <controller-list/>\n</policy>\n",
              Saved(m_dir.File("bare.xml")));
}

// Crash safety of the module's rewrites, which all replace the file through one atomic
// replacement (shown here on the group settings save): a child process rewrites the file
// without pause and is killed with SIGKILL at a random moment; the file must be the old or
// a new complete version every time, and the next load clears what the dead writer left behind.
constexpr long kControllers = 100;

// Version n: the controllers c<n> ... c<n + kControllers - 1>, in the module's exact format.
std::string GroupDocument(long n) {
    std::string text =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Crash' version='1'"
        " schema-version='1.0.0'>\n    <controller-list>\n";
    for (long k = n; k < n + kControllers; ++k)
        text += "        <controller-info name='c" + std::to_string(k) + "' host-name='h" + std::to_string(k) +
                ".example' port='80' passwd='s&amp;" + std::to_string(k) + "'/>\n";
    return text + "    </controller-list>\n</policy>\n";
}

// Turns the loaded version n - 1 into version n and saves it.
bool SaveVersion(long n) {
    const std::string k = std::to_string(n + kControllers - 1);
    const std::string name = "c" + k, host = "h" + k + ".example", password = "s&" + k;
    return SCS(DeleteController)(0) == 0 &&
           SCS(AddController)(name.c_str(), host.c_str(), "80", nullptr, nullptr, nullptr, nullptr, password.c_str(),
                              nullptr, nullptr) == 0 &&
           SCS(SaveGroupSettings)(nullptr) == 0;
}

// Each round forks a child that loads the file and rewrites it without pause; once the first
// rewrite is done, the parent waits 0-30 ms, in steps of 150 us spread over the rounds (one
// rewrite with its two flushes takes some 10-30 ms here), kills the child with SIGKILL and
// checks the file. 200 rounds, or fewer (at least 50) when they take more than some 15 s.
TEST(KillDuringRewrite, LeavesACompleteFile) {
    zel::test::TempDir dir;
    const std::string path = dir.File("group.xml");
    WriteFile(path, GroupDocument(0));
    // A live writer's temporary is about to be renamed; only the dead writers' ones are removed, here and by each load.
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    WriteFile(dir.File(TemporaryPrefix(path) + std::to_string(dead)), "left behind");
    WriteFile(dir.File(TemporaryPrefix(path) + "1"), "in progress");
    WriteFile(dir.File("unrelated.tmp.1"), "x");
    RemoveAbandonedTemporaries(path);
    const std::vector<std::string> entries = {TemporaryPrefix(path) + "1", "group.xml", "unrelated.tmp.1"};
    EXPECT_EQ(entries, dir.Entries());
    long n = 0;  // the version in the file
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (int round = 0; round < 200 && (round < 50 || std::chrono::steady_clock::now() < deadline); ++round) {
        int ready[2];
        ASSERT_EQ(0, ::pipe(ready));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (SCS(Init)("3.0", kAgentId, 0, nullptr, nullptr) != 0 || Load(path) != 0) ::_exit(2);
            for (long k = n + 1; SaveVersion(k); ++k)
                if (k == n + 1 && ::write(ready[1], "r", 1) != 1) ::_exit(4);
            ::_exit(3);
        }
        ::close(ready[1]);
        char byte = 0;
        const bool started = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (started) ::usleep(useconds_t(round * 37 % 200) * 150);
        ASSERT_EQ(0, ::kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        ASSERT_TRUE(started && WIFSIGNALED(status)) << "the writer ended by itself: " << status;
        const std::string content = ReadFile(path);
        const auto at = content.find("name='c");
        n = at == std::string::npos ? -1L : std::atol(content.c_str() + at + 7);
        ASSERT_EQ(GroupDocument(n), content) << "round " << round;
        // Only the instant between naming the finished temporary and renaming it can leave one
        // behind, a complete copy under the writer's temporary name, which the load removes.
        ASSERT_EQ(0u, SCS(Init)("3.0", kAgentId, 0, nullptr, nullptr));
        EXPECT_EQ(0u, Load(path)) << "round " << round;
        EXPECT_EQ(entries, dir.Entries()) << "round " << round;
        ASSERT_EQ(0u, SCS(ShutDown)());
    }
}

}  // namespace
}  // namespace zel::scs::test
