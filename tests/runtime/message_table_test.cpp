#include "runtime/message_table.h"

#include <gtest/gtest.h>

#include "zel/status_codes.h"

TEST(MessageTable, FindsTextsByCode) {
    const zel::MessageEntry* e = zel::FindMessage(ZEL_E_INVALIDARG);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->text, "The parameter is invalid.\r\n");
    EXPECT_EQ(zel::FindMessage(0xC7210000u), nullptr);
    EXPECT_EQ(zel::MessageTableEnd() - zel::MessageTableBegin(), 203);
}
