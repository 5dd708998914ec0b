// The byte formats of the task state file: the file itself, the resume
// record, the selection record and the block spill file.
#include <cstring>
#include <gtest/gtest.h>

#include "engine/storage/block_spill.h"
#include "engine/storage/resume_record.h"
#include "engine/storage/seeded_adler32.h"
#include "engine/storage/selection_record.h"
#include "engine/storage/source_versions.h"
#include "engine/storage/task_state_file.h"
#include "tests/platform/scratch_folder.h"

namespace {

std::array<uint8_t, 20> Hash(uint8_t fill)
{
    std::array<uint8_t, 20> hash{};
    hash.fill(fill);
    return hash;
}

// An image of a context that hashed `bytes` whole bytes (no block pending
// when bytes is a multiple of 64).
std::array<uint8_t, TRunningSha1::kImageSize> ImageOf(const std::string &fed)
{
    TRunningSha1 hash;
    hash.Update(reinterpret_cast<const uint8_t *>(fed.data()), fed.size());
    std::array<uint8_t, TRunningSha1::kImageSize> image{};
    hash.ExportImage(image.data());
    return image;
}

TEST(SeededAdler32Test, StartsFromTheSeedAndMatchesTheReferenceForOne)
{
    const std::string text = "Wikipedia";
    EXPECT_EQ(SeededAdler32(1, reinterpret_cast<const uint8_t *>(text.data()), text.size()), 0x11E60398u);
    // Index 0 starts both sums at 0: one byte b gives A = b, B = b.
    const uint8_t one = 7;
    EXPECT_EQ(SeededAdler32(0, &one, 1), 0x00070007u);
    // The halves of a large index are reduced, not carried over.
    EXPECT_EQ(SeededAdler32(0xFFFFFFFFu, &one, 1), ((14u + 21u) % 65521u) << 16 | (14u + 7u));
}

TEST(TaskStateFileTest, WritesTheValuesInOrderAndSkipsEmptyOnes)
{
    TTaskStateValues values;
    values.bits = "BBB";
    values.seeds = "SSSS";
    values.torrent = "d1:xe";
    EXPECT_EQ(EncodeStateFile(values), "d4:bits3:BBB5:seeds4:SSSS7:torrent5:d1:xee");
    values.part = "PPP";
    EXPECT_EQ(EncodeStateFile(values), "d4:bits3:BBB4:part3:PPP5:seeds4:SSSS7:torrent5:d1:xee");
    // The sources' versions come last, so the dictionary stays sorted.
    values.versions = "u\n";
    EXPECT_EQ(EncodeStateFile(values), "d4:bits3:BBB4:part3:PPP5:seeds4:SSSS7:torrent5:d1:xe8:versions2:u\ne");
}

TEST(TaskStateFileTest, ShortValuesAndDamagedFilesLeaveValuesAlone)
{
    TTaskStateValues values;
    values.seeds = "old seeds";
    ASSERT_TRUE(DecodeStateFile("d4:bits3:abc4:part2:xy7:torrent1:te", values));
    EXPECT_EQ(values.bits, "abc");
    EXPECT_TRUE(values.part.empty()) << "2 bytes or fewer count as absent";
    EXPECT_EQ(values.seeds, "old seeds");
    EXPECT_TRUE(values.torrent.empty());

    for (const char *bad : {"", "l4:bitse", "d4:bits999:abce", "x", "d4:bits"}) {
        TTaskStateValues untouched;
        untouched.bits = "keep";
        EXPECT_FALSE(DecodeStateFile(bad, untouched)) << bad;
        EXPECT_EQ(untouched.bits, "keep");
    }
}

TEST(TaskStateFileTest, SavesOnlyWhenDirtyAndReplacesTheWholeFile)
{
    ScratchFolder scratch;
    const std::string path = scratch.Path("game.bin.qlinfo");
    TTaskStateValues values;
    EXPECT_TRUE(SaveStateFile(path, values));
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing dirty, nothing written";

    values.bits = std::string(5000, 'b');
    values.bitsDirty = true;
    ASSERT_TRUE(SaveStateFile(path, values));
    EXPECT_FALSE(values.AnyDirty());
    values.bits = "short one";
    values.bitsDirty = true;
    ASSERT_TRUE(SaveStateFile(path, values));
    EXPECT_EQ(scratch.Read("game.bin.qlinfo"), "d4:bits9:short onee") << "no tail of the longer old file";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Root()), {}), 1) << "no temp file left";

    TTaskStateValues loaded;
    loaded.bitsDirty = true;
    ASSERT_TRUE(LoadStateFile(path, loaded));
    EXPECT_EQ(loaded.bits, "short one");
    EXPECT_FALSE(loaded.AnyDirty());
    EXPECT_FALSE(LoadStateFile("", loaded));

    values.partDirty = true;
    EXPECT_FALSE(SaveStateFile(scratch.Path("missing/folder/x.qlinfo"), values));
    EXPECT_TRUE(values.partDirty) << "a failed save keeps the values to write";
}

TEST(SourceVersionsTest, RoundTripsAndRefusesWhatCouldBreakItsLines)
{
    TSourceVersions versions;
    versions.firstUrl = "http://a.example/f.bin";
    versions.validators["http://a.example/f.bin"] = "\"5f-1\"";
    versions.validators["http://b.example/f.bin"] = "Tue, 08 Dec 2026 10:00:00 GMT";
    TSourceVersions read;
    ASSERT_TRUE(DecodeSourceVersions(EncodeSourceVersions(versions), read));
    EXPECT_EQ(read.firstUrl, versions.firstUrl);
    EXPECT_EQ(read.validators, versions.validators);

    for (const char *bad : {"http://a/f", "http://a/f\nno tab\n", "http://a/f\n\tv\n", "http://a/f\nu\t\n",
                            "http://a/f\nu\tv\x01\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(DecodeSourceVersions(bad, read));
        EXPECT_TRUE(read.Empty());
    }
    std::string many = "http://a/f\n";
    for (size_t i = 0; i <= TSourceVersions::kMaxSources; ++i)
        many += "http://m" + std::to_string(i) + "/f\tv\n";
    EXPECT_FALSE(DecodeSourceVersions(many, read));
}

TEST(ResumeRecordTest, ZeroValuesAreBareKeysInTheFixedOrder)
{
    TResumeRecordData record;
    record.infoHash = Hash('h');
    record.files.push_back({"/d/a.qltmp", 0, 7, -1, 0});
    TResumePieceState piece;
    piece.index = 0;
    piece.part = 131072;
    piece.image = ImageOf(std::string(131072, 'x'));
    record.partialPieces.push_back(piece);
    record.bitfield = std::string("\x80", 1);
    const std::string encoded = EncodeResumeRecord(record);
    const std::string expectedHead = "d8:infohash20:" + std::string(20, 'h') +
                                     "10:/d/a.qltmp3:Low4:Highi7e4:Sizei-1e8:Priority11:PieceStatusld5:Index4:Parti131072e6:Status104:";
    EXPECT_EQ(encoded.substr(0, expectedHead.size()), expectedHead);
    const std::string expectedTail = "ee8:BitField1:\x80" "e";
    EXPECT_EQ(encoded.substr(encoded.size() - expectedTail.size()), expectedTail);

    TResumeRecordReader reader;
    ASSERT_TRUE(reader.Parse(encoded));
    TResumeFileState file;
    bool hasPriority = false;
    ASSERT_TRUE(reader.FindFile("/d/a.qltmp", "", file, hasPriority));
    EXPECT_EQ(file.timeLow, 0u);
    EXPECT_EQ(file.timeHigh, 7u);
    EXPECT_EQ(file.size, -1);
    EXPECT_TRUE(hasPriority);
    EXPECT_EQ(file.priority, 0);
    const auto entries = reader.PieceEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].index, 0);
    EXPECT_EQ(entries[0].part, 131072);
    EXPECT_EQ(ImageBitCount(entries[0].image.data()), 131072u * 8);
}

TEST(ResumeRecordTest, FilesAreFoundUnderTheirTemporaryOrFinalNameOnly)
{
    TResumeRecordData record;
    record.files.push_back({"/d/a.bin.qltmp", 1, 2, 10, 0});
    TResumeRecordReader reader;
    ASSERT_TRUE(reader.Parse(EncodeResumeRecord(record)));
    TResumeFileState file;
    bool hasPriority = false;
    EXPECT_TRUE(reader.FindFile("/d/a.bin", "/d/a.bin.qltmp", file, hasPriority));
    EXPECT_FALSE(reader.FindFile("/d/a.bin", "", file, hasPriority));
    // A group that does not go on with Low, High, Size is no group.
    ASSERT_TRUE(reader.Parse("d8:infohash3:abc6:/d/x.b3:Lowi1e4:Sizei1e4:Highi2ee"));
    EXPECT_FALSE(reader.FindFile("/d/x.b", "", file, hasPriority));
    ASSERT_TRUE(reader.Parse("d6:/d/x.b3:Lowi1e4:Highi2ee"));
    EXPECT_FALSE(reader.FindFile("/d/x.b", "", file, hasPriority)) << "the record ends early";
}

TEST(ResumeRecordTest, InfoHashIsCheckedOnlyWhenWhole)
{
    TResumeRecordData record;
    record.infoHash = Hash(1);
    TResumeRecordReader reader;
    ASSERT_TRUE(reader.Parse(EncodeResumeRecord(record)));
    EXPECT_TRUE(reader.InfoHashMatches(Hash(1).data()));
    EXPECT_FALSE(reader.InfoHashMatches(Hash(2).data()));
    ASSERT_TRUE(reader.Parse("d8:infohash3:abce"));
    EXPECT_TRUE(reader.InfoHashMatches(Hash(2).data()));
}

TEST(ResumeRecordTest, DamagedPieceEntriesAreSkippedOneByOne)
{
    const auto image = ImageOf(std::string(64, 'y'));
    const std::string status(reinterpret_cast<const char *>(image.data()), image.size());
    auto entry = [&](const std::string &index, const std::string &part, const std::string &statusBytes,
                     int64_t checksum) {
        return "d" + index + part + "6:Status" + std::to_string(statusBytes.size()) + ":" + statusBytes +
               "5:CRC32i" + std::to_string(checksum) + "ee";
    };
    const uint32_t good = ResumeEntryChecksum(3, image.data());
    const std::string list = "l" + entry("5:Indexi3e", "4:Parti64e", status, good) +     // kept
                             entry("5:Indexi3e", "4:Parti64e", status, good + 1) +       // checksum
                             entry("5:Indexi4e", "4:Parti64e", status, good) +           // other index
                             entry("5:Indexi3e", "4:Part", status, good) +               // "Part" key not a number
                             entry("5:Indexi3e", "4:Parti64e", status.substr(1), good) + // short image
                             entry("4:Parti64e", "5:Indexi3e", status, good) +           // order
                             entry("5:Indexi3e", "4:Parti64e", status, good + (int64_t{1} << 32)) + "e";
    TResumeRecordReader reader;
    ASSERT_TRUE(reader.Parse("d11:PieceStatus" + list + "e"));
    const auto entries = reader.PieceEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].index, 3);
}

TEST(SelectionRecordTest, DeselectedNamesCarryOneAndEachIsFollowedByAnEmptyDictionary)
{
    const std::string encoded = EncodeSelectionRecord({{"G\\a", false}, {"G\\b", true}});
    EXPECT_EQ(encoded, "l3:G\\ade3:G\\bi1edee");
    std::set<std::string> deselected;
    ASSERT_TRUE(DecodeSelectionRecord(encoded, deselected));
    EXPECT_EQ(deselected, std::set<std::string>{"G\\b"});
    EXPECT_FALSE(DecodeSelectionRecord("le", deselected));
    EXPECT_FALSE(DecodeSelectionRecord("d1:ai1ee", deselected));
    EXPECT_FALSE(DecodeSelectionRecord("", deselected));
}

class BlockSpillTest : public ::testing::Test {
protected:
    TBlockSpillReader Reader(const std::string &bytes, int32_t pieceLength, int32_t pieceCount)
    {
        source = bytes;
        position = 0;
        return TBlockSpillReader(
            [this](uint8_t *buffer, int64_t length) {
                const int64_t take = std::min<int64_t>(length, static_cast<int64_t>(source.size()) - position);
                std::memcpy(buffer, source.data() + position, static_cast<size_t>(take));
                position += take;
                return take;
            },
            hash.data(), pieceLength, pieceCount);
    }

    std::array<uint8_t, 20> hash = Hash(9);
    std::string source;
    int64_t position = 0;
};

TEST_F(BlockSpillTest, RecordsRoundTripWithTheirHeaders)
{
    const std::string a(100, 'a');
    const std::string b(16384, 'b');
    std::string file;
    AppendSpillRecord(file, 2, hash.data(), reinterpret_cast<const uint8_t *>(a.data()), a.size());
    AppendSpillRecord(file, 5, hash.data(), reinterpret_cast<const uint8_t *>(b.data()), b.size());
    ASSERT_EQ(file.size(), 16 + 100 + 16 + 16384u);
    EXPECT_EQ(file.substr(0, 4), std::string("\x64\0\0\0", 4));
    EXPECT_EQ(file.substr(8, 8), std::string("\x02\0\0\0\0\0\0\0", 8));
    uint32_t checksum = 0;
    std::memcpy(&checksum, file.data() + 4, 4);
    const uint32_t seed = SeededAdler32(2, hash.data(), 20);
    EXPECT_EQ(checksum, SeededAdler32(seed, reinterpret_cast<const uint8_t *>(a.data()), a.size()));

    TBlockSpillReader reader = Reader(file, 65536, 8);
    TSpillRecord record;
    ASSERT_TRUE(reader.Next(record));
    EXPECT_EQ(record.piece, 2);
    EXPECT_EQ(std::string(record.data.begin(), record.data.end()), a);
    ASSERT_TRUE(reader.Next(record));
    EXPECT_EQ(record.piece, 5);
    EXPECT_FALSE(reader.Next(record));
}

TEST_F(BlockSpillTest, ReadingStopsAtTheFirstBadRecord)
{
    const std::string a(100, 'a');
    std::string one;
    AppendSpillRecord(one, 1, hash.data(), reinterpret_cast<const uint8_t *>(a.data()), a.size());
    TSpillRecord record;
    struct Case {
        const char *what;
        std::string bytes;
        int32_t pieceCount;
    };
    std::string flipped = one;
    flipped[40] ^= 1;
    std::string huge = one;
    huge.replace(0, 4, std::string("\xFF\xFF\xFF\x7F", 4));
    std::string zero = one;
    zero.replace(0, 4, std::string(4, '\0'));
    for (const Case &bad : {Case{"checksum", flipped + one, 8}, Case{"piece outside the table", one + one, 1},
                            Case{"length beyond the limit", huge + one, 8}, Case{"zero length", zero + one, 8},
                            Case{"short data", one.substr(0, 50), 8}, Case{"short header", one.substr(0, 10), 8}}) {
        TBlockSpillReader reader = Reader(bad.bytes, 65536, bad.pieceCount);
        EXPECT_FALSE(reader.Next(record)) << bad.what;
        EXPECT_FALSE(reader.Next(record)) << bad.what << ": nothing after a bad record";
    }
    // Another task's records (other info hash) do not check out.
    std::string foreign;
    const auto other = Hash(3);
    AppendSpillRecord(foreign, 1, other.data(), reinterpret_cast<const uint8_t *>(a.data()), a.size());
    TBlockSpillReader reader = Reader(foreign, 65536, 8);
    EXPECT_FALSE(reader.Next(record));
}

} // namespace
