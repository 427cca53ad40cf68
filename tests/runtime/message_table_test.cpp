// Walks the whole message table against an independent list of every code and the first
// line of its text (message_table_golden.txt), so that an entry lost, added or mistyped in
// the table source shows up.
#include "runtime/message_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "runtime/zel_error.h"

namespace {

// Code -> first line; a code without a line maps to none (its wording is checked apart).
std::map<uint32_t, std::optional<std::string>> Golden() {
    std::map<uint32_t, std::optional<std::string>> golden;
    std::ifstream in(ZEL_MESSAGE_GOLDEN_PATH);
    EXPECT_TRUE(in.is_open());
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t tab = line.find('\t');
        const uint32_t code = static_cast<uint32_t>(std::stoul(line.substr(0, tab), nullptr, 16));
        EXPECT_EQ(golden.count(code), 0u) << line;
        if (tab == std::string::npos)
            golden[code] = std::nullopt;
        else
            golden[code] = line.substr(tab + 1);
    }
    return golden;
}

TEST(MessageTableGolden, EveryCodeHasItsTextAndNoOtherCodeIsThere) {
    const auto golden = Golden();
    ASSERT_EQ(golden.size(), 203u);
    EXPECT_EQ(static_cast<std::size_t>(zel::MessageTableEnd() - zel::MessageTableBegin()), golden.size());
    for (const zel::MessageEntry* e = zel::MessageTableBegin(); e != zel::MessageTableEnd(); ++e)
        EXPECT_EQ(golden.count(e->code), 1u) << std::hex << "extra code 0x" << e->code;
    EXPECT_EQ(zel::FindMessage(0xC7210000u), nullptr);

    for (const auto& [code, firstLine] : golden) {
        if (!firstLine) continue;
        zel::ZELError error(code);
        SCOPED_TRACE(error.GetIdText());
        // The table holds the line as defined, followed by a line break or the final CR LF.
        const zel::MessageEntry* entry = zel::FindMessage(code);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(std::string(entry->text).substr(0, firstLine->size() + 2), *firstLine + "\r\n");

        // GetText finds it: plain at width 0 ends in CR LF (the fallback text does not) and
        // starts with the first line, less the trailing blanks that a last line loses.
        const std::string text = error.GetText(0, {}, true);
        const std::string shown = firstLine->substr(0, firstLine->find_last_not_of(' ') + 1);
        EXPECT_EQ(text.substr(0, shown.size()), shown);
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    }
}

}  // namespace
