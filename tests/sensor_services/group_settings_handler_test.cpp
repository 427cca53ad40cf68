// The group settings the controller sends with its replies: saved to the group settings
// file, loaded into the real session-config module and asked for with their version by
// the next heartbeat; and the file replacement they are saved with.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "library_test.h"
#include "sensor_services/group_settings_handler.h"

namespace zel::ss::test {
namespace {

using S = std::string;

constexpr const char* kHandlerWhere = "CSensorServices::_GetPropertiesCallback()";

// A reply whose get-policy-response holds the agent's item "A", then a group settings item
// with `attributes` and a document of version `version` naming `controllers` (none: no document).
std::string Reply(const std::string& attributes, const std::string& version = "", const std::string& controllers = "") {
    const S ns = kGroupSettingsNs;
    const S document = "<policy xmlns='" + ns + "' name='Night Shift' version='" + version +
                       "' schema-version='1.0.0'><controller-list>" + controllers + "</controller-list></policy>";
    return ReplyDocument("", "<get-policy-response request-id='gp'><policy-item name='A' namespace='urn:p' token='1' "
                             "code='0x47560006'/><policy-item name='Night Shift' namespace='" + ns +
                             "' schema-version='1.0.0' " + attributes + ">" + (version.empty() ? "" : document) +
                             "</policy-item></get-policy-response>\n");
}

const CallRecord kAgentCall =
    Call(Callback::kGetPolicyResponse, "gp", {"1", "A", "urn:p", ""}, 0x47560006, std::nullopt, std::nullopt, 1);
CallRecord SettingsCall(const std::string& token, const std::string& document) {
    return Call(Callback::kGroupSettings, "gp", {token, "Night Shift", kGroupSettingsNs, "1.0.0"}, 0, {}, document);
}

class GroupSettingsTest : public LibraryTest {
protected:
    void Start(const ReplyServer& server) { LibraryTest::Start(server), RegisterAll(); }
    // Posts the next heartbeat (synchronously); the group-settings token it asks with, as written
    // on the wire ("<none>": without one).
    static std::string NextToken(const ReplyServer& server) {
        EXPECT_EQ(0u, PostOneHeartbeat());
        const std::regex item("<policy-item namespace='" + S(kGroupSettingsNs) +
                              "' schema-version='1.0.0' token='([^']*)'");
        std::smatch token;
        const std::string body = server.server.Posts().back().body;
        return std::regex_search(body, token, item) ? token[1].str() : "<none>";
    }
};

// The second settings name a port that is not one (0): the module refuses them, so they are
// saved and reported but the list loaded before stays.
TEST_F(GroupSettingsTest, NewSettingsAreSavedLoadedAskedForAndReportedEvenWhenTheModuleRefusesThem) {
    ReplyServer server({});
    // The new settings name this server first, so that the next heartbeat reaches it.
    server.SetReplies({Reply("token='12'", "12",
                             "<controller-info name='night-primary' host-name='127.0.0.1' port='" +
                                 std::to_string(server.Port()) + "'/><controller-info name='night-backup' "
                                 "host-name='backup.night.example' port='8443' type='https'/>"),
                       Reply("token='13'", "13", "<controller-info name='broken' host-name='127.0.0.1' port='0'/>")});
    Start(server);
    const std::string file = m_files->GroupSettingsFile();
    EXPECT_EQ("0", NextToken(server));
    // The group-settings item is not among the agent's own items. The settings are saved exactly
    // as handed to the agent, with no temporary file left beside it.
    EXPECT_EQ((std::vector<CallRecord>{kAgentCall, SettingsCall("12", ReadFile(file)), Complete()}), Calls());
    EXPECT_EQ((std::vector<std::string>{"agent.properties", "group.xml"}), m_files->dir.Entries());
    // Loaded: the module now serves the new controller list (the start's list has one).
    ASSERT_EQ(2u, ControllerCount());
    EXPECT_EQ("backup.night.example", ControllerFields(1).at(1));
    // The next heartbeat asks with the new version, and reaches the new primary.
    EXPECT_EQ("12", NextToken(server));
    EXPECT_EQ(2u, ControllerCount());
    EXPECT_EQ(SettingsCall("13", ReadFile(file)), Calls().at(4));
    // The file holds what the controller sent, so the version is the one it names.
    EXPECT_EQ("13", NextToken(server));
}

// Answers that must leave the settings and their version as they are: no new settings in the
// item, or settings that cannot be written because the target is a directory (set up after the
// start). Rows: the item's attributes, the version sent (none: no document), the obstacle, and
// the handler's trace (none when empty; for the obstacle, the error number it names), whose
// level is not compared. (The other ways a write fails: the file replacement's own test.)
TEST_F(GroupSettingsTest, AnswersThatCannotChangeTheSettingsKeepTheVersion) {
    const struct { const char *attributes, *version; bool obstacle; std::string trace; } cases[] = {
        {"token='0' code='0x47560006'", "", false, ""},
        {"token='5' code='0xc756000d' text='denied'", "", false,
         "CML error code while processing group settings. Code: 0xc756000d Text: denied"},
        {"token='5'", "", false, "Error while processing group settings. Group settings missing and no error."},
        {"token='12'", "12", true, std::to_string(EISDIR)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Restart();
        ReplyServer server({Reply(c.attributes, c.version, "<controller-info host-name='127.0.0.1' port='1234'/>")});
        Start(server);
        const std::string path = m_files->GroupSettingsFile();
        if (c.obstacle) {
            ASSERT_EQ(0, std::remove(path.c_str()));
            ASSERT_EQ(0, ::mkdir(path.c_str(), 0755));
            WriteFile(path + "/occupied", "x");
        }
        const std::size_t traced = m_trace.Lines(kHandlerWhere).size();
        ASSERT_EQ(0u, PostOneHeartbeat());
        EXPECT_EQ((std::vector<CallRecord>{kAgentCall, Complete()}), Calls());
        EXPECT_EQ(1u, ControllerCount());
        const std::vector<TraceLine> lines = m_trace.Lines(kHandlerWhere);
        ASSERT_EQ(traced + !c.trace.empty(), lines.size());
        const std::string written = "Error writing out group settings. File: " + path + " OSSTAT: 0xc7210021 Err: ";
        if (!c.trace.empty()) { EXPECT_EQ((c.obstacle ? written : "") + c.trace, lines.back().message); }
        // The next heartbeat asks again with the old version; nothing but the files (and the
        // obstacle's own content) is left.
        EXPECT_EQ("0", NextToken(server));
        EXPECT_EQ((std::vector<std::string>{"agent.properties", "group.xml"}), m_files->dir.Entries());
    }
}

TEST(ReplaceFileContents, WritesExactlyTheBytesAndKeepsThePermissions) {
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
    // A file that did not exist is created, for its owner only.
    EXPECT_EQ(0u, ReplaceFileContents(dir.File("fresh.xml"), "abc", 3, error));
    EXPECT_EQ(std::make_tuple(S("abc"), std::filesystem::perms(0600)),
              std::make_tuple(ReadFile(dir.File("fresh.xml")), mode(dir.File("fresh.xml"))));
    // A failure names the step and leaves nothing behind. (A directory in the way: the handler's test.)
    EXPECT_EQ(0xC7210021u, ReplaceFileContents(dir.File("missing") + "/settings.xml", "abc", 3, error));
    EXPECT_EQ(ENOENT, error);
    EXPECT_EQ((std::vector<std::string>{"fresh.xml", "settings.xml"}), dir.Entries());
}

}  // namespace
}  // namespace zel::ss::test
