// zelUnicode: one table per direction (UTF-8 to UTF-16/32, UTF-16 to UTF-8, UTF-32 to
// UTF-8) with replacing and strict rows, empty and long inputs, the convenience routines,
// randomized robustness and the codecvt facet on wide file streams.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "zel/status_codes.h"

namespace {

using zel::test::TempDir;
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

// The code points of UTF-16 text (an unpaired surrogate stands for itself).
std::u32string CodePoints(const std::u16string& s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool pair =
            s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF;
        out.push_back(pair ? 0x10000 + ((s[i] - 0xD800) << 10) + (s[i + 1] - 0xDC00) : s[i]);
        i += pair;
    }
    return out;
}

const zelUnicode& Converter() {
    static const zelUnicode converter;
    return converter;
}

// One conversion: the replacing form (stop == kReplacing) or the strict one, which stops at
// input offset `stop`; `chars` is the number of characters written.
template <class In, class Out>
struct Case {
    const char* name;
    In in;
    Out out;
    uint32_t status;
    std::size_t chars;
    std::size_t stop = kReplacing;
};

template <class In, class Out>
void Check(const Case<In, Out>& c,
           uint32_t (zelUnicode::*strict)(Out&, const typename In::value_type*&, std::size_t&) const,
           uint32_t (zelUnicode::*replacing)(Out&, const typename In::value_type*, std::size_t&) const) {
    SCOPED_TRACE(std::string(c.name) + (c.stop == kReplacing ? " (replacing)" : " (strict)"));
    const Out before(1, 'p');  // conversions append
    Out out = before;
    std::size_t count = c.in.size();
    if (c.stop == kReplacing) {
        EXPECT_EQ((Converter().*replacing)(out, c.in.data(), count), c.status);
    } else {
        const typename In::value_type* pos = c.in.data();
        EXPECT_EQ((Converter().*strict)(out, pos, count), c.status);
        EXPECT_EQ(static_cast<std::size_t>(pos - c.in.data()), c.stop);
    }
    EXPECT_EQ(out, before + c.out);
    EXPECT_EQ(count, c.chars);
}

// UTF-8 to UTF-16; each row also converts to UTF-32, whose output is the same code points.
TEST(UnicodeConversions, Utf8ToUtf16AndUtf32) {
    const Case<std::string, std::u16string> cases[] = {
        {"empty", B(""), W(""), 0, 0},
        {"boundaries", B("7F C2 80 DF BF E0 A0 80 ED 9F BF EE 80 80"), W("7F 80 7FF 800 D7FF E000"), 0, 6},
        {"first and last supplementary", B("F0 90 80 80 F4 8F BF BF"), W("D800 DC00 DBFF DFFF"), 0, 2},
        {"replacement char itself", B("EF BF BD"), W("FFFD"), 0, 1},
        {"embedded zero", B("41 00 42"), W("41 0 42"), 0, 3},
        {"overlong C0 80", B("C0 80"), W("FFFD"), kMal, 1},
        {"overlong C1 BF", B("C1 BF 41"), W("FFFD 41"), kMal, 2},
        {"overlong E0 80 80", B("E0 80 80"), W("FFFD"), kMal, 1},
        {"overlong E0 9F BF", B("E0 9F BF"), W("FFFD"), kMal, 1},
        {"overlong F0 8F BF BF", B("F0 8F BF BF"), W("FFFD"), kMal, 1},
        {"encoded surrogate", B("ED A0 80"), W("FFFD"), kSur, 1},
        {"encoded low surrogate", B("ED BF BF 41"), W("FFFD 41"), kSur, 2},
        {"U+FFFE", B("EF BF BE"), W("FFFD"), kRes, 1},
        {"U+FFFF", B("EF BF BF"), W("FFFD"), kRes, 1},
        {"lone continuation", B("80"), W("FFFD"), kMal, 1},
        {"lone continuation then text", B("41 80 42"), W("41 FFFD 42"), kMal, 3},
        {"two continuations", B("BF 80"), W("FFFD FFFD"), kMal, 2},
        {"lead without continuation", B("C3 41"), W("FFFD 41"), kMal, 2},
        {"three-byte cut short", B("E2 82 41 42"), W("FFFD 41 42"), kMal, 3},
        {"beyond U+10FFFF", B("F4 90 80 80"), W("FFFD"), kRange, 1},
        {"F7 BF BF BF", B("F7 BF BF BF"), W("FFFD"), kRange, 1},
        {"five bytes", B("F8 88 80 80 80 41"), W("FFFD 41"), kRange, 2},
        {"five bytes overlong", B("F8 87 BF BF BF 41"), W("FFFD 41"), kMal, 2},
        {"six bytes lowest", B("FC 84 80 80 80 80"), W("FFFD"), kRange, 1},
        {"six bytes highest", B("FD BF BF BF BF BF"), W("FFFD"), kRange, 1},
        {"six bytes overlong", B("FC 83 BF BF BF BF"), W("FFFD"), kMal, 1},
        {"FE then text", B("FE 41 41 41 41 41"), W("FFFD 41 41 41 41 41"), kMal, 6},
        {"FF with continuations", B("FF 80 80 80 80 80 41"), W("FFFD 41"), kMal, 2},
        {"lone FF", B("FF"), W(""), kCut, 0},
        {"truncated euro", B("41 E2 82"), W("41"), kCut, 1},
        {"truncated emoji after error", B("80 F0 9F 98"), W("FFFD"), kCut, 1},
        {"last status: reserved after malformed", B("80 EF BF BE 41"), W("FFFD FFFD 41"), kRes, 3},
        {"last status: malformed after reserved", B("EF BF BE 80"), W("FFFD FFFD"), kMal, 2},
        // The strict forms stop on the offending lead byte.
        {"all good", B("C3 A9 F0 9F 98 80 41"), W("E9 D83D DE00 41"), 0, 3, 7},
        {"lone continuation", B("41 C3 A9 80 42"), W("41 E9"), kMal, 2, 3},
        {"overlong at start", B("C0 80"), W(""), kMal, 0, 0},
        {"FE", B("41 FE 80 80 80 80 80"), W("41"), kMal, 1, 1},
        {"surrogate", B("41 ED A0 80 42"), W("41"), kSur, 1, 1},
        {"reserved", B("EF BF BF"), W(""), kRes, 0, 0},
        {"out of range", B("41 42 F4 90 80 80"), W("41 42"), kRange, 2, 2},
        {"five bytes", B("41 F8 88 80 80 80"), W("41"), kRange, 1, 1},
        {"truncated", B("41 E2 82"), W("41"), kCut, 1, 1},
        {"truncated malformed", B("E2 41"), W(""), kCut, 0, 0},
        {"empty", B(""), W(""), 0, 0, 0},
    };
    for (const auto& c : cases) {
        Check(c, &zelUnicode::Utf8ToUtf16, &zelUnicode::Utf8ToUtf16Replacing);
        const Case<std::string, std::u32string> c32{c.name, c.in, CodePoints(c.out), c.status, c.chars, c.stop};
        Check(c32, &zelUnicode::Utf8ToUtf32, &zelUnicode::Utf8ToUtf32Replacing);
    }
}

TEST(UnicodeConversions, Utf16ToUtf8) {
    const Case<std::u16string, std::string> cases[] = {
        {"empty", W(""), B(""), 0, 0},
        {"boundaries", W("0 7F 80 7FF 800 FFFD DBFF DFFF"), B("00 7F C2 80 DF BF E0 A0 80 EF BF BD F4 8F BF BF"), 0, 7},
        {"ends in high surrogate", W("41 D83D"), B("41"), kCut, 1},
        {"lone low surrogate", W("DC00"), B("EF BF BD"), kPair, 1},
        {"high then text", W("D800 41"), B("EF BF BD 41"), kPair, 2},
        {"high then pair", W("D800 D800 DC00"), B("EF BF BD F0 90 80 80"), kPair, 2},
        {"reversed pair", W("DE00 D83D 41"), B("EF BF BD EF BF BD 41"), kPair, 3},
        {"U+FFFE", W("FFFE"), B("EF BF BD"), kRes, 1},
        {"U+FFFF", W("41 FFFF"), B("41 EF BF BD"), kRes, 2},
        {"last status: reserved after unpaired", W("DC00 FFFF"), B("EF BF BD EF BF BD"), kRes, 2},
        {"last status: unpaired after reserved", W("FFFF DC00"), B("EF BF BD EF BF BD"), kPair, 2},
        {"incomplete after error", W("FFFF D800"), B("EF BF BD"), kCut, 1},
        // The strict form stops on the offending unit.
        {"all good", W("41 D83D DE00 E9"), B("41 F0 9F 98 80 C3 A9"), 0, 3, 4},
        {"lone low", W("41 DC00 42"), B("41"), kPair, 1, 1},
        {"high then text", W("41 D800 42"), B("41"), kPair, 1, 1},
        {"reserved", W("41 42 FFFE"), B("41 42"), kRes, 2, 2},
        {"ends in high", W("D83D"), B(""), kCut, 0, 0},
        {"empty", W(""), B(""), 0, 0, 0},
    };
    for (const auto& c : cases) Check(c, &zelUnicode::Utf16ToUtf8, &zelUnicode::Utf16ToUtf8Replacing);
}

TEST(UnicodeConversions, Utf32ToUtf8) {
    const Case<std::u32string, std::string> cases[] = {
        {"empty", L(""), B(""), 0, 0},
        {"e acute and euro", L("E9 20AC"), B("C3 A9 E2 82 AC"), 0, 2},
        {"U+10FFFF", L("10FFFF"), B("F4 8F BF BF"), 0, 1},
        {"beyond Unicode, four bytes", L("110000 1FFFFF"), B("F4 90 80 80 F7 BF BF BF"), 0, 2},
        {"five bytes", L("200000 3FFFFFF"), B("F8 88 80 80 80 FB BF BF BF BF"), 0, 2},
        {"six bytes", L("4000000 7FFFFFFF"), B("FC 84 80 80 80 80 FD BF BF BF BF BF"), 0, 2},
        {"beyond UCS-4", L("80000000 FFFFFFFF"), B("EF BF BD EF BF BD"), kU32, 2},
        {"surrogate pair is one bad character", L("D83D DE00 41"), B("EF BF BD 41"), kU32, 2},
        {"lone low", L("DE00"), B("EF BF BD"), kU32, 1},
        {"lone high at end", L("41 D83D"), B("41 EF BF BD"), kU32, 2},
        {"lone high then text", L("D83D 41"), B("EF BF BD 41"), kU32, 2},
        {"reserved", L("FFFE"), B("EF BF BD"), kRes, 1},
        {"last status", L("D800 DC00 FFFF"), B("EF BF BD EF BF BD"), kRes, 2},
        // The strict form stops on the offending unit.
        {"all good", L("41 7FFFFFFF"), B("41 FD BF BF BF BF BF"), 0, 2, 2},
        {"pair stops on the high", L("41 D83D DE00 42"), B("41"), kU32, 1, 1},
        {"lone low", L("DC00"), B(""), kU32, 0, 0},
        {"beyond UCS-4", L("41 80000000"), B("41"), kU32, 1, 1},
        {"reserved", L("41 42 FFFF"), B("41 42"), kRes, 2, 2},
        {"empty", L(""), B(""), 0, 0, 0},
    };
    for (const auto& c : cases) Check(c, &zelUnicode::Utf32ToUtf8, &zelUnicode::Utf32ToUtf8Replacing);
}

// A null input is empty whatever its count; empty inputs are rows of the tables above.
TEST(UnicodeConversions, NullInputsWriteNothing) {
    const zelUnicode& cv = Converter();
    const char* p8 = nullptr;
    const char16_t* p16 = nullptr;
    const char32_t* p32 = nullptr;
    std::string s8 = "k";
    std::u16string s16 = u"k";
    std::u32string s32 = U"k";
    std::size_t n[8] = {3, 3, 3, 3, 3, 3, 3, 3};
    EXPECT_EQ(cv.Utf8ToUtf16(s16, p8, n[0]), 0u);
    EXPECT_EQ(cv.Utf8ToUtf32(s32, p8, n[1]), 0u);
    EXPECT_EQ(cv.Utf16ToUtf8(s8, p16, n[2]), 0u);
    EXPECT_EQ(cv.Utf32ToUtf8(s8, p32, n[3]), 0u);
    EXPECT_EQ(cv.Utf8ToUtf16Replacing(s16, p8, n[4]), 0u);
    EXPECT_EQ(cv.Utf8ToUtf32Replacing(s32, p8, n[5]), 0u);
    EXPECT_EQ(cv.Utf16ToUtf8Replacing(s8, p16, n[6]), 0u);
    EXPECT_EQ(cv.Utf32ToUtf8Replacing(s8, p32, n[7]), 0u);
    EXPECT_EQ(p8, nullptr);
    for (std::size_t count : n) EXPECT_EQ(count, 0u);
    EXPECT_EQ(s8, "k");
    EXPECT_EQ(s16, u"k");
    EXPECT_EQ(s32, U"k");
    std::u16string d16 = u"old";
    EXPECT_EQ(zel::zelToUtf16(p8, 0, d16), 0u);
    EXPECT_EQ(d16, u"");
    std::string d8 = "old";
    EXPECT_EQ(zel::zelToUtf8(p16, 0, d8, false), 0u);
    EXPECT_EQ(d8, "old");
}

TEST(UnicodeConversions, ConvenienceRoutinesClearOrAppendAndKeepEmbeddedZeros) {
    const std::string utf8 = B("41 00 C3 A9 00 F0 9F 98 80");
    const std::u16string utf16 = W("41 0 E9 0 D83D DE00");
    std::u16string wide = u"old";
    EXPECT_EQ(zel::zelToUtf16(utf8, wide), 0u);
    EXPECT_EQ(wide, utf16);
    EXPECT_EQ(zel::zelToUtf16(utf8.data(), utf8.size(), wide, false), 0u);
    EXPECT_EQ(wide, utf16 + utf16);
    std::string narrow = "old";
    EXPECT_EQ(zel::zelToUtf8(utf16, narrow, false), 0u);
    EXPECT_EQ(narrow, "old" + utf8);
    EXPECT_EQ(zel::zelToUtf8(utf16.data(), utf16.size(), narrow), 0u);
    EXPECT_EQ(narrow, utf8);

    EXPECT_EQ(zel::zelToUtf16(B("41 ED A0 80"), wide), kSur);
    EXPECT_EQ(wide, W("41 FFFD"));
    EXPECT_EQ(zel::zelToUtf8(W("DC00 42"), narrow), kPair);
    EXPECT_EQ(narrow, B("EF BF BD 42"));
    EXPECT_EQ(zel::ToUtf16(utf8), utf16);
    EXPECT_EQ(zel::ToUtf8(utf16), utf8);
}

TEST(UnicodeConversions, LongMixedTextsConvertAcrossTheAsciiFastPath) {
    // Non-ASCII units at every offset from a block start, so the fast path hands over at
    // each position; the output also outgrows its first size several times.
    std::string utf8;
    std::u16string utf16;
    for (int run = 0; run < 40; ++run) {
        utf8 += std::string(static_cast<std::size_t>(run), 'a') + B("C3 A9 E2 82 AC F0 9F 98 80");
        utf16 += std::u16string(static_cast<std::size_t>(run), u'a') + W("E9 20AC D83D DE00");
    }
    std::u16string wide;
    EXPECT_EQ(zel::zelToUtf16(utf8, wide), 0u);
    EXPECT_EQ(wide, utf16);
    std::string narrow;
    EXPECT_EQ(zel::zelToUtf8(utf16, narrow), 0u);
    EXPECT_EQ(narrow, utf8);

    std::u32string utf32;
    std::size_t count = utf8.size();
    EXPECT_EQ(Converter().Utf8ToUtf32Replacing(utf32, utf8.data(), count), 0u);
    EXPECT_EQ(utf32, CodePoints(utf16));
    std::string back;
    count = utf32.size();
    EXPECT_EQ(Converter().Utf32ToUtf8Replacing(back, utf32.data(), count), 0u);
    EXPECT_EQ(back, utf8);
}

// ---------------------------------------------------------------------------------------
// Randomized robustness

// Up to `maxLength` units, each from one of `ranges` (picked evenly).
template <class S>
S Random(std::mt19937& rng, const std::vector<std::pair<uint32_t, uint32_t>>& ranges, int maxLength) {
    std::uniform_int_distribution<std::size_t> pick(0, ranges.size() - 1);
    S s;
    for (int i = std::uniform_int_distribution<int>(0, maxLength)(rng); i > 0; --i) {
        const auto& r = ranges[pick(rng)];
        const uint32_t unit = std::uniform_int_distribution<uint32_t>(r.first, r.second)(rng);
        s.push_back(static_cast<typename S::value_type>(unit));
    }
    return s;
}

bool IsValidUtf16(const std::u16string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c == 0xFFFE || c == 0xFFFF || (c >= 0xDC00 && c <= 0xDFFF)) return false;
        if (c >= 0xD800 && c <= 0xDBFF && (++i == s.size() || s[i] < 0xDC00 || s[i] > 0xDFFF)) return false;
    }
    return true;
}

TEST(UnicodeRandomized, ReplacingUtf8ToUtf16AlwaysGivesValidText) {
    // Mostly the interesting classes: ASCII, continuation bytes, leads.
    const std::vector<std::pair<uint32_t, uint32_t>> bytes = {{0x00, 0x7F}, {0x80, 0xBF}, {0x80, 0x8F}, {0xA0, 0xBF},
                                                              {0xC0, 0xDF}, {0xE0, 0xEF}, {0xED, 0xED}, {0xEF, 0xEF},
                                                              {0xF0, 0xF4}, {0xF5, 0xFF}};
    std::mt19937 rng(20261206);
    const zelUnicode& cv = Converter();
    int valid = 0;
    for (int iteration = 0; iteration < 20000; ++iteration) {
        const std::string in = Random<std::string>(rng, bytes, 40);
        SCOPED_TRACE(::testing::PrintToString(in));
        std::u16string wide;
        std::size_t count = in.size();
        const uint32_t status = cv.Utf8ToUtf16Replacing(wide, in.data(), count);
        ASSERT_TRUE(IsValidUtf16(wide));
        ASSERT_EQ(count, CodePoints(wide).size());

        // UTF-32 output is the same text, one unit per character.
        std::u32string wide32;
        std::size_t count32 = in.size();
        ASSERT_EQ(cv.Utf8ToUtf32Replacing(wide32, in.data(), count32), status);
        ASSERT_EQ(wide32, CodePoints(wide));
        ASSERT_EQ(count32, wide32.size());
        std::string fromWide, from32;
        std::size_t n16 = wide.size(), n32 = wide32.size();
        ASSERT_EQ(cv.Utf16ToUtf8Replacing(fromWide, wide.data(), n16), 0u);
        ASSERT_EQ(cv.Utf32ToUtf8Replacing(from32, wide32.data(), n32), 0u);
        ASSERT_EQ(fromWide, from32);

        // Strict converts the same prefix and fails exactly when replacing reported a status.
        std::u16string strict;
        const char* pos = in.data();
        std::size_t strictCount = in.size();
        const uint32_t strictStatus = cv.Utf8ToUtf16(strict, pos, strictCount);
        ASSERT_EQ(strictStatus == 0, status == 0);
        ASSERT_EQ(wide.compare(0, strict.size(), strict), 0);
        if (status == 0) {
            ++valid;
            ASSERT_EQ(pos, in.data() + in.size());
            ASSERT_EQ(strict, wide);
            // Valid text round-trips exactly through every strict form.
            ASSERT_EQ(fromWide, in);
            std::u32string strict32;
            std::string back16, back32;
            const char16_t* p16 = wide.data();
            const char32_t* p32 = wide32.data();
            pos = in.data();
            strictCount = in.size();
            n16 = wide.size();
            n32 = wide32.size();
            ASSERT_EQ(cv.Utf8ToUtf32(strict32, pos, strictCount), 0u);
            ASSERT_EQ(strict32, wide32);
            ASSERT_EQ(cv.Utf16ToUtf8(back16, p16, n16), 0u);
            ASSERT_EQ(cv.Utf32ToUtf8(back32, p32, n32), 0u);
            ASSERT_EQ(back16, in);
            ASSERT_EQ(back32, in);
            ASSERT_EQ(n32, wide32.size());
        } else if (strictStatus != kCut) {
            // Replacing mode met the same bad sequence and put U+FFFD where strict stopped.
            ASSERT_LT(strict.size(), wide.size());
            ASSERT_EQ(wide[strict.size()], 0xFFFD);
        }
    }
    EXPECT_GT(valid, 100);  // the generator must also produce valid text
}

TEST(UnicodeRandomized, ReplacingUtf16ToUtf8AlwaysGivesValidUtf8) {
    std::mt19937 rng(99);
    const zelUnicode& cv = Converter();
    for (int iteration = 0; iteration < 10000; ++iteration) {
        const std::u16string in = Random<std::u16string>(
            rng, {{0, 0x7F}, {0xD800, 0xDBFF}, {0xDC00, 0xDFFF}, {0xFFFC, 0xFFFF}, {0, 0xFFFF}, {0, 0xFFFF}}, 30);
        std::string utf8;
        std::size_t count = in.size();
        const uint32_t status = cv.Utf16ToUtf8Replacing(utf8, in.data(), count);
        std::u16string back;
        const char* p8 = utf8.data();
        std::size_t backCount = utf8.size();
        ASSERT_EQ(cv.Utf8ToUtf16(back, p8, backCount), 0u);
        ASSERT_EQ(backCount, count);
        if (status == 0) {
            ASSERT_EQ(back, in);
        } else if (status == kCut) {
            ASSERT_TRUE(in.back() >= 0xD800 && in.back() <= 0xDBFF);
        }
    }
}

// ---------------------------------------------------------------------------------------
// The codecvt facet

using Cvt = std::codecvt<char16_t, char, std::mbstate_t>;

TEST(UnicodeFacet, OutKeepsAHighSurrogateForTheNextBuffer) {
    const zelUnicode facet(1);
    const Cvt& cvt = facet;
    std::mbstate_t state{};
    char buf[32];
    char* toNext = nullptr;
    const char16_t* fromNext = nullptr;

    const std::u16string first = W("41 D83D");
    EXPECT_EQ(cvt.out(state, first.data(), first.data() + 2, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(fromNext, first.data() + 2);
    EXPECT_EQ(std::string(buf, toNext), "A");

    const std::u16string second = W("DE00 42");
    EXPECT_EQ(cvt.out(state, second.data(), second.data() + 2, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(std::string(buf, toNext), B("F0 9F 98 80 42"));
    EXPECT_EQ(cvt.unshift(state, buf, buf + sizeof buf, toNext), Cvt::noconv);

    // A pending high surrogate that no low one follows becomes U+FFFD.
    const std::u16string third = W("D800");
    EXPECT_EQ(cvt.out(state, third.data(), third.data() + 1, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(toNext, buf);
    const std::u16string fourth = W("43");
    EXPECT_EQ(cvt.out(state, fourth.data(), fourth.data() + 1, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(std::string(buf, toNext), B("EF BF BD 43"));
    EXPECT_EQ(cvt.out(state, third.data(), third.data() + 1, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(cvt.unshift(state, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(std::string(buf, toNext), B("EF BF BD"));

    // Too little room: partial, and the rest converts on the next call.
    const std::u16string euro = W("41 20AC");
    EXPECT_EQ(cvt.out(state, euro.data(), euro.data() + 2, fromNext, buf, buf + 3, toNext), Cvt::partial);
    EXPECT_EQ(fromNext, euro.data() + 1);
    EXPECT_EQ(toNext, buf + 1);
}

TEST(UnicodeFacet, InSplitsASupplementaryCharacterOverOneUnitBuffers) {
    const zelUnicode facet(1);
    const Cvt& cvt = facet;
    const std::string in = B("F0 9F 98 80 41 E2 82");
    std::mbstate_t state{};
    char16_t unit[1];
    char16_t* toNext = nullptr;
    const char* fromNext = nullptr;
    const char* const end = in.data() + in.size();

    // The character's last byte stays unconsumed until its low surrogate is delivered.
    EXPECT_EQ(cvt.in(state, in.data(), end, fromNext, unit, unit + 1, toNext), Cvt::partial);
    EXPECT_EQ(fromNext, in.data() + 3);
    EXPECT_EQ(unit[0], 0xD83D);
    EXPECT_EQ(cvt.in(state, fromNext, fromNext, fromNext, unit, unit + 1, toNext), Cvt::partial);
    EXPECT_EQ(toNext, unit);
    EXPECT_EQ(cvt.in(state, fromNext, end, fromNext, unit, unit + 1, toNext), Cvt::partial);
    EXPECT_EQ(fromNext, in.data() + 4);
    EXPECT_EQ(unit[0], 0xDE00);
    EXPECT_EQ(cvt.in(state, fromNext, end, fromNext, unit, unit + 1, toNext), Cvt::partial);
    EXPECT_EQ(unit[0], u'A');
    // The incomplete euro sign waits for more input.
    char16_t buf[4];
    EXPECT_EQ(cvt.in(state, fromNext, end, fromNext, buf, buf + 4, toNext), Cvt::partial);
    EXPECT_EQ(fromNext, in.data() + 5);
    EXPECT_EQ(toNext, buf);

    // The bytes that make up at most `units` units (1: the high surrogate alone).
    for (const auto& [units, bytes] : {std::pair<std::size_t, int>{1, 3}, {3, 5}, {100, 5}}) {
        std::mbstate_t fresh{};
        EXPECT_EQ(cvt.length(fresh, in.data(), end, units), bytes) << units;
    }
    EXPECT_EQ(cvt.encoding(), 0);
    EXPECT_FALSE(cvt.always_noconv());
    EXPECT_GE(cvt.max_length(), 4);
}

std::locale Utf8Locale() { return std::locale(std::locale::classic(), new zelUnicode); }

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

enum class Buffering { Default, Small, None };

// Sets the stream's buffer (`small` must outlive the stream) and the facet, before opening.
template <class Stream>
void Prepare(Stream& stream, Buffering buffering, char16_t (&small)[5]) {
    if (buffering == Buffering::Small) stream.rdbuf()->pubsetbuf(small, 5);
    if (buffering == Buffering::None) stream.rdbuf()->pubsetbuf(nullptr, 0);
    stream.imbue(Utf8Locale());
}

std::u16string ReadWide(const std::filesystem::path& path, Buffering buffering = Buffering::Default) {
    char16_t small[5];
    std::basic_ifstream<char16_t> in;
    Prepare(in, buffering, small);
    in.open(path);
    EXPECT_TRUE(in.is_open());
    std::u16string text(std::istreambuf_iterator<char16_t>(in), {});
    EXPECT_FALSE(in.bad());
    return text;
}

void WriteWide(const std::filesystem::path& path, const std::u16string& text, Buffering buffering) {
    char16_t small[5];
    std::basic_ofstream<char16_t> out;
    Prepare(out, buffering, small);
    out.open(path);
    ASSERT_TRUE(out.is_open());
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    EXPECT_FALSE(out.fail());
}

TEST(UnicodeFacet, WideFileStreamsWriteAndReadUtf8) {
    TempDir dir;
    const auto path = dir.File("short.txt");
    {
        std::basic_ofstream<char16_t> out;
        out.imbue(Utf8Locale());
        out.open(path);
        out << u"caf\u00E9 \u20AC ";
        out.write(W("D83D DE00 A").data(), 3);
        // Flushing between the two halves of a pair hands the filebuf a buffer that ends in
        // a high surrogate.
        out.put(static_cast<char16_t>(0xD83D));
        out.flush();
        out.put(static_cast<char16_t>(0xDE01));
        out.put(static_cast<char16_t>(0xDC00));  // unpaired
        out.put(static_cast<char16_t>(0xD800));  // unpaired at the end of the text
    }
    const std::string expected = B("63 61 66 C3 A9 20 E2 82 AC 20 F0 9F 98 80 0A F0 9F 98 81 EF BF BD EF BF BD");
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(ReadWide(path), W("63 61 66 E9 20 20AC 20 D83D DE00 A D83D DE01 FFFD FFFD"));

    // Malformed bytes in a file are replaced as the conversion routines replace them.
    std::ofstream(path, std::ios::binary) << B("41 80 C0 80 ED A0 80 42");
    EXPECT_EQ(ReadWide(path), W("41 FFFD FFFD FFFD 42"));
}

TEST(UnicodeFacet, LongTextsCrossStreamBufferBoundaries) {
    // Pairs and multi-byte characters at every phase of the (8 KB-sized) stream buffers,
    // both in units and in bytes.
    std::u16string text;
    for (int i = 0; text.size() < 60000; ++i) {
        text.append(static_cast<std::size_t>(i % 7), u'x');
        text += {char16_t(0xD83D), static_cast<char16_t>(0xDE00 + i % 64)};
        if (i % 3 == 0) text += W("E9 20AC");
    }
    const std::string utf8 = zel::ToUtf8(text);
    TempDir dir;
    const auto path = dir.File("long.txt");
    for (Buffering b : {Buffering::Default, Buffering::Small, Buffering::None}) {
        SCOPED_TRACE(static_cast<int>(b));
        WriteWide(path, text, b);
        const std::string bytes = ReadBytes(path);
        EXPECT_EQ(bytes.size(), utf8.size());
        EXPECT_TRUE(bytes == utf8);
        const std::u16string back = ReadWide(path, b);
        EXPECT_EQ(back.size(), text.size());
        EXPECT_TRUE(back == text);
    }
}

}  // namespace
