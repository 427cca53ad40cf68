// ZELError: identifier text and facility, GetText (table texts, platform texts, fallbacks,
// widths, inserts, crypto-provider and packed TLS codes), Describe, StatusText, the word
// wrap, and the whole message table walked against an independent list of every code and
// the first line of its text (message_table_golden.txt), so that an entry lost, added or
// mistyped in the table source shows up.
#include "runtime/zel_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "runtime/message_table.h"
#include "runtime/platform.h"
#include "zel/status_codes.h"

namespace {

using zel::ZELError;

constexpr int kNoMessage = 42;  // ENOMSG, the error number of a lookup that finds nothing
static_assert(ENOMSG == kNoMessage, "the expected fallback texts assume ENOMSG is 42");

std::string Text(uint32_t status, unsigned width, zel::ZELInserts inserts = {}, bool plain = false) {
    return ZELError(status).GetText(width, inserts, plain);
}

TEST(ZELError, IdTextIsDecimalBelow0x10000AndHexadecimalAboveAndSetFacilityMovesOnlyPlatformNumbers) {
    const struct { uint32_t status; const char* id; } cases[] = {
        {0, "0"}, {0xFFFF, "65535"}, {0x10000, "0x00010000"}, {0xC7560003, "0xc7560003"}, {0xFFFFFFFF, "0xffffffff"}};
    for (const auto& c : cases) EXPECT_STREQ(ZELError(c.status).GetIdText(), c.id);
    // SetFacility moves only platform error numbers.
    // (only the upper half of the code counts; success stays success; 0x10000 already carries one)
    const struct { uint32_t status, code, expected; } moves[] = {{5, 0xC721ABCD, 0xC7210005},
        {0xFFFF, 0xC7210000, 0xC721FFFF}, {0, 0xC7210000, 0}, {0x10000, 0xC7210000, 0x10000}};
    for (const auto& m : moves) {
        ZELError error(m.status);
        error.SetFacility(m.code);
        EXPECT_EQ(error.Status(), m.expected) << std::hex << m.status;
    }
}

// The table's texts at each width rule (0: the text's own line breaks and a final CR LF;
// 255 and up: no wrapping), plain or with the identifier, with and without inserts.
TEST(ZELErrorGetText, TableTextsWidthsFrom255InsertsAndPlatformTexts) {
    const std::string reserved40 =
        "An attempt was made to encode one of the\r\nreserved UNICODE BMP values (0xFFFE,\r\n"
        "0xFFFF) into a UTF-8, UTF-16, or UTF-32\r\nstring. The reserved value was replaced\r\n"
        "with '?' and this error returned.";
    const struct { uint32_t status; unsigned width; bool plain; std::string expected; zel::ZELInserts inserts = {}; }
    cases[] = {
        {ZEL_E_INVALIDARG, 0, false, "The parameter is invalid. [ID=0xc7210003]\r\n"},
        {ZEL_E_INVALIDARG, 0, true, "The parameter is invalid.\r\n"},
        {0xC7210014, 40, false, reserved40 + "\n[ID=0xc7210014]"}, {0xC7210014, 40, true, reserved40},
        // The room is measured with the line's length before its trailing blank is stripped:
        // "The parameter is invalid. " (26) + "[ID=0xc7210003]" (15) + 1 must fit.
        {ZEL_E_INVALIDARG, 42, false, "The parameter is invalid. [ID=0xc7210003]"},
        {ZEL_E_INVALIDARG, 41, false, "The parameter is invalid.\n[ID=0xc7210003]"},
        // Trailing blanks of the definition are stripped.
        {0xC7380024, 0, true, "An insertion failed; the inserted element's key already exists.\r\n"},
        {0xC7380024, 240, false, "An insertion failed; the inserted element's key already exists. [ID=0xc7380024]"},
        {0x4721009C, 240, true, ""}, {0x4721009C, 0, false, " [ID=0x4721009c]\r\n"},
        // An insert without argument stays as written.
        {0xC7210031, 240, true, "The file %1 exists, and could not be written."},
        {0xC721002E, 240, true, "OpenSSL or xmlsec error code (0x%1!x!)"},
        // Crypto-provider errors use their own entry, with the provider's number.
        {0x872BFFFF, 240, true,
         "The error code 0xffff was reported by a cryptographic provider that is not installed."},
        // An own-facility code without entry falls back, word-wrapped with plain line feeds.
        {0xC7210000, 240, true, "Status 42 retrieving message text. [ID=0xc7210000]"},
        // Inserts: text; numbers, decimal for %1 and lower-case hexadecimal for %1!x!; a text
        // is written as it is, never expanded again; an insert keeps its own line breaks at
        // width 0 and is wrapped like the rest otherwise.
        {0xC7210031, 240, false, "The file /tmp/a b exists, and could not be written. [ID=0xc7210031]", {"/tmp/a b"}},
        {0xC0000001, 240, true, "4000000000", {4000000000u}},
        {0xC721002E, 240, true, "OpenSSL or xmlsec error code (0xabcdef)", {0xABCDEFu}},
        {0xC0000001, 240, true, "%1 is 100%", {"%1 is 100%"}},
        {0x80000002, 240, true, "warning", {std::string("warning")}},
        {0x40000003, 0, true, "one\r\ntwo\r\n", {"one\r\ntwo"}},
        {0xC7210031, 20, true, "The file /tmp/x\r\nexists, and could\r\nnot be written.", {"/tmp/x"}},
    };
    for (const auto& c : cases) {
        zel::platform::SetLastError(0);
        EXPECT_EQ(Text(c.status, c.width, c.inserts, c.plain), c.expected) << std::hex << c.status << " " << c.width;
        EXPECT_TRUE(c.expected.find("Status 42") != 0 || zel::platform::GetLastError() == uint32_t(kNoMessage));
    }
    // With no limit a text too long for the suffix still gets it on a line of its own.
    const std::string unlimited = Text(0xC7210040, 255), end = "remote socket.\n[ID=0xc7210040]";
    EXPECT_TRUE(unlimited.find('\r') == std::string::npos && unlimited.rfind(end) + end.size() == unlimited.size())
        << unlimited;
    EXPECT_EQ(std::string(zel::StatusText(0xC7210040)), unlimited);  // at width 320
    // Each thread has its own StatusText buffer.
    const char* mine = zel::StatusText(ZEL_E_INVALIDARG);
    std::string other;
    std::thread([&] { other = zel::StatusText(0xC7560003); }).join();
    EXPECT_STREQ(mine, "The parameter is invalid. [ID=0xc7210003]");
    EXPECT_EQ(other, "The sensor services library is not initialized and cannot be used. [ID=0xc7560003]");
    std::string eio, enoent;
    ASSERT_TRUE(zel::platform::ErrorText(5, eio) && zel::platform::ErrorText(ENOENT, enoent) && !eio.empty());
    EXPECT_EQ(Text(5, 0), eio + " [ID=5]\r\n");
    EXPECT_EQ(Text(5, 240, {}, true), eio);
    // Consulting the own table first changes nothing: it holds no platform numbers.
    EXPECT_EQ(std::string(ZELError(5, true).GetText(240)), eio + " [ID=5]");
    EXPECT_EQ(std::string(zel::StatusText(ENOENT)), enoent + " [ID=2]");

    // A socket error number has no text anywhere; the fallback never gets the CR LF tail.
    zel::platform::SetLastError(0);
    ZELError socket(10054);
    EXPECT_STREQ(socket.GetText(240), "Status 42 retrieving message text. [ID=10054]");
    // Looked up as 0xC7272746, but left as it was.
    EXPECT_TRUE(socket.Status() == 10054u && zel::platform::GetLastError() == static_cast<uint32_t>(kNoMessage));
    EXPECT_STREQ(socket.GetText(0), "Status 42 retrieving message text. [ID=10054]");
    // Each call replaces the text.
    EXPECT_STREQ(socket.GetText(20), "Status 42 retrieving\nmessage text.\n[ID=10054]");
}

TEST(ZELErrorGetText, CryptoProviderAndPackedTlsErrorsAndDescribe) {
    // Crypto-provider and packed TLS codes take the provider's number as their only insert.
    const struct { uint32_t status; const char* text; } cases[] = {
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
    // Describe moves security-facility errors to 0x72D and socket error numbers to 0x727 and
    // gives own codes their plain text, every other code the operating-system text.
    const struct { uint32_t status; unsigned width; uint32_t after; const char* text; } described[] = {
        {0x47210049, 240, 0x47210049, "Active"}, {0x47210049, 0, 0x47210049, "Active\r\n"},
        {0x80090308, 240, 0xC72D0308, "Status 42 retrieving message text. [ID=0xc72d0308]"},
        {10000, 240, 0xC7272710, "Status 42 retrieving message text. [ID=0xc7272710]"},
        {12000, 240, 0xC7272EE0, "Status 42 retrieving message text. [ID=0xc7272ee0]"},
        {9999, 240, 9999, "Operating system specific status encountered. [ID=9999]"},
        {12001, 20, 12001, "Operating system\nspecific status\nencountered.\n[ID=12001]"},
        {0x80070005, 240, 0x80070005, "Operating system specific status encountered. [ID=0x80070005]"},
        {0xC7FC0001, 240, 0xC7FC0001, "Operating system specific status encountered. [ID=0xc7fc0001]"},
        {0xC6FF0001, 240, 0xC6FF0001, "Operating system specific status encountered. [ID=0xc6ff0001]"},
        {0xC7FB0001, 240, 0xC7FB0001, "Status 42 retrieving message text. [ID=0xc7fb0001]"},  // last own facility
    };
    for (const auto& c : described) {
        ZELError error(c.status);
        EXPECT_STREQ(error.Describe(c.width), c.text);
        EXPECT_EQ(error.Status(), c.after);
    }
    EXPECT_STREQ(ZELError(0xC7210037).Describe(240, {"/var/x"}), "The directory /var/x cannot be created.");
}

TEST(WordWrapAndMessageTable, CasesAndEveryCodeHasItsTextAndNoOtherCodeIsThere) {
    const struct { const char* name; std::string text; unsigned width; std::string expected; } cases[] = {
        {"blank past the width breaks once, the next is kept", "abcd  ef", 4, "abcd\n ef"},
        {"returns to the last blank", "ab cd", 4, "ab\ncd"}, {"line without blank is cut", "abcdef", 4, "abcd\nef"},
        {"LF resets the column", "ab\ncd ef", 5, "ab\ncd ef"},
        {"CR, VT and FF reset the column", "abcd\rabcd\vabcd\fabcd", 4, "abcd\rabcd\vabcd\fabcd"},
        {"a line end forgets the blank before it", "a b\ncdefg", 4, "a b\ncdef\ng"},
        {"backspace steps back", "\babcd\bx", 4, "\babcd\bx"},
        {"control characters take no column", std::string("ab\x01\x7f" "cd"), 4, "ab\x01\x7f" "cd"},
        {"tab is a break point", "ab\tcdef", 10, "ab\ncdef"},
        {"tab passing the width breaks", "abcdefghij\tx", 12, "abcdefghij\nx"},
        {"a multi-byte character counts once", "\xc3\xa9 \xc3\xa9 \xc3\xa9", 3,
         "\xc3\xa9 \xc3\xa9\n\xc3\xa9"},
        {"width 0 means no limit", "aaaa bbbb cccc", 0, "aaaa bbbb cccc"},
        {"width 255 means no limit", std::string(300, 'a') + " b", 255, std::string(300, 'a') + " b"},
        {"width 254 limits", std::string(300, 'a'), 254, std::string(254, 'a') + "\n" + std::string(46, 'a')},
    };
    for (const auto& c : cases) EXPECT_EQ(zel::WordWrap(c.text, c.width, "\n"), c.expected) << c.name;
    // Code -> first line; a code without a line maps to "" (its wording is checked apart).
    std::map<uint32_t, std::string> golden;
    std::ifstream in(ZEL_MESSAGE_GOLDEN_PATH);
    ASSERT_TRUE(in.is_open());
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#') continue;
        EXPECT_TRUE(golden.emplace(std::stoul(line.substr(0, tab), nullptr, 16),
                                   tab == std::string::npos ? "" : line.substr(tab + 1)).second) << line;
    }
    ASSERT_EQ(golden.size(), 203u);
    EXPECT_EQ(static_cast<std::size_t>(zel::MessageTableEnd() - zel::MessageTableBegin()), golden.size());
    for (const zel::MessageEntry* e = zel::MessageTableBegin(); e != zel::MessageTableEnd(); ++e)
        EXPECT_EQ(golden.count(e->code), 1u) << std::hex << "extra code 0x" << e->code;
    EXPECT_EQ(zel::FindMessage(0xC7210000u), nullptr);
    // The table holds each first line as defined, followed by a line break or the final CR LF
    // (GetText's use of the entries is checked on single codes above).
    for (const auto& [code, firstLine] : golden) {
        const zel::MessageEntry* entry = zel::FindMessage(code);
        ASSERT_NE(entry, nullptr) << std::hex << code;
        EXPECT_TRUE(firstLine.empty() || std::string(entry->text).rfind(firstLine + "\r\n", 0) == 0) << entry->text;
    }
}

}  // namespace
