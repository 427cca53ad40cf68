// The group settings the controller sends with its replies: saved to the group settings
// file, loaded into the real session-config module and asked for with their version by
// the next heartbeat.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "SensorIndependence/CmlLib/cml_message.h"
#include "SensorIndependence/CmlLib/cml_parser.h"
#include "SensorIndependence/CmlLib/policy.h"
#include "SensorIndependence/CmlLib/vocabulary.h"
#include "reply_fixture.h"
#include "runtime/unicode.h"
#include "sensor_services/group_settings_handler.h"
#include "zel/sensor_services.h"

namespace zel::ss::test {
namespace {

constexpr const char* kHandlerWhere = "CSensorServices::_GetPropertiesCallback()";
constexpr const char* kReloadWhere = "CSensorServices::ReloadGroupSettings()";

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The token of the group-settings item of a posted heartbeat; "<none>" without one.
std::string GroupSettingsToken(const std::string& body) {
    cml::CCmlParser parser;
    parser.ParseBuffer(reinterpret_cast<const XMLByte*>(body.data()), static_cast<unsigned>(body.size()),
                       cml::kParseNonValidating);
    cml::CCmlMessage heartbeat;
    heartbeat.Deserialize(parser.GetEnvelopeElement());
    for (const auto& request : heartbeat.GetRequests()) {
        const auto* getPolicy = dynamic_cast<const cml::CGetPolicyRequest*>(request.get());
        if (!getPolicy) continue;
        for (const auto& item : getPolicy->GetPolicyItems())
            if (item->GetNamespace() == cml::kGroupSettingsNamespaceURI) return ToUtf8(item->GetToken());
    }
    return "<none>";
}

std::string ControllerInfo(const std::string& name, const std::string& host, int port, const char* type = nullptr) {
    return "<controller-info name='" + name + "' host-name='" + host + "' port='" + std::to_string(port) + "'" +
           (type ? std::string(" type='") + type + "'" : std::string()) + "/>";
}

std::string NightShiftSettings(int port) {
    return GroupSettingsDocument("12", ControllerInfo("night-primary", "127.0.0.1", port) +
                                           ControllerInfo("night-backup", "backup.night.example", 8443, "https"));
}

std::string GroupSettingsItem(const std::string& attributes, const std::string& content) {
    return "<policy-item name='Night Shift' namespace='http://schemas.zel.example/cml/GroupSettings' "
           "schema-version='1.0.0' " +
           attributes + ">" + content + "</policy-item>";
}

std::string AgentItem(const std::string& name) {
    return "<policy-item name='" + name + "' namespace='urn:p' token='1' code='0x47560006'/>";
}

// The call of the agent's item `name` (AgentItem).
CallRecord AgentCall(const std::string& name, uint32_t last) {
    return Call(Callback::kGetPolicyResponse, "gp", {"1", name, "urn:p", ""}, 0x47560006, std::nullopt, std::nullopt,
                last);
}

std::string GetPolicyReply(const std::string& items) {
    return ReplyDocument("", "<get-policy-response request-id='gp'>" + items + "</get-policy-response>\n");
}

std::vector<std::string> Controller(uint32_t index) {
    char* texts[8] = {};
    EXPECT_EQ(0u, SS_GetControllerInfo(index, &texts[0], &texts[1], &texts[2], &texts[3], &texts[4], &texts[5],
                                       &texts[6], &texts[7]));
    std::vector<std::string> fields;
    for (char* text : texts) {
        fields.push_back(text ? text : "<null>");
        SS_Free(text);
    }
    return fields;
}

uint32_t ControllerCount() {
    uint32_t count = 0;
    EXPECT_EQ(0u, SS_GetControllerCount(&count));
    return count;
}

class GroupSettingsTest : public ReplyTestBase {
protected:
    void StartRecording(const ReplyServer& server) {
        Start(server);
        for (Callback callback : {Callback::kGetPolicyResponse, Callback::kGroupSettings, Callback::kResponseComplete})
            ASSERT_EQ(0u, RegisterRecorder(callback));
    }
    // Posts the next heartbeat; the group-settings token it asks with.
    std::string NextToken(const ReplyServer& server) {
        const std::size_t before = server.Server().Posts().size();
        EXPECT_EQ(0u, PostOneHeartbeat());
        const std::vector<ReceivedPost> posts = server.Server().Posts();
        return posts.size() == before + 1 ? GroupSettingsToken(posts.back().body) : "<not posted>";
    }
};

TEST_F(GroupSettingsTest, NewSettingsAreSavedLoadedAskedForAndReported) {
    ReplyServer server({});
    // The new settings name this server first, so that the next heartbeat reaches it.
    server.SetReplies({GetPolicyReply(AgentItem("A") +
                                      GroupSettingsItem("token='12'", NightShiftSettings(server.Port())) +
                                      AgentItem("B"))});
    StartRecording(server);
    ASSERT_EQ(1u, ControllerCount());
    const std::string directory = m_files->GroupSettingsFile().substr(0, m_files->GroupSettingsFile().rfind('/'));

    EXPECT_EQ("0", NextToken(server));

    // The agent's own items keep the reply's order; the group-settings item is not among
    // them, and the item before it counts as the final one too. The settings are saved
    // exactly as handed to the agent, with no temporary file left beside it.
    EXPECT_EQ((std::vector<CallRecord>{AgentCall("A", 1),
                                       Call(Callback::kGroupSettings, "gp", {"12", "Night Shift", kGroupSettingsNs,
                                                                            "1.0.0"}, 0, std::nullopt,
                                            ReadFile(m_files->GroupSettingsFile())),
                                       AgentCall("B", 1), Complete()}),
              CallbackLog::Instance().Calls());
    EXPECT_EQ((std::vector<std::string>{"agent.properties", "group.xml"}), Names(directory));

    // Loaded: the module now serves the new controller list.
    ASSERT_EQ(2u, ControllerCount());
    EXPECT_EQ((std::vector<std::string>{"night-primary", "127.0.0.1", std::to_string(server.Port()), "http",
                                        "<null>", "<null>", "<null>", "<null>"}),
              Controller(0));
    EXPECT_EQ((std::vector<std::string>{"night-backup", "backup.night.example", "8443", "https", "<null>", "<null>",
                                        "<null>", "<null>"}),
              Controller(1));

    // The next heartbeat asks with the new version.
    EXPECT_EQ("12", NextToken(server));
    EXPECT_TRUE(m_trace.Lines(kHandlerWhere).empty());
    EXPECT_TRUE(m_trace.Lines(kReloadWhere).empty());
}

// An answer that must leave the settings as they are: the group-settings item, and the
// trace the handler writes (none when empty).
struct UnchangedCase {
    const char* name;
    std::string item;
    uint32_t traceLevel;
    std::string trace;
};

class UnchangedSettingsTest : public GroupSettingsTest, public ::testing::WithParamInterface<UnchangedCase> {};

TEST_P(UnchangedSettingsTest, ChangesNothingAndCallsNothing) {
    const UnchangedCase& answer = GetParam();
    ReplyServer server({GetPolicyReply(AgentItem("A") + answer.item)});
    StartRecording(server);
    const std::string before = ReadFile(m_files->GroupSettingsFile());

    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ((std::vector<CallRecord>{AgentCall("A", 1), Complete()}), CallbackLog::Instance().Calls());

    EXPECT_EQ(before, ReadFile(m_files->GroupSettingsFile()));
    EXPECT_EQ(1u, ControllerCount());
    const std::vector<TraceLine> lines = m_trace.Lines(kHandlerWhere);
    if (answer.trace.empty()) {
        EXPECT_TRUE(lines.empty());
    } else {
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(answer.traceLevel, lines[0].level);
        EXPECT_EQ(answer.trace, lines[0].message);
    }

    EXPECT_EQ("0", NextToken(server));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UnchangedSettingsTest,
    ::testing::Values(
        UnchangedCase{"NoPolicyChange", GroupSettingsItem("token='0' code='0x47560006'", ""), 0, ""},
        UnchangedCase{"NoPolicyAvailable", GroupSettingsItem("code='0x47560013'", ""), 0, ""},
        UnchangedCase{"OtherCode", GroupSettingsItem("token='5' code='0xc756000d' text='denied'", ""),
                      SS_TRACE_WARNING,
                      "CML error code while processing group settings. Code: 0xc756000d Text: denied"},
        UnchangedCase{"NoDocument", GroupSettingsItem("token='5'", ""), SS_TRACE_ERROR,
                      "Error while processing group settings. Group settings missing and no error."}),
    [](const ::testing::TestParamInfo<UnchangedCase>& info) { return info.param.name; });

// What stands in the way of the group settings file, set up after the library has started.
enum class Obstacle { kParentIsAFile, kTargetIsADirectory };

class UnwritableSettingsTest : public GroupSettingsTest, public ::testing::WithParamInterface<Obstacle> {};

TEST_P(UnwritableSettingsTest, KeepTheVersionAndAreTraced) {
    ReplyServer server({GetPolicyReply(GroupSettingsItem("token='12'", NightShiftSettings(1234)))});
    StartRecording(server);
    const std::string path = m_files->GroupSettingsFile();
    const std::string directory = path.substr(0, path.rfind('/'));
    const std::string moved = directory + ".moved";
    // Root ignores permissions, so the obstacles are made of the file system's shape.
    if (GetParam() == Obstacle::kParentIsAFile) {
        ASSERT_EQ(0, std::rename(directory.c_str(), moved.c_str()));
        WriteFile(directory, "not a directory");
    } else {
        ASSERT_EQ(0, std::remove(path.c_str()));
        ASSERT_EQ(0, ::mkdir(path.c_str(), 0755));
        WriteFile(path + "/occupied", "x");
    }

    ASSERT_EQ(0u, PostOneHeartbeat());
    const bool parentIsFile = GetParam() == Obstacle::kParentIsAFile;
    const std::string expected = "Error writing out group settings. File: " + path + " OSSTAT: " +
                                 (parentIsFile ? "0xc7210021 Err: " + std::to_string(ENOTDIR)
                                               : "0xc7210021 Err: " + std::to_string(EISDIR));
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_WARNING, expected, kHandlerWhere))
        << ::testing::PrintToString(m_trace.Lines(kHandlerWhere).size());
    EXPECT_EQ(std::vector<CallRecord>{Complete()}, CallbackLog::Instance().Calls());
    EXPECT_EQ(1u, ControllerCount());

    // The next heartbeat asks again with the old version.
    EXPECT_EQ("0", NextToken(server));

    if (parentIsFile) {
        ASSERT_EQ(0, std::remove(directory.c_str()));
        ASSERT_EQ(0, std::rename(moved.c_str(), directory.c_str()));
    } else {
        // Nothing but the obstacle's own content: the temporary file was removed.
        EXPECT_EQ((std::vector<std::string>{"agent.properties", "group.xml"}), Names(directory));
    }
}

INSTANTIATE_TEST_SUITE_P(Obstacles, UnwritableSettingsTest,
                         ::testing::Values(Obstacle::kParentIsAFile, Obstacle::kTargetIsADirectory),
                         [](const ::testing::TestParamInfo<Obstacle>& info) {
                             return info.param == Obstacle::kParentIsAFile ? "ParentIsAFile" : "TargetIsADirectory";
                         });

TEST_F(GroupSettingsTest, SettingsTheModuleRefusesAreSavedButTheOldListStays) {
    // Port 0 is not a port: the module keeps the settings it has.
    ReplyServer server({GetPolicyReply(GroupSettingsItem(
        "token='13'", GroupSettingsDocument("13", ControllerInfo("broken", "127.0.0.1", 0))))});
    Start(server);
    ASSERT_EQ(0u, RegisterRecorder(Callback::kGroupSettings));
    ASSERT_EQ(0u, PostOneHeartbeat());
    EXPECT_EQ(1, m_trace.Count(SS_TRACE_WARNING, "Unable to load group settings file: " + m_files->GroupSettingsFile(),
                               kReloadWhere));
    EXPECT_EQ(1u, ControllerCount());
    // The file holds what the controller sent, so the version is the one it names.
    const std::string saved = ReadFile(m_files->GroupSettingsFile());
    EXPECT_NE(std::string::npos, saved.find("name='broken'"));
    EXPECT_EQ((std::vector<CallRecord>{Call(Callback::kGroupSettings, "gp", {"13", "Night Shift", kGroupSettingsNs,
                                                                             "1.0.0"}, 0, std::nullopt, saved)}),
              CallbackLog::Instance().Calls());
}

TEST(ReplaceFileContents, WritesExactlyTheBytesAndKeepsThePermissions) {
    TempDir dir;
    const std::string path = dir.File("settings.xml");
    WriteFile(path, "old content that is longer than the new one");
    ASSERT_EQ(0, ::chmod(path.c_str(), 0604));
    const std::string bytes("new\0\xff\r\n", 7);
    int error = -1;
    EXPECT_EQ(0u, ReplaceFileContents(path, bytes.data(), static_cast<uint32_t>(bytes.size()), error));
    EXPECT_EQ(0, error);
    EXPECT_EQ(bytes, ReadFile(path));
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0604u, st.st_mode & 07777);
    EXPECT_EQ((std::vector<std::string>{"settings.xml"}), Names(dir.File("")));

    // A file that did not exist is created, for its owner only.
    EXPECT_EQ(0u, ReplaceFileContents(dir.File("fresh.xml"), "abc", 3, error));
    EXPECT_EQ("abc", ReadFile(dir.File("fresh.xml")));
    ASSERT_EQ(0, ::stat(dir.File("fresh.xml").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);

    // A link is followed: its target changes and the link stays a link.
    ASSERT_EQ(0, ::symlink(path.c_str(), dir.File("link.xml").c_str()));
    EXPECT_EQ(0u, ReplaceFileContents(dir.File("link.xml"), "via link", 8, error));
    EXPECT_EQ("via link", ReadFile(path));
    struct stat link {};
    ASSERT_EQ(0, ::lstat(dir.File("link.xml").c_str(), &link));
    EXPECT_TRUE(S_ISLNK(link.st_mode));
}

TEST(ReplaceFileContents, FailuresNameTheStepAndLeaveNothingBehind) {
    TempDir dir;
    WriteFile(dir.File("plain"), "x");
    int error = 0;
    EXPECT_EQ(0xC7210021u, ReplaceFileContents(dir.File("plain") + "/settings.xml", "abc", 3, error));
    EXPECT_EQ(ENOTDIR, error);
    EXPECT_EQ(0xC7210021u, ReplaceFileContents(dir.File("missing") + "/settings.xml", "abc", 3, error));
    EXPECT_EQ(ENOENT, error);

    ASSERT_EQ(0, ::mkdir(dir.File("taken").c_str(), 0755));
    WriteFile(dir.File("taken") + "/inside", "x");
    EXPECT_EQ(0xC7210021u, ReplaceFileContents(dir.File("taken"), "abc", 3, error));
    EXPECT_EQ(EISDIR, error);
    EXPECT_EQ((std::vector<std::string>{"plain", "taken"}), Names(dir.File("")));
}

}  // namespace
}  // namespace zel::ss::test
