// The group settings document through the module's entry points: exact bytes written,
// round trips, stable identifiers, all-or-nothing loads of malformed documents, unknown
// content, passwords and the example file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "module_fixture.h"

namespace zel::scs::test {
namespace {

// examples/group_settings.xml as the module writes it.
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
    return "<?xml version='1.0' encoding='UTF-8'?>\n<policy xmlns='" + ns + "' " + rootAttributes +
           ">\n<controller-list>\n" + controllers + "</controller-list>\n</policy>\n";
}

uint32_t Load(const std::string& path) { return Scs().SCS_LoadGroupSettings(path.c_str()); }
uint32_t Save(const std::string& path) { return Scs().SCS_SaveGroupSettings(path.c_str()); }

class GroupSettingsTest : public ModuleTest {
protected:
    // A copy of the example file in the temporary directory.
    std::string WriteExample(const std::string& name = "group.xml") {
        return Write(name, ReadFile(std::string(ZEL_SOURCE_DIR) + "/examples/group_settings.xml"));
    }
};

TEST_F(GroupSettingsTest, SavingTheLoadedExampleWritesTheGoldenText) {
    const std::string path = WriteExample();
    ASSERT_EQ(0u, Load(path));
    EXPECT_EQ("1.0.0|Default Group", Info());
    EXPECT_EQ((std::vector<std::string>{"primary", "127.0.0.1", "8080", "http", "<null>", "<null>", "<null>",
                                        "<null>"}),
              Controller(0));
    EXPECT_EQ((std::vector<std::string>{"backup", "backup.example", "8443", "https", "proxy.example", "3128",
                                        "<null>", "<null>"}),
              Controller(1));
    const std::string copy = m_dir.File("copy.xml");
    ASSERT_EQ(0u, Save(copy));
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
    const std::string empty = m_dir.File("empty.xml");
    ASSERT_EQ(0u, Save(empty));
    EXPECT_EQ("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'>\n"
              "    <controller-list/>\n"
              "</policy>\n",
              ReadFile(empty));
    ASSERT_EQ(0u, Scs().SCS_AddController("a", "a.example", "80", nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr));
    ASSERT_EQ(0u, Scs().SCS_AddController(nullptr, "b.example", "81", "http", nullptr, nullptr, "user", nullptr,
                                          nullptr, "proxy-secret"));
    const std::string two = m_dir.File("two.xml");
    ASSERT_EQ(0u, Save(two));
    EXPECT_EQ("<?xml version='1.0' encoding='UTF-8' standalone='no'?>\n"
              "<policy xmlns='http://schemas.zel.example/cml/GroupSettings' schema-version='1.0.0'>\n"
              "    <controller-list>\n"
              "        <controller-info name='a' host-name='a.example' port='80'/>\n"
              "        <controller-info host-name='b.example' port='81' type='http'"
              " user-name='user' proxy-passwd='proxy-secret'/>\n"
              "    </controller-list>\n"
              "</policy>\n",
              ReadFile(two));
    ASSERT_EQ(0u, Load(empty));
    EXPECT_TRUE(Destinations().empty());
    EXPECT_EQ(0xC759001Cu, Save(m_dir.File("no/such/dir")));
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
    EXPECT_EQ((std::vector<std::string>{"it's \"primary\"", "127.0.0.1", "8080", "http", "proxy.example", "3128",
                                        "a&b", "<relay>"}),
              Controller(0));
    const std::string saved = m_dir.File("saved.xml");
    ASSERT_EQ(0u, Save(saved));
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
    ASSERT_EQ(0u, Load(saved));
    EXPECT_EQ(before, State());
    const std::string again = m_dir.File("again.xml");
    ASSERT_EQ(0u, Save(again));
    EXPECT_EQ(golden, ReadFile(again));
}

// Passwords must reach the file, or a save would lose them; they come back with a load and
// are used for posts (directly and through the controller's proxy), but are never handed out.
TEST_F(GroupSettingsTest, PasswordsSurviveSaveAndLoadButAreNeverHandedOut) {
    TestServer& server = StartReplying("");
    const std::string password = "p&w<'d\"";
    const std::string proxyPassword = "r&'<>";
    AddController("127.0.0.1", server.PortText(), "http", "agent", password.c_str());
    AddController("controller.invalid", "8080", "http", nullptr, nullptr, "127.0.0.1", server.PortText().c_str(),
                  "relay", proxyPassword.c_str());
    const std::string path = m_dir.File("group.xml");
    ASSERT_EQ(0u, Save(path));
    const std::string text = ReadFile(path);
    EXPECT_NE(std::string::npos, text.find(" passwd='p&amp;w&lt;&apos;d&quot;'")) << text;
    EXPECT_NE(std::string::npos, text.find(" proxy-passwd='r&amp;&apos;&lt;&gt;'")) << text;

    // A fresh module knows only the file.
    ASSERT_EQ(0u, Scs().SCS_ShutDown());
    ASSERT_EQ(0u, Scs().SCS_Init("3.0", kAgentId, 0, nullptr, nullptr));
    ASSERT_EQ(0u, Load(path));
    const std::vector<int32_t> ids = Destinations();
    ASSERT_EQ(2u, ids.size());
    for (uint32_t i = 0; i < 2; ++i)
        for (const std::string& field : Controller(i)) {
            EXPECT_EQ(std::string::npos, field.find(password)) << field;
            EXPECT_EQ(std::string::npos, field.find(proxyPassword)) << field;
        }
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
    ASSERT_EQ(0u, Scs().SCS_DeleteController(0));
    EXPECT_EQ(a, AddController("A.Example", "80", ""));
    EXPECT_EQ(v6, AddController("[::1]", "80"));
    ASSERT_EQ(0u, Scs().SCS_DeleteController(5));
    const std::vector<int32_t> saved = {b, aTls, aOtherPort, v6, a};
    EXPECT_EQ(saved, Destinations());
    const std::string path = m_dir.File("group.xml");
    ASSERT_EQ(0u, Save(path));

    // The same addresses in another order, one spelt in capitals, one new.
    const std::string second = Write("second.xml", Policy("<controller-info host-name='b.example' port='80'/>\n"
                                                          "<controller-info host-name='c.example' port='80'/>\n"
                                                          "<controller-info host-name='A.EXAMPLE' port='80'"
                                                          " type='http'/>\n"));
    ASSERT_EQ(0u, Load(second));
    const std::vector<int32_t> after = Destinations();
    ASSERT_EQ(3u, after.size());
    EXPECT_EQ(b, after[0]);
    EXPECT_EQ(a, after[2]);
    EXPECT_EQ(0u, (std::set<int32_t>{a, b, aTls, aOtherPort, v6}.count(after[1]))) << "never one used before";
    ASSERT_EQ(0u, Load(path));
    EXPECT_EQ(saved, Destinations()) << "a saved and reloaded list keeps its identifiers";
}

struct MalformedRow {
    const char* name;
    std::string text;
};

TEST_F(GroupSettingsTest, MalformedDocumentsLeaveThePreviousSettings) {
    const std::string good = WriteExample();
    ASSERT_EQ(0u, Load(good));
    const std::string loaded = State();
    const std::string host = "<controller-info host-name='h.example' port='80'/>\n";
    const std::string ns = kNamespace;
    const MalformedRow rows[] = {
        {"NotXml", "controller primary 127.0.0.1 8080\n"},
        {"Empty", ""},
        {"Truncated", std::string(kExampleAsSaved).substr(0, 200)},
        {"Doctype", "<?xml version='1.0'?>\n<!DOCTYPE policy [<!ENTITY e 'x'>]>\n<policy xmlns='" + ns +
                        "' name='&e;'><controller-list>" + host + "</controller-list></policy>"},
        {"ExternalEntity", "<!DOCTYPE policy SYSTEM 'file:///etc/passwd'>\n<policy xmlns='" + ns + "'>&e;</policy>"},
        {"WrongNamespace", Policy(host, "name='G'", "http://schemas.zel.example/cml/Other")},
        {"NoNamespace", "<policy name='G'><controller-list>" + host + "</controller-list></policy>"},
        {"WrongRoot", "<settings xmlns='" + ns + "'><controller-list>" + host + "</controller-list></settings>"},
        {"PortNotANumber", Policy("<controller-info host-name='h.example' port='80a'/>")},
        {"PortZero", Policy("<controller-info host-name='h.example' port='0'/>")},
        {"PortTooLarge", Policy("<controller-info host-name='h.example' port='65536'/>")},
        {"PortWithBlank", Policy("<controller-info host-name='h.example' port=' 80'/>")},
        {"TypeUnknown", Policy("<controller-info host-name='h.example' port='80' type='ftp'/>")},
        {"TypeInCapitals", Policy("<controller-info host-name='h.example' port='80' type='HTTPS'/>")},
        {"HostMissing", Policy("<controller-info name='x' port='80'/>")},
        {"HostEmpty", Policy("<controller-info host-name='' port='80'/>")},
        {"PortMissing", Policy("<controller-info host-name='h.example'/>")},
        {"ProxyPortWithoutProxyHost", Policy("<controller-info host-name='h.example' port='80' proxy-port='3128'/>")},
        {"PasswordTooLong",
         Policy("<controller-info host-name='h.example' port='80' passwd='" + std::string(1025, 'p') + "'/>")},
        {"OnlyTheSecondControllerIsBad", Policy(host + "<controller-info host-name='i.example' port='x'/>")},
        {"TwoControllerLists", Policy(host + "</controller-list>\n<controller-list>\n" + host)},
        {"TabInGroupName", Policy(host, "name='a&#x9;b'")},
    };
    for (const MalformedRow& row : rows) {
        EXPECT_EQ(0xC7590006u, Load(Write(std::string(row.name) + ".xml", row.text))) << row.name;
        EXPECT_EQ(loaded, State()) << row.name;
    }
    EXPECT_EQ(0xC7590005u, Load(m_dir.File("missing.xml")));
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
    ASSERT_EQ(0u, Load(path));
    EXPECT_EQ("1.1.0|Default Group", Info());
    ASSERT_EQ(2u, Destinations().size());
    const std::string saved = m_dir.File("saved.xml");
    ASSERT_EQ(0u, Save(saved));
    std::string expected = kExampleAsSaved;
    expected.replace(expected.find("schema-version='1.0.0'"), 22, "schema-version='1.1.0'");
    EXPECT_EQ(expected, ReadFile(saved));

    // No controller list at all is an empty list; the document's name replaces the hint, and
    // a document without schema-version reads as 1.0.0.
    ASSERT_EQ(0u, Scs().SCS_SetGroupnameHint("Hinted Group"));
    ASSERT_EQ(0u, Load(Write("bare.xml", "<policy xmlns='" + std::string(kNamespace) + "' name='Bare'/>")));
    EXPECT_EQ("1.0.0|Bare", Info());
    EXPECT_TRUE(Destinations().empty());
    ASSERT_EQ(0u, Load(Write("lab.xml", Policy("", "name='Lab' schema-version='1.0.2'"))));
    EXPECT_EQ("1.0.2|Lab", Info());
}

}  // namespace
}  // namespace zel::scs::test
