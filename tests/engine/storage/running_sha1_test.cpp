#include <cstring>
#include <gtest/gtest.h>

#include "engine/storage/running_sha1.h"
#include "storage_fixtures.h"

namespace {

uint32_t Word(const uint8_t *at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
           (static_cast<uint32_t>(at[3]) << 24);
}

std::string DigestOf(TRunningSha1 &hash)
{
    uint8_t digest[TRunningSha1::kDigestSize];
    hash.Finish(digest);
    return std::string(reinterpret_cast<char *>(digest), sizeof(digest));
}

const uint8_t *Bytes(const std::string &text)
{
    return reinterpret_cast<const uint8_t *>(text.data());
}

TEST(RunningSha1, DigestsInPartsMatchOneShotDigest)
{
    const std::string data = Content(300000, 7);
    for (size_t split : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), size_t(131072), data.size()}) {
        TRunningSha1 hash;
        hash.Update(Bytes(data), split);
        hash.Update(Bytes(data) + split, data.size() - split);
        EXPECT_EQ(DigestOf(hash), Sha1Of(data)) << "split at " << split;
        EXPECT_FALSE(hash.Active());
    }
}

TEST(RunningSha1, ImageFollowsTheRfc3174Layout)
{
    TRunningSha1 hash;
    hash.Update(Bytes("abc"), 3);
    uint8_t image[TRunningSha1::kImageSize];
    ASSERT_TRUE(hash.ExportImage(image));
    // Nothing compressed yet: the initial hash words, 24 bits, 3 bytes pending.
    EXPECT_EQ(Word(image + 0), 0x67452301u);
    EXPECT_EQ(Word(image + 4), 0xEFCDAB89u);
    EXPECT_EQ(Word(image + 8), 0x98BADCFEu);
    EXPECT_EQ(Word(image + 12), 0x10325476u);
    EXPECT_EQ(Word(image + 16), 0xC3D2E1F0u);
    EXPECT_EQ(Word(image + 20), 24u);
    EXPECT_EQ(Word(image + 24), 0u);
    EXPECT_EQ(image[28] | (image[29] << 8), 3);
    EXPECT_EQ(std::memcmp(image + 30, "abc", 3), 0);
    EXPECT_EQ(Word(image + 96), 0u);
    EXPECT_EQ(Word(image + 100), 0u);
}

TEST(RunningSha1, ImageCarriesTheStateAcrossObjects)
{
    const std::string data = Content(200000, 11);
    for (size_t split : {size_t(64), size_t(100), size_t(131072), size_t(131072 + 17)}) {
        TRunningSha1 first;
        first.Update(Bytes(data), split);
        uint8_t image[TRunningSha1::kImageSize];
        ASSERT_TRUE(first.ExportImage(image));
        TRunningSha1 second;
        ASSERT_TRUE(second.ImportImage(image));
        second.Update(Bytes(data) + split, data.size() - split);
        EXPECT_EQ(DigestOf(second), Sha1Of(data)) << "split at " << split;
    }
}

TEST(RunningSha1, ImportRefusesInconsistentImages)
{
    TRunningSha1 source;
    source.Update(Bytes("hello world"), 11);
    uint8_t good[TRunningSha1::kImageSize];
    ASSERT_TRUE(source.ExportImage(good));

    auto refused = [&](auto change) {
        uint8_t image[TRunningSha1::kImageSize];
        std::memcpy(image, good, sizeof(image));
        change(image);
        TRunningSha1 hash;
        const bool taken = hash.ImportImage(image);
        return !taken && !hash.Active();
    };
    EXPECT_TRUE(refused([](uint8_t *image) { image[96] = 1; }));   // computed
    EXPECT_TRUE(refused([](uint8_t *image) { image[100] = 1; }));  // corrupted
    EXPECT_TRUE(refused([](uint8_t *image) { image[28] = 12; }));  // index disagrees with the length
    EXPECT_TRUE(refused([](uint8_t *image) { image[29] = 0x80; })); // negative index
    EXPECT_TRUE(refused([](uint8_t *image) { image[20] = 89; }));  // not whole bytes
    TRunningSha1 hash;
    EXPECT_TRUE(hash.ImportImage(good));
}

TEST(RunningSha1, ImageRoundTripKeepsTheHighLengthWord)
{
    TRunningSha1 hash;
    hash.Update(Bytes("abc"), 3);
    uint8_t image[TRunningSha1::kImageSize];
    ASSERT_TRUE(hash.ExportImage(image));
    image[24] = 1; // 2^32 bits more than the low word says
    TRunningSha1 restored;
    ASSERT_TRUE(restored.ImportImage(image));
    uint8_t again[TRunningSha1::kImageSize];
    ASSERT_TRUE(restored.ExportImage(again));
    EXPECT_EQ(Word(again + 24), 1u);
    EXPECT_EQ(Word(again + 20), 24u);
    TRunningSha1 idle;
    EXPECT_FALSE(idle.ExportImage(again));
}

} // namespace
