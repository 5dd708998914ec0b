#include "app/base64.h"
#include "app/manifest_block.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Base64DecodeTest, DecodesWholeGroupsAndPadding)
{
    EXPECT_EQ(Base64Decode("TWFu"), "Man");
    EXPECT_EQ(Base64Decode("TWE="), "Ma");
    EXPECT_EQ(Base64Decode("TQ=="), "M");
    EXPECT_EQ(Base64Decode("+/+/"), "\xfb\xff\xbf");
    EXPECT_EQ(Base64Decode(""), "");
}

TEST(Base64DecodeTest, LengthNotAMultipleOfFourGivesNothing)
{
    EXPECT_EQ(Base64Decode("TWFuTW"), "");
    EXPECT_EQ(Base64Decode("TWFuT"), "");
    EXPECT_EQ(Base64Decode("TWF"), "");
}

TEST(Base64DecodeTest, TheFirstPaddedGroupEndsTheText)
{
    EXPECT_EQ(Base64Decode("TQ==TWFu"), "M");
    EXPECT_EQ(Base64Decode("TWE=TWFu"), "Ma");
    // A third '=' with a real fourth character still contributes one byte.
    EXPECT_EQ(Base64Decode("TQ=u"), "M");
}

TEST(Base64DecodeTest, ForeignCharactersGiveNothing)
{
    EXPECT_EQ(Base64Decode("TW u"), "");
    EXPECT_EQ(Base64Decode("TWFu-WFu"), "");
    EXPECT_EQ(Base64Decode("TWF\n"), "");
}

TEST(Base64DecodeTest, TextEndsAtItsNulAndResultAtItsFirstDecodedNul)
{
    EXPECT_EQ(Base64Decode(std::string("TWFu\0garbage", 12)), "Man");
    // "AE1h" is "\0Ma": a NUL-terminated result is empty.
    EXPECT_EQ(Base64Decode("AE1h"), "");
    EXPECT_EQ(Base64Decode("TQBh"), "M");
}

TEST(Base64DecodeTest, ResultStopsBeforeAGroupThatWouldPassTheBuffer)
{
    const std::string exact(4095, 'x');
    EXPECT_EQ(Base64Decode(Base64Encode(exact)), exact);
    const std::string longer(4096 + 600, 'y');
    const std::string decoded = Base64Decode(Base64Encode(longer));
    EXPECT_EQ(decoded, std::string(4095, 'y'));
    // A whole 4096-byte slot of text without a NUL still decodes safely.
    EXPECT_EQ(Base64Decode(std::string(4096, 'A')).size(), 0u); // all zero bytes: empty text
    EXPECT_EQ(Base64Decode(std::string(4096, 'Q')).size(), 3072u);
}

TEST(Base64EncodeTest, RoundTripsEveryLengthRemainder)
{
    for (const std::string text : {"a", "ab", "abc", "abcd", "VRNH_Setup_1_0_1_92.exe"})
        EXPECT_EQ(Base64Decode(Base64Encode(text)), text);
    EXPECT_EQ(Base64Encode("VRNH_92_.7z.001"), "VlJOSF85Ml8uN3ouMDAx");
}

TEST(Base64EncodeTest, WorksAtCompileTimeForTheBuiltInSlots)
{
    constexpr TManifestTextSlot slot = EncodedSlot("Man");
    static_assert(slot[0] == 'T' && slot[1] == 'W' && slot[2] == 'F' && slot[3] == 'u' && slot[4] == '\0');
    constexpr TManifestTextSlot longest = EncodedSlot(std::string_view("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx").substr(0, 30));
    static_assert(longest[40] == '\0');
    EXPECT_EQ(Base64Decode(std::string_view(slot.data(), slot.size())), "Man");
}

} // namespace
