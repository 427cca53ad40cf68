#include "runtime/dynamic_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

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
    EXPECT_FALSE(library.IsLoaded());
    ASSERT_EQ(library.Load(kModulePath), 0u) << library.Detail();
    EXPECT_TRUE(library.IsLoaded());
    EXPECT_TRUE(ModuleResident());
    EXPECT_EQ(library.Name(), kModulePath);
    EXPECT_EQ(library.LastError(), 0u);
    EXPECT_EQ(library.Detail(), "");

    auto answer = reinterpret_cast<int (*)()>(library.GetEntry(kExport));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(ModuleResident());
    EXPECT_EQ(library.GetEntry(kExport), nullptr);
    EXPECT_NE(library.LastError(), 0u);
}

TEST(DynamicLibrary, MissingExportGivesNoAddressAndStoresTheError) {
    jsDynamicLibrary library;
    ASSERT_EQ(library.Load(kModulePath), 0u) << library.Detail();
    EXPECT_EQ(library.GetEntry("zel_test_module_missing"), nullptr);
    EXPECT_EQ(library.LastError(), static_cast<uint32_t>(ENOSYS));
    EXPECT_TRUE(library.IsLoaded());

    // A null name asks nothing and leaves the stored error alone.
    library.Load(kModulePath);
    EXPECT_EQ(library.GetEntry(nullptr), nullptr);
    EXPECT_EQ(library.LastError(), 0u);
    EXPECT_NE(library.GetEntry(kExport), nullptr);
}

class MissingModule : public testing::TestWithParam<const char*> {};

TEST_P(MissingModule, FailsWithNotFoundAndTheLoadersText) {
    jsDynamicLibrary library;
    ASSERT_EQ(library.Load(kModulePath), 0u);
    // Loading another module first lets go of the one held, whether or not the new one loads.
    EXPECT_EQ(library.Load(GetParam()), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(library.LastError(), static_cast<uint32_t>(ENOENT));
    EXPECT_FALSE(library.Detail().empty());
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(ModuleResident());
    EXPECT_EQ(library.Name(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Names, MissingModule,
                         testing::Values("/nonexistent/directory/libzelNoSuchModule.so",  // a path
                                         "zelNoSuchModule"));                               // a bare name

TEST(DynamicLibrary, FileThatIsNoModuleIsABadLibrary) {
    const std::string path = testing::TempDir() + "zel_not_a_module.so";
    std::ofstream(path) << "not an ELF file\n";
    jsDynamicLibrary library;
    EXPECT_EQ(library.Load(path.c_str()), static_cast<uint32_t>(ELIBBAD));
    EXPECT_NE(library.Detail().find(path), std::string::npos) << library.Detail();
    EXPECT_FALSE(library.IsLoaded());
    std::remove(path.c_str());
}

TEST(DynamicLibrary, NullNameIsAnInvalidArgumentAndUnloads) {
    jsDynamicLibrary library;
    ASSERT_EQ(library.Load(kModulePath), 0u);
    EXPECT_EQ(library.Load(nullptr), ZEL_E_INVALIDARG);
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(ModuleResident());
}

TEST(DynamicLibrary, CopiesShareOneModule) {
    jsDynamicLibrary first;
    jsDynamicLibrary second = first;
    EXPECT_EQ(first.ShareCount(), 2);

    ASSERT_EQ(first.Load(kModulePath), 0u);
    EXPECT_TRUE(second.IsLoaded());
    EXPECT_EQ(second.Module(), first.Module());
    EXPECT_NE(second.GetEntry(kExport), nullptr);

    second.Unload();
    EXPECT_FALSE(first.IsLoaded());
    EXPECT_FALSE(ModuleResident());
}

TEST(DynamicLibrary, LastCopyToGoUnloads) {
    {
        jsDynamicLibrary outer;
        {
            jsDynamicLibrary inner(outer);
            jsDynamicLibrary moved(std::move(inner));  // a move is a copy: no empty handles
            ASSERT_EQ(moved.Load(kModulePath), 0u);
            EXPECT_EQ(outer.ShareCount(), 3);
        }
        EXPECT_TRUE(outer.IsLoaded());
        EXPECT_TRUE(ModuleResident());
        EXPECT_EQ(outer.ShareCount(), 1);
    }
    EXPECT_FALSE(ModuleResident());

    // Assignment drops the old share: the module of a sole holder goes with it.
    jsDynamicLibrary holder;
    jsDynamicLibrary empty;
    ASSERT_EQ(holder.Load(kModulePath), 0u);
    holder = empty;
    EXPECT_FALSE(ModuleResident());
    EXPECT_FALSE(holder.IsLoaded());
    EXPECT_EQ(empty.ShareCount(), 2);
}

}  // namespace
