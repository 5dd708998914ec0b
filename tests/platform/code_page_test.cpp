#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"

TEST(CodePage, TheFourEastAsianPagesConvertToUtf8)
{
    struct Case {
        int32_t page;
        std::string bytes;
        std::string text;
    } cases[] = {
        {936, "\xC4\xE3\xBA\xC3", "你好"},
        {936, "\x80", "€"}, // the Windows page, not plain GB2312
        {950, "\xA4\xA4\xA4\xE5", "中文"},
        {949, "\xB0\xA1", "가"},
        {932, "\x82\xA0\x83\x41", "あア"},
        {65001, "\xC3\xA9", "é"},
        {1252, "caf\xE9", "café"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.page);
        std::string out;
        EXPECT_TRUE(platform::CodePageToUtf8(c.page, c.bytes, out));
        EXPECT_EQ(out, c.text);
    }
}

TEST(CodePage, BadInputGivesFalseAndEmptyText)
{
    std::string out = "left over";
    EXPECT_FALSE(platform::CodePageToUtf8(936, "\xC4", out)); // cut in the middle of a character
    EXPECT_EQ(out, "");
    out = "left over";
    EXPECT_FALSE(platform::CodePageToUtf8(65001, "\xFF\xFE", out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(platform::CodePageToUtf8(12345, "abc", out));
    EXPECT_FALSE(platform::CodePageToUtf8(0, "abc", out));
    EXPECT_FALSE(platform::CodePageToUtf8(-936, "abc", out));
}

TEST(CodePage, LongTextConvertsWhole)
{
    // Three bytes of UTF-8 from each two-byte GBK character, many times over.
    std::string bytes;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        bytes += "\xC4\xE3";
        expected += "你";
    }
    std::string out;
    ASSERT_TRUE(platform::CodePageToUtf8(936, bytes, out));
    EXPECT_EQ(out, expected);
    // Two-byte code units convert as well.
    ASSERT_TRUE(platform::CodePageToUtf8(1200, std::string("h\0i\0", 4), out));
    EXPECT_EQ(out, "hi");
}

TEST(CodePage, CharsetNames)
{
    EXPECT_EQ(platform::CodePageCharset(936), "CP936");
    EXPECT_EQ(platform::CodePageCharset(65001), "UTF-8");
    EXPECT_EQ(platform::CodePageCharset(28592), "ISO-8859-2");
    EXPECT_EQ(platform::CodePageCharset(54936), "GB18030");
}
