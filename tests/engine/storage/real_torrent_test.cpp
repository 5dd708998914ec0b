// Torrents made by mktorrent: their file tables are built, the content is
// pushed through the piece store in a scattered order, and the files that
// come out must equal the ones the torrent was made from.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

#include "engine/base/engine_clock.h"
#include "platform/run_program.h"
#include "storage_fixtures.h"
#include "tests/platform/scratch_folder.h"

namespace {

struct MadeTorrent {
    std::string metainfo;
    std::unique_ptr<QElement> root;
    const QElement *info = nullptr;
};

bool MakeTorrent(const ScratchFolder &scratch, const std::string &content, int pieceExponent, MadeTorrent &made)
{
    const std::string out = scratch.Path("made.torrent");
    std::string noise;
    const int rc = platform::RunProgram({"mktorrent", "-l", std::to_string(pieceExponent), "-a",
                                         "http://127.0.0.1:1/announce", "-o", out, scratch.Path(content)},
                                        &noise);
    if (rc != 0)
        return false;
    made.metainfo = scratch.Read("made.torrent");
    made.root = ParseInfo(made.metainfo);
    made.info = made.root ? made.root->FindValue("info") : nullptr;
    return made.info != nullptr;
}

// Every block of the stream once, in a shuffled order, with stalls that make
// the store write prefixes of unfinished pieces early.
void FeedScattered(TPieces &pieces, const std::string &stream)
{
    std::vector<int64_t> blocks;
    for (int64_t at = 0; at < static_cast<int64_t>(stream.size()); at += 16384)
        blocks.push_back(at / 16384);
    std::mt19937 order(7);
    std::shuffle(blocks.begin(), blocks.end(), order);
    for (size_t i = 0; i < blocks.size(); ++i) {
        FeedBlocks(pieces, stream, blocks[i] * 16384, blocks[i] * 16384 + 1);
        if (i % 7 == 6) {
            AdvanceEngineClock(601);
            pieces.Housekeeping();
        }
    }
}

class RealTorrent : public ::testing::Test {
protected:
    void MakeContent(const std::vector<std::pair<std::string, size_t>> &files)
    {
        uint32_t seed = 1;
        for (const auto &[name, size] : files) {
            std::filesystem::create_directories(std::filesystem::path(source.Path(name)).parent_path());
            source.Write(name, Content(size, seed++));
        }
    }

    ScratchFolder source;
    ScratchFolder target;
    RecordingSink sink;
};

TEST_F(RealTorrent, MultiFileTorrentComesOutByteForByte)
{
    MakeContent({{"Pack/a.bin", 100000}, {"Pack/empty", 0}, {"Pack/sub/b.bin", 1}, {"Pack/sub/c.bin", 250000},
                 {"Pack/z.bin", 32768}});
    MadeTorrent made;
    ASSERT_TRUE(MakeTorrent(source, "Pack", 15, made));

    PiecesHandle pieces = MakePieces(sink, target.Root().string());
    ASSERT_TRUE(pieces->BuildFromInfo(made.info, nullptr));
    ASSERT_EQ(pieces->FileCount(), 5);
    std::string stream;
    for (int32_t i = 0; i < pieces->FileCount(); ++i) {
        const TTaskFile &file = *pieces->File(i);
        std::string name = file.relativeName;
        std::replace(name.begin(), name.end(), '\\', '/');
        EXPECT_EQ(file.offset, static_cast<int64_t>(stream.size()));
        stream += source.Read(name);
    }
    ASSERT_EQ(pieces->TotalLength(), static_cast<int64_t>(stream.size()));

    FeedScattered(*pieces, stream);
    EXPECT_EQ(sink.Count(PIECES_EVENT_DISK_FULL), 0);
    pieces->CloseFiles(true);
    ASSERT_TRUE(pieces->AllPiecesComplete());
    for (const char *name : {"Pack/a.bin", "Pack/empty", "Pack/sub/b.bin", "Pack/sub/c.bin", "Pack/z.bin"}) {
        EXPECT_TRUE(std::filesystem::exists(target.Path(name))) << name;
        EXPECT_TRUE(target.Read(name) == source.Read(name)) << name;
        EXPECT_FALSE(std::filesystem::exists(target.Path(std::string(name) + ".qltmp"))) << name;
    }
}

TEST_F(RealTorrent, SingleFileWithAnOddLastPieceComesOutByteForByte)
{
    MakeContent({{"setup.exe", 3 * 65536 + 12345}});
    MadeTorrent made;
    ASSERT_TRUE(MakeTorrent(source, "setup.exe", 16, made));

    PiecesHandle pieces = MakePieces(sink, target.Root().string(), target.Path("out/setup.exe"));
    ASSERT_TRUE(pieces->BuildFromInfo(made.info, nullptr));
    EXPECT_EQ(pieces->PieceCount(), 4);
    const std::string stream = source.Read("setup.exe");
    FeedScattered(*pieces, stream);
    pieces->CloseFiles(true);
    EXPECT_TRUE(target.Read("out/setup.exe") == stream);
}

TEST_F(RealTorrent, CorruptedBlocksAreRefetchedUntilTheFilesAreRight)
{
    MakeContent({{"Pack/a.bin", 200000}, {"Pack/b.bin", 70000}});
    MadeTorrent made;
    ASSERT_TRUE(MakeTorrent(source, "Pack", 15, made));
    PiecesHandle pieces = MakePieces(sink, target.Root().string());
    ASSERT_TRUE(pieces->BuildFromInfo(made.info, nullptr));
    const std::string stream = source.Read("Pack/a.bin") + source.Read("Pack/b.bin");
    std::string damaged = stream;
    for (size_t at = 1000; at < damaged.size(); at += 50000)
        damaged[at] ^= 0x40;
    FeedScattered(*pieces, damaged);
    EXPECT_FALSE(pieces->AllPiecesComplete());
    // Fetching what is still needed again, from good data this time.
    for (int32_t piece = 0; piece < pieces->PieceCount(); ++piece) {
        if (pieces->IsNeeded(piece)) {
            const int64_t start = static_cast<int64_t>(piece) * pieces->PieceLength();
            FeedBlocks(*pieces, stream, start, std::min<int64_t>(start + pieces->PieceLength(), stream.size()));
        }
    }
    pieces->CloseFiles(true);
    ASSERT_TRUE(pieces->AllPiecesComplete());
    EXPECT_TRUE(target.Read("Pack/a.bin") == source.Read("Pack/a.bin"));
    EXPECT_TRUE(target.Read("Pack/b.bin") == source.Read("Pack/b.bin"));
}

} // namespace
