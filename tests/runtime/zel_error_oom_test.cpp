// ZELError and the string output when allocations fail: nothing throws, the texts degrade
// step by step, a stream that cannot grow its string marks itself bad.
#include "runtime/zel_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "runtime/string_output.h"
#include "zel/status_codes.h"

// This program replaces the global allocation functions, so it runs on its own: the
// replacement must not meet allocations made by other tests' code.
// Allocation failures on demand, for the "never throws" checks: the replaced global
// operator new skips t_allocationsToSkip allocations of the calling thread and then fails
// the next t_allocationsToFail. Both are zero except inside Failing below.
static thread_local int t_allocationsToSkip = 0;
static thread_local int t_allocationsToFail = 0;

// A block from malloc, or null when this allocation is one to fail. Every variant of the
// allocation functions goes through it, so that no block meets a deallocation of another kind.
static void* Allocate(std::size_t size) {
    if (t_allocationsToFail > 0 && t_allocationsToSkip-- <= 0) {
        --t_allocationsToFail;
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

// All kept out of line, so that the compiler never pairs an inlined free() with operator new.
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (void* block = Allocate(size)) return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return operator new(size); }
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

// Calls `f` while the allocations after the first `skip` fail, `fail` of them.
template <class F>
auto Failing(int skip, int fail, F f) {
    t_allocationsToSkip = skip;
    t_allocationsToFail = fail;
    const auto result = f();
    t_allocationsToFail = 0;
    return result;
}

TEST(ZELErrorOutOfMemory, TextsDegradeToTheFallbackAndTheIdentifier) {
    zel::ZELError error(ZEL_E_INVALIDARG);
    // The copy of the definition fails: the fallback text with ENOMEM (12 on Linux); no memory
    // at all: the identifier.
    EXPECT_STREQ(Failing(0, 1, [&] { return error.GetText(0); }), "Status 12 retrieving message text. [ID=0xc7210003]");
    EXPECT_STREQ(Failing(0, 1000, [&] { return error.GetText(240); }), "0xc7210003");
    // Fail each allocation in turn: the result is always the full text, the ENOMEM
    // fallback or the identifier, and nothing throws or leaks.
    for (int skip = 0; skip < 12; ++skip) {
        zel::ZELError error(0xC7210014);
        const std::string text = Failing(skip, 1, [&] { return error.GetText(40, {"unused"}); });
        const std::string fallback = "Status 12 retrieving message text.\n[ID=0xc7210014]";
        EXPECT_TRUE(text == zel::ZELError(0xC7210014).GetText(40) || text == fallback || text == "0xc7210014") << text;
    }
}

TEST(StringOutputOutOfMemory, AStringThatCannotGrowMarksTheStreamBad) {
    std::string text = "kept";
    zel::CStringOutput out(text);
    const std::string more(100, 'x');
    // Straight into the buffer, as the XML writer puts text: nothing may throw from there.
    EXPECT_EQ(Failing(0, 1, [&] { return out.rdbuf()->sputn(more.data(), 100); }), 0);
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE((out << more).good());
    EXPECT_EQ(text, "kept" + more);
    EXPECT_TRUE(Failing(0, 1, [&] { return (out << more).bad(); }));
}

}  // namespace
