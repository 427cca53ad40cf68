#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "zel/status_codes.h"

namespace {

using zel::test::TempDir;
using zel::zelUnicode;

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

std::u16string W(std::initializer_list<int> units) {
    std::u16string s;
    for (int u : units) s.push_back(static_cast<char16_t>(u));
    return s;
}

std::u32string L(std::initializer_list<uint32_t> units) {
    std::u32string s;
    for (uint32_t u : units) s.push_back(static_cast<char32_t>(u));
    return s;
}

const zelUnicode& Converter() {
    static const zelUnicode converter;
    return converter;
}

TEST(UnicodeStatus, ConstantsHaveTheirCodes) {
    EXPECT_EQ(ZEL_E_UNICODE_RESERVED_VALUE, 0xC7210014u);
    EXPECT_EQ(ZEL_E_UNICODE_OUT_OF_RANGE, 0xC7210016u);
    EXPECT_EQ(ZEL_E_UNICODE_UNPAIRED_SURROGATE, 0xC7210017u);
    EXPECT_EQ(ZEL_E_UNICODE_MALFORMED_SEQUENCE, 0xC7210019u);
    EXPECT_EQ(ZEL_E_UNICODE_OVERLY_COMPLEX, 0xC721001Au);
    EXPECT_EQ(ZEL_E_UNICODE_INCOMPLETE, 0xC7210032u);
    EXPECT_EQ(ZEL_E_UNICODE_INVALID_UTF32, 0xC7210034u);
}

// ---------------------------------------------------------------------------------------
// UTF-8 -> UTF-16 and UTF-32

struct Utf8Case {
    const char* name;
    std::string in;
    std::u16string out16;
    std::u32string out32;
    uint32_t status;
    std::size_t chars;
};

const std::vector<Utf8Case>& Utf8ReplacingCases() {
    static const std::vector<Utf8Case> cases = {
        {"e acute", B({0xC3, 0xA9}), W({0xE9}), L({0xE9}), 0, 1},
        {"euro", B({0xE2, 0x82, 0xAC}), W({0x20AC}), L({0x20AC}), 0, 1},
        {"emoji", B({0xF0, 0x9F, 0x98, 0x80}), W({0xD83D, 0xDE00}), L({0x1F600}), 0, 1},
        {"boundaries", B({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xED, 0x9F, 0xBF, 0xEE, 0x80, 0x80}),
         W({0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000}), L({0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000}), 0, 6},
        {"first and last supplementary", B({0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF}),
         W({0xD800, 0xDC00, 0xDBFF, 0xDFFF}), L({0x10000, 0x10FFFF}), 0, 2},
        {"replacement char itself", B({0xEF, 0xBF, 0xBD}), W({0xFFFD}), L({0xFFFD}), 0, 1},
        {"embedded zero", B({0x41, 0x00, 0x42}), W({0x41, 0, 0x42}), L({0x41, 0, 0x42}), 0, 3},
        {"overlong C0 80", B({0xC0, 0x80}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 1},
        {"overlong C1 BF", B({0xC1, 0xBF, 0x41}), W({0xFFFD, 0x41}), L({0xFFFD, 0x41}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 2},
        {"overlong E0 80 80", B({0xE0, 0x80, 0x80}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 1},
        {"overlong E0 9F BF", B({0xE0, 0x9F, 0xBF}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 1},
        {"overlong F0 8F BF BF", B({0xF0, 0x8F, 0xBF, 0xBF}), W({0xFFFD}), L({0xFFFD}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 1},
        {"encoded surrogate", B({0xED, 0xA0, 0x80}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_OVERLY_COMPLEX, 1},
        {"encoded low surrogate", B({0xED, 0xBF, 0xBF, 0x41}), W({0xFFFD, 0x41}), L({0xFFFD, 0x41}),
         ZEL_E_UNICODE_OVERLY_COMPLEX, 2},
        {"U+FFFE", B({0xEF, 0xBF, 0xBE}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_RESERVED_VALUE, 1},
        {"U+FFFF", B({0xEF, 0xBF, 0xBF}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_RESERVED_VALUE, 1},
        {"lone continuation", B({0x80}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 1},
        {"lone continuation then text", B({0x41, 0x80, 0x42}), W({0x41, 0xFFFD, 0x42}), L({0x41, 0xFFFD, 0x42}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 3},
        {"two continuations", B({0xBF, 0x80}), W({0xFFFD, 0xFFFD}), L({0xFFFD, 0xFFFD}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 2},
        {"lead without continuation", B({0xC3, 0x41}), W({0xFFFD, 0x41}), L({0xFFFD, 0x41}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 2},
        {"three-byte cut short", B({0xE2, 0x82, 0x41, 0x42}), W({0xFFFD, 0x41, 0x42}), L({0xFFFD, 0x41, 0x42}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 3},
        {"beyond U+10FFFF", B({0xF4, 0x90, 0x80, 0x80}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_OUT_OF_RANGE, 1},
        {"F7 BF BF BF", B({0xF7, 0xBF, 0xBF, 0xBF}), W({0xFFFD}), L({0xFFFD}), ZEL_E_UNICODE_OUT_OF_RANGE, 1},
        {"five bytes", B({0xF8, 0x88, 0x80, 0x80, 0x80, 0x41}), W({0xFFFD, 0x41}), L({0xFFFD, 0x41}),
         ZEL_E_UNICODE_OUT_OF_RANGE, 2},
        {"five bytes overlong", B({0xF8, 0x87, 0xBF, 0xBF, 0xBF, 0x41}), W({0xFFFD, 0x41}), L({0xFFFD, 0x41}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 2},
        {"six bytes lowest", B({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}), W({0xFFFD}), L({0xFFFD}),
         ZEL_E_UNICODE_OUT_OF_RANGE, 1},
        {"six bytes highest", B({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), W({0xFFFD}), L({0xFFFD}),
         ZEL_E_UNICODE_OUT_OF_RANGE, 1},
        {"six bytes overlong", B({0xFC, 0x83, 0xBF, 0xBF, 0xBF, 0xBF}), W({0xFFFD}), L({0xFFFD}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 1},
        {"FE then text", B({0xFE, 0x41, 0x41, 0x41, 0x41, 0x41}), W({0xFFFD, 0x41, 0x41, 0x41, 0x41, 0x41}),
         L({0xFFFD, 0x41, 0x41, 0x41, 0x41, 0x41}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 6},
        {"FF with continuations", B({0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x41}), W({0xFFFD, 0x41}),
         L({0xFFFD, 0x41}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 2},
        {"lone FF", B({0xFF}), W({}), L({}), ZEL_E_UNICODE_INCOMPLETE, 0},
        {"truncated euro", B({0x41, 0xE2, 0x82}), W({0x41}), L({0x41}), ZEL_E_UNICODE_INCOMPLETE, 1},
        {"truncated emoji after error", B({0x80, 0xF0, 0x9F, 0x98}), W({0xFFFD}), L({0xFFFD}),
         ZEL_E_UNICODE_INCOMPLETE, 1},
        {"last status: reserved after malformed", B({0x80, 0xEF, 0xBF, 0xBE, 0x41}), W({0xFFFD, 0xFFFD, 0x41}),
         L({0xFFFD, 0xFFFD, 0x41}), ZEL_E_UNICODE_RESERVED_VALUE, 3},
        {"last status: malformed after reserved", B({0xEF, 0xBF, 0xBE, 0x80}), W({0xFFFD, 0xFFFD}),
         L({0xFFFD, 0xFFFD}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 2},
    };
    return cases;
}

TEST(Utf8ToWide, ReplacingTable) {
    for (const Utf8Case& c : Utf8ReplacingCases()) {
        SCOPED_TRACE(c.name);
        std::u16string out16 = u"pre";
        std::size_t count = c.in.size();
        EXPECT_EQ(Converter().Utf8ToUtf16Replacing(out16, c.in.data(), count), c.status);
        EXPECT_EQ(out16, u"pre" + c.out16);
        EXPECT_EQ(count, c.chars);

        std::u32string out32 = U"x";
        count = c.in.size();
        EXPECT_EQ(Converter().Utf8ToUtf32Replacing(out32, c.in.data(), count), c.status);
        EXPECT_EQ(out32, U"x" + c.out32);
        EXPECT_EQ(count, c.chars);
    }
}

struct Utf8StrictCase {
    const char* name;
    std::string in;
    std::u16string out16;
    std::u32string out32;
    uint32_t status;
    std::size_t stop;  // input offset where the conversion stopped
    std::size_t chars;
};

TEST(Utf8ToWide, StrictStopsOnTheOffendingLeadByte) {
    const std::vector<Utf8StrictCase> cases = {
        {"all good", B({0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80, 0x41}), W({0xE9, 0xD83D, 0xDE00, 0x41}),
         L({0xE9, 0x1F600, 0x41}), 0, 7, 3},
        {"lone continuation", B({0x41, 0xC3, 0xA9, 0x80, 0x42}), W({0x41, 0xE9}), L({0x41, 0xE9}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 3, 2},
        {"overlong at start", B({0xC0, 0x80}), W({}), L({}), ZEL_E_UNICODE_MALFORMED_SEQUENCE, 0, 0},
        {"FE", B({0x41, 0xFE, 0x80, 0x80, 0x80, 0x80, 0x80}), W({0x41}), L({0x41}),
         ZEL_E_UNICODE_MALFORMED_SEQUENCE, 1, 1},
        {"surrogate", B({0x41, 0xED, 0xA0, 0x80, 0x42}), W({0x41}), L({0x41}), ZEL_E_UNICODE_OVERLY_COMPLEX, 1, 1},
        {"reserved", B({0xEF, 0xBF, 0xBF}), W({}), L({}), ZEL_E_UNICODE_RESERVED_VALUE, 0, 0},
        {"out of range", B({0x41, 0x42, 0xF4, 0x90, 0x80, 0x80}), W({0x41, 0x42}), L({0x41, 0x42}),
         ZEL_E_UNICODE_OUT_OF_RANGE, 2, 2},
        {"five bytes", B({0x41, 0xF8, 0x88, 0x80, 0x80, 0x80}), W({0x41}), L({0x41}), ZEL_E_UNICODE_OUT_OF_RANGE, 1,
         1},
        {"truncated", B({0x41, 0xE2, 0x82}), W({0x41}), L({0x41}), ZEL_E_UNICODE_INCOMPLETE, 1, 1},
        {"truncated malformed", B({0xE2, 0x41}), W({}), L({}), ZEL_E_UNICODE_INCOMPLETE, 0, 0},
    };
    for (const Utf8StrictCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string out16 = u"pre";
        const char* pos = c.in.data();
        std::size_t count = c.in.size();
        EXPECT_EQ(Converter().Utf8ToUtf16(out16, pos, count), c.status);
        EXPECT_EQ(out16, u"pre" + c.out16);
        EXPECT_EQ(pos - c.in.data(), static_cast<std::ptrdiff_t>(c.stop));
        EXPECT_EQ(count, c.chars);

        std::u32string out32;
        pos = c.in.data();
        count = c.in.size();
        EXPECT_EQ(Converter().Utf8ToUtf32(out32, pos, count), c.status);
        EXPECT_EQ(out32, c.out32);
        EXPECT_EQ(pos - c.in.data(), static_cast<std::ptrdiff_t>(c.stop));
        EXPECT_EQ(count, c.chars);
    }
}

// ---------------------------------------------------------------------------------------
// UTF-16 -> UTF-8

struct Utf16Case {
    const char* name;
    std::u16string in;
    std::string out;
    uint32_t status;
    std::size_t chars;
};

TEST(Utf16ToUtf8, ReplacingTable) {
    const std::vector<Utf16Case> cases = {
        {"e acute", W({0xE9}), B({0xC3, 0xA9}), 0, 1},
        {"euro", W({0x20AC}), B({0xE2, 0x82, 0xAC}), 0, 1},
        {"emoji pair", W({0xD83D, 0xDE00}), B({0xF0, 0x9F, 0x98, 0x80}), 0, 1},
        {"boundaries", W({0x00, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFD, 0xDBFF, 0xDFFF}),
         B({0x00, 0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBD, 0xF4, 0x8F, 0xBF, 0xBF}), 0, 7},
        {"ends in high surrogate", W({0x41, 0xD83D}), B({0x41}), ZEL_E_UNICODE_INCOMPLETE, 1},
        {"lone low surrogate", W({0xDC00}), B({0xEF, 0xBF, 0xBD}), ZEL_E_UNICODE_UNPAIRED_SURROGATE, 1},
        {"high then text", W({0xD800, 0x41}), B({0xEF, 0xBF, 0xBD, 0x41}), ZEL_E_UNICODE_UNPAIRED_SURROGATE, 2},
        {"high then pair", W({0xD800, 0xD800, 0xDC00}), B({0xEF, 0xBF, 0xBD, 0xF0, 0x90, 0x80, 0x80}),
         ZEL_E_UNICODE_UNPAIRED_SURROGATE, 2},
        {"reversed pair", W({0xDE00, 0xD83D, 0x41}), B({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD, 0x41}),
         ZEL_E_UNICODE_UNPAIRED_SURROGATE, 3},
        {"U+FFFE", W({0xFFFE}), B({0xEF, 0xBF, 0xBD}), ZEL_E_UNICODE_RESERVED_VALUE, 1},
        {"U+FFFF", W({0x41, 0xFFFF}), B({0x41, 0xEF, 0xBF, 0xBD}), ZEL_E_UNICODE_RESERVED_VALUE, 2},
        {"last status: reserved after unpaired", W({0xDC00, 0xFFFF}), B({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD}),
         ZEL_E_UNICODE_RESERVED_VALUE, 2},
        {"last status: unpaired after reserved", W({0xFFFF, 0xDC00}), B({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD}),
         ZEL_E_UNICODE_UNPAIRED_SURROGATE, 2},
        {"incomplete after error", W({0xFFFF, 0xD800}), B({0xEF, 0xBF, 0xBD}), ZEL_E_UNICODE_INCOMPLETE, 1},
    };
    for (const Utf16Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "pre";
        std::size_t count = c.in.size();
        EXPECT_EQ(Converter().Utf16ToUtf8Replacing(out, c.in.data(), count), c.status);
        EXPECT_EQ(out, "pre" + c.out);
        EXPECT_EQ(count, c.chars);
    }
}

struct Utf16StrictCase {
    const char* name;
    std::u16string in;
    std::string out;
    uint32_t status;
    std::size_t stop;
    std::size_t chars;
};

TEST(Utf16ToUtf8, StrictStopsOnTheOffendingUnit) {
    const std::vector<Utf16StrictCase> cases = {
        {"all good", W({0x41, 0xD83D, 0xDE00, 0xE9}), B({0x41, 0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9}), 0, 4, 3},
        {"lone low", W({0x41, 0xDC00, 0x42}), B({0x41}), ZEL_E_UNICODE_UNPAIRED_SURROGATE, 1, 1},
        {"high then text", W({0x41, 0xD800, 0x42}), B({0x41}), ZEL_E_UNICODE_UNPAIRED_SURROGATE, 1, 1},
        {"reserved", W({0x41, 0x42, 0xFFFE}), B({0x41, 0x42}), ZEL_E_UNICODE_RESERVED_VALUE, 2, 2},
        {"ends in high", W({0xD83D}), B({}), ZEL_E_UNICODE_INCOMPLETE, 0, 0},
    };
    for (const Utf16StrictCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        const char16_t* pos = c.in.data();
        std::size_t count = c.in.size();
        EXPECT_EQ(Converter().Utf16ToUtf8(out, pos, count), c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(pos - c.in.data(), static_cast<std::ptrdiff_t>(c.stop));
        EXPECT_EQ(count, c.chars);
    }
}

// ---------------------------------------------------------------------------------------
// UTF-32 -> UTF-8

struct Utf32Case {
    const char* name;
    std::u32string in;
    std::string out;
    uint32_t status;
    std::size_t chars;
};

TEST(Utf32ToUtf8, ReplacingTable) {
    const std::vector<Utf32Case> cases = {
        {"e acute and euro", L({0xE9, 0x20AC}), B({0xC3, 0xA9, 0xE2, 0x82, 0xAC}), 0, 2},
        {"emoji", L({0x1F600}), B({0xF0, 0x9F, 0x98, 0x80}), 0, 1},
        {"U+10FFFF", L({0x10FFFF}), B({0xF4, 0x8F, 0xBF, 0xBF}), 0, 1},
        {"beyond Unicode, four bytes", L({0x110000, 0x1FFFFF}),
         B({0xF4, 0x90, 0x80, 0x80, 0xF7, 0xBF, 0xBF, 0xBF}), 0, 2},
        {"five bytes", L({0x200000, 0x3FFFFFF}), B({0xF8, 0x88, 0x80, 0x80, 0x80, 0xFB, 0xBF, 0xBF, 0xBF, 0xBF}), 0,
         2},
        {"six bytes", L({0x4000000, 0x7FFFFFFF}),
         B({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80, 0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), 0, 2},
        {"beyond UCS-4", L({0x80000000, 0xFFFFFFFF}), B({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD}),
         ZEL_E_UNICODE_INVALID_UTF32, 2},
        {"surrogate pair is one bad character", L({0xD83D, 0xDE00, 0x41}), B({0xEF, 0xBF, 0xBD, 0x41}),
         ZEL_E_UNICODE_INVALID_UTF32, 2},
        {"lone low", L({0xDE00}), B({0xEF, 0xBF, 0xBD}), ZEL_E_UNICODE_INVALID_UTF32, 1},
        {"lone high at end", L({0x41, 0xD83D}), B({0x41, 0xEF, 0xBF, 0xBD}), ZEL_E_UNICODE_INVALID_UTF32, 2},
        {"lone high then text", L({0xD83D, 0x41}), B({0xEF, 0xBF, 0xBD, 0x41}), ZEL_E_UNICODE_INVALID_UTF32, 2},
        {"reserved", L({0xFFFE}), B({0xEF, 0xBF, 0xBD}), ZEL_E_UNICODE_RESERVED_VALUE, 1},
        {"last status", L({0xD800, 0xDC00, 0xFFFF}), B({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD}),
         ZEL_E_UNICODE_RESERVED_VALUE, 2},
    };
    for (const Utf32Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "pre";
        std::size_t count = c.in.size();
        EXPECT_EQ(Converter().Utf32ToUtf8Replacing(out, c.in.data(), count), c.status);
        EXPECT_EQ(out, "pre" + c.out);
        EXPECT_EQ(count, c.chars);
    }
}

TEST(Utf32ToUtf8, StrictStopsOnTheOffendingUnit) {
    struct Case {
        const char* name;
        std::u32string in;
        std::string out;
        uint32_t status;
        std::size_t stop;
        std::size_t chars;
    };
    const std::vector<Case> cases = {
        {"all good", L({0x41, 0x7FFFFFFF}), B({0x41, 0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), 0, 2, 2},
        {"pair stops on the high", L({0x41, 0xD83D, 0xDE00, 0x42}), B({0x41}), ZEL_E_UNICODE_INVALID_UTF32, 1, 1},
        {"lone low", L({0xDC00}), B({}), ZEL_E_UNICODE_INVALID_UTF32, 0, 0},
        {"beyond UCS-4", L({0x41, 0x80000000}), B({0x41}), ZEL_E_UNICODE_INVALID_UTF32, 1, 1},
        {"reserved", L({0x41, 0x42, 0xFFFF}), B({0x41, 0x42}), ZEL_E_UNICODE_RESERVED_VALUE, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        const char32_t* pos = c.in.data();
        std::size_t count = c.in.size();
        EXPECT_EQ(Converter().Utf32ToUtf8(out, pos, count), c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(pos - c.in.data(), static_cast<std::ptrdiff_t>(c.stop));
        EXPECT_EQ(count, c.chars);
    }
}

// ---------------------------------------------------------------------------------------
// Empty inputs, long inputs, convenience routines

TEST(UnicodeConversions, NullAndEmptyInputsWriteNothing) {
    const zelUnicode& cv = Converter();
    for (bool null : {true, false}) {
        SCOPED_TRACE(null ? "null" : "empty");
        const char* p8 = null ? nullptr : "";
        const char16_t* p16 = null ? nullptr : u"";
        const char32_t* p32 = null ? nullptr : U"";
        std::string s8 = "k";
        std::u16string s16 = u"k";
        std::u32string s32 = U"k";
        std::size_t n = 0;
        EXPECT_EQ(cv.Utf8ToUtf16(s16, p8, n), 0u);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(p8, null ? nullptr : "");
        EXPECT_EQ(cv.Utf8ToUtf32(s32, p8, n), 0u);
        EXPECT_EQ(cv.Utf16ToUtf8(s8, p16, n), 0u);
        EXPECT_EQ(cv.Utf32ToUtf8(s8, p32, n), 0u);
        EXPECT_EQ(cv.Utf8ToUtf16Replacing(s16, p8, n), 0u);
        EXPECT_EQ(cv.Utf8ToUtf32Replacing(s32, p8, n), 0u);
        EXPECT_EQ(cv.Utf16ToUtf8Replacing(s8, p16, n), 0u);
        EXPECT_EQ(cv.Utf32ToUtf8Replacing(s8, p32, n), 0u);
        EXPECT_EQ(n, 0u);
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
}

TEST(UnicodeConversions, ConvenienceRoutinesClearOrAppendAndKeepEmbeddedZeros) {
    const std::string utf8 = B({0x41, 0x00, 0xC3, 0xA9, 0x00, 0xF0, 0x9F, 0x98, 0x80});
    const std::u16string utf16 = W({0x41, 0x00, 0xE9, 0x00, 0xD83D, 0xDE00});

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

    EXPECT_EQ(zel::zelToUtf16(B({0x41, 0xED, 0xA0, 0x80}), wide), ZEL_E_UNICODE_OVERLY_COMPLEX);
    EXPECT_EQ(wide, W({0x41, 0xFFFD}));
    EXPECT_EQ(zel::zelToUtf8(W({0xDC00, 0x42}), narrow), ZEL_E_UNICODE_UNPAIRED_SURROGATE);
    EXPECT_EQ(narrow, B({0xEF, 0xBF, 0xBD, 0x42}));

    EXPECT_EQ(zel::ToUtf16(utf8), utf16);
    EXPECT_EQ(zel::ToUtf8(utf16), utf8);
}

TEST(UnicodeConversions, LongMixedTextsConvertAcrossTheAsciiFastPath) {
    // Non-ASCII units at every offset from a block start, so the fast path hands over at
    // each position; the output also outgrows its first size several times.
    std::string utf8;
    std::u16string utf16;
    for (int run = 0; run < 40; ++run) {
        utf8.append(static_cast<std::size_t>(run), 'a');
        utf16.append(static_cast<std::size_t>(run), u'a');
        utf8 += B({0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80});
        utf16 += W({0xE9, 0x20AC, 0xD83D, 0xDE00});
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
    EXPECT_EQ(count, utf32.size());
    std::string back;
    count = utf32.size();
    EXPECT_EQ(Converter().Utf32ToUtf8Replacing(back, utf32.data(), count), 0u);
    EXPECT_EQ(back, utf8);
}

// ---------------------------------------------------------------------------------------
// Randomized robustness

bool IsValidUtf16(const std::u16string& s, std::size_t* codePoints) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i, ++n) {
        const char16_t c = s[i];
        if (c == 0xFFFE || c == 0xFFFF || (c >= 0xDC00 && c <= 0xDFFF)) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    *codePoints = n;
    return true;
}

// Random bytes drawn mostly from the interesting classes: ASCII, continuation bytes, leads.
std::string RandomBytes(std::mt19937& rng) {
    static const std::vector<std::pair<int, int>> ranges = {
        {0x00, 0x7F}, {0x80, 0xBF}, {0x80, 0x8F}, {0xA0, 0xBF}, {0xC0, 0xDF}, {0xE0, 0xEF},
        {0xED, 0xED}, {0xEF, 0xEF}, {0xF0, 0xF4}, {0xF5, 0xFF}};
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<std::size_t> pick(0, ranges.size() - 1);
    std::string s;
    for (int i = length(rng); i > 0; --i) {
        const auto& r = ranges[pick(rng)];
        s.push_back(static_cast<char>(std::uniform_int_distribution<int>(r.first, r.second)(rng)));
    }
    return s;
}

TEST(UnicodeRandomized, ReplacingUtf8ToUtf16AlwaysGivesValidText) {
    std::mt19937 rng(20261206);
    const zelUnicode& cv = Converter();
    int valid = 0;
    for (int iteration = 0; iteration < 20000; ++iteration) {
        const std::string in = RandomBytes(rng);
        SCOPED_TRACE(::testing::PrintToString(in));

        std::u16string wide;
        std::size_t count = in.size();
        const uint32_t status = cv.Utf8ToUtf16Replacing(wide, in.data(), count);
        std::size_t codePoints = 0;
        ASSERT_TRUE(IsValidUtf16(wide, &codePoints));
        ASSERT_EQ(count, codePoints);

        // UTF-32 output is the same text, one unit per character.
        std::u32string wide32;
        std::size_t count32 = in.size();
        ASSERT_EQ(cv.Utf8ToUtf32Replacing(wide32, in.data(), count32), status);
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
            ASSERT_EQ(fromWide, in);  // valid UTF-8 round-trips exactly
        } else if (strictStatus != ZEL_E_UNICODE_INCOMPLETE) {
            // Replacing mode met the same bad sequence and put U+FFFD where strict stopped.
            ASSERT_LT(strict.size(), wide.size());
            ASSERT_EQ(wide[strict.size()], 0xFFFD);
        }
    }
    EXPECT_GT(valid, 100);  // the generator must also produce valid text
}

TEST(UnicodeRandomized, ValidTextRoundTripsThroughEveryForm) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> length(0, 30);
    std::uniform_int_distribution<int> plane(0, 3);
    const zelUnicode& cv = Converter();
    for (int iteration = 0; iteration < 5000; ++iteration) {
        std::u32string text;
        for (int i = length(rng); i > 0; --i) {
            static const uint32_t limits[4] = {0x80, 0x800, 0x10000, 0x110000};
            char32_t v;
            do {
                v = std::uniform_int_distribution<uint32_t>(0, limits[plane(rng)] - 1)(rng);
            } while ((v >= 0xD800 && v <= 0xDFFF) || v == 0xFFFE || v == 0xFFFF);
            text.push_back(v);
        }
        std::string utf8;
        const char32_t* p32 = text.data();
        std::size_t count = text.size();
        ASSERT_EQ(cv.Utf32ToUtf8(utf8, p32, count), 0u);
        ASSERT_EQ(count, text.size());

        std::u16string utf16;
        const char* p8 = utf8.data();
        count = utf8.size();
        ASSERT_EQ(cv.Utf8ToUtf16(utf16, p8, count), 0u);
        ASSERT_EQ(count, text.size());

        std::string back;
        const char16_t* p16 = utf16.data();
        count = utf16.size();
        ASSERT_EQ(cv.Utf16ToUtf8(back, p16, count), 0u);
        ASSERT_EQ(back, utf8);

        std::u32string back32;
        p8 = utf8.data();
        count = utf8.size();
        ASSERT_EQ(cv.Utf8ToUtf32(back32, p8, count), 0u);
        ASSERT_EQ(back32, text);
    }
}

TEST(UnicodeRandomized, ReplacingUtf16ToUtf8AlwaysGivesValidUtf8) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> length(0, 30);
    std::uniform_int_distribution<int> kind(0, 5);
    const zelUnicode& cv = Converter();
    for (int iteration = 0; iteration < 10000; ++iteration) {
        std::u16string in;
        for (int i = length(rng); i > 0; --i) {
            switch (kind(rng)) {
                case 0: in.push_back(static_cast<char16_t>(std::uniform_int_distribution<int>(0, 0x7F)(rng))); break;
                case 1: in.push_back(static_cast<char16_t>(std::uniform_int_distribution<int>(0xD800, 0xDBFF)(rng))); break;
                case 2: in.push_back(static_cast<char16_t>(std::uniform_int_distribution<int>(0xDC00, 0xDFFF)(rng))); break;
                case 3: in.push_back(static_cast<char16_t>(std::uniform_int_distribution<int>(0xFFFC, 0xFFFF)(rng))); break;
                default: in.push_back(static_cast<char16_t>(std::uniform_int_distribution<int>(0, 0xFFFF)(rng))); break;
            }
        }
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
        }
        if (status == ZEL_E_UNICODE_INCOMPLETE) {
            ASSERT_GE(in.back(), 0xD800);
            ASSERT_LE(in.back(), 0xDBFF);
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

    const std::u16string first = W({0x41, 0xD83D});
    EXPECT_EQ(cvt.out(state, first.data(), first.data() + 2, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(fromNext, first.data() + 2);
    EXPECT_EQ(std::string(buf, toNext), "A");

    const std::u16string second = W({0xDE00, 0x42});
    EXPECT_EQ(cvt.out(state, second.data(), second.data() + 2, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(std::string(buf, toNext), B({0xF0, 0x9F, 0x98, 0x80, 0x42}));
    EXPECT_EQ(cvt.unshift(state, buf, buf + sizeof buf, toNext), Cvt::noconv);

    // A pending high surrogate that no low one follows becomes U+FFFD.
    const std::u16string third = W({0xD800});
    EXPECT_EQ(cvt.out(state, third.data(), third.data() + 1, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(toNext, buf);
    const std::u16string fourth = W({0x43});
    EXPECT_EQ(cvt.out(state, fourth.data(), fourth.data() + 1, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(std::string(buf, toNext), B({0xEF, 0xBF, 0xBD, 0x43}));
    EXPECT_EQ(cvt.out(state, third.data(), third.data() + 1, fromNext, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(cvt.unshift(state, buf, buf + sizeof buf, toNext), Cvt::ok);
    EXPECT_EQ(std::string(buf, toNext), B({0xEF, 0xBF, 0xBD}));

    // Too little room: partial, and the rest converts on the next call.
    const std::u16string euro = W({0x41, 0x20AC});
    EXPECT_EQ(cvt.out(state, euro.data(), euro.data() + 2, fromNext, buf, buf + 3, toNext), Cvt::partial);
    EXPECT_EQ(fromNext, euro.data() + 1);
    EXPECT_EQ(toNext, buf + 1);
}

TEST(UnicodeFacet, InSplitsASupplementaryCharacterOverOneUnitBuffers) {
    const zelUnicode facet(1);
    const Cvt& cvt = facet;
    const std::string in = B({0xF0, 0x9F, 0x98, 0x80, 0x41, 0xE2, 0x82});
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

    std::mbstate_t fresh{};
    EXPECT_EQ(cvt.length(fresh, in.data(), end, 1), 3);  // the high surrogate alone
    fresh = std::mbstate_t{};
    EXPECT_EQ(cvt.length(fresh, in.data(), end, 3), 5);
    fresh = std::mbstate_t{};
    EXPECT_EQ(cvt.length(fresh, in.data(), end, 100), 5);
    EXPECT_EQ(cvt.encoding(), 0);
    EXPECT_FALSE(cvt.always_noconv());
    EXPECT_GE(cvt.max_length(), 4);
}


std::locale Utf8Locale() { return std::locale(std::locale::classic(), new zelUnicode); }

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

enum class Buffering { Default, Small, None };

std::u16string ReadWide(const std::filesystem::path& path, Buffering buffering = Buffering::Default) {
    char16_t small[5];  // outlives the stream that uses it
    std::basic_ifstream<char16_t> in;
    if (buffering == Buffering::Small) in.rdbuf()->pubsetbuf(small, 5);
    if (buffering == Buffering::None) in.rdbuf()->pubsetbuf(nullptr, 0);
    in.imbue(Utf8Locale());
    in.open(path);
    EXPECT_TRUE(in.is_open());
    std::u16string text(std::istreambuf_iterator<char16_t>(in), {});
    EXPECT_FALSE(in.bad());
    return text;
}

void WriteWide(const std::filesystem::path& path, const std::u16string& text, Buffering buffering) {
    char16_t small[5];  // outlives the stream that uses it
    std::basic_ofstream<char16_t> out;
    if (buffering == Buffering::Small) out.rdbuf()->pubsetbuf(small, 5);
    if (buffering == Buffering::None) out.rdbuf()->pubsetbuf(nullptr, 0);
    out.imbue(Utf8Locale());
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
        out.write(W({0xD83D, 0xDE00, 0x0A}).data(), 3);
        // Flushing between the two halves of a pair hands the filebuf a buffer that ends in
        // a high surrogate.
        out.put(static_cast<char16_t>(0xD83D));
        out.flush();
        out.put(static_cast<char16_t>(0xDE01));
        out.put(static_cast<char16_t>(0xDC00));  // unpaired
        out.put(static_cast<char16_t>(0xD800));  // unpaired at the end of the text
    }
    const std::string expected = B({0x63, 0x61, 0x66, 0xC3, 0xA9, 0x20, 0xE2, 0x82, 0xAC, 0x20, 0xF0, 0x9F, 0x98,
                                    0x80, 0x0A, 0xF0, 0x9F, 0x98, 0x81, 0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD});
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(ReadWide(path), W({0x63, 0x61, 0x66, 0xE9, 0x20, 0x20AC, 0x20, 0xD83D, 0xDE00, 0x0A, 0xD83D, 0xDE01,
                                 0xFFFD, 0xFFFD}));

    // Malformed bytes in a file are replaced as the conversion routines replace them.
    WriteBytes(path, B({0x41, 0x80, 0xC0, 0x80, 0xED, 0xA0, 0x80, 0x42}));
    EXPECT_EQ(ReadWide(path), W({0x41, 0xFFFD, 0xFFFD, 0xFFFD, 0x42}));
}

TEST(UnicodeFacet, LongTextsCrossStreamBufferBoundaries) {
    // Pairs and multi-byte characters at every phase of the (8 KB-sized) stream buffers,
    // both in units and in bytes.
    std::u16string text;
    for (int i = 0; text.size() < 60000; ++i) {
        text.append(static_cast<std::size_t>(i % 7), u'x');
        text += W({0xD83D, 0xDE00 + i % 64});
        if (i % 3 == 0) text += W({0xE9, 0x20AC});
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
