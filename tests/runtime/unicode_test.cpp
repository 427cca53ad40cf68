// zelUnicode: one table per direction (UTF-8 to UTF-16, UTF-16 to UTF-8, UTF-32 to UTF-8)
// with replacing and strict rows, empty and long inputs, the convenience routines and the
// codecvt facet with buffers that split characters.
#include "runtime/unicode.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include "zel/status_codes.h"

namespace {

using zel::zelUnicode;

constexpr uint32_t kMal = ZEL_E_UNICODE_MALFORMED_SEQUENCE, kSur = ZEL_E_UNICODE_OVERLY_COMPLEX,
                   kRes = ZEL_E_UNICODE_RESERVED_VALUE, kRange = ZEL_E_UNICODE_OUT_OF_RANGE,
                   kCut = ZEL_E_UNICODE_INCOMPLETE, kPair = ZEL_E_UNICODE_UNPAIRED_SURROGATE,
                   kU32 = ZEL_E_UNICODE_INVALID_UTF32;
constexpr std::size_t kReplacing = std::string::npos;

// A string of the units spelled in hexadecimal, separated by blanks.
template <class S>
S Units(const char* hex) {
    S s;
    std::istringstream in(hex);
    for (unsigned long unit; in >> std::hex >> unit;) s.push_back(static_cast<typename S::value_type>(unit));
    return s;
}
std::string B(const char* hex) { return Units<std::string>(hex); }
std::u16string W(const char* hex) { return Units<std::u16string>(hex); }
std::u32string L(const char* hex) { return Units<std::u32string>(hex); }

const zelUnicode cv;

// One conversion: the replacing form (stop == kReplacing) or the strict one, which stops at
// input offset `stop`; `chars` is the number of characters written.
template <class In, class Out>
struct Case { const char* name; In in; Out out; uint32_t status; std::size_t chars, stop = kReplacing; };

template <class In, class Out>
void Check(const Case<In, Out>& c,
           uint32_t (zelUnicode::*strict)(Out&, const typename In::value_type*&, std::size_t&) const,
           uint32_t (zelUnicode::*replacing)(Out&, const typename In::value_type*, std::size_t&) const) {
    SCOPED_TRACE(std::string(c.name) + (c.stop == kReplacing ? " (replacing)" : " (strict)"));
    Out out(1, 'p');  // conversions append
    std::size_t count = c.in.size();
    const typename In::value_type* pos = c.in.data();
    EXPECT_EQ(c.stop == kReplacing ? (cv.*replacing)(out, pos, count) : (cv.*strict)(out, pos, count), c.status);
    EXPECT_EQ(c.stop == kReplacing ? c.stop : static_cast<std::size_t>(pos - c.in.data()), c.stop);
    EXPECT_EQ(out, Out(1, 'p') + c.out);
    EXPECT_EQ(count, c.chars);
}

// UTF-8 to UTF-16 (the conversion to UTF-32 runs the same decoder).
TEST(UnicodeConversions, Utf8ToUtf16) {
    const Case<std::string, std::u16string> cases[] = {
        {"empty", B(""), W(""), 0, 0},
        {"boundaries", B("7F C2 80 DF BF E0 A0 80 ED 9F BF EE 80 80"), W("7F 80 7FF 800 D7FF E000"), 0, 6},
        {"first and last supplementary", B("F0 90 80 80 F4 8F BF BF"), W("D800 DC00 DBFF DFFF"), 0, 2},
        {"overlong two, three, four bytes", B("C0 80 E0 80 80 F0 8F BF BF"), W("FFFD FFFD FFFD"), kMal, 3},
        {"encoded surrogate", B("ED A0 80"), W("FFFD"), kSur, 1},
        {"lone continuation then text", B("41 80 42"), W("41 FFFD 42"), kMal, 3},
        {"lead without continuation", B("C3 41"), W("FFFD 41"), kMal, 2},
        {"three-byte cut short", B("E2 82 41 42"), W("FFFD 41 42"), kMal, 3},
        {"beyond U+10FFFF", B("F4 90 80 80"), W("FFFD"), kRange, 1},
        {"five and six bytes", B("F8 88 80 80 80 FC 84 80 80 80 80 41"), W("FFFD FFFD 41"), kRange, 3},
        {"five and six bytes overlong", B("F8 87 BF BF BF FC 83 BF BF BF BF 41"), W("FFFD FFFD 41"), kMal, 3},
        {"FE then text", B("FE 41 41 41 41 41"), W("FFFD 41 41 41 41 41"), kMal, 6},
        {"truncated emoji after error", B("80 F0 9F 98"), W("FFFD"), kCut, 1},
        {"last status: reserved after malformed", B("80 EF BF BE 41"), W("FFFD FFFD 41"), kRes, 3},
        // The strict forms stop on the offending lead byte.
        {"all good", B("C3 A9 F0 9F 98 80 41"), W("E9 D83D DE00 41"), 0, 3, 7},
        {"lone continuation", B("41 C3 A9 80 42"), W("41 E9"), kMal, 2, 3},
        {"reserved", B("EF BF BF"), W(""), kRes, 0, 0}, {"truncated", B("41 E2 82"), W("41"), kCut, 1, 1},
    };
    for (const auto& c : cases) Check(c, &zelUnicode::Utf8ToUtf16, &zelUnicode::Utf8ToUtf16Replacing);
}

TEST(UnicodeConversions, Utf16AndUtf32ToUtf8) {
    const Case<std::u16string, std::string> cases[] = {
        {"boundaries", W("0 7F 80 7FF 800 FFFD DBFF DFFF"), B("00 7F C2 80 DF BF E0 A0 80 EF BF BD F4 8F BF BF"), 0, 7},
        {"ends in high surrogate", W("41 D83D"), B("41"), kCut, 1},
        {"lone low surrogate", W("DC00"), B("EF BF BD"), kPair, 1},
        {"high then text", W("D800 41"), B("EF BF BD 41"), kPair, 2},
        {"last status: reserved after unpaired", W("DC00 FFFF"), B("EF BF BD EF BF BD"), kRes, 2},
        {"incomplete after error", W("FFFF D800"), B("EF BF BD"), kCut, 1},
        // The strict form stops on the offending unit.
        {"lone low", W("41 DC00 42"), B("41"), kPair, 1, 1}, {"ends in high", W("D83D"), B(""), kCut, 0, 0},
    };
    for (const auto& c : cases) Check(c, &zelUnicode::Utf16ToUtf8, &zelUnicode::Utf16ToUtf8Replacing);
    const Case<std::u32string, std::string> cases32[] = {
        {"two to four bytes", L("E9 20AC 10FFFF 1FFFFF"), B("C3 A9 E2 82 AC F4 8F BF BF F7 BF BF BF"), 0, 4},
        {"five and six bytes", L("200000 3FFFFFF 4000000 7FFFFFFF"),
         B("F8 88 80 80 80 FB BF BF BF BF FC 84 80 80 80 80 FD BF BF BF BF BF"), 0, 4},
        {"beyond UCS-4", L("80000000 FFFFFFFF"), B("EF BF BD EF BF BD"), kU32, 2},
        {"surrogate pair is one bad character", L("D83D DE00 41"), B("EF BF BD 41"), kU32, 2},
        {"lone low", L("DE00"), B("EF BF BD"), kU32, 1}, {"lone high at end", L("41 D83D"), B("41 EF BF BD"), kU32, 2},
        {"lone high then text", L("D83D 41"), B("EF BF BD 41"), kU32, 2},
        {"last status", L("D800 DC00 FFFF"), B("EF BF BD EF BF BD"), kRes, 2},
        // The strict form stops on the offending unit.
        {"pair stops on the high", L("41 D83D DE00 42"), B("41"), kU32, 1, 1},
    };
    for (const auto& c : cases32) Check(c, &zelUnicode::Utf32ToUtf8, &zelUnicode::Utf32ToUtf8Replacing);
}

// A null input is empty whatever its count (one strict form stands for the other forms);
// empty inputs are rows of the tables above.
TEST(UnicodeConversions, NullInputsWriteNothingAndLongMixedTextsCrossTheAsciiFastPath) {
    const char16_t* p16 = nullptr;
    std::string s8 = "k";
    std::size_t count = 3;
    EXPECT_EQ(cv.Utf16ToUtf8(s8, p16, count), 0u);
    EXPECT_TRUE(count == 0 && s8 == "k" && p16 == nullptr);
    // Non-ASCII units (and zeros) at every offset from a block start, so the fast path hands
    // over at each position; the output also outgrows its first size several times.
    std::string utf8;
    std::u16string utf16;
    for (int run = 0; run < 40; ++run) {
        utf8 += std::string(static_cast<std::size_t>(run), 'a') + B("C3 A9 00 E2 82 AC F0 9F 98 80");
        utf16 += std::u16string(static_cast<std::size_t>(run), u'a') + W("E9 0 20AC D83D DE00");
    }
    EXPECT_EQ(zel::ToUtf16(utf8), utf16);
    EXPECT_EQ(zel::ToUtf8(utf16), utf8);
}

// Texts of every length up to 40 units from every unit of a 16-byte block, each ending on a
// unit near the end of a page whose next page is unreadable and following a zero unit: the
// block scan reads before the text and past its terminator only within the block.
TEST(UnicodeLength, EveryLengthAtEveryAlignmentEndsAtTheTerminatorWithoutCrossingAPage) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    char* const pageEnd = static_cast<char*>(map) + page;
    ASSERT_EQ(mprotect(pageEnd, page, PROT_NONE), 0);
    std::memset(map, 'x', page);
    for (std::size_t shift = 0; shift < 16; shift += 2) {
        for (std::size_t length = 0; length <= 40; ++length) {
            auto* text = reinterpret_cast<char16_t*>(pageEnd - shift - 2) - length;
            text[-1] = 0;
            std::fill(text, text + length, u'a');
            text[length] = 0;
            ASSERT_EQ(zel::Utf16Length(text), length) << "terminator " << shift << " bytes before the page end";
        }
    }
    munmap(map, 2 * page);
}

// ---------------------------------------------------------------------------------------
// The codecvt facet

using Cvt = std::codecvt<char16_t, char, std::mbstate_t>;

TEST(UnicodeFacet, OutKeepsAHighSurrogateForTheNextBufferAndInSplitsAPairOverOneUnitBuffers) {
    const zelUnicode facet(1);
    const Cvt& cvt = facet;
    std::mbstate_t state{};
    char buf[32];
    char* toNext = nullptr;
    const char16_t* fromNext = nullptr;
    auto out = [&](const std::u16string& in) {
        return cvt.out(state, in.data(), in.data() + in.size(), fromNext, buf, buf + sizeof buf, toNext);
    };
    auto written = [&] { return std::string(buf, toNext); };
    // A high surrogate at the end of a buffer waits for the next; one that no low one follows
    // becomes U+FFFD.
    const std::pair<const char*, const char*> steps[] = {
        {"41 D83D", "41"}, {"DE00 42", "F0 9F 98 80 42"}, {"D800", ""}, {"43", "EF BF BD 43"}};
    for (const auto& [units, bytes] : steps) {
        EXPECT_EQ(out(W(units)), Cvt::ok);
        EXPECT_EQ(written(), B(bytes)) << units;
    }
    EXPECT_EQ(out(W("D800")), Cvt::ok);
    EXPECT_EQ(cvt.unshift(state, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(written(), B("EF BF BD"));
    // Too little room: partial, and the rest converts on the next call.
    const std::u16string euro = W("41 20AC");
    EXPECT_EQ(cvt.out(state, euro.data(), euro.data() + 2, fromNext, buf, buf + 3, toNext), Cvt::partial);
    EXPECT_EQ(fromNext, euro.data() + 1);
    EXPECT_EQ(written(), "A");

    // In: a supplementary character split over one-unit buffers.
    const std::string in = B("F0 9F 98 80 41 E2 82");
    state = {};
    char16_t unit[1];
    char16_t* unitNext = nullptr;
    const char* inNext = nullptr;
    const char* const end = in.data() + in.size();

    // The character's last byte stays unconsumed until its low surrogate is delivered.
    EXPECT_EQ(cvt.in(state, in.data(), end, inNext, unit, unit + 1, unitNext), Cvt::partial);
    EXPECT_TRUE(inNext == in.data() + 3 && unit[0] == 0xD83D);
    EXPECT_EQ(cvt.in(state, inNext, inNext, inNext, unit, unit + 1, unitNext), Cvt::partial);
    EXPECT_EQ(unitNext, unit);
    EXPECT_EQ(cvt.in(state, inNext, end, inNext, unit, unit + 1, unitNext), Cvt::partial);
    EXPECT_TRUE(inNext == in.data() + 4 && unit[0] == 0xDE00);
    EXPECT_EQ(cvt.in(state, inNext, end, inNext, unit, unit + 1, unitNext), Cvt::partial);
    EXPECT_EQ(unit[0], u'A');
    // The incomplete euro sign waits for more input.
    char16_t wide[4];
    EXPECT_EQ(cvt.in(state, inNext, end, inNext, wide, wide + 4, unitNext), Cvt::partial);
    EXPECT_TRUE(inNext == in.data() + 5 && unitNext == wide);
    // The bytes that make up at most `units` units (1: the high surrogate alone).
    for (const auto& [units, bytes] : {std::pair<std::size_t, int>{1, 3}, {3, 5}, {100, 5}})
        EXPECT_EQ(cvt.length(state = std::mbstate_t{}, in.data(), end, units), bytes) << units;
}

}  // namespace
