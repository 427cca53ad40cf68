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
#include <string>
#include <thread>

#include "runtime/message_table.h"
#include "runtime/platform.h"
#include "zel/status_codes.h"

namespace {

using zel::ZELError;

// The table's texts at each width rule (0: the text's own line breaks and a final CR LF;
// 255 and up: no wrapping), plain or with the identifier, with and without inserts.
TEST(ZELErrorGetText, TableTextsWidthsFrom255InsertsAndPlatformTexts) {
    const struct { uint32_t status; unsigned width; bool plain; std::string expected; zel::ZELInserts inserts = {}; }
    cases[] = {
        {ZEL_E_INVALIDARG, 0, false, "The parameter is invalid. [ID=0xc7210003]\r\n"},
        // The room is measured with the line's length before its trailing blank is stripped:
        // "The parameter is invalid. " (26) + "[ID=0xc7210003]" (15) + 1 must fit.
        {ZEL_E_INVALIDARG, 42, false, "The parameter is invalid. [ID=0xc7210003]"},
        {ZEL_E_INVALIDARG, 41, false, "The parameter is invalid.\n[ID=0xc7210003]"},
        // Trailing blanks of the definition are stripped.
        {0xC7380024, 240, false, "An insertion failed; the inserted element's key already exists. [ID=0xc7380024]"},
        {0x4721009C, 240, true, ""}, {0x4721009C, 0, false, " [ID=0x4721009c]\r\n"},
        // An insert without argument stays as written.
        {0xC721002E, 240, true, "OpenSSL or xmlsec error code (0x%1!x!)"},
        // Inserts: numbers, decimal for %1 and lower-case hexadecimal for %1!x!; a text is
        // written as it is, never expanded again, and wrapped like the rest.
        {0xC0000001, 240, true, "4000000000", {4000000000u}},
        {0xC721002E, 240, true, "OpenSSL or xmlsec error code (0xabcdef)", {0xABCDEFu}},
        {0xC0000001, 240, true, "%1 is 100%", {"%1 is 100%"}},
        {0x80000002, 240, true, "warning", {std::string("warning")}},
        {0xC7210031, 20, true, "The file /tmp/x\r\nexists, and could\r\nnot be written.", {"/tmp/x"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZELError(c.status).GetText(c.width, c.inserts, c.plain), c.expected) << std::hex << c.status;
    // With no limit a text too long for the suffix still gets it on a line of its own.
    const std::string unlimited = ZELError(0xC7210040).GetText(255), end = "remote socket.\n[ID=0xc7210040]";
    EXPECT_TRUE(unlimited.find('\r') == std::string::npos && unlimited.rfind(end) + end.size() == unlimited.size())
        << unlimited;
    // Each thread has its own StatusText buffer (at width 320: no wrapping).
    const char* mine = zel::StatusText(ZEL_E_INVALIDARG);
    std::thread([] { zel::StatusText(0xC7560003); }).join();
    EXPECT_STREQ(mine, "The parameter is invalid. [ID=0xc7210003]");
    std::string eio;
    ASSERT_TRUE(zel::platform::ErrorText(5, eio) && !eio.empty());
    EXPECT_EQ(std::string(ZELError(5).GetText(0)), eio + " [ID=5]\r\n");
    // Consulting the own table first changes nothing: it holds no platform numbers.
    EXPECT_EQ(std::string(ZELError(5, true).GetText(240)), eio + " [ID=5]");

    // A socket error number has no text anywhere; the fallback (ENOMSG, 42 on Linux) never gets
    // the CR LF tail.
    zel::platform::SetLastError(0);
    ZELError socket(10054);
    EXPECT_STREQ(socket.GetText(0), "Status 42 retrieving message text. [ID=10054]");
    // Looked up as 0xC7272746, but left as it was.
    EXPECT_TRUE(socket.Status() == 10054u && zel::platform::GetLastError() == static_cast<uint32_t>(ENOMSG));
}

// The codes' numbers: the identifier's form, SetFacility, the codes that carry a provider's
// number and Describe, which moves some codes before it looks them up.
TEST(ZELError, IdTextSetFacilityCryptoProviderAndPackedTlsErrorsAndDescribe) {
    const struct { uint32_t status; const char* id; } ids[] = {{0xFFFF, "65535"}, {0x10000, "0x00010000"}};
    for (const auto& c : ids) EXPECT_STREQ(ZELError(c.status).GetIdText(), c.id);
    // SetFacility moves only platform error numbers.
    // (only the upper half of the code counts; success stays success; 0x10000 already carries one)
    const struct { uint32_t status, code, expected; } moves[] = {{5, 0xC721ABCD, 0xC7210005},
        {0xFFFF, 0xC7210000, 0xC721FFFF}, {0, 0xC7210000, 0}, {0x10000, 0xC7210000, 0x10000}};
    for (const auto& m : moves) {
        ZELError error(m.status);
        error.SetFacility(m.code);
        EXPECT_EQ(error.Status(), m.expected) << std::hex << m.status;
    }
    // Crypto-provider and packed TLS codes take the provider's number as their only insert.
    const struct { uint32_t status; const char* text; } cases[] = {
        {0xC72B1234, "The error code 0x1234 was reported by a cryptographic provider that is not installed. "
                     "[ID=0xc72b1234]"},
        // the lowest facility that is a packed error
        {0x08000007, "OpenSSL or xmlsec error code (0x7) [ID=0x08000007]"},
        // library 62 is kept, library 63 stands for 128
        {0x0FC01002, "OpenSSL or xmlsec error code (0x3e001002) [ID=0x0fc01002]"},
        {0x0FE01002, "OpenSSL or xmlsec error code (0x80001002) [ID=0x0fe01002]"},
        // facility 0x7FF is not packed: an own-range code without entry
        {0xC7FF0001, "Status 42 retrieving message text. [ID=0xc7ff0001]"},
    };
    for (const auto& c : cases) EXPECT_STREQ(ZELError(c.status).GetText(240, {"ignored"}), c.text);
    // Describe moves security-facility errors to 0x72D and socket error numbers to 0x727 and
    // gives own codes their plain text, every other code the operating-system text.
    const struct { uint32_t status; unsigned width; uint32_t after; const char* text; } described[] = {
        {0x47210049, 240, 0x47210049, "Active"}, {0x47210049, 0, 0x47210049, "Active\r\n"},
        {0x80090308, 240, 0xC72D0308, "Status 42 retrieving message text. [ID=0xc72d0308]"},
        {10000, 240, 0xC7272710, "Status 42 retrieving message text. [ID=0xc7272710]"},
        {9999, 240, 9999, "Operating system specific status encountered. [ID=9999]"},
        {12001, 20, 12001, "Operating system\nspecific status\nencountered.\n[ID=12001]"},
        {0xC7FC0001, 240, 0xC7FC0001, "Operating system specific status encountered. [ID=0xc7fc0001]"},
        {0xC7FB0001, 240, 0xC7FB0001, "Status 42 retrieving message text. [ID=0xc7fb0001]"},  // last own facility
    };
    for (const auto& c : described) {
        ZELError error(c.status);
        EXPECT_STREQ(error.Describe(c.width), c.text);
        EXPECT_EQ(error.Status(), c.after);
    }
}

TEST(WordWrapAndMessageTable, CasesAndEveryCodeHasItsTextAndNoOtherCodeIsThere) {
    const struct { const char* name; std::string text; unsigned width; std::string expected; } cases[] = {
        {"blank past the width breaks once, the next is kept", "abcd  ef", 4, "abcd\n ef"},
        {"returns to the last blank", "ab cd", 4, "ab\ncd"}, {"line without blank is cut", "abcdef", 4, "abcd\nef"},
        {"CR, VT and FF reset the column", "abcd\rabcd\vabcd\fabcd", 4, "abcd\rabcd\vabcd\fabcd"},
        {"a line end forgets the blank before it", "a b\ncdefg", 4, "a b\ncdef\ng"},
        {"backspace steps back", "\babcd\bx", 4, "\babcd\bx"},
        {"tab is a break point", "ab\tcdef", 10, "ab\ncdef"},
        {"a multi-byte character counts once", "\xc3\xa9 \xc3\xa9 \xc3\xa9", 3,
         "\xc3\xa9 \xc3\xa9\n\xc3\xa9"},
        {"width 255 means no limit", std::string(300, 'a') + " b", 255, std::string(300, 'a') + " b"},
        {"width 254 limits", std::string(300, 'a'), 254, std::string(254, 'a') + "\n" + std::string(46, 'a')},
    };
    for (const auto& c : cases) EXPECT_EQ(zel::WordWrap(c.text, c.width, "\n"), c.expected) << c.name;
    // Each line of the list: a code, and after a tab the first line of its text (a code alone:
    // its wording is checked apart). The table holds each first line as defined, followed by a
    // line break or the final CR LF (GetText's use of the entries is checked on single codes
    // above). As many entries as the list's codes, all of them found: no other code is there.
    std::ifstream in(ZEL_MESSAGE_GOLDEN_PATH);
    std::size_t codes = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t tab = line.find('\t');
        const zel::MessageEntry* entry = zel::FindMessage(std::stoul(line.substr(0, tab), nullptr, 16));
        ASSERT_NE(entry, nullptr) << line;
        EXPECT_TRUE(tab == line.npos || std::string(entry->text).rfind(line.substr(tab + 1) + "\r\n", 0) == 0) << line;
        ++codes;
    }
    ASSERT_EQ(codes, 203u);
    EXPECT_EQ(static_cast<std::size_t>(zel::MessageTableEnd() - zel::MessageTableBegin()), codes);
}

}  // namespace
