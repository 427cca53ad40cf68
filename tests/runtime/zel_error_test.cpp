// ZELError: identifier text and facility, GetText (table texts, platform texts, fallbacks,
// widths, inserts, crypto-provider and packed TLS codes), Describe, StatusText and the
// word wrap.
#include "runtime/zel_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>

#include "runtime/platform.h"
#include "zel/status_codes.h"

namespace {

using zel::ZELError;

constexpr int kNoMessage = 42;  // ENOMSG, the error number of a lookup that finds nothing
static_assert(ENOMSG == kNoMessage, "the expected fallback texts assume ENOMSG is 42");

std::string PlatformText(uint32_t error) {
    std::string text;
    EXPECT_TRUE(zel::platform::ErrorText(error, text));
    EXPECT_FALSE(text.empty());
    return text;
}

std::string Text(uint32_t status, unsigned width, zel::ZELInserts inserts = {}, bool plain = false) {
    ZELError error(status);
    return error.GetText(width, inserts, plain);
}

TEST(ZELError, IdTextIsDecimalBelow0x10000AndHexadecimalAbove) {
    const struct {
        uint32_t status;
        const char* id;
    } cases[] = {{0, "0"}, {5, "5"}, {10054, "10054"}, {0xFFFF, "65535"}, {0x10000, "0x00010000"},
                 {0xC7560003, "0xc7560003"}, {0xFFFFFFFF, "0xffffffff"}};
    for (const auto& c : cases) {
        ZELError error(c.status);
        EXPECT_STREQ(error.GetIdText(), c.id);
    }
}

TEST(ZELError, SetFacilityMovesOnlyPlatformErrorNumbers) {
    const struct {
        uint32_t status, code, expected;
    } cases[] = {
        {5, 0xC7210000, 0xC7210005},
        {5, 0xC721ABCD, 0xC7210005},  // only the upper half of the code counts
        {0xFFFF, 0xC7210000, 0xC721FFFF},
        {0, 0xC7210000, 0},              // success stays success
        {0x10000, 0xC7210000, 0x10000},  // already carries a facility
        {0xC7560003, 0xC7210000, 0xC7560003},
    };
    for (const auto& c : cases) {
        ZELError error(c.status);
        error.SetFacility(c.code);
        EXPECT_EQ(error.Status(), c.expected) << std::hex << c.status;
    }
}

// Texts without inserts: the table's, at each width rule (0: the text's own line breaks and
// a final CR LF; 255 and up: no wrapping), plain or with the identifier.
TEST(ZELErrorGetText, TableTexts) {
    const std::string reserved =  // 0xC7210014 at width 0
        "An attempt was made to encode one of the reserved UNICODE BMP values (0xFFFE,\r\n"
        "0xFFFF) into a UTF-8, UTF-16, or UTF-32 string. The reserved value was replaced\r\n"
        "with '?' and this error returned.";
    const std::string reserved40 =
        "An attempt was made to encode one of the\r\nreserved UNICODE BMP values (0xFFFE,\r\n"
        "0xFFFF) into a UTF-8, UTF-16, or UTF-32\r\nstring. The reserved value was replaced\r\n"
        "with '?' and this error returned.";
    const std::string reserved255 =
        "An attempt was made to encode one of the reserved UNICODE BMP values (0xFFFE, 0xFFFF) into a UTF-8, UTF-16, "
        "or UTF-32 string. The reserved value was replaced with '?' and this error returned.";
    const struct {
        uint32_t status;
        unsigned width;
        bool plain;
        std::string expected;
    } cases[] = {
        {ZEL_E_INVALIDARG, 240, false, "The parameter is invalid. [ID=0xc7210003]"},
        {ZEL_E_INVALIDARG, 0, false, "The parameter is invalid. [ID=0xc7210003]\r\n"},
        {ZEL_E_INVALIDARG, 0, true, "The parameter is invalid.\r\n"},
        {ZEL_E_INVALIDARG, 240, true, "The parameter is invalid."},
        {0xC7560003, 240, false,
         "The sensor services library is not initialized and cannot be used. [ID=0xc7560003]"},
        {0xC7210014, 0, false, reserved + " [ID=0xc7210014]\r\n"},
        {0xC7210014, 40, false, reserved40 + "\n[ID=0xc7210014]"},
        {0xC7210014, 40, true, reserved40},
        {0xC7210014, 255, false, reserved255 + " [ID=0xc7210014]"},
        // The room is measured with the line's length before its trailing blank is stripped:
        // "The parameter is invalid. " (26) + "[ID=0xc7210003]" (15) + 1 must fit.
        {ZEL_E_INVALIDARG, 42, false, "The parameter is invalid. [ID=0xc7210003]"},
        {ZEL_E_INVALIDARG, 41, false, "The parameter is invalid.\n[ID=0xc7210003]"},
        {ZEL_E_INVALIDARG, 30, false, "The parameter is invalid.\n[ID=0xc7210003]"},
        // Trailing blanks of the definition are stripped.
        {0xC7380024, 0, true, "An insertion failed; the inserted element's key already exists.\r\n"},
        {0xC7380024, 240, false, "An insertion failed; the inserted element's key already exists. [ID=0xc7380024]"},
        {0x4721009C, 240, true, ""},
        {0x4721009C, 0, false, " [ID=0x4721009c]\r\n"},
        // An insert without argument stays as written.
        {0xC7210031, 240, true, "The file %1 exists, and could not be written."},
        {0xC721002E, 240, true, "OpenSSL or xmlsec error code (0x%1!x!)"},
        // Crypto-provider errors use their own entry, with the provider's number.
        {0x872BFFFF, 240, true,
         "The error code 0xffff was reported by a cryptographic provider that is not installed."},
        // An own-facility code without entry falls back, word-wrapped with plain line feeds.
        {0xC7210000, 240, false, "Status 42 retrieving message text. [ID=0xc7210000]"},
        {0xC7210000, 240, true, "Status 42 retrieving message text. [ID=0xc7210000]"},
        {0xC7210000, 20, false, "Status 42 retrieving\nmessage text.\n[ID=0xc7210000]"},
    };
    for (const auto& c : cases) {
        zel::platform::SetLastError(0);
        EXPECT_EQ(Text(c.status, c.width, {}, c.plain), c.expected) << std::hex << c.status << " " << c.width;
        if (c.expected.find("Status 42") == 0) {
            EXPECT_EQ(zel::platform::GetLastError(), static_cast<uint32_t>(kNoMessage));
        }
    }
}

TEST(ZELErrorGetText, WidthsFrom255UpDoNotWrap) {
    // With no limit a text too long for the suffix still gets it on a line of its own.
    const std::string unlimited = Text(0xC7210040, 255);
    EXPECT_EQ(unlimited.find('\r'), std::string::npos);
    const std::string end = "remote socket.\n[ID=0xc7210040]";
    ASSERT_GE(unlimited.size(), end.size());
    EXPECT_EQ(unlimited.substr(unlimited.size() - end.size()), end);
    for (unsigned width : {256u, 320u, 100000u}) EXPECT_EQ(Text(0xC7210040, width), unlimited);
    EXPECT_LT(Text(0xC7210040, 254).find("\r\n"), 254u);
    EXPECT_EQ(std::string(zel::StatusText(0xC7210040)), unlimited);
}

TEST(ZELErrorGetText, PlatformErrorNumbersUseThePlatformText) {
    const std::string eio = PlatformText(5);
    EXPECT_EQ(Text(5, 0), eio + " [ID=5]\r\n");
    EXPECT_EQ(Text(5, 240), eio + " [ID=5]");
    EXPECT_EQ(Text(5, 240, {}, true), eio);
    // Consulting the own table first changes nothing: it holds no platform numbers.
    ZELError own(5, true);
    EXPECT_EQ(std::string(own.GetText(0)), eio + " [ID=5]\r\n");
    EXPECT_EQ(std::string(zel::StatusText(ENOENT)), PlatformText(ENOENT) + " [ID=2]");

    // A socket error number has no text anywhere; the fallback never gets the CR LF tail.
    zel::platform::SetLastError(0);
    ZELError socket(10054);
    EXPECT_STREQ(socket.GetText(240), "Status 42 retrieving message text. [ID=10054]");
    EXPECT_EQ(socket.Status(), 10054u);  // looked up as 0xC7272746, but left as it was
    EXPECT_EQ(zel::platform::GetLastError(), static_cast<uint32_t>(kNoMessage));
    EXPECT_STREQ(socket.GetText(0), "Status 42 retrieving message text. [ID=10054]");
    // Each call replaces the text.
    EXPECT_STREQ(socket.GetText(20), "Status 42 retrieving\nmessage text.\n[ID=10054]");
}

TEST(ZELErrorGetText, Inserts) {
    EXPECT_EQ(Text(0xC7210031, 240, {"/tmp/a b"}),
              "The file /tmp/a b exists, and could not be written. [ID=0xc7210031]");
    // Numbers: decimal for %1, lower-case hexadecimal for %1!x!.
    EXPECT_EQ(Text(0xC0000001, 240, {4000000000u}, true), "4000000000");
    EXPECT_EQ(Text(0xC721002E, 240, {0xABCDEFu}, true), "OpenSSL or xmlsec error code (0xabcdef)");
    // A text is written as it is, never expanded again.
    EXPECT_EQ(Text(0xC0000001, 240, {"%1 is 100%"}, true), "%1 is 100%");
    EXPECT_EQ(Text(0x80000002, 240, {std::string("warning")}, true), "warning");
    // An insert keeps its own line breaks at width 0 and is wrapped like the rest otherwise.
    EXPECT_EQ(Text(0x40000003, 0, {"one\r\ntwo"}, true), "one\r\ntwo\r\n");
    EXPECT_EQ(Text(0xC7210031, 20, {"/tmp/x"}, true), "The file /tmp/x\r\nexists, and could\r\nnot be written.");
}

// Crypto-provider and packed TLS codes take the provider's number as their only insert.
TEST(ZELErrorGetText, CryptoProviderAndPackedTlsErrorsIgnoreTheCallersInserts) {
    const struct {
        uint32_t status;
        const char* text;
    } cases[] = {
        {0xC72B1234, "The error code 0x1234 was reported by a cryptographic provider that is not installed. "
                     "[ID=0xc72b1234]"},
        // library 5, function 0x1A3, reason 0x41
        {0xC8BA3041, "OpenSSL or xmlsec error code (0x51a3041) [ID=0xc8ba3041]"},
        // the lowest facility that is a packed error
        {0x08000007, "OpenSSL or xmlsec error code (0x7) [ID=0x08000007]"},
        // library 62 is kept, library 63 stands for 128
        {0x0FC01002, "OpenSSL or xmlsec error code (0x3e001002) [ID=0x0fc01002]"},
        {0x0FE01002, "OpenSSL or xmlsec error code (0x80001002) [ID=0x0fe01002]"},
        {0xCFFFFFFF, "OpenSSL or xmlsec error code (0x801fffff) [ID=0xcfffffff]"},
        // facility 0x7FF is not packed: an own-range code without entry
        {0xC7FF0001, "Status 42 retrieving message text. [ID=0xc7ff0001]"},
    };
    for (const auto& c : cases) {
        ZELError error(c.status);
        EXPECT_STREQ(error.GetText(240, {"ignored"}), c.text);
        EXPECT_EQ(error.Status(), c.status);
    }
}

// Describe moves security-facility errors to 0x72D and socket error numbers to 0x727 and
// gives own codes their plain text, every other code the operating-system text.
TEST(ZELError, Describe) {
    const struct {
        uint32_t status;
        unsigned width;
        uint32_t after;
        const char* text;
    } cases[] = {
        {0x47210049, 240, 0x47210049, "Active"},
        {0x47210049, 0, 0x47210049, "Active\r\n"},
        {0x4721009C, 240, 0x4721009C, ""},
        {0x80090308, 240, 0xC72D0308, "Status 42 retrieving message text. [ID=0xc72d0308]"},
        {10000, 240, 0xC7272710, "Status 42 retrieving message text. [ID=0xc7272710]"},
        {10054, 240, 0xC7272746, "Status 42 retrieving message text. [ID=0xc7272746]"},
        {12000, 240, 0xC7272EE0, "Status 42 retrieving message text. [ID=0xc7272ee0]"},
        {9999, 240, 9999, "Operating system specific status encountered. [ID=9999]"},
        {12001, 240, 12001, "Operating system specific status encountered. [ID=12001]"},
        {12001, 20, 12001, "Operating system\nspecific status\nencountered.\n[ID=12001]"},
        {12001, 0, 12001, "Operating system specific status encountered. [ID=12001]"},
        {5, 240, 5, "Operating system specific status encountered. [ID=5]"},
        {0x80070005, 240, 0x80070005, "Operating system specific status encountered. [ID=0x80070005]"},
        {0xC7FC0001, 240, 0xC7FC0001, "Operating system specific status encountered. [ID=0xc7fc0001]"},
        {0xC6FF0001, 240, 0xC6FF0001, "Operating system specific status encountered. [ID=0xc6ff0001]"},
        {0xC7FB0001, 240, 0xC7FB0001, "Status 42 retrieving message text. [ID=0xc7fb0001]"},  // last own facility
        {0xC7000001, 240, 0xC7000001, "Status 42 retrieving message text. [ID=0xc7000001]"},  // first own facility
    };
    for (const auto& c : cases) {
        ZELError error(c.status);
        EXPECT_STREQ(error.Describe(c.width), c.text);
        EXPECT_EQ(error.Status(), c.after);
    }
    ZELError dir(0xC7210037);
    EXPECT_STREQ(dir.Describe(240, {"/var/x"}), "The directory /var/x cannot be created.");
}

TEST(StatusText, EachThreadHasItsOwnBuffer) {
    const char* mine = zel::StatusText(ZEL_E_INVALIDARG);
    std::string other;
    std::thread([&] { other = zel::StatusText(0xC7560003); }).join();
    EXPECT_STREQ(mine, "The parameter is invalid. [ID=0xc7210003]");
    EXPECT_EQ(other, "The sensor services library is not initialized and cannot be used. [ID=0xc7560003]");
}

TEST(WordWrap, Cases) {
    const struct {
        const char* name;
        std::string text;
        unsigned width;
        const char* lineBreak;
        std::string expected;
    } cases[] = {
        {"fits", "ab cd", 5, "\n", "ab cd"},
        {"blank at the width breaks", "abc def", 3, "\n", "abc\ndef"},
        {"blank past the width breaks once, the next is kept", "abcd  ef", 4, "\n", "abcd\n ef"},
        {"returns to the last blank", "ab cd", 4, "\n", "ab\ncd"},
        {"re-reads the word after the blank", "aa bb cc dd ee", 7, "\n", "aa bb\ncc dd\nee"},
        {"line without blank is cut", "abcdef", 4, "\n", "abcd\nef"},
        {"cut after a return", "a bcdefg", 4, "\n", "a\nbcde\nfg"},
        {"width one", "ab", 1, "\n", "a\nb"},
        {"line break sequence", "ab cd", 4, "\r\n", "ab\r\ncd"},
        {"LF resets the column", "ab\ncd ef", 5, "\n", "ab\ncd ef"},
        {"CR resets the column", "abcd\rabcd", 4, "\n", "abcd\rabcd"},
        {"VT resets the column", "abcd\vabcd", 4, "\n", "abcd\vabcd"},
        {"FF resets the column", "abcd\fabcd", 4, "\n", "abcd\fabcd"},
        {"a line end forgets the blank before it", "a b\ncdefg", 4, "\n", "a b\ncdef\ng"},
        {"backspace steps back", "abcd\bx", 4, "\n", "abcd\bx"},
        {"without backspace it breaks", "abcdx", 4, "\n", "abcd\nx"},
        {"control characters take no column", std::string("ab\x01\x02" "cd"), 4, "\n", "ab\x01\x02" "cd"},
        {"tab to the next stop", "ab\tcd", 10, "\n", "ab\tcd"},
        {"tab is a break point", "ab\tcdef", 10, "\n", "ab\ncdef"},
        {"tab passing the width breaks", "abcdefghij\tx", 12, "\n", "abcdefghij\nx"},
        {"a multi-byte character counts once", "\xc3\xa9 \xc3\xa9 \xc3\xa9", 3, "\n",
         "\xc3\xa9 \xc3\xa9\n\xc3\xa9"},
        {"width 0 means no limit", "aaaa bbbb cccc", 0, "\n", "aaaa bbbb cccc"},
        {"width 255 means no limit", std::string(300, 'a') + " b", 255, "\n", std::string(300, 'a') + " b"},
        {"width 254 limits", std::string(300, 'a'), 254, "\n", std::string(254, 'a') + "\n" + std::string(46, 'a')},
        {"empty", "", 5, "\n", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(zel::WordWrap(c.text, c.width, c.lineBreak), c.expected) << c.name;
}

}  // namespace
