// ZELError when allocations fail: nothing throws, the texts degrade step by step.
#include "runtime/zel_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "runtime/platform.h"
#include "zel/status_codes.h"

// This program replaces the global allocation functions, so it runs on its own: the
// replacement must not meet allocations made by other tests' code.
// Allocation failures on demand, for the "never throws" checks: the replaced global
// operator new skips t_allocationsToSkip allocations of the calling thread and then fails
// the next t_allocationsToFail. Both are zero except inside an AllocationFailure scope.
namespace {
thread_local int t_allocationsToSkip = 0;
thread_local int t_allocationsToFail = 0;
}  // namespace

// Kept out of line so that the compiler never pairs an inlined free() with operator new.
#define ZEL_TEST_OUT_OF_LINE __attribute__((noinline))

ZEL_TEST_OUT_OF_LINE void* operator new(std::size_t size) {
    if (t_allocationsToFail > 0) {
        if (t_allocationsToSkip > 0) {
            --t_allocationsToSkip;
        } else {
            --t_allocationsToFail;
            throw std::bad_alloc();
        }
    }
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
ZEL_TEST_OUT_OF_LINE void* operator new[](std::size_t size) { return operator new(size); }
ZEL_TEST_OUT_OF_LINE void operator delete(void* block) noexcept { std::free(block); }
ZEL_TEST_OUT_OF_LINE void operator delete[](void* block) noexcept { std::free(block); }
ZEL_TEST_OUT_OF_LINE void operator delete(void* block, std::size_t) noexcept { std::free(block); }
ZEL_TEST_OUT_OF_LINE void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
ZEL_TEST_OUT_OF_LINE void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
ZEL_TEST_OUT_OF_LINE void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
ZEL_TEST_OUT_OF_LINE void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
ZEL_TEST_OUT_OF_LINE void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

using zel::ZELError;

class AllocationFailure {
public:
    AllocationFailure(int skip, int fail) {
        t_allocationsToSkip = skip;
        t_allocationsToFail = fail;
    }
    ~AllocationFailure() { t_allocationsToSkip = t_allocationsToFail = 0; }
};

TEST(ZELErrorOutOfMemory, TextsDegradeToTheFallbackAndTheIdentifier) {
    ZELError error(ZEL_E_INVALIDARG);
    ZELError other(12001);
    const char *lookup, *text, *described, *status;
    {
        AllocationFailure fail(0, 1);  // the copy of the definition
        lookup = error.GetText(0);
    }
    static_assert(ENOMEM == 12, "the expected text assumes ENOMEM is 12");
    EXPECT_STREQ(lookup, "Status 12 retrieving message text. [ID=0xc7210003]");
    {
        AllocationFailure fail(0, 1000);  // no memory at all: the identifier is the text
        text = error.GetText(240);
        described = other.Describe(240);
        status = zel::StatusText(0xC7560003);
    }
    EXPECT_STREQ(text, "0xc7210003");
    EXPECT_STREQ(described, "12001");
    EXPECT_STREQ(status, "0xc7560003");
}

TEST(ZELErrorOutOfMemory, EveryAllocationMayFail) {
    // Fail each allocation in turn: the result is always the full text, the ENOMEM
    // fallback or the identifier, and nothing throws or leaks.
    ZELError whole(0xC7210014);
    const std::string full = whole.GetText(40);
    for (int skip = 0; skip < 12; ++skip) {
        ZELError error(0xC7210014);
        const char* result;
        {
            AllocationFailure fail(skip, 1);
            result = error.GetText(40, {"unused"});
        }
        const std::string text = result;
        const std::string fallback = "Status 12 retrieving message text.\n[ID=0xc7210014]";
        EXPECT_TRUE(text == full || text == fallback || text == "0xc7210014") << skip << ": " << text;
    }
}

}  // namespace
