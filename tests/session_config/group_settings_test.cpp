// The group settings model inside the module: all-or-nothing loads, stable identifiers
// across reloads and atomic saves. The CML reader and writer are not part of the module
// yet, so these tests give the module a line-based stand-in codec of their own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "session_config/module.h"
#include "test_support.h"
#include "zel/status_codes.h"

namespace zel::scs::test {
namespace {

// "group=<name>", "version=<v>", "schema=<v>" and "controller=<name>,<host>,<port>,<type>" lines.
GroupSettingsCodec LineCodec() {
    GroupSettingsCodec codec;
    codec.read = [](std::string_view text, GroupSettings& settings) -> uint32_t {
        std::istringstream in{std::string(text)};
        std::string line;
        while (std::getline(in, line)) {
            const auto equals = line.find('=');
            if (equals == std::string::npos) return ZEL_E_SCS_FILE_INVALID;
            const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
            if (key == "group") {
                settings.groupName = value;
            } else if (key == "version") {
                settings.version = value;
            } else if (key == "schema") {
                settings.schemaVersion = value;
            } else if (key == "controller") {
                std::vector<std::string> fields;
                std::istringstream parts(value);
                for (std::string field; std::getline(parts, field, ',');) fields.push_back(field);
                fields.resize(4);
                ControllerInfo controller;
                controller.name = fields[0];
                controller.hostName = fields[1];
                controller.port = fields[2];
                controller.type = fields[3];
                settings.controllers.push_back(controller);
            } else {
                return ZEL_E_SCS_FILE_INVALID;
            }
        }
        return 0;
    };
    codec.write = [](const GroupSettings& settings, std::string& text) -> uint32_t {
        text = "group=" + settings.groupName + "\nversion=" + settings.version +
               "\nschema=" + settings.schemaVersion + "\n";
        for (const ControllerInfo& c : settings.controllers)
            text += "controller=" + c.name + "," + c.hostName + "," + c.port + "," + c.type + "\n";
        return 0;
    };
    return codec;
}

class GroupSettingsModel : public ::testing::Test {
protected:
    GroupSettingsModel() : m_module("agent", 0, nullptr, nullptr) {
        m_module.SetGroupSettingsCodec(LineCodec());
    }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = m_dir.File(name);
        WriteFile(path, text);
        return path;
    }
    TempDir m_dir;
    CSessionConfigModule m_module;
};

TEST_F(GroupSettingsModel, LoadReplacesNameVersionsAndControllers) {
    const std::string path = Write("group", "group=Default Group\nversion=3\nschema=1.0.0\n"
                                            "controller=primary,127.0.0.1,8080,\n"
                                            "controller=backup,backup.example,8443,https\n");
    m_module.SetGroupnameHint("hint");
    ASSERT_EQ(0u, m_module.LoadGroupSettings(path.c_str()));
    std::string schema, group;
    m_module.GroupSettingsInfo(schema, group);
    EXPECT_EQ("1.0.0", schema);
    EXPECT_EQ("Default Group", group);
    EXPECT_EQ(2u, m_module.ControllerCount());
    ControllerInfo backup;
    ASSERT_EQ(0u, m_module.ControllerAt(1, backup));
    EXPECT_EQ("backup.example", backup.hostName);
    EXPECT_EQ("https", backup.type);
}

TEST_F(GroupSettingsModel, IdentifiersSurviveReloadsInAnyOrder) {
    const std::string first = Write("first", "controller=a,a.example,80,\ncontroller=b,b.example,80,\n");
    ASSERT_EQ(0u, m_module.LoadGroupSettings(first.c_str()));
    const std::vector<int32_t> before = m_module.Destinations();
    const std::string second =
        Write("second", "controller=b,b.example,80,http\ncontroller=c,c.example,80,\n"
                        "controller=a,A.EXAMPLE,80,\n");
    ASSERT_EQ(0u, m_module.LoadGroupSettings(second.c_str()));
    const std::vector<int32_t> after = m_module.Destinations();
    ASSERT_EQ(3u, after.size());
    EXPECT_EQ(before[1], after[0]);
    EXPECT_EQ(before[0], after[2]);
    EXPECT_NE(before[0], after[1]);
    EXPECT_NE(before[1], after[1]);
}

TEST_F(GroupSettingsModel, ALoadThatFailsAnywhereChangesNothing) {
    const std::string good = Write("good", "group=G\nversion=1\ncontroller=a,a.example,80,\n");
    ASSERT_EQ(0u, m_module.LoadGroupSettings(good.c_str()));
    const std::vector<int32_t> ids = m_module.Destinations();
    const struct {
        const char* name;
        const char* text;
    } rows[] = {
        {"SecondControllerHasNoPort", "group=H\ncontroller=b,b.example,80,\ncontroller=c,c.example,,\n"},
        {"UnknownType", "group=H\ncontroller=b,b.example,80,ftp\n"},
        {"HostWithBlank", "group=H\ncontroller=b,b example,80,\n"},
        {"UnreadableDocument", "group=H\nthis is not a line of the format\n"},
        {"ControlCharacterInName", "group=H\x01\ncontroller=b,b.example,80,\n"},
    };
    for (const auto& row : rows) {
        const std::string path = Write(row.name, row.text);
        EXPECT_EQ(0xC7590006u, m_module.LoadGroupSettings(path.c_str())) << row.name;
        EXPECT_EQ(ids, m_module.Destinations()) << row.name;
        std::string schema, group;
        m_module.GroupSettingsInfo(schema, group);
        EXPECT_EQ("G", group) << row.name;
    }
    EXPECT_EQ(0xC7590005u, m_module.LoadGroupSettings(m_dir.File("missing").c_str()));
    EXPECT_EQ(ids, m_module.Destinations());
}

TEST_F(GroupSettingsModel, SaveWritesTheCurrentListAtomicallyToTheLoadedPath) {
    const std::string path = Write("group", "group=G\nversion=7\ncontroller=a,a.example,80,http\n");
    ASSERT_EQ(0u, m_module.LoadGroupSettings(path.c_str()));
    ControllerInfo added;
    added.name = "b";
    added.hostName = "b.example";
    added.port = "443";
    added.type = "https";
    added.passwd = "secret";
    ASSERT_EQ(0u, m_module.AddController(added));
    ASSERT_EQ(0u, m_module.SaveGroupSettings(nullptr));
    EXPECT_EQ("group=G\nversion=7\nschema=1.0.0\ncontroller=a,a.example,80,http\n"
              "controller=b,b.example,443,https\n",
              ReadFile(path));
    EXPECT_EQ(std::vector<std::string>{"group"}, m_dir.Entries());

    const std::string copy = m_dir.File("copy");
    ASSERT_EQ(0u, m_module.SaveGroupSettings(copy.c_str()));
    EXPECT_EQ(ReadFile(path), ReadFile(copy));
    struct stat st {};
    ASSERT_EQ(0, ::stat(copy.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "a new file holding passwords is private";
    EXPECT_EQ(0xC759001Cu, m_module.SaveGroupSettings(m_dir.File("no/such/dir").c_str()));
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
