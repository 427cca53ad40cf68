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

// Calls `f` while the allocations after the first `skip` fail, `fail` of them.
template <class F>
const char* Failing(int skip, int fail, F f) {
    t_allocationsToSkip = skip;
    t_allocationsToFail = fail;
    const char* result = f();
    t_allocationsToSkip = t_allocationsToFail = 0;
    return result;
}

TEST(ZELErrorOutOfMemory, TextsDegradeToTheFallbackAndTheIdentifier) {
    ZELError error(ZEL_E_INVALIDARG), other(12001);
    static_assert(ENOMEM == 12, "the expected text assumes ENOMEM is 12");
    // The copy of the definition fails: the fallback text; no memory at all: the identifier.
    EXPECT_STREQ(Failing(0, 1, [&] { return error.GetText(0); }), "Status 12 retrieving message text. [ID=0xc7210003]");
    EXPECT_STREQ(Failing(0, 1000, [&] { return error.GetText(240); }), "0xc7210003");
    EXPECT_STREQ(Failing(0, 1000, [&] { return other.Describe(240); }), "12001");
    EXPECT_STREQ(Failing(0, 1000, [] { return zel::StatusText(0xC7560003); }), "0xc7560003");
    // Fail each allocation in turn: the result is always the full text, the ENOMEM
    // fallback or the identifier, and nothing throws or leaks.
    const std::string full = ZELError(0xC7210014).GetText(40);
    for (int skip = 0; skip < 12; ++skip) {
        ZELError error(0xC7210014);
        const std::string text = Failing(skip, 1, [&] { return error.GetText(40, {"unused"}); });
        const std::string fallback = "Status 12 retrieving message text.\n[ID=0xc7210014]";
        EXPECT_TRUE(text == full || text == fallback || text == "0xc7210014") << skip << ": " << text;
    }
}

}  // namespace
