// The UTF-8 / UTF-16 / UTF-32 converters of zelUnicode, checked against a decoder written
// here from the rules the converters document: UTF-8 without overlong forms, surrogates or
// values above U+10FFFF, UTF-16 with paired surrogates, and neither carrying U+FFFE or
// U+FFFF. Oracles: the strict forms convert exactly up to the first bad unit and stop on
// it; the replacing forms agree with them up to there and always give valid text; every
// conversion appends; valid UTF-8 comes back unchanged through UTF-16, UTF-32 and the
// stream facet with small buffers.
//
// The input is read twice: as UTF-8 bytes, and as UTF-16 units (pairs of bytes, in the
// machine's order).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "runtime/unicode.h"

namespace {

using Facet = std::codecvt<char16_t, char, std::mbstate_t>;

// The unit every output string starts with, to see that conversions append.
constexpr char kMark = '#';

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "unicode: %s\n", what);
    std::abort();
}

void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

bool Allowed(char32_t v) { return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF) && v != 0xFFFE && v != 0xFFFF; }

// The length of the valid UTF-8 character at p (0 when none starts there), its value in v.
std::size_t DecodeOne(const unsigned char* p, const unsigned char* end, char32_t& v) {
    const unsigned char lead = *p;
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        v = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, v = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, v = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, v = lead & 0x07;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    return v >= minimum && Allowed(v) ? length : 0;
}

// The characters of the longest valid prefix of s; `valid` bytes long.
std::u32string DecodeUtf8Prefix(const std::string& s, std::size_t& valid) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char* p = begin;
    const unsigned char* const end = begin + s.size();
    std::u32string out;
    char32_t v;
    while (p < end) {
        const std::size_t length = DecodeOne(p, end, v);
        if (length == 0) break;
        out.push_back(v);
        p += length;
    }
    valid = static_cast<std::size_t>(p - begin);
    return out;
}

// The characters of the longest valid prefix of s; `valid` units long.
std::u32string DecodeUtf16Prefix(const std::u16string& s, std::size_t& valid) {
    std::u32string out;
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t v = s[i];
        std::size_t length = 1;
        if (v >= 0xD800 && v <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            v = 0x10000 + ((v - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            length = 2;
        }
        if (!Allowed(v)) break;
        out.push_back(v);
        i += length;
    }
    valid = i;
    return out;
}

std::u16string EncodeUtf16(const std::u32string& text) {
    std::u16string out;
    for (char32_t v : text) {
        if (v < 0x10000) {
            out.push_back(static_cast<char16_t>(v));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
        }
    }
    return out;
}

std::string EncodeUtf8(const std::u32string& text) {
    std::string out;
    for (char32_t v : text) {
        if (v < 0x80) {
            out.push_back(static_cast<char>(v));
        } else if (v < 0x800) {
            out += {static_cast<char>(0xC0 | (v >> 6)), static_cast<char>(0x80 | (v & 0x3F))};
        } else if (v < 0x10000) {
            out += {static_cast<char>(0xE0 | (v >> 12)), static_cast<char>(0x80 | ((v >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (v & 0x3F))};
        } else {
            out += {static_cast<char>(0xF0 | (v >> 18)), static_cast<char>(0x80 | ((v >> 12) & 0x3F)),
                    static_cast<char>(0x80 | ((v >> 6) & 0x3F)), static_cast<char>(0x80 | (v & 0x3F))};
        }
    }
    return out;
}

// Strips the mark that the output string started with; fails when a conversion replaced
// it instead of appending.
template <typename String>
String Appended(const String& out) {
    Check(!out.empty() && out[0] == static_cast<typename String::value_type>(kMark), "a conversion did not append");
    return out.substr(1);
}

void CheckUtf8Input(const zel::zelUnicode& converter, const std::string& bytes) {
    std::size_t valid = 0;
    const std::u32string expected = DecodeUtf8Prefix(bytes, valid);
    const bool allValid = valid == bytes.size();

    // Strict: exact up to the first bad byte, stopping on it.
    std::u16string utf16(1, kMark);
    const char* pos = bytes.data();
    std::size_t count = bytes.size();
    const uint32_t status = converter.Utf8ToUtf16(utf16, pos, count);
    utf16 = Appended(utf16);
    Check((status == 0) == allValid, "strict UTF-8 -> UTF-16 disagrees about validity");
    Check(static_cast<std::size_t>(pos - bytes.data()) == valid, "strict UTF-8 -> UTF-16 stopped elsewhere");
    Check(utf16 == EncodeUtf16(expected), "strict UTF-8 -> UTF-16 wrote other units");
    Check(count == expected.size(), "strict UTF-8 -> UTF-16 counted other characters");

    std::u32string utf32(1, kMark);
    pos = bytes.data();
    count = bytes.size();
    Check((converter.Utf8ToUtf32(utf32, pos, count) == 0) == allValid, "strict UTF-8 -> UTF-32 disagrees");
    utf32 = Appended(utf32);
    Check(utf32 == expected && count == expected.size(), "strict UTF-8 -> UTF-32 wrote other characters");
    Check(static_cast<std::size_t>(pos - bytes.data()) == valid, "strict UTF-8 -> UTF-32 stopped elsewhere");

    // Replacing: valid text that starts with what the strict form wrote.
    std::u16string replaced(1, kMark);
    count = bytes.size();
    const uint32_t replacedStatus = converter.Utf8ToUtf16Replacing(replaced, bytes.data(), count);
    replaced = Appended(replaced);
    std::size_t replacedValid = 0;
    const std::u32string replacedText = DecodeUtf16Prefix(replaced, replacedValid);
    Check(replacedValid == replaced.size(), "replacing UTF-8 -> UTF-16 wrote invalid UTF-16");
    Check(count == replacedText.size(), "replacing UTF-8 -> UTF-16 counted other characters");
    Check(replaced.compare(0, utf16.size(), utf16) == 0, "replacing UTF-8 -> UTF-16 differs before the first bad byte");
    Check(allValid ? replacedStatus == 0 && replaced == utf16 : replacedStatus != 0,
          "replacing UTF-8 -> UTF-16 disagrees with the strict form");
    std::u16string viaHelper;
    Check(zel::zelToUtf16(bytes, viaHelper) == replacedStatus && viaHelper == replaced,
          "zelToUtf16 disagrees with the replacing conversion");

    std::u32string replaced32(1, kMark);
    count = bytes.size();
    converter.Utf8ToUtf32Replacing(replaced32, bytes.data(), count);
    replaced32 = Appended(replaced32);
    for (char32_t v : replaced32) Check(Allowed(v), "replacing UTF-8 -> UTF-32 wrote an invalid character");
    Check(count == replaced32.size(), "replacing UTF-8 -> UTF-32 counted other characters");
    Check(replaced32.compare(0, utf32.size(), utf32) == 0, "replacing UTF-8 -> UTF-32 differs before the first bad byte");

    if (!allValid) return;
    // Round trips of valid text.
    std::string back(1, kMark);
    const char16_t* from16 = utf16.data();
    count = utf16.size();
    Check(converter.Utf16ToUtf8(back, from16, count) == 0 && Appended(back) == bytes, "UTF-16 round trip changed the text");
    back.assign(1, kMark);
    const char32_t* from32 = utf32.data();
    count = utf32.size();
    Check(converter.Utf32ToUtf8(back, from32, count) == 0 && Appended(back) == bytes, "UTF-32 round trip changed the text");
}

void CheckUtf16Input(const zel::zelUnicode& converter, const std::u16string& units) {
    std::size_t valid = 0;
    const std::u32string expected = DecodeUtf16Prefix(units, valid);
    const bool allValid = valid == units.size();

    std::string utf8(1, kMark);
    const char16_t* pos = units.data();
    std::size_t count = units.size();
    const uint32_t status = converter.Utf16ToUtf8(utf8, pos, count);
    utf8 = Appended(utf8);
    Check((status == 0) == allValid, "strict UTF-16 -> UTF-8 disagrees about validity");
    Check(static_cast<std::size_t>(pos - units.data()) == valid, "strict UTF-16 -> UTF-8 stopped elsewhere");
    Check(utf8 == EncodeUtf8(expected) && count == expected.size(), "strict UTF-16 -> UTF-8 wrote other bytes");

    std::string replaced(1, kMark);
    count = units.size();
    const uint32_t replacedStatus = converter.Utf16ToUtf8Replacing(replaced, units.data(), count);
    replaced = Appended(replaced);
    std::size_t replacedValid = 0;
    const std::u32string replacedText = DecodeUtf8Prefix(replaced, replacedValid);
    Check(replacedValid == replaced.size(), "replacing UTF-16 -> UTF-8 wrote invalid UTF-8");
    Check(count == replacedText.size(), "replacing UTF-16 -> UTF-8 counted other characters");
    Check(replaced.compare(0, utf8.size(), utf8) == 0, "replacing UTF-16 -> UTF-8 differs before the first bad unit");
    Check(allValid ? replacedStatus == 0 && replaced == utf8 : replacedStatus != 0,
          "replacing UTF-16 -> UTF-8 disagrees with the strict form");
    std::string viaHelper;
    Check(zel::zelToUtf8(units, viaHelper) == replacedStatus && viaHelper == replaced,
          "zelToUtf8 disagrees with the replacing conversion");
}

// Valid UTF-8 read through the facet `window` bytes at a time into `room` units, as a
// file stream reads its buffer; then written back through it `window` units at a time.
void CheckFacet(const zel::zelUnicode& converter, const std::string& bytes, std::size_t window, std::size_t room) {
    const Facet& facet = converter;
    std::mbstate_t state{};
    std::u16string read;
    const char* const end = bytes.data() + bytes.size();
    const char* from = bytes.data();
    const char* available = std::min(end, from + window);
    while (from != end) {
        char16_t units[8];
        const char* fromNext = from;
        char16_t* toNext = units;
        const auto result = facet.in(state, from, available, fromNext, units, units + room, toNext);
        Check(result != Facet::error && result != Facet::noconv, "the facet refused valid UTF-8");
        read.append(units, toNext);
        if (fromNext == from && toNext == units) {
            // A character cut by the end of the buffer: the stream reads more behind it.
            Check(available != end, "the facet stopped inside valid UTF-8");
            available = std::min(end, available + window);
        } else {
            from = fromNext;
            available = std::min(end, std::max(available, from + window));
        }
    }
    std::u16string expected;
    zel::zelToUtf16(bytes, expected);
    Check(read == expected, "the facet read other units than the conversion gives");

    state = std::mbstate_t{};
    std::string written;
    for (std::size_t i = 0; i < read.size();) {
        const std::size_t take = std::min(window, read.size() - i);
        char buffer[16];
        const char16_t* fromNext = nullptr;
        char* toNext = nullptr;
        const auto result =
            facet.out(state, read.data() + i, read.data() + i + take, fromNext, buffer, buffer + sizeof buffer, toNext);
        Check(result != Facet::error, "the facet refused valid UTF-16");
        written.append(buffer, toNext);
        Check(fromNext != read.data() + i || toNext != buffer, "the facet wrote nothing");
        i = static_cast<std::size_t>(fromNext - read.data());
    }
    char buffer[8];
    char* toNext = buffer;
    Check(facet.unshift(state, buffer, buffer + sizeof buffer, toNext) != Facet::error, "the facet's unshift failed");
    written.append(buffer, toNext);
    Check(written == bytes, "the facet wrote other bytes than it read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const zel::zelUnicode converter(1);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckUtf8Input(converter, bytes);

    std::u16string units(size / 2, u'\0');
    if (!units.empty()) std::memcpy(&units[0], data, units.size() * sizeof(char16_t));
    CheckUtf16Input(converter, units);

    std::size_t valid = 0;
    DecodeUtf8Prefix(bytes, valid);
    if (valid == bytes.size()) CheckFacet(converter, bytes, 1 + size % 5, 1 + size / 5 % 3);
    return 0;
}
