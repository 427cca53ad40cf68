// The singleton registry (the process's, and one published by another module, checked in
// fresh processes) and the GUID generator.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "runtime/guid.h"
#include "runtime/singleton_registry.h"

namespace {

using zel::jsSingletonRegistry;

TEST(SingletonRegistry, StoresReplacesAndFindsByName) {
    jsSingletonRegistry registry;
    int first = 1, second = 2;
    EXPECT_EQ(registry.Find("TraceInterface"), nullptr);
    EXPECT_EQ(registry.Find(nullptr), nullptr);
    registry.Register("TraceInterface", &first);
    EXPECT_EQ(registry.Find("TraceInterface"), &first);
    EXPECT_EQ(registry.Find("traceinterface"), nullptr);  // names are exact
    registry.Register("TraceInterface", &second);
    EXPECT_EQ(registry.Find("TraceInterface"), &second);
    registry.Register(nullptr, &first);
    EXPECT_EQ(registry.Find(""), nullptr);

    // The process registry is found once and serves the lookups.
    static int object = 7;
    EXPECT_EQ(zel::LookupSingleton("RegistryTest.NeverRegistered"), nullptr);
    zel::RegisterSingleton("RegistryTest.Object", &object);
    EXPECT_EQ(zel::LookupSingleton("RegistryTest.Object"), &object);
    EXPECT_EQ(&zel::ProcessRegistry(), &zel::ProcessRegistry());
    EXPECT_EQ(zel::ProcessRegistry().Find("RegistryTest.Object"), &object);
}

// How a child process publishes a registry of its own before it first looks for one.
enum class Published { AddressOnly, OtherProcess, ThisProcess, ZeroProcessId, NotANumber, NullAddress };

// Exit codes of the child: which registry it found.
constexpr int kUsedPublished = 10, kUsedPrivate = 11, kInconsistent = 12;

[[noreturn]] void FindRegistryInFreshProcess(Published how) {
    jsSingletonRegistry published;
    static int marker;
    published.Register("Marker", &marker);
    char value[64];
    auto address = reinterpret_cast<unsigned long long>(&published);
    const unsigned pid = static_cast<unsigned>(getpid()), parent = static_cast<unsigned>(getppid());
    switch (how) {
        case Published::AddressOnly: std::snprintf(value, sizeof value, "%llx", address); break;
        case Published::OtherProcess: std::snprintf(value, sizeof value, "%llx,%x", address, parent); break;
        case Published::ThisProcess: std::snprintf(value, sizeof value, "%llx,%x", address, pid); break;
        case Published::ZeroProcessId: std::snprintf(value, sizeof value, "%llx,0", address); break;
        case Published::NotANumber: std::snprintf(value, sizeof value, "registry,%x", pid); break;
        case Published::NullAddress: std::snprintf(value, sizeof value, "0,%x", pid); break;
    }
    setenv(zel::kSingletonRegistryVariable, value, 1);

    jsSingletonRegistry& found = zel::ProcessRegistry();
    int code = kInconsistent;
    if (&found == &published && zel::LookupSingleton("Marker") == &marker)
        code = kUsedPublished;
    else if (&found != &published && zel::LookupSingleton("Marker") == nullptr)
        code = kUsedPrivate;
    std::fprintf(stderr, "%s=%s -> %d\n", zel::kSingletonRegistryVariable, value, code);
    std::exit(code);
}

// The registry is cached per process, so each case looks it up in a freshly started copy
// of this test program (the "threadsafe" death-test style re-executes the binary).
TEST(PublishedRegistry, IsUsedOnlyWithThisProcessId) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        Published how;
        bool used;  // whether the published registry must become the process registry
    } cases[] = {{Published::AddressOnly, false}, {Published::OtherProcess, false}, {Published::ThisProcess, true},
                 {Published::ZeroProcessId, false}, {Published::NotANumber, false}, {Published::NullAddress, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.how));
        EXPECT_EXIT(FindRegistryInFreshProcess(c.how), testing::ExitedWithCode(c.used ? kUsedPublished : kUsedPrivate),
                    "ZEL_SINGLETON_REGISTRY=");
    }
}

// 8-4-4-4-12 lower-case hexadecimal digits, version digit 4, variant digit 8, 9, a or b.
bool IsGuidText(const std::string& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        char ch = text[i];
        if (hyphen ? ch != '-' : !((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
    }
    return text[14] == '4' && std::string("89ab").find(text[19]) != std::string::npos;
}

TEST(Guid, TextsAreLowerCaseHexInGroupsWithVersionAndVariantAndDiffer) {
    zel::jsGuidGenerator generator;
    EXPECT_STREQ(generator.Text(), "");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(generator.Generate(), 0u);
        const std::string text = generator.Text();
        ASSERT_TRUE(IsGuidText(text)) << text;
        EXPECT_TRUE(seen.insert(text).second) << "repeated " << text;
    }
    // The text spells the bytes in order.
    const uint8_t* guid = generator.Guid();
    EXPECT_EQ(guid[6] >> 4, 4);       // version: random
    EXPECT_EQ(guid[8] & 0xC0, 0x80);  // variant: RFC 4122
    std::string hex;
    for (const char* ch = generator.Text(); *ch; ++ch)
        if (*ch != '-') hex += *ch;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(std::stoi(hex.substr(2 * i, 2), nullptr, 16), guid[i]) << "byte " << i;

    // NewGuidText is the wide text form.
    const std::u16string first = zel::NewGuidText(), second = zel::NewGuidText();
    EXPECT_NE(first, second);
    for (const std::u16string& wide : {first, second}) {
        std::string narrow;
        for (char16_t ch : wide) {
            ASSERT_LT(ch, 0x80) << "not ASCII";
            narrow += static_cast<char>(ch);
        }
        EXPECT_TRUE(IsGuidText(narrow)) << narrow;
    }
}

}  // namespace
