// The shared library as agents see it: its exported symbols and its use from plain C.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "services_fixture.h"

extern "C" int SsPlainCAgent(const char* propertyFile, const char* groupSettingsFile);

namespace zel::ss::test {
namespace {

// The defined dynamic symbols of the shared library, as nm lists them.
std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
    const std::string command = "nm -D --defined-only '" + library + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::set<std::string> names;
    if (!pipe) return names;
    // Each line: address, kind, name.
    char name[1024];
    while (std::fscanf(pipe.get(), "%*s %*s %1023s", name) == 1) names.insert(name);
    return names;
}

TEST(ExportedInterfaceTest, TheLibraryExportsExactlyItsInterface) {
    const std::set<std::string> expected = {
        "SS_Init", "SS_ShutDown", "SS_Allocate", "SS_Free", "SS_RegisterErrorCallback", "SS_LoadLocalProperties",
        "SS_LoadGroupSettings", "SS_SaveGroupSettings", "SS_SetAgentId", "SS_SetLastGoodAgentId",
        "SS_SetGroupnameHint", "SS_ResetToPrimaryController", "SS_GetControllerCount", "SS_GetControllerInfo",
        "SS_AddController", "SS_DeleteController", "RegisterGetSchemaRequest", "RegisterSetSchemaRequest",
        "RegisterGetSchemaResponse", "RegisterSetSchemaResponse", "RegisterGetPolicyResponse",
        "RegisterSetPolicyResponse", "RegisterGenericResponse", "RegisterResponseComplete", "PostPing",
        "RegisterPingResponse", "RegisterGroupSettingsResponse", "CreateHeartbeat", "FreeHeartbeat",
        "AddGetPolicyRequest", "AddAgentPolicyInfo", "PostHeartbeat", "SetBasicAgentInfo", "SetAgentInfo",
        "SetHostInfo", "AddSchemaInfo", "AddModuleInfo", "AddModuleInfoParams", "AddAgentParams",
        "AddOptAgentProperties", "AddSetPolicyRequest", "AddGetSchemaRequest", "AddSetSchemaRequest",
        "AddSetPolicyResponse", "AddGetSchemaResponse", "AddSetSchemaResponse",
    };
    EXPECT_EQ(expected, DefinedDynamicSymbols(ZEL_SS_LIBRARY_PATH));
}

TEST(ExportedInterfaceTest, APlainCAgentDrivesTheLibrary) {
    SettingsFiles files({1});
    EXPECT_EQ(0, SsPlainCAgent(files.PropertyFile().c_str(), files.GroupSettingsFile().c_str()));
}

}  // namespace
}  // namespace zel::ss::test
