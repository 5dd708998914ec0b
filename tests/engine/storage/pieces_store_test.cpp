#include <filesystem>
#include <gtest/gtest.h>

#include "engine/base/engine_clock.h"
#include "storage_fixtures.h"
#include "tests/platform/scratch_folder.h"

namespace {

constexpr int32_t kBlock = 16384;
constexpr int32_t kUnit = 131072;

class PieceStore : public ::testing::Test {
protected:
    // One file of the given length in pieces of pieceLength.
    PiecesHandle Build(int64_t length, int32_t pieceLength)
    {
        stream = Content(static_cast<size_t>(length), 42);
        PiecesHandle pieces = MakePieces(sink, scratch.Root().string(), scratch.Path("data.bin"));
        pieces->SetCorruptPieceReporter([this](const TCorruptPieceReport &report) { reports.push_back(report); });
        std::unique_ptr<QElement> info = ParseInfo(SingleFileInfo("data.bin", stream, pieceLength));
        EXPECT_TRUE(pieces->BuildFromInfo(info.get(), nullptr));
        return pieces;
    }

    const uint8_t *At(int64_t offset) const { return reinterpret_cast<const uint8_t *>(stream.data()) + offset; }
    std::string OnDisk() const { return scratch.Read("data.bin.qltmp"); }
    std::string Read(TPieces &pieces, int64_t block, int32_t length, int32_t hint, bool incomplete, int32_t *result)
    {
        std::string out(static_cast<size_t>(length), '\0');
        *result = pieces.ReadBlock(block, length, reinterpret_cast<uint8_t *>(out.data()), hint, incomplete);
        return out.substr(0, static_cast<size_t>(std::max(*result, 0)));
    }

    ScratchFolder scratch;
    RecordingSink sink;
    std::string stream;
    std::vector<TCorruptPieceReport> reports;
};

TEST_F(PieceStore, CompletePieceIsVerifiedInMemoryThenWrittenWhole)
{
    PiecesHandle pieces = Build(3 * 65536 + 1000, 65536);
    CountingSource source(PEER_KIND_HTTP);
    FeedBlocks(*pieces, stream, 65536, 2 * 65536, &source);
    EXPECT_FALSE(pieces->IsNeeded(1));
    EXPECT_FALSE(pieces->IsPieceComplete(1)); // verified, not yet on disk
    EXPECT_TRUE(pieces->HasBlock(5));
    EXPECT_EQ(pieces->VerifiedInMemoryBytes(), 65536);
    EXPECT_EQ(source.references, 1);

    pieces->FlushVerified();
    EXPECT_TRUE(pieces->IsPieceComplete(1));
    EXPECT_EQ(pieces->InMemory(1), 0);
    EXPECT_EQ(pieces->VerifiedBytes(), 65536);
    EXPECT_EQ(pieces->LastCompletedPiece(), 1);
    EXPECT_TRUE(OnDisk().substr(65536, 65536) == stream.substr(65536, 65536));
    EXPECT_EQ(source.wholePieces, 1);
    EXPECT_EQ(source.references, 0);
    ASSERT_FALSE(sink.events.empty());
    const TPiecesEvent &bit = sink.events.back();
    EXPECT_EQ(bit.code, PIECES_EVENT_PIECE_BIT);
    EXPECT_EQ(bit.argument, 1);
    EXPECT_EQ(bit.size, 4);
    EXPECT_EQ(bit.value, 1);
}

TEST_F(PieceStore, CorruptPieceFromABitTorrentPeerIsReportedAndFetchedAgain)
{
    PiecesHandle pieces = Build(4 * 65536, 65536);
    CountingSource peer(PEER_KIND_BT);
    peer.address = 0x0700000A; // 10.0.0.7 in network order
    peer.port = 6881;
    std::string bad = stream.substr(2 * 65536, 65536);
    bad[40000] ^= 1;
    int32_t result = 0;
    for (int32_t i = 0; i < 4; ++i)
        result = pieces->WriteBlock(8 + i, kBlock, reinterpret_cast<const uint8_t *>(bad.data()) + i * kBlock, &peer);
    EXPECT_EQ(result, TPieces::kPieceCorrupt);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].eventCode, "11500102");
    EXPECT_EQ(reports[0].serverIp, "10.0.0.7 : 6881");
    EXPECT_EQ(reports[0].pieceIndex, 2);
    EXPECT_EQ(reports[0].fileName, scratch.Path("data.bin"));
    EXPECT_TRUE(pieces->IsNeeded(2));
    EXPECT_EQ(pieces->InMemory(2), 0);
    EXPECT_FALSE(pieces->HasBlock(8));
    EXPECT_EQ(peer.wholePieces, 1);
    EXPECT_EQ(peer.badPieces, 0); // counted for server sources only
    EXPECT_EQ(peer.references, 0);

    // Good data afterwards completes it.
    FeedBlocks(*pieces, stream, 2 * 65536, 3 * 65536, &peer);
    EXPECT_FALSE(pieces->IsNeeded(2));
}

TEST_F(PieceStore, CorruptPieceFromAServerIsCountedNotReported)
{
    PiecesHandle pieces = Build(2 * 65536, 65536);
    CountingSource server(PEER_KIND_HTTP);
    std::string bad = stream.substr(0, 65536);
    bad[0] ^= 1;
    FeedBlocks(*pieces, bad, 0, 65536, &server);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(server.badPieces, 1);
    EXPECT_EQ(server.lastBadPiece, 0) << "the pool judges a server by the piece that keeps failing";
    EXPECT_EQ(server.wholePieces, 1);
    FeedBlocks(*pieces, stream, 65536, 2 * 65536, &server);
    EXPECT_EQ(server.badPieces, 0); // a good piece clears the count
}

TEST_F(PieceStore, OnlyWholeBlocksAreTaken)
{
    PiecesHandle pieces = Build(65536 + 5000, 65536);
    bool needed = true;
    EXPECT_EQ(pieces->WriteBlock(1, 1000, At(kBlock), nullptr, &needed), -1);
    EXPECT_FALSE(needed);
    EXPECT_FALSE(pieces->HasBlock(1));
    EXPECT_EQ(pieces->InMemory(0), 0);
    // The last block of the stream is short, and whole as it is.
    EXPECT_EQ(pieces->WriteBlock(4, 5000, At(4 * kBlock), nullptr, &needed), 5000);
    EXPECT_TRUE(needed);
    EXPECT_FALSE(pieces->IsNeeded(1)); // the one-block piece verified
    // A longer delivery is cut to the block.
    EXPECT_EQ(pieces->WriteBlock(0, 2 * kBlock, At(0), nullptr, &needed), 2 * kBlock);
    EXPECT_EQ(pieces->InMemory(0), kBlock);
    EXPECT_EQ(pieces->WriteBlock(-1, kBlock, At(0), nullptr), -1);
    EXPECT_EQ(pieces->WriteBlock(5, kBlock, At(0), nullptr), -1);
}

TEST_F(PieceStore, BlocksOfAPieceNotNeededAreTakenButNotKept)
{
    const std::vector<TestFile> files = {{{"a"}, Content(65536, 1)}, {{"b"}, Content(65536, 2)}};
    PiecesHandle pieces = MakePieces(sink, scratch.Root().string());
    std::unique_ptr<QElement> info = ParseInfo(MultiFileInfo("G", files, 65536));
    ASSERT_TRUE(pieces->BuildFromInfo(info.get(), nullptr));
    ASSERT_TRUE(pieces->SelectFile(1, true));
    bool needed = true;
    EXPECT_EQ(pieces->WriteBlock(4, kBlock, reinterpret_cast<const uint8_t *>(files[1].data.data()), nullptr, &needed),
              kBlock);
    EXPECT_FALSE(needed);
    EXPECT_EQ(pieces->InMemory(1), 0);
}

TEST_F(PieceStore, StalledPieceIsWrittenInWholeUnitsAndStillVerifies)
{
    const int32_t piece = 4 * kUnit;
    PiecesHandle pieces = Build(2 * piece, piece);
    CountingSource source(PEER_KIND_HTTP);
    // 18 blocks from the start, and one block further on.
    const int32_t head = 18 * kBlock;
    FeedBlocks(*pieces, stream, 0, head, &source);
    FeedBlocks(*pieces, stream, 25 * kBlock, 26 * kBlock, &source);
    pieces->Housekeeping();
    EXPECT_EQ(pieces->InMemory(0), head + kBlock); // still receiving: kept whole

    AdvanceEngineClock(601);
    pieces->Housekeeping();
    EXPECT_EQ(pieces->InMemory(0), head + kBlock - 2 * kUnit);
    EXPECT_TRUE(OnDisk().substr(0, 2 * kUnit) == stream.substr(0, 2 * kUnit));
    EXPECT_TRUE(pieces->HasBlock(0));
    EXPECT_EQ(pieces->DownloadedBytes(), 2 * kUnit);
    EXPECT_EQ(pieces->DownloadedWithMemoryBytes(), head + kBlock);
    // A block of the part on disk is taken again without being stored.
    EXPECT_EQ(pieces->WriteBlock(0, kBlock, At(0), &source), kBlock);
    EXPECT_EQ(pieces->InMemory(0), head + kBlock - 2 * kUnit);

    // The rest arrives: the hash continues over the part on disk.
    FeedBlocks(*pieces, stream, head, piece, &source);
    EXPECT_FALSE(pieces->IsNeeded(0));
    pieces->FlushVerified();
    EXPECT_TRUE(pieces->IsPieceComplete(0));
    EXPECT_TRUE(OnDisk().substr(0, static_cast<size_t>(piece)) == stream.substr(0, static_cast<size_t>(piece)));
    EXPECT_EQ(source.wholePieces, 1);
}

TEST_F(PieceStore, StalledPieceBelowOneUnitStaysInMemory)
{
    PiecesHandle pieces = Build(4 * kUnit, 4 * kUnit);
    FeedBlocks(*pieces, stream, 0, kUnit - kBlock);
    AdvanceEngineClock(601);
    pieces->Housekeeping();
    EXPECT_EQ(pieces->InMemory(0), kUnit - kBlock);
    EXPECT_EQ(pieces->DownloadedBytes(), 0);
}

TEST_F(PieceStore, CorruptRestAfterAFlushedPrefixResetsTheWholePiece)
{
    PiecesHandle pieces = Build(2 * kUnit, 2 * kUnit);
    FeedBlocks(*pieces, stream, 0, kUnit);
    AdvanceEngineClock(601);
    pieces->Housekeeping();
    ASSERT_EQ(pieces->DownloadedBytes(), kUnit);
    std::string bad = stream;
    bad[kUnit + 5] ^= 1;
    FeedBlocks(*pieces, bad, kUnit, 2 * kUnit);
    EXPECT_TRUE(pieces->IsNeeded(0));
    EXPECT_FALSE(pieces->HasBlock(0)); // the prefix on disk no longer counts
    pieces->Housekeeping();
    EXPECT_EQ(pieces->DownloadedBytes(), 0);
}

TEST_F(PieceStore, ReadsFromMemoryDoNotTouchTheDisk)
{
    PiecesHandle pieces = Build(2 * 65536, 65536);
    FeedBlocks(*pieces, stream, 0, 65536);
    std::filesystem::remove(scratch.Path("data.bin.qltmp"));
    int32_t result = 0;
    EXPECT_EQ(Read(*pieces, 2, kBlock, 0, false, &result), stream.substr(2 * kBlock, kBlock));
    EXPECT_EQ(result, kBlock);
    EXPECT_EQ(pieces->ReadHitCount(), 1);
    EXPECT_EQ(pieces->ReadCount(), 1);
    Read(*pieces, 4, kBlock, 0, false, &result);
    EXPECT_EQ(result, -1); // piece 1 is not complete
}

TEST_F(PieceStore, ReadAheadNeverReturnsBytesThatWereNotWritten)
{
    const int32_t piece = 4 * kUnit;
    PiecesHandle pieces = Build(piece, piece);
    FeedBlocks(*pieces, stream, 0, kUnit + 3 * kBlock);
    AdvanceEngineClock(601);
    pieces->Housekeeping();
    ASSERT_EQ(pieces->DownloadedBytes(), kUnit);
    pieces->DropPiece(0);
    // Dropping cleared the partial state; build a prefix again.
    FeedBlocks(*pieces, stream, 0, kUnit + 3 * kBlock);
    AdvanceEngineClock(601);
    pieces->Housekeeping();
    ASSERT_EQ(pieces->InMemory(0), 3 * kBlock);

    // Inside the prefix: read from disk, with read-ahead stopping at the prefix
    // and blocks in memory left as they are.
    int32_t result = 0;
    EXPECT_EQ(Read(*pieces, 6, kBlock, 1 << 20, true, &result), stream.substr(6 * kBlock, kBlock));
    EXPECT_EQ(result, kBlock);
    EXPECT_EQ(pieces->InMemory(0), 3 * kBlock + (kUnit - 6 * kBlock));
    EXPECT_FALSE(pieces->HasBlock(kUnit / kBlock + 3));
    // Beyond the prefix and not in memory: not available.
    Read(*pieces, kUnit / kBlock + 5, kBlock, 0, true, &result);
    EXPECT_EQ(result, 0);
    // Beyond the prefix but in memory.
    EXPECT_EQ(Read(*pieces, kUnit / kBlock + 1, kBlock, 0, true, &result), stream.substr(kUnit + kBlock, kBlock));
    EXPECT_TRUE(pieces->IsNeeded(0));
    EXPECT_FALSE(pieces->IsPieceComplete(0));
}

TEST_F(PieceStore, CompletePieceIsReadWithReadAheadWithinThePiece)
{
    PiecesHandle pieces = Build(4 * kUnit + 2 * kBlock, 2 * kUnit);
    FeedBlocks(*pieces, stream, 0, static_cast<int64_t>(stream.size()));
    pieces->FlushVerified();
    ASSERT_TRUE(pieces->AllPiecesComplete());
    ASSERT_EQ(pieces->CacheBytes(), 0);
    int32_t result = 0;
    EXPECT_EQ(Read(*pieces, 1, 100, 0, false, &result), stream.substr(kBlock, 100));
    EXPECT_EQ(pieces->InMemory(0), 65536); // the request and read-ahead, in whole blocks
    EXPECT_EQ(Read(*pieces, 2, kBlock, 0, false, &result), stream.substr(2 * kBlock, kBlock));
    EXPECT_EQ(pieces->ReadHitCount(), 1);
    // The short last piece: the window ends with it.
    EXPECT_EQ(Read(*pieces, 32, kBlock, 1 << 20, false, &result), stream.substr(32 * kBlock, kBlock));
    EXPECT_EQ(pieces->InMemory(2), 2 * kBlock);
    EXPECT_EQ(pieces->CacheBytes(), 65536 + 2 * kBlock);
}

TEST_F(PieceStore, StreamReadsStopBeforeTheFirstPieceNotComplete)
{
    const int64_t length = 4 * 65536 + 1000;
    PiecesHandle pieces = Build(length, 65536);
    FeedBlocks(*pieces, stream, 0, 65536);
    pieces->FlushVerified(); // piece 0 on disk
    FeedBlocks(*pieces, stream, 65536, 2 * 65536); // piece 1 verified in memory
    FeedBlocks(*pieces, stream, 2 * 65536, 2 * 65536 + 3 * kBlock); // piece 2 lacks a block
    FeedBlocks(*pieces, stream, 4 * 65536, length); // the short last piece
    std::string out(static_cast<size_t>(length), '\0');
    auto *buffer = reinterpret_cast<uint8_t *>(out.data());

    // From inside a block, across the disk and memory pieces, up to the gap:
    // the blocks piece 2 holds were never verified and stay unread.
    ASSERT_EQ(pieces->ReadStream(100, buffer, length), 2 * 65536 - 100);
    EXPECT_TRUE(out.compare(0, 2 * 65536 - 100, stream, 100, 2 * 65536 - 100) == 0);
    EXPECT_EQ(pieces->ReadStream(2 * 65536, buffer, 10), 0) << "piece 2 is not complete";
    EXPECT_EQ(pieces->ReadStream(2 * 65536 + 5, buffer, 10), 0) << "not even its first blocks";
    ASSERT_EQ(pieces->ReadStream(4 * 65536 + 10, buffer, 65536), 990) << "clipped at the end of the stream";
    EXPECT_TRUE(out.compare(0, 990, stream, 4 * 65536 + 10, 990) == 0);
    EXPECT_EQ(pieces->ReadStream(length, buffer, 10), 0) << "the end has nothing to read";
    EXPECT_EQ(pieces->ReadStream(length + 1, buffer, 10), -1);
    EXPECT_EQ(pieces->ReadStream(-1, buffer, 10), -1);
    EXPECT_EQ(pieces->ReadStream(0, nullptr, 10), -1);
    EXPECT_EQ(pieces->ReadStream(0, buffer, -1), -1);
}

TEST_F(PieceStore, VerifiedPiecesGoToDiskAsSoonAsTheyFillHalfTheBudget)
{
    PiecesHandle pieces = Build(16 * kUnit, kUnit);
    EXPECT_EQ(pieces->CacheBudgetBytes(), 32 * 262144); // until the task hands over its value
    pieces->SetCacheBudget(1);
    EXPECT_EQ(pieces->CacheBudgetBytes(), 4 * 262144);
    int64_t most = 0;
    for (int32_t i = 0; i < 16; ++i) {
        FeedBlocks(*pieces, stream, static_cast<int64_t>(i) * kUnit, static_cast<int64_t>(i + 1) * kUnit);
        most = std::max(most, pieces->VerifiedInMemoryBytes());
    }
    EXPECT_LT(most, pieces->CacheBudgetBytes() / 2);
    EXPECT_GT(pieces->VerifiedBytes(), 0);
    pieces->SetCacheBudget(100000);
    EXPECT_EQ(pieces->CacheBudgetBytes(), int64_t(8000) * 262144);
}

TEST_F(PieceStore, HousekeepingKeepsFewVerifiedPiecesForUploads)
{
    PiecesHandle pieces = Build(4 * kUnit, kUnit);
    pieces->SetCacheBudget(4);
    FeedBlocks(*pieces, stream, 0, kUnit);
    pieces->Housekeeping();
    EXPECT_EQ(pieces->VerifiedInMemoryBytes(), kUnit);
    EXPECT_FALSE(pieces->IsPieceComplete(0));
}

TEST_F(PieceStore, ReadCacheIsEvictedOldestFirstAndWhenStale)
{
    PiecesHandle pieces = Build(8 * 2 * kUnit, 2 * kUnit);
    pieces->SetCacheBudget(4); // 1 MiB
    FeedBlocks(*pieces, stream, 0, static_cast<int64_t>(stream.size()));
    pieces->FlushVerified();
    ASSERT_EQ(pieces->CacheBytes(), 0);
    int32_t result = 0;
    for (int32_t block = 0; block < 8 * 16; block += 4) {
        ASSERT_EQ(Read(*pieces, block, 4 * kBlock, 4 * kBlock, false, &result), stream.substr(block * kBlock, 4 * kBlock));
        EXPECT_LT(pieces->CacheBytes(), pieces->CacheBudgetBytes() + 2 * kUnit);
    }
    EXPECT_LE(pieces->CacheBytes(), pieces->CacheBudgetBytes());
    AdvanceEngineClock(21601);
    pieces->Housekeeping();
    EXPECT_EQ(pieces->CacheBytes(), 0);
}

TEST_F(PieceStore, DroppingForgetsOnlyIncompletePieces)
{
    PiecesHandle pieces = Build(2 * 65536, 65536);
    FeedBlocks(*pieces, stream, 0, 65536 + kBlock);
    pieces->DropPiece(0);
    pieces->DropPiece(1);
    EXPECT_EQ(pieces->InMemory(0), 65536); // verified
    EXPECT_EQ(pieces->InMemory(1), 0);
    EXPECT_FALSE(pieces->HasBlock(4));
    EXPECT_EQ(pieces->CacheBytes(), 65536);
}

TEST_F(PieceStore, CompleteBitChangesAreReportedOnce)
{
    PiecesHandle pieces = Build(3 * 65536, 65536);
    sink.events.clear();
    pieces->SetComplete(2, true);
    pieces->SetComplete(2, true);
    EXPECT_EQ(pieces->VerifiedBytes(), 65536);
    EXPECT_EQ(pieces->LastCompletedPiece(), 2);
    EXPECT_EQ(pieces->Bitfield()[0], 0x20);
    pieces->SetComplete(2, false);
    EXPECT_EQ(pieces->LastCompletedPiece(), -1);
    EXPECT_EQ(pieces->VerifiedBytes(), 0);
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0].argument, 1);
    EXPECT_EQ(sink.events[1].argument, 0);
    EXPECT_EQ(sink.events[1].value, 2);
}

TEST_F(PieceStore, PartialPieceOfADeselectedFileIsDropped)
{
    const std::vector<TestFile> files = {{{"a"}, Content(65536, 1)}, {{"b"}, Content(65536, 2)}};
    PiecesHandle pieces = MakePieces(sink, scratch.Root().string());
    std::unique_ptr<QElement> info = ParseInfo(MultiFileInfo("G", files, 65536));
    ASSERT_TRUE(pieces->BuildFromInfo(info.get(), nullptr));
    pieces->WriteBlock(4, kBlock, reinterpret_cast<const uint8_t *>(files[1].data.data()), nullptr);
    ASSERT_EQ(pieces->InMemory(1), kBlock);
    ASSERT_TRUE(pieces->SelectFile(1, true));
    pieces->Housekeeping();
    EXPECT_EQ(pieces->InMemory(1), 0);
    EXPECT_EQ(pieces->CacheBytes(), 0);
}

} // namespace
