// The group settings document through the module's entry points: exact bytes written,
// round trips, stable identifiers, all-or-nothing loads of malformed documents, unknown
// content, passwords, crash safety of the save, and the example files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "module_fixture.h"
#include "session_config/file_io.h"
#include "session_config/group_settings.h"
#include "zel/status_codes.h"

namespace zel::scs::test {
namespace {

// The example of the design notes, laid out by hand as a controller might write it.
constexpr const char* kExample = R"(<?xml version='1.0' encoding='UTF-8' standalone='no'?>
<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group'
        version='3' schema-version='1.0.0'>
    <controller-list>
        <controller-info name='primary' host-name='127.0.0.1' port='8080'/>
        <controller-info name='backup' host-name='backup.example' port='8443' type='https'
                         proxy-host='proxy.example' proxy-port='3128'/>
    </controller-list>
</policy>
)";

// The same settings as the module writes them.
constexpr const char* kExampleAsSaved =
    "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
    "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Default Group'"
    " version='3' schema-version='1.0.0'>\n"
    "    <controller-list>\n"
    "        <controller-info name='primary' host-name='127.0.0.1' port='8080'/>\n"
    "        <controller-info name='backup' host-name='backup.example' port='8443' type='https'"
    " proxy-host='proxy.example' proxy-port='3128'/>\n"
    "    </controller-list>\n"
    "</policy>\n";

constexpr const char* kNamespace = "http://schemas.zel.example/cml/GroupSettings";

// A document with the given root attributes and controller-list content.
std::string Policy(const std::string& controllers, const std::string& rootAttributes = "name='G'",
                   const std::string& ns = kNamespace) {
    return "<?xml version='1.0' encoding='UTF-8'?>\n<policy xmlns='" + ns + "' " +
           rootAttributes + ">\n<controller-list>\n" + controllers + "</controller-list>\n</policy>\n";
}

class GroupSettingsTest : public ModuleTest {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = m_dir.File(name);
        WriteFile(path, text);
        return path;
    }

    // Schema version and group name as SCS_GetGroupSettingsInfo gives them.
    static std::string Info() {
        ScsText schema, group;
        EXPECT_EQ(0u, Scs().SCS_GetGroupSettingsInfo(0, 0, schema.Out(), group.Out()));
        return schema.Str() + "|" + group.Str();
    }

    // The eight texts SCS_GetControllerInfo hands out for index.
    static std::vector<std::string> Controller(uint32_t index) {
        ScsText out[8];
        EXPECT_EQ(0u, Scs().SCS_GetControllerInfo(index, out[0].Out(), out[1].Out(),
                                                  out[2].Out(), out[3].Out(), out[4].Out(),
                                                  out[5].Out(), out[6].Out(), out[7].Out()));
        std::vector<std::string> texts;
        for (const ScsText& text : out) texts.push_back(text.Str());
        return texts;
    }

    // Everything the module reports about its group settings, as one comparable text.
    static std::string State() {
        std::string state = Info();
        const std::vector<int32_t> ids = Destinations();
        for (uint32_t i = 0; i < ids.size(); ++i) {
            state += "\n" + std::to_string(ids[i]);
            for (const std::string& field : Controller(i)) state += "," + field;
        }
        return state;
    }
};

TEST_F(GroupSettingsTest, SavingTheLoadedExampleWritesTheGoldenText) {
    const std::string path = Write("group.xml", kExample);
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(path.c_str()));
    EXPECT_EQ("1.0.0|Default Group", Info());
    EXPECT_EQ((std::vector<std::string>{"backup", "backup.example", "8443", "https",
                                        "proxy.example", "3128", "<null>", "<null>"}),
              Controller(1));

    const std::string copy = m_dir.File("copy.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(copy.c_str()));
    EXPECT_EQ(kExampleAsSaved, ReadFile(copy));
    struct stat st {};
    ASSERT_EQ(0, ::stat(copy.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "a new file holding passwords is private";

    // Null: the path last loaded, rewritten in place without leftovers.
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(nullptr));
    EXPECT_EQ(kExampleAsSaved, ReadFile(path));
    EXPECT_EQ((std::vector<std::string>{"copy.xml", "group.xml"}), m_dir.Entries());
}

TEST_F(GroupSettingsTest, SaveWritesOnlyTheSetFieldsAndAnEmptyList) {
    EXPECT_EQ(0xC7590005u, Scs().SCS_SaveGroupSettings(nullptr)) << "nothing loaded, no path";
    const std::string empty = m_dir.File("empty.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(empty.c_str()));
    EXPECT_EQ("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<policy xmlns='http://schemas.zel.example/cml/GroupSettings'"
              " schema-version='1.0.0'>\n"
              "    <controller-list/>\n"
              "</policy>\n",
              ReadFile(empty));
    ASSERT_EQ(0u, Scs().SCS_AddController("a", "a.example", "80", nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(0u, Scs().SCS_AddController(nullptr, "b.example", "81", "http", nullptr, nullptr,
                                          "user", nullptr, nullptr, "proxy-secret"));
    const std::string two = m_dir.File("two.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(two.c_str()));
    EXPECT_EQ("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<policy xmlns='http://schemas.zel.example/cml/GroupSettings'"
              " schema-version='1.0.0'>\n"
              "    <controller-list>\n"
              "        <controller-info name='a' host-name='a.example' port='80'/>\n"
              "        <controller-info host-name='b.example' port='81' type='http'"
              " user-name='user' proxy-passwd='proxy-secret'/>\n"
              "    </controller-list>\n"
              "</policy>\n",
              ReadFile(two));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(empty.c_str()));
    EXPECT_TRUE(Destinations().empty());
    EXPECT_EQ(0xC759001Cu, Scs().SCS_SaveGroupSettings(m_dir.File("no/such/dir").c_str()));
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
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(path.c_str()));
    EXPECT_EQ("1.0.0|R&D <lab> 'east'", Info());
    EXPECT_EQ((std::vector<std::string>{"it's \"primary\"", "127.0.0.1", "8080", "http",
                                        "proxy.example", "3128", "a&b", "<relay>"}),
              Controller(0));

    const std::string saved = m_dir.File("saved.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(saved.c_str()));
    const std::string golden =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings'"
        " name='R&amp;D &lt;lab&gt; &apos;east&apos;' version='7&quot;' schema-version='1.0.0'>\n"
        "    <controller-list>\n"
        "        <controller-info name='it&apos;s &quot;primary&quot;' host-name='127.0.0.1'"
        " port='8080' proxy-host='proxy.example' proxy-port='3128' user-name='a&amp;b'"
        " passwd='p&amp;w&lt;&apos;d' proxy-user-name='&lt;relay&gt;'"
        " proxy-passwd='r&amp;&apos;&lt;&gt;'/>\n"
        "    </controller-list>\n"
        "</policy>\n";
    EXPECT_EQ(golden, ReadFile(saved));

    // Load the written file, save it again: the same state and the same bytes.
    const std::string before = State();
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(saved.c_str()));
    EXPECT_EQ(before, State());
    const std::string again = m_dir.File("again.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(again.c_str()));
    EXPECT_EQ(golden, ReadFile(again));
}

// Passwords must reach the file, or a save would lose them; they come back with a load and
// are used for posts, but SCS_GetControllerInfo never hands them out.
TEST_F(GroupSettingsTest, PasswordsSurviveSaveAndLoadButAreNeverHandedOut) {
    TestServer& server = StartServer([](const httplib::Request&, httplib::Response&) {});
    const std::string password = "p&w<'d\"";
    const std::string proxyPassword = "r&'<>";
    AddController("127.0.0.1", server.PortText(), "http", "agent", password.c_str());
    AddController("controller.invalid", "8080", "http", nullptr, nullptr, "127.0.0.1",
                  server.PortText().c_str(), "relay", proxyPassword.c_str());
    const std::string path = m_dir.File("group.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(path.c_str()));
    const std::string text = ReadFile(path);
    EXPECT_NE(std::string::npos, text.find(" passwd='p&amp;w&lt;&apos;d&quot;'")) << text;
    EXPECT_NE(std::string::npos, text.find(" proxy-passwd='r&amp;&apos;&lt;&gt;'")) << text;

    // A fresh module knows only the file.
    ASSERT_EQ(0u, Scs().SCS_ShutDown());
    ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(path.c_str()));
    const std::vector<int32_t> ids = Destinations();
    ASSERT_EQ(2u, ids.size());
    for (uint32_t i = 0; i < 2; ++i)
        for (const std::string& field : Controller(i)) {
            EXPECT_EQ(std::string::npos, field.find(password)) << field;
            EXPECT_EQ(std::string::npos, field.find(proxyPassword)) << field;
        }
    const uint32_t timeouts[3] = {5000, 10000, 60000};
    for (const int32_t id : ids) {
        char* response = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(0u, Scs().SCS_PostData(0, id, "/zel/sensor_services/heartbeat", 0, "text/plain",
                                         "x", 1, timeouts, &response, &length));
        Scs().SCS_Free(response);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("Basic YWdlbnQ6cCZ3PCdkIg==", requests[0].authorization);  // agent:p&w<'d"
    EXPECT_EQ("Basic cmVsYXk6ciYnPD4=", requests[1].proxyAuthorization);  // relay:r&'<>
}

TEST_F(GroupSettingsTest, IdentifiersAreStableAcrossReloads) {
    const std::string first = Write(
        "first.xml", Policy("<controller-info host-name='a.example' port='80'/>\n"
                            "<controller-info host-name='b.example' port='443' type='https'/>\n"));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(first.c_str()));
    const std::vector<int32_t> before = Destinations();
    ASSERT_EQ(2u, before.size());

    // The same addresses in another order, one spelt in capitals, one new.
    const std::string second = Write(
        "second.xml", Policy("<controller-info host-name='b.example' port='443' type='https'/>\n"
                             "<controller-info host-name='c.example' port='80'/>\n"
                             "<controller-info host-name='A.EXAMPLE' port='80' type='http'/>\n"));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(second.c_str()));
    const std::vector<int32_t> after = Destinations();
    ASSERT_EQ(3u, after.size());
    EXPECT_EQ(before[1], after[0]);
    EXPECT_EQ(before[0], after[2]);
    EXPECT_NE(before[0], after[1]);
    EXPECT_NE(before[1], after[1]);

    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(nullptr));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(second.c_str()));
    EXPECT_EQ(after, Destinations()) << "a saved and reloaded list keeps its identifiers";
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(first.c_str()));
    EXPECT_EQ(before, Destinations());
}

struct MalformedRow {
    const char* name;
    std::string text;
};

TEST_F(GroupSettingsTest, MalformedDocumentsLeaveThePreviousSettings) {
    const std::string good = Write("good.xml", kExample);
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(good.c_str()));
    const std::string loaded = State();
    const std::string host = "<controller-info host-name='h.example' port='80'/>\n";
    const MalformedRow rows[] = {
        {"NotXml", "controller primary 127.0.0.1 8080\n"},
        {"Empty", ""},
        {"Truncated", std::string(kExample).substr(0, 200)},
        {"Doctype", "<?xml version='1.0'?>\n<!DOCTYPE policy [<!ENTITY e 'x'>]>\n<policy xmlns='" +
                        std::string(kNamespace) + "' name='&e;'><controller-list>" + host +
                        "</controller-list></policy>"},
        {"ExternalEntity", "<!DOCTYPE policy SYSTEM 'file:///etc/passwd'>\n<policy xmlns='" +
                               std::string(kNamespace) + "'>&e;</policy>"},
        {"WrongNamespace", Policy(host, "name='G'", "http://schemas.zel.example/cml/Other")},
        {"NoNamespace", "<policy name='G'><controller-list>" + host + "</controller-list></policy>"},
        {"WrongRoot", "<settings xmlns='" + std::string(kNamespace) + "'><controller-list>" +
                          host + "</controller-list></settings>"},
        {"PortNotANumber", Policy("<controller-info host-name='h.example' port='80a'/>")},
        {"PortZero", Policy("<controller-info host-name='h.example' port='0'/>")},
        {"PortTooLarge", Policy("<controller-info host-name='h.example' port='65536'/>")},
        {"PortWithBlank", Policy("<controller-info host-name='h.example' port=' 80'/>")},
        {"TypeUnknown", Policy("<controller-info host-name='h.example' port='80' type='ftp'/>")},
        {"TypeInCapitals", Policy("<controller-info host-name='h.example' port='80' type='HTTPS'/>")},
        {"HostMissing", Policy("<controller-info name='x' port='80'/>")},
        {"HostEmpty", Policy("<controller-info host-name='' port='80'/>")},
        {"PortMissing", Policy("<controller-info host-name='h.example'/>")},
        {"ProxyPortWithoutProxyHost",
         Policy("<controller-info host-name='h.example' port='80' proxy-port='3128'/>")},
        {"OnlyTheSecondControllerIsBad",
         Policy(host + "<controller-info host-name='i.example' port='x'/>")},
        {"TwoControllerLists",
         Policy(host + "</controller-list>\n<controller-list>\n" + host)},
        {"TabInGroupName", Policy(host, "name='a&#x9;b'")},
    };
    for (const MalformedRow& row : rows) {
        const std::string path = Write(std::string(row.name) + ".xml", row.text);
        EXPECT_EQ(0xC7590006u, Scs().SCS_LoadGroupSettings(path.c_str())) << row.name;
        EXPECT_EQ(loaded, State()) << row.name;
    }
    EXPECT_EQ(0xC7590005u, Scs().SCS_LoadGroupSettings(m_dir.File("missing.xml").c_str()));
    EXPECT_EQ(loaded, State());
    // A save still goes to the file that was loaded.
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(nullptr));
    EXPECT_EQ(kExampleAsSaved, ReadFile(good));
}

// Files of newer controllers carry more than this module knows: it takes what it knows,
// wherever the rest is, and writes back only that.
TEST_F(GroupSettingsTest, UnknownAttributesAndElementsAreIgnored) {
    const std::string path = Write(
        "group.xml",
        "<?xml version='1.0' encoding='UTF-8'?>\n"
        "<!-- written by a newer controller -->\n"
        "<gs:policy xmlns:gs='" + std::string(kNamespace) + "'"
        " xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance'"
        " xsi:schemaLocation='x y' name='Default Group' version='3' schema-version='1.1.0'"
        " colour='blue'>\n"
        "  <gs:policy-item name='later'/>\n"
        "  <gs:controller-info host-name='outside.example' port='1'/>\n"
        "  <gs:controller-list priority='high'>\n"
        "    text between controllers\n"
        "    <gs:controller-info name='primary' host-name='127.0.0.1' port='8080' weight='2'>\n"
        "      <gs:certificate>abc</gs:certificate>\n"
        "    </gs:controller-info>\n"
        "    <other:controller-info xmlns:other='urn:other' host-name='foreign.example' port='2'/>\n"
        "    <gs:controller-group/>\n"
        "    <gs:controller-info name='backup' host-name='backup.example' port='8443' type='https'\n"
        "        proxy-host='proxy.example' proxy-port='3128'/>\n"
        "  </gs:controller-list>\n"
        "</gs:policy>\n");
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(path.c_str()));
    EXPECT_EQ("1.1.0|Default Group", Info());
    ASSERT_EQ(2u, Destinations().size());
    EXPECT_EQ("primary", Controller(0)[0]);
    EXPECT_EQ("backup", Controller(1)[0]);
    const std::string saved = m_dir.File("saved.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(saved.c_str()));
    std::string expected = kExampleAsSaved;
    expected.replace(expected.find("schema-version='1.0.0'"), 22, "schema-version='1.1.0'");
    EXPECT_EQ(expected, ReadFile(saved));

    // No controller list at all is an empty list.
    const std::string bare =
        Write("bare.xml", "<policy xmlns='" + std::string(kNamespace) + "' name='Bare'/>");
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(bare.c_str()));
    EXPECT_EQ("1.0.0|Bare", Info());
    EXPECT_TRUE(Destinations().empty());
}

TEST_F(GroupSettingsTest, GroupSettingsInfoFollowsTheLoadedDocument) {
    ASSERT_EQ(0u, Scs().SCS_SetGroupnameHint("Hinted Group"));
    EXPECT_EQ("1.0.0|Hinted Group", Info()) << "before any load: the default and the hint";
    const std::string path = Write("group.xml", Policy("", "name='Lab' schema-version='1.0.2'"));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(path.c_str()));
    EXPECT_EQ("1.0.2|Lab", Info());
    const std::string unversioned = Write("unversioned.xml", Policy("", "name='Field'"));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(unversioned.c_str()));
    EXPECT_EQ("1.0.0|Field", Info()) << "a document without schema-version reads as 1.0.0";
}

// The document of the crash test: group "Crash" with the controllers c<first> ...
// c<first + kCrashControllers - 1>, in the module's exact output format.
constexpr int kCrashControllers = 100;

std::string CrashDocument(int first) {
    std::string text =
        "<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
        "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' name='Crash' version='1'"
        " schema-version='1.0.0'>\n"
        "    <controller-list>\n";
    for (int k = first; k < first + kCrashControllers; ++k)
        text += "        <controller-info name='c" + std::to_string(k) + "' host-name='h" +
                std::to_string(k) + ".example' port='80' passwd='s&amp;" + std::to_string(k) +
                "'/>\n";
    return text + "    </controller-list>\n</policy>\n";
}

// A child process turns the list over (drops the first controller, appends the next) and
// saves without pause until it is killed with SIGKILL at a random moment; the file must be
// the old or a new complete document every time.
TEST(GroupSettingsCrash, KillDuringSaveLeavesACompleteDocument) {
    TempDir dir;
    const std::string path = dir.File("group.xml");
    WriteFile(path, CrashDocument(0));
    int next = 0;  // in the child: the number of the next controller to append
    int first = 0;
    KillDuringWrite rounds;
    rounds.start = [&] {
        const ScsApi& scs = Scs();
        if (scs.SCS_Init("3.0", kAgentId, 0, nullptr, nullptr) != 0 ||
            scs.SCS_LoadGroupSettings(path.c_str()) != 0)
            return false;
        ScsText name;
        if (scs.SCS_GetControllerInfo(0, name.Out(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr) != 0)
            return false;
        next = std::stoi(name.Str().substr(1)) + kCrashControllers;
        return true;
    };
    rounds.write = [&](int, unsigned) {
        const ScsApi& scs = Scs();
        const std::string k = std::to_string(next++);
        const std::string name = "c" + k, host = "h" + k + ".example", password = "s&" + k;
        return scs.SCS_DeleteController(0) == 0 &&
               scs.SCS_AddController(name.c_str(), host.c_str(), "80", nullptr, nullptr, nullptr,
                                     nullptr, password.c_str(), nullptr, nullptr) == 0 &&
               scs.SCS_SaveGroupSettings(nullptr) == 0;
    };
    // One save with its two flushes takes some 10-30 ms here: the kill lands anywhere in it.
    rounds.maxDelay = std::chrono::microseconds(30000);
    rounds.check = [&](int round) {
        const std::string content = ReadFile(path);
        const auto at = content.find("name='c");
        ASSERT_NE(std::string::npos, at) << "round " << round << ":\n" << content;
        first = std::atoi(content.c_str() + at + 7);
        ASSERT_EQ(CrashDocument(first), content) << "round " << round;
        // Only a complete copy under a dead writer's temporary name may be left behind.
        for (const std::string& name : dir.Entries()) {
            if (name == "group.xml") continue;
            ASSERT_EQ(0u, name.find(TemporaryPrefix(path))) << name;
        }
        // The next load takes the document and clears a dead writer's temporary.
        ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
        EXPECT_EQ(0u, Scs().SCS_LoadGroupSettings(path.c_str())) << "round " << round;
        uint32_t count = 0;
        EXPECT_EQ(0u, Scs().SCS_GetControllerCount(&count));
        EXPECT_EQ(static_cast<uint32_t>(kCrashControllers), count);
        EXPECT_EQ(std::vector<std::string>{"group.xml"}, dir.Entries()) << "round " << round;
        ASSERT_EQ(0u, Scs().SCS_ShutDown());
    };
    const int roundsRun = RunKillDuringWrite(rounds);
    RecordProperty("rounds", roundsRun);
    // Every round saves at least once before the kill.
    EXPECT_GE(first, roundsRun);
}

class ExampleFilesTest : public GroupSettingsTest {};

TEST_F(ExampleFilesTest, GroupSettingsExampleIsTheDesignExample) {
    const std::string example = std::string(ZEL_SOURCE_DIR) + "/examples/group_settings.xml";
    EXPECT_EQ(kExample, ReadFile(example));
    ASSERT_EQ(0u, Scs().SCS_LoadGroupSettings(example.c_str()));
    EXPECT_EQ("1.0.0|Default Group", Info());
    EXPECT_EQ((std::vector<std::string>{"primary", "127.0.0.1", "8080", "http", "<null>",
                                        "<null>", "<null>", "<null>"}),
              Controller(0));
    const std::string copy = m_dir.File("copy.xml");
    ASSERT_EQ(0u, Scs().SCS_SaveGroupSettings(copy.c_str()));
    EXPECT_EQ(kExampleAsSaved, ReadFile(copy));
}

TEST_F(ExampleFilesTest, LocalPropertiesExampleHoldsEveryKey) {
    const std::string example = std::string(ZEL_SOURCE_DIR) + "/examples/local.properties";
    ASSERT_EQ(0u, Scs().SCS_LoadLocalProperties(example.c_str()));
    const struct {
        const char* section;
        const char* key;
        const char* value;
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
    };
    for (const auto& row : rows) {
        ScsText value;
        EXPECT_EQ(0u, Scs().SCS_RetrieveLocalProperty(row.section, row.key, value.Out())) << row.key;
        EXPECT_EQ(row.value, value.Str()) << row.key;
    }
}

TEST(GroupSettingsValidation, ControllerFields) {
    ControllerInfo c;
    c.hostName = "host.example";
    c.port = "8080";
    EXPECT_EQ(0u, ValidateController(c));
    c.hostName = "[::1]";
    EXPECT_EQ(0u, ValidateController(c));
    c.hostName = "[::1";
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT, ValidateController(c));
    c.hostName = "host.example";
    c.port = "65535";
    EXPECT_EQ(0u, ValidateController(c));
    c.port = "00080";
    EXPECT_EQ(0u, ValidateController(c));
    c.port = "123456";
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT, ValidateController(c));
    c.port = "80";
    c.proxyHost = "proxy";
    c.proxyPort = "3128";
    EXPECT_EQ(0u, ValidateController(c));
    c.passwd = std::string(kMaxFieldBytes + 1, 'p');
    EXPECT_EQ(ZEL_E_SCS_BAD_INPUT, ValidateController(c));
}

}  // namespace
}  // namespace zel::scs::test
