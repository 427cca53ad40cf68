// The group settings the controller sends with its replies: saved to the group settings
// file, loaded into the real session-config module and asked for with their version by
// the next heartbeat; and the file replacement they are saved with.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "library_test.h"
#include "runtime/unicode.h"
#include "sensor_services/group_settings_handler.h"

namespace zel::ss::test {
namespace {

using S = std::string;

constexpr const char* kHandlerWhere = "CSensorServices::_GetPropertiesCallback()";
constexpr const char* kReloadWhere = "CSensorServices::ReloadGroupSettings()";

// A reply whose get-policy-response holds the agent's item "A", then a group settings item
// with `attributes` and a document of version `version` naming `controllers` (none: no document),
// then `after`.
std::string Reply(const std::string& attributes, const std::string& version = "", const std::string& controllers = "",
                  const std::string& after = "") {
    const std::string document = "<policy xmlns='" + std::string(kGroupSettingsNs) + "' name='Night Shift' version='" +
                                 version + "' schema-version='1.0.0'><controller-list>" + controllers +
                                 "</controller-list></policy>";
    return ReplyDocument("", "<get-policy-response request-id='gp'><policy-item name='A' namespace='urn:p' token='1' "
                             "code='0x47560006'/><policy-item name='Night Shift' namespace='" +
                                 std::string(kGroupSettingsNs) + "' schema-version='1.0.0' " + attributes + ">" +
                                 (version.empty() ? "" : document) + "</policy-item>" + after +
                                 "</get-policy-response>\n");
}

const CallRecord kAgentCall =
    Call(Callback::kGetPolicyResponse, "gp", {"1", "A", "urn:p", ""}, 0x47560006, std::nullopt, std::nullopt, 1);
CallRecord SettingsCall(const std::string& token, const std::string& document) {
    return Call(Callback::kGroupSettings, "gp", {token, "Night Shift", kGroupSettingsNs, "1.0.0"}, 0, {}, document);
}

class GroupSettingsTest : public LibraryTest {
protected:
    void Start(const ReplyServer& server) { LibraryTest::Start(server), RegisterAll(); }
    // Posts the next heartbeat; the group-settings token it asks with ("<none>": without one).
    std::string NextToken(const ReplyServer& server) {
        const std::size_t before = server.server.Posts().size();
        EXPECT_EQ(0u, PostOneHeartbeat());
        const std::vector<ReceivedPost> posts = server.server.Posts();
        if (posts.size() != before + 1) return "<not posted>";
        const cml::CCmlMessage heartbeat = Parsed(posts.back().body);
        for (const auto& request : heartbeat.GetRequests())
            if (const auto* getPolicy = dynamic_cast<const cml::CGetPolicyRequest*>(request.get()))
                for (const auto& item : getPolicy->GetPolicyItems())
                    if (item->GetNamespace() == cml::kGroupSettingsNamespaceURI) return ToUtf8(item->GetToken());
        return "<none>";
    }
};

TEST_F(GroupSettingsTest, NewSettingsAreSavedLoadedAskedForAndReported) {
    ReplyServer server({});
    // The new settings name this server first, so that the next heartbeat reaches it.
    server.SetReplies({Reply("token='12'", "12",
                             "<controller-info name='night-primary' host-name='127.0.0.1' port='" +
                                 std::to_string(server.Port()) + "'/><controller-info name='night-backup' "
                                 "host-name='backup.night.example' port='8443' type='https'/>",
                             "<policy-item name='B' namespace='urn:p' token='1' code='0x47560006'/>")});
    Start(server);
    ASSERT_EQ(1u, ControllerCount());
    EXPECT_EQ("0", NextToken(server));
    // The agent's own items keep the reply's order; the group-settings item is not among them,
    // and the item before it counts as the final one too. The settings are saved exactly as
    // handed to the agent, with no temporary file left beside it.
    CallRecord b = kAgentCall;
    b.texts[1] = "B";
    EXPECT_EQ((std::vector<CallRecord>{kAgentCall, SettingsCall("12", ReadFile(m_files->GroupSettingsFile())), b,
                                       Complete()}),
              Calls());
    EXPECT_EQ((std::vector<std::string>{"agent.properties", "group.xml"}), m_files->dir.Entries());
    // Loaded: the module now serves the new controller list.
    ASSERT_EQ(2u, ControllerCount());
    EXPECT_EQ((std::vector<std::string>{"night-primary", "127.0.0.1", std::to_string(server.Port()), "http",
                                        "<null>", "<null>", "<null>", "<null>"}),
              ControllerFields(0));
    EXPECT_EQ("backup.night.example", ControllerFields(1).at(1));
    // The next heartbeat asks with the new version.
    EXPECT_EQ("12", NextToken(server));
    EXPECT_TRUE(m_trace.Lines(kHandlerWhere).empty());
    EXPECT_TRUE(m_trace.Lines(kReloadWhere).empty());
}

// Answers that must leave the settings and their version as they are: no new settings in the
// item, or settings that cannot be written because the file system's shape stands in the way (set
// up after the start: root ignores permissions). Rows: the item's attributes, the version sent
// (none: no document), the obstacle (1: the parent is a file, 2: the target is a directory),
// and the handler's trace (none when empty; for an obstacle, the error it names).
TEST_F(GroupSettingsTest, AnswersThatCannotChangeTheSettingsKeepTheVersion) {
    const struct { const char *attributes, *version; int obstacle; uint32_t traceLevel; std::string trace; } cases[] = {
        {"token='0' code='0x47560006'", "", 0, 0, ""},
        {"code='0x47560013'", "", 0, 0, ""},
        {"token='5' code='0xc756000d' text='denied'", "", 0, SS_TRACE_WARNING,
         "CML error code while processing group settings. Code: 0xc756000d Text: denied"},
        {"token='5'", "", 0, SS_TRACE_ERROR,
         "Error while processing group settings. Group settings missing and no error."},
        {"token='12'", "12", 1, SS_TRACE_WARNING, std::to_string(ENOTDIR)},
        {"token='12'", "12", 2, SS_TRACE_WARNING, std::to_string(EISDIR)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Restart();
        ReplyServer server({Reply(c.attributes, c.version, "<controller-info host-name='127.0.0.1' port='1234'/>")});
        Start(server);
        const std::string path = m_files->GroupSettingsFile(), directory = m_files->dir.Path();
        const std::string moved = directory + ".moved";
        if (c.obstacle == 1) {
            ASSERT_EQ(0, std::rename(directory.c_str(), moved.c_str()));
            WriteFile(directory, "not a directory");
        } else if (c.obstacle == 2) {
            ASSERT_EQ(0, std::remove(path.c_str()));
            ASSERT_EQ(0, ::mkdir(path.c_str(), 0755));
            WriteFile(path + "/occupied", "x");
        }
        const std::string before = c.obstacle ? "" : ReadFile(path);
        const std::size_t traced = m_trace.Lines(kHandlerWhere).size();
        ASSERT_EQ(0u, PostOneHeartbeat());
        EXPECT_EQ((std::vector<CallRecord>{kAgentCall, Complete()}), Calls());
        if (!c.obstacle) { EXPECT_EQ(before, ReadFile(path)); }
        EXPECT_EQ(1u, ControllerCount());
        const std::vector<TraceLine> lines = m_trace.Lines(kHandlerWhere);
        ASSERT_EQ(traced + !c.trace.empty(), lines.size());
        const std::string written = "Error writing out group settings. File: " + path + " OSSTAT: 0xc7210021 Err: ";
        if (!c.trace.empty()) {
            EXPECT_EQ(std::make_tuple(c.traceLevel, (c.obstacle ? written : "") + c.trace),
                      std::make_tuple(lines.back().level, lines.back().message));
        }
        // The next heartbeat asks again with the old version.
        EXPECT_EQ("0", NextToken(server));
        if (c.obstacle == 1) {
            ASSERT_EQ(0, std::remove(directory.c_str()));
            ASSERT_EQ(0, std::rename(moved.c_str(), directory.c_str()));
        } else if (c.obstacle == 2) {
            // Nothing but the obstacle's own content: the temporary file was removed.
            EXPECT_EQ((std::vector<std::string>{"agent.properties", "group.xml"}), m_files->dir.Entries());
        }
    }
}

TEST_F(GroupSettingsTest, SettingsTheModuleRefusesAreSavedButTheOldListStays) {
    // Port 0 is not a port: the module keeps the settings it has.
    ReplyServer server({Reply("token='13'", "13", "<controller-info name='broken' host-name='127.0.0.1' port='0'/>")});
    Start(server);
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_WARNING, "Unable to load group settings file: " + m_files->GroupSettingsFile(),
                               kReloadWhere));
    EXPECT_EQ(1u, ControllerCount());
    // The file holds what the controller sent, so the version is the one it names.
    const std::string saved = ReadFile(m_files->GroupSettingsFile());
    EXPECT_NE(std::string::npos, saved.find("name='broken'"));
    EXPECT_EQ((std::vector<CallRecord>{kAgentCall, SettingsCall("13", saved), Complete()}), Calls());
}

TEST(ReplaceFileContents, WritesExactlyTheBytesKeepsThePermissionsAndFollowsLinks) {
    TempDir dir;
    const std::string path = dir.File("settings.xml");
    WriteFile(path, "old content that is longer than the new one");
    ASSERT_EQ(0, ::chmod(path.c_str(), 0604));
    const std::string bytes("new\0\xff\r\n", 7);
    int error = -1;
    const auto mode = [](const std::string& file) { return std::filesystem::status(file).permissions(); };
    EXPECT_EQ(0u, ReplaceFileContents(path, bytes.data(), static_cast<uint32_t>(bytes.size()), error));
    EXPECT_EQ(std::make_tuple(0, bytes, std::filesystem::perms(0604)),
              std::make_tuple(error, ReadFile(path), mode(path)));
    EXPECT_EQ((std::vector<std::string>{"settings.xml"}), dir.Entries());
    // A file that did not exist is created, for its owner only.
    EXPECT_EQ(0u, ReplaceFileContents(dir.File("fresh.xml"), "abc", 3, error));
    EXPECT_EQ(std::make_tuple(S("abc"), std::filesystem::perms(0600)),
              std::make_tuple(ReadFile(dir.File("fresh.xml")), mode(dir.File("fresh.xml"))));
    // A link is followed: its target changes and the link stays a link.
    std::filesystem::create_symlink(path, dir.File("link.xml"));
    EXPECT_EQ(0u, ReplaceFileContents(dir.File("link.xml"), "via link", 8, error));
    EXPECT_EQ("via link", ReadFile(path));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.xml")));
    // Failures name the step and leave nothing behind.
    ASSERT_EQ(0, ::mkdir(dir.File("taken").c_str(), 0755));
    WriteFile(dir.File("taken") + "/inside", "x");
    for (const auto& [target, expected] : std::vector<std::pair<std::string, int>>{
             {path + "/settings.xml", ENOTDIR}, {dir.File("missing") + "/settings.xml", ENOENT},
             {dir.File("taken"), EISDIR}}) {
        EXPECT_EQ(0xC7210021u, ReplaceFileContents(target, "abc", 3, error));
        EXPECT_EQ(expected, error) << target;
    }
    EXPECT_EQ((std::vector<std::string>{"fresh.xml", "link.xml", "settings.xml", "taken"}), dir.Entries());
}

}  // namespace
}  // namespace zel::ss::test
