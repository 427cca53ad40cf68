// The module's two files: the local property file and the group settings document, their
// parsing, lookups, exact rewrites, failed loads and crash-safe replacement.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <set>

#include "module_fixture.h"
#include "session_config/file_io.h"
#include "session_config/property_file.h"

namespace zel::scs::test {
namespace {

// The local property file: parsing, lookups, the example file, rewrites that keep every
// other line, failed loads and rewrites, and the atomic replacement of files.

TEST(PropertyFile, LookupReadsTrimmedValuesCaseSensitively) {
    const struct { const char *text, *section, *key; std::optional<std::string> expected; } rows[] = {
        {"[a]\nk = v\n", "a", "k", "v"}, {"[a]\n  k\t=\t v w \t\n", "a", "k", "v w"}, {"[ a ]\nk=v", "a", "k", "v"},
        {"[a]\nk =\n", "a", "k", ""}, {"[a]\nk = 1\nk = 2\n", "a", "k", "2"}, {"[a]\nk = x = y\n", "a", "k", "x = y"},
        {"[a]\nk = v\n", "A", "k", std::nullopt}, {"[a]\nk = v\n[b]\n", "b", "k", std::nullopt},
        {"k = top\n[a]\n", "", "k", "top"},
        {"# k = c\n; k = d\n[a]\n", "a", "k", std::nullopt}, {"[a]\r\nk = crlf\r\n", "a", "k", "crlf"},
        {"\xEF\xBB\xBF[a]\nk = bom\n", "a", "k", "bom"},
        {"[a]\nk = gr\xC3\xBC\xC3\x9F\n", "a", "k", "gr\xC3\xBC\xC3\x9F"},
    };
    for (const auto& row : rows) {
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

TEST(PropertyFile, SetChangesOneLineAndKeepsEveryOther) {
    // Before, the value of agentId in section session_config, after.
    const struct { const char *before, *value, *after; } rows[] = {
        {"# Agent\n[session_config]\n  agentId=old   \n; note\nother = 1\n", "new",
         "# Agent\n[session_config]\nagentId = new\n; note\nother = 1\n"},
        {"[session_config]\ncaFile = a.pem\n\n# next\n[custom]\nx = 1\n", "id",
         "[session_config]\ncaFile = a.pem\nagentId = id\n\n# next\n[custom]\nx = 1\n"},
        {"[sensor_services]\nretryInterval = 5\n", "id",
         "[sensor_services]\nretryInterval = 5\n\n[session_config]\nagentId = id\n"},
        {"", "id", "[session_config]\nagentId = id\n"},
        {"[session_config]\r\nagentId = a\r\n# c\r\n", "b", "[session_config]\r\nagentId = b\r\n# c\r\n"},
        {"[session_config]\nagentId = a", "b", "[session_config]\nagentId = b"},
        {"\xEF\xBB\xBF[session_config]\nagentId = a\n", "b", "\xEF\xBB\xBF[session_config]\nagentId = b\n"},
        {"[session_config]\nagentId = 1\nagentId = 2\n", "3", "[session_config]\nagentId = 1\nagentId = 3\n"},
        {"[custom]\nagentId = keep\n[session_config]\n", "new",
         "[custom]\nagentId = keep\n[session_config]\nagentId = new\n"},
    };
    for (const auto& row : rows) {
        CPropertyFile file;
        ASSERT_TRUE(file.Parse(row.before)) << row.before;
        file.Set("session_config", "agentId", row.value);
        EXPECT_EQ(row.after, file.Serialize()) << row.before;
    }
}

using PropertyFileModule = ModuleTest;

constexpr const char* kProperties =
    "# Local properties of the agent\n[sensor_services]\nconnectTimeout = 5000\n; the module's own section\n"
    "[session_config]\nagentId = 11111111-1111-1111-1111-111111111111\nverifyPeer = 1\n\n[vendor.extension]\n"
    "something = unknown to everybody\n";

// The example file holds its keys; failed loads leave the previous settings; a rewrite changes
// only its line of the file last loaded, keeping its mode and the lines edited on disk since; a
// failed one keeps the old value.
TEST_F(PropertyFileModule, ExampleFailedLoadsRewritesAndFailedRewrites) {
    ASSERT_EQ(0u, SCS(LoadLocalProperties)(ZEL_SOURCE_DIR "/examples/local.properties"));
    EXPECT_EQ("7200", Retrieve("sensor_services", "retryPrimaryServer"));
    EXPECT_EQ(kAgentId, Retrieve("session_config", "agentId"));
    EXPECT_EQ("/etc/ssl/certs/ca-certificates.crt", Retrieve("session_config", "caFile"));
    EXPECT_EQ("<null>", Retrieve("session_config", "absent", 0xC7590004));
    EXPECT_EQ("<null>", Retrieve("Sensor_Services", "retryPrimaryServer", 0xC7590004)) << "sections are case-sensitive";

    const std::string path = Write("agent.properties", kProperties);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    ASSERT_EQ(0u, SCS(LoadLocalProperties)(path.c_str()));
    EXPECT_EQ("unknown to everybody", Retrieve("vendor.extension", "something"));
    const std::string broken = Write("broken.properties", "[sensor_services]\nconnectTimeout = 1\nno property\n");
    EXPECT_EQ(0xC7590006u, SCS(LoadLocalProperties)(broken.c_str()));
    EXPECT_EQ(0xC7590005u, SCS(LoadLocalProperties)(m_dir.File("missing").c_str()));
    EXPECT_EQ(0xC7590005u, SCS(LoadLocalProperties)(m_dir.Path().c_str()));
    const std::string huge = Write("huge.properties", "[a]\n" + std::string(2u << 20, '#') + "\n");
    EXPECT_EQ(0xC7590006u, SCS(LoadLocalProperties)(huge.c_str()));
    EXPECT_EQ("5000", Retrieve("sensor_services", "connectTimeout"));

    ASSERT_EQ(0u, SCS(SetAgentId)("22222222-2222-2222-2222-222222222222"));
    ASSERT_EQ(0u, SCS(SetLastGoodAgentId)("33333333-3333-3333-3333-333333333333"));
    std::string expected = kProperties;
    expected.replace(expected.find("11111111"), 36, "22222222-2222-2222-2222-222222222222");
    expected.insert(expected.find("verifyPeer = 1\n") + 15, "lastGoodAgentId = 33333333-3333-3333-3333-333333333333\n");
    EXPECT_EQ(expected, ReadFile(path));
    EXPECT_EQ(std::string::npos, ReadFile(broken).find("agentId"));
    EXPECT_EQ("33333333-3333-3333-3333-333333333333", Retrieve("session_config", "lastGoodAgentId"));
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
    WriteFile(dir.File(TemporaryPrefix(path) + std::to_string(dead)), "left behind");
    WriteFile(dir.File(TemporaryPrefix(path) + "1"), "in progress");
    WriteFile(dir.File("unrelated.tmp.1"), "x");
    RemoveAbandonedTemporaries(path);
    EXPECT_EQ((std::vector<std::string>{TemporaryPrefix(path) + "1", "f", "unrelated.tmp.1"}), dir.Entries());
    EXPECT_EQ(ENOENT, ReplaceFileAtomically(dir.File("no/such/dir/f"), "x", 0600));
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
std::string Policy(const std::string& controllers, const std::string& rootAttributes = "name='G'",
                   const std::string& ns = kNamespace) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<policy xmlns='" + ns + "' " + rootAttributes +
           ">\n<controller-list>\n" + controllers + "</controller-list>\n</policy>\n";
}

uint32_t Load(const std::string& path) { return SCS(LoadGroupSettings)(path.c_str()); }
uint32_t Save(const std::string& path) { return SCS(SaveGroupSettings)(path.c_str()); }
// Saves to path; the file's text.
std::string Saved(const std::string& path) {
    EXPECT_EQ(0u, Save(path));
    return ReadFile(path);
}

using GroupSettingsTest = ModuleTest;

// Only the fields set are written, an empty list too; the example file is written back as
// its golden text, in place (without leftovers) for a null path, and privately to a new file.
TEST_F(GroupSettingsTest, SaveWritesTheSetFieldsAndTheExampleAsItsGoldenText) {
    EXPECT_EQ("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'>\n"
              "    <controller-list/>\n</policy>\n",
              Saved(m_dir.File("empty.xml")));
    ASSERT_EQ(0u, SCS(AddController)("a", "a.example", "80", nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr));
    ASSERT_EQ(0u, SCS(AddController)(nullptr, "b.example", "81", "http", nullptr, nullptr, "user", nullptr,
                                          nullptr, "proxy-secret"));
    EXPECT_EQ("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'>\n"
              "    <controller-list>\n        <controller-info name='a' host-name='a.example' port='80'/>\n"
              "        <controller-info host-name='b.example' port='81' type='http'"
              " user-name='user' proxy-passwd='proxy-secret'/>\n    </controller-list>\n</policy>\n",
              Saved(m_dir.File("two.xml")));
    EXPECT_EQ(0xC759001Cu, Save(m_dir.File("no/such/dir")));

    const std::string path = Write("group.xml", ReadFile(ZEL_SOURCE_DIR "/examples/group_settings.xml"));
    ASSERT_EQ(0u, Load(path));
    EXPECT_EQ("1.0.0|Default Group", Info());
    EXPECT_EQ("primary,127.0.0.1,8080,http,<null>,<null>,<null>,<null>", Controller(0));
    EXPECT_EQ("backup,backup.example,8443,https,proxy.example,3128,<null>,<null>", Controller(1));
    EXPECT_EQ(kExampleAsSaved, Saved(m_dir.File("copy.xml")));
    struct stat st {};
    EXPECT_EQ(0600u, ::stat(m_dir.File("copy.xml").c_str(), &st) == 0 ? st.st_mode & 07777 : 0)
        << "a new file holding passwords is private";
    ASSERT_EQ(0u, SCS(SaveGroupSettings)(nullptr));
    EXPECT_EQ(kExampleAsSaved, ReadFile(path));
    EXPECT_EQ((std::vector<std::string>{"copy.xml", "empty.xml", "group.xml", "two.xml"}), m_dir.Entries());
    ASSERT_EQ(0u, Load(m_dir.File("empty.xml")));
    EXPECT_TRUE(Destinations().empty());
}

// Markup characters in every kind of field, entered in other spellings (double quotes,
// character references), come back as the same text and are written in one spelling.
TEST_F(GroupSettingsTest, EscapedTextRoundTrips) {
    const std::string path = Write(
        "group.xml",
        "<?xml version=\"1.0\"?>\n<policy xmlns=\"" + std::string(kNamespace) +
            "\" name=\"R&amp;D &lt;lab&gt; &#39;east&#x27;\" version='7&quot;'>"
            "<controller-list><controller-info name=\"it's &quot;primary&quot;\""
            " host-name='127.0.0.1' port='8080' user-name='a&amp;b' passwd=\"p&amp;w&lt;'d\""
            " proxy-host='proxy.example' proxy-port='3128' proxy-user-name='&lt;relay&gt;'"
            " proxy-passwd='r&amp;&apos;&lt;&gt;'/></controller-list></policy>");
    ASSERT_EQ(0u, Load(path));
    EXPECT_EQ("1.0.0|R&D <lab> 'east'", Info());
    EXPECT_EQ("it's \"primary\",127.0.0.1,8080,http,proxy.example,3128,a&b,<relay>", Controller(0));
    const std::string golden =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings'"
        " name='R&amp;D &lt;lab&gt; &apos;east&apos;' version='7&quot;' schema-version='1.0.0'>\n"
        "    <controller-list>\n        <controller-info name='it&apos;s &quot;primary&quot;' host-name='127.0.0.1'"
        " port='8080' proxy-host='proxy.example' proxy-port='3128' user-name='a&amp;b'"
        " passwd='p&amp;w&lt;&apos;d' proxy-user-name='&lt;relay&gt;' proxy-passwd='r&amp;&apos;&lt;&gt;'/>\n"
        "    </controller-list>\n</policy>\n";
    EXPECT_EQ(golden, Saved(m_dir.File("saved.xml")));
    // Load the written file, save it again: the same state and the same bytes.
    const std::string before = State();
    ASSERT_EQ(0u, Load(m_dir.File("saved.xml")));
    EXPECT_EQ(before, State());
    EXPECT_EQ(golden, Saved(m_dir.File("again.xml")));
}

// Passwords must reach the file, or a save would lose them; they come back with a load and
// are used for posts (directly and through the controller's proxy), but are never handed out.
TEST_F(GroupSettingsTest, PasswordsSurviveSaveAndLoadButAreNeverHandedOut) {
    TestServer& server = StartReplying("");
    ASSERT_EQ(0u, SCS(AddController)("controller", "127.0.0.1", server.port.c_str(), "http", nullptr, nullptr, "agent",
                                     "p&w<'d\"", nullptr, nullptr));
    ASSERT_EQ(0u, SCS(AddController)("controller", "controller.invalid", "8080", "http", "127.0.0.1",
                                     server.port.c_str(), nullptr, nullptr, "relay", "r&'<>"));
    ASSERT_EQ(0u, Save(m_dir.File("group.xml")));

    // A fresh module knows only the file.
    ASSERT_EQ(0u, SCS(ShutDown)());
    ASSERT_EQ(0u, SCS(Init)("3.0", kAgentId, 0, nullptr, nullptr));
    ASSERT_EQ(0u, Load(m_dir.File("group.xml")));
    const std::vector<int32_t> ids = Destinations();
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ("controller,127.0.0.1," + server.port + ",http,<null>,<null>,agent,<null>", Controller(0));
    EXPECT_EQ("controller,controller.invalid,8080,http,127.0.0.1," + server.port + ",<null>,relay", Controller(1));
    EXPECT_EQ(0u, Post(ids[0], "x").status);
    EXPECT_EQ(0u, Post(ids[1], "").status) << "an empty body is posted too";
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("Basic YWdlbnQ6cCZ3PCdkIg==", requests[0].get_header_value("Authorization"));  // agent:p&w<'d"
    EXPECT_EQ("", requests[0].get_header_value("Proxy-Authorization"));
    EXPECT_EQ("Basic cmVsYXk6ciYnPD4=", requests[1].get_header_value("Proxy-Authorization"));  // relay:r&'<>
    EXPECT_NE(std::string::npos, requests[1].path.find("controller.invalid:8080")) << "a proxied request";
    EXPECT_EQ("", requests[1].body);
}

TEST_F(GroupSettingsTest, IdentifiersAreStablePerTypeHostAndPortAcrossReloads) {
    const int32_t a = AddController("a.example", "80");
    const int32_t b = AddController("b.example", "80");
    const int32_t aTls = AddController("a.example", "80", "https");
    const int32_t aOtherPort = AddController("a.example", "81");
    const int32_t v6 = AddController("[::1]", "00080");
    EXPECT_GT(a, 0);
    EXPECT_EQ(5u, (std::set<int32_t>{a, b, aTls, aOtherPort, v6}.size()));
    // Deleting and adding back, the host in other case, an empty type or leading zeros keep it.
    ASSERT_EQ(0u, SCS(DeleteController)(0));
    EXPECT_EQ(a, AddController("A.Example", "80", ""));
    EXPECT_EQ(v6, AddController("[::1]", "80"));
    ASSERT_EQ(0u, SCS(DeleteController)(5));
    const std::vector<int32_t> saved = {b, aTls, aOtherPort, v6, a};
    EXPECT_EQ(saved, Destinations());
    ASSERT_EQ(0u, Save(m_dir.File("group.xml")));

    // The same addresses in another order, one spelt in capitals, one new.
    ASSERT_EQ(0u, Load(Write("second.xml", Policy("<controller-info host-name='b.example' port='80'/>\n<controller-info"
                                                  " host-name='c.example' port='80'/>\n<controller-info"
                                                  " host-name='A.EXAMPLE' port='80' type='http'/>\n"))));
    const std::vector<int32_t> after = Destinations();
    ASSERT_EQ(3u, after.size());
    EXPECT_EQ((std::vector<int32_t>{b, a}), (std::vector<int32_t>{after[0], after[2]}));
    EXPECT_EQ(0u, (std::set<int32_t>{a, b, aTls, aOtherPort, v6}.count(after[1]))) << "never one used before";
    ASSERT_EQ(0u, Load(m_dir.File("group.xml")));
    EXPECT_EQ(saved, Destinations()) << "a saved and reloaded list keeps its identifiers";
}


TEST_F(GroupSettingsTest, MalformedDocumentsLeaveThePreviousSettings) {
    const std::string good = Write("group.xml", ReadFile(ZEL_SOURCE_DIR "/examples/group_settings.xml"));
    ASSERT_EQ(0u, Load(good));
    const std::string loaded = State();
    const std::string h = "<controller-info host-name='h.example' port='80'/>\n", ns = kNamespace;
    const auto one = [](const std::string& attributes) { return Policy("<controller-info " + attributes + "/>"); };
    const std::string rows[] = {
        "controller primary 127.0.0.1 8080\n", "", std::string(kExampleAsSaved).substr(0, 200),
        "<?xml version='1.0'?>\n<!DOCTYPE policy [<!ENTITY e 'x'>]>\n<policy xmlns='" + ns +
            "' name='&e;'><controller-list>" + h + "</controller-list></policy>",
        "<!DOCTYPE policy SYSTEM 'file:///etc/passwd'>\n<policy xmlns='" + ns + "'>&e;</policy>",
        Policy(h, "name='G'", "http://schemas.zel.example/cml/Other"),
        "<policy name='G'><controller-list>" + h + "</controller-list></policy>",
        "<settings xmlns='" + ns + "'><controller-list>" + h + "</controller-list></settings>",
        one("host-name='h.example' port='80a'"), one("host-name='h.example' port='0'"),
        one("host-name='h.example' port='65536'"), one("host-name='h.example' port='80' type='ftp'"),
        one("name='x' port='80'"), one("host-name='h.example'"),
        one("host-name='h.example' port='80' proxy-port='3128'"),
        one("host-name='h.example' port='80' passwd='" + std::string(1025, 'p') + "'"),
        Policy(h + "<controller-info host-name='i.example' port='x'/>"),
        Policy(h + "</controller-list>\n<controller-list>\n" + h), Policy(h, "name='a&#x9;b'"),
    };
    for (const std::string& text : rows) {
        EXPECT_EQ(0xC7590006u, Load(Write("bad.xml", text))) << text;
        EXPECT_EQ(loaded, State()) << text;
    }
    EXPECT_EQ(0xC7590005u, Load(m_dir.File("missing.xml")));
    EXPECT_EQ(loaded, State());
    // A save still goes to the file that was loaded.
    ASSERT_EQ(0u, SCS(SaveGroupSettings)(nullptr));
    EXPECT_EQ(kExampleAsSaved, ReadFile(good));
}

// Files of newer controllers carry more than this module knows: it takes what it knows,
// wherever the rest is, and writes back only that.
TEST_F(GroupSettingsTest, UnknownAttributesAndElementsAreIgnored) {
    const std::string path = Write(
        "group.xml",
        "<?xml version='1.0' encoding='UTF-8'?>\n<!-- written by a newer controller -->\n"
        "<gs:policy xmlns:gs='" + std::string(kNamespace) + "'"
        " xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
        " xsi:schemaLocation='x y' name='Default Group' version='3' schema-version='1.1.0' colour='blue'>\n"
        "  <gs:policy-item name='later'/>\n  <gs:controller-info host-name='outside.example' port='1'/>\n"
        "  <gs:controller-list priority='high'>\n    text between controllers\n"
        "    <gs:controller-info name='primary' host-name='127.0.0.1' port='8080' weight='2'>\n"
        "      <gs:certificate>abc</gs:certificate>\n    </gs:controller-info>\n"
        "    <other:controller-info xmlns:other='urn:other' host-name='foreign.example' port='2'/>\n"
        "    <gs:controller-group/>\n"
        "    <gs:controller-info name='backup' host-name='backup.example' port='8443' type='https'\n"
        "        proxy-host='proxy.example' proxy-port='3128'/>\n  </gs:controller-list>\n</gs:policy>\n");
    ASSERT_EQ(0u, Load(path));
    EXPECT_EQ("1.1.0|Default Group", Info());
    std::string expected = kExampleAsSaved;
    expected.replace(expected.find("schema-version='1.0.0'"), 22, "schema-version='1.1.0'");
    EXPECT_EQ(expected, Saved(m_dir.File("saved.xml")));

    // No controller list at all is an empty list; the document's name replaces the hint, and
    // a document without schema-version reads as 1.0.0.
    ASSERT_EQ(0u, SCS(SetGroupnameHint)("Hinted Group"));
    ASSERT_EQ(0u, Load(Write("bare.xml", "<policy xmlns='" + std::string(kNamespace) + "' name='Bare'/>")));
    EXPECT_EQ("1.0.0|Bare", Info());
    EXPECT_TRUE(Destinations().empty());
}

// Crash safety of the module's two rewrites (the group settings save and the identifier
// rewrite of the property file): a child process rewrites the file without pause and is
// killed with SIGKILL at a random moment; the file must be the old or a new complete
// version every time, and the next load clears what the dead writer left behind.
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

// Version n: agent identifier agent-<n>, in a file long enough that a rewrite takes a while.
std::string PropertyFile(long n) {
    std::string text = "# Properties rewritten while the writer is killed\n[sensor_services]\n";
    for (int i = 0; i < 400; ++i) text += "; padding line " + std::to_string(i) + " of the file\n";
    return text + "[session_config]\nagentId = agent-" + std::to_string(n) + "\nverifyPeer = 1\n[custom]\nz = 1\n";
}

// The version number follows the marker's first occurrence; write turns the loaded version
// n - 1 into version n and writes it.
struct CrashCase { const char *name, *file; std::string (*version)(long n); const char* marker;
                   uint32_t (*load)(const char* path); bool (*write)(long n); };

const CrashCase kCases[] = {
    {"GroupSettingsSave", "group.xml", GroupDocument, "name='c",
     [](const char* path) { return SCS(LoadGroupSettings)(path); },
     [](long n) {
         const std::string k = std::to_string(n + kControllers - 1);
         const std::string name = "c" + k, host = "h" + k + ".example", password = "s&" + k;
         return SCS(DeleteController)(0) == 0 &&
                SCS(AddController)(name.c_str(), host.c_str(), "80", nullptr, nullptr, nullptr, nullptr,
                                        password.c_str(), nullptr, nullptr) == 0 &&
                SCS(SaveGroupSettings)(nullptr) == 0;
     }},
    {"IdentifierRewrite", "agent.properties", PropertyFile, "agentId = agent-",
     [](const char* path) { return SCS(LoadLocalProperties)(path); },
     [](long n) { return SCS(SetAgentId)(("agent-" + std::to_string(n)).c_str()) == 0; }},
};


class KillDuringRewrite : public ::testing::TestWithParam<CrashCase> {};

// Each round forks a child that loads the file and rewrites it without pause; once the first
// rewrite is done, the parent waits a random 0-30 ms (one rewrite with its two flushes takes
// some 10-30 ms here), kills the child with SIGKILL and checks the file. 200 rounds, or fewer
// (at least 50) when they take more than some 15 s.
TEST_P(KillDuringRewrite, LeavesACompleteFile) {
    const CrashCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.File(c.file);
    WriteFile(path, c.version(0));
    const auto versionIn = [&](const std::string& content) {
        const auto at = content.find(c.marker);
        return at == std::string::npos ? -1L : std::atol(content.c_str() + at + std::strlen(c.marker));
    };
    long n = 0;  // the version in the file
    std::mt19937 random(12345);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (int round = 0; round < 200 && (round < 50 || std::chrono::steady_clock::now() < deadline); ++round) {
        int ready[2];
        ASSERT_EQ(0, ::pipe(ready));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (SCS(Init)("3.0", kAgentId, 0, nullptr, nullptr) != 0 || c.load(path.c_str()) != 0) ::_exit(2);
            for (long k = n + 1; c.write(k); ++k)
                if (k == n + 1 && ::write(ready[1], "r", 1) != 1) ::_exit(4);
            ::_exit(3);
        }
        ::close(ready[1]);
        char byte = 0;
        const bool started = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (started) ::usleep(std::uniform_int_distribution<useconds_t>(0, 30000)(random));
        ASSERT_EQ(0, ::kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        ASSERT_TRUE(started && WIFSIGNALED(status)) << "the writer ended by itself: " << status;
        const std::string content = ReadFile(path);
        const long before = n;
        ASSERT_EQ(c.version(n = versionIn(content)), content) << "round " << round;
        ASSERT_GT(n, before) << "round " << round << " wrote at least once before the kill";
        // Only the instant between naming the finished temporary and renaming it can leave one
        // behind: a complete copy under the writer's temporary name.
        for (const std::string& name : dir.Entries())
            ASSERT_TRUE(name == c.file || name.rfind(TemporaryPrefix(path), 0) == 0) << name;
        ASSERT_EQ(0u, SCS(Init)("3.0", kAgentId, 0, nullptr, nullptr));
        EXPECT_EQ(0u, c.load(path.c_str())) << "round " << round;
        EXPECT_EQ(std::vector<std::string>{c.file}, dir.Entries()) << "round " << round;
        ASSERT_EQ(0u, SCS(ShutDown)());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, KillDuringRewrite, ::testing::ValuesIn(kCases), RowName);

}  // namespace
}  // namespace zel::scs::test
