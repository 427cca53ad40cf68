// jsDynamicLibrary on a real module: loading, exports, the loader's errors and the handle
// copies that share one module.
#include "runtime/dynamic_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "zel/status_codes.h"

namespace {

using zel::jsDynamicLibrary;

constexpr const char kModulePath[] = ZEL_TEST_MODULE_PATH;
constexpr const char kExport[] = "zel_test_module_answer";

// Whether the test module is mapped into the process right now, asked of the loader
// without loading it.
bool ModuleResident() {
    void* module = dlopen(kModulePath, RTLD_NOW | RTLD_NOLOAD);
    if (module) dlclose(module);
    return module != nullptr;
}

TEST(DynamicLibrary, LoadsByPathAndResolvesAnExport) {
    ASSERT_FALSE(ModuleResident());
    jsDynamicLibrary library;
    ASSERT_EQ(library.Load(kModulePath), 0u) << library.Detail();
    EXPECT_TRUE(library.IsLoaded());
    EXPECT_TRUE(ModuleResident());
    EXPECT_EQ(library.Name(), kModulePath);
    EXPECT_EQ(library.Detail(), "");
    auto answer = reinterpret_cast<int (*)()>(library.GetEntry(kExport));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    // A missing export gives no address and stores the error; a null name asks nothing.
    EXPECT_EQ(library.GetEntry("zel_test_module_missing"), nullptr);
    EXPECT_EQ(library.LastError(), static_cast<uint32_t>(ENOSYS));
    EXPECT_TRUE(library.IsLoaded());
    library.Load(kModulePath);
    EXPECT_EQ(library.GetEntry(nullptr), nullptr);
    EXPECT_EQ(library.LastError(), 0u);

    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(ModuleResident());
    EXPECT_EQ(library.GetEntry(kExport), nullptr);
    EXPECT_NE(library.LastError(), 0u);
}

// Loading another module first lets go of the one held, whether or not the new one loads.
TEST(DynamicLibrary, FailedLoadsGiveTheLoadersErrorAndUnload) {
    const std::string notAModule = testing::TempDir() + "zel_not_a_module.so";
    std::ofstream(notAModule) << "not an ELF file\n";
    const struct {
        const char* name;
        uint32_t error;
    } cases[] = {
        {"/nonexistent/directory/libzelNoSuchModule.so", ENOENT},  // a path
        {"zelNoSuchModule", ENOENT},                                // a bare name
        {notAModule.c_str(), ELIBBAD},
        {nullptr, ZEL_E_INVALIDARG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "null");
        jsDynamicLibrary library;
        ASSERT_EQ(library.Load(kModulePath), 0u);
        EXPECT_EQ(library.Load(c.name), c.error);
        EXPECT_FALSE(library.IsLoaded());
        EXPECT_FALSE(ModuleResident());
        if (!c.name) continue;
        EXPECT_EQ(library.LastError(), c.error);
        EXPECT_FALSE(library.Detail().empty());
        if (c.error == ELIBBAD) {
            EXPECT_NE(library.Detail().find(c.name), std::string::npos) << library.Detail();
        }
        EXPECT_EQ(library.Name(), c.name);
    }
    std::remove(notAModule.c_str());
}

TEST(DynamicLibrary, CopiesShareOneModuleAndTheLastToGoUnloads) {
    jsDynamicLibrary first;
    {
        jsDynamicLibrary second = first;
        EXPECT_EQ(first.ShareCount(), 2);
        ASSERT_EQ(second.Load(kModulePath), 0u);
        EXPECT_EQ(first.Module(), second.Module());
        EXPECT_NE(first.GetEntry(kExport), nullptr);
    }
    EXPECT_TRUE(first.IsLoaded());
    EXPECT_TRUE(ModuleResident());
    {
        jsDynamicLibrary last = first;
        first = jsDynamicLibrary();  // assignment drops the old share
        EXPECT_TRUE(ModuleResident());
    }
    EXPECT_FALSE(ModuleResident());
    EXPECT_FALSE(first.IsLoaded());
}

}  // namespace
