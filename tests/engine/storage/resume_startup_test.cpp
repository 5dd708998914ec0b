// A data file that saves its state and is built again over the same files:
// the resume record, the spill file, and the checks that take over when the
// record cannot be trusted.
#include <filesystem>
#include <gtest/gtest.h>

#include "engine/base/engine_clock.h"
#include "engine/storage/block_spill.h"
#include "engine/storage/resume_record.h"
#include "engine/storage/task_state_file.h"
#include "storage_fixtures.h"
#include "tests/platform/scratch_folder.h"

namespace {

constexpr int32_t kBlock = 16384;

// Keeps the records a data file hands over, as the task does.
class StateSink : public RecordingSink {
public:
    void OnDataFileEvent(const TPiecesEvent &event) override
    {
        RecordingSink::OnDataFileEvent(event);
        if (event.code != PIECES_EVENT_RESUME_BITS && event.code != PIECES_EVENT_SELECTION_RECORD)
            return;
        std::string &record = event.code == PIECES_EVENT_RESUME_BITS ? values.bits : values.part;
        record.assign(static_cast<const char *>(event.bytes != nullptr ? event.bytes : ""),
                      static_cast<size_t>(event.size));
    }
    TTaskStateValues values;
};

class ResumeStartup : public ::testing::Test {
protected:
    // A data file over the info dictionary, started from the saved values.
    PiecesHandle Open(const std::string &info, bool storeMode = false)
    {
        sink = std::make_unique<StateSink>();
        PiecesHandle pieces = MakePieces(*sink, scratch.Root().string() + "/", "");
        pieces->SetStartupInput(saved.bits, saved.part, scratch.Path("state.qlinfodf"), storeMode);
        std::unique_ptr<QElement> parsed = ParseInfo(info);
        EXPECT_TRUE(pieces->BuildFromInfo(parsed.get(), nullptr));
        std::copy(pieces->InfoHash().Bytes(), pieces->InfoHash().Bytes() + 20, infoHash.begin());
        return pieces;
    }

    // What the task does at the stop.
    void Stop(PiecesHandle &pieces)
    {
        pieces->FlushVerified();
        pieces->CloseFiles(false);
        ASSERT_TRUE(pieces->SyncFiles());
        pieces->SaveBlockSpill();
        ASSERT_TRUE(pieces->BuildResumeRecord());
        pieces->BuildSelectionRecord();
        saved = sink->values;
        pieces.reset();
    }

    const uint8_t *At(int64_t offset) const { return reinterpret_cast<const uint8_t *>(stream.data()) + offset; }
    int32_t Feed(TPieces &pieces, int64_t from, int64_t to)
    {
        int32_t taken = 0;
        for (int64_t at = from; at < to; at += kBlock) {
            bool needed = false;
            const auto length = static_cast<int32_t>(std::min<int64_t>(kBlock, stream.size() - at));
            pieces.WriteBlock(at / kBlock, length, At(at), nullptr, &needed);
            taken += needed ? 1 : 0;
        }
        return taken;
    }
    std::string Single(int64_t length, int32_t pieceLength)
    {
        stream = Content(static_cast<size_t>(length), 7);
        return SingleFileInfo("data.bin", stream, pieceLength);
    }
    std::vector<int32_t> CompletePieces(const TPieces &pieces) const
    {
        std::vector<int32_t> complete;
        for (int32_t i = 0; i < pieces.PieceCount(); ++i) {
            if (pieces.IsPieceComplete(i))
                complete.push_back(i);
        }
        return complete;
    }
    // Rewrites the saved resume record through its own format.
    void EditRecord(const std::function<void(TResumeRecordData &)> &edit)
    {
        TResumeRecordReader reader;
        ASSERT_TRUE(reader.Parse(saved.bits));
        TResumeRecordData record;
        record.infoHash = infoHash;
        TResumeFileState file;
        bool hasPriority = false;
        ASSERT_TRUE(reader.FindFile(scratch.Path("data.bin.qltmp"), scratch.Path("data.bin"), file, hasPriority));
        record.files.push_back(file);
        std::string_view bits;
        ASSERT_TRUE(reader.BitField(bits));
        record.bitfield = std::string(bits);
        record.partialPieces = reader.PieceEntries();
        edit(record);
        saved.bits = EncodeResumeRecord(record);
    }

    ScratchFolder scratch;
    std::unique_ptr<StateSink> sink;
    TTaskStateValues saved;
    std::string stream;
    std::array<uint8_t, 20> infoHash{};
};

TEST_F(ResumeStartup, CompletePiecesAndAStalledPrefixSurviveAStop)
{
    const std::string info = Single(4 * 262144, 262144);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 262144);                 // piece 0 whole
    Feed(*pieces, 2 * 262144, 2 * 262144 + 131072); // half of piece 2
    AdvanceEngineClock(700);
    pieces->Housekeeping(); // the stalled half goes to disk, hashed on the way
    Stop(pieces);

    PiecesHandle again = Open(info);
    EXPECT_EQ(sink->Count(PIECES_EVENT_FLUSH), 2) << "at the start and after the record applied";
    EXPECT_EQ(CompletePieces(*again), std::vector<int32_t>{0});
    EXPECT_EQ(again->PartialPieces(), std::vector<int32_t>{2});
    EXPECT_TRUE(again->HasBlock(2 * 262144 / kBlock));
    // Only the missing half is fetched: the hash continues from the record.
    Feed(*again, 2 * 262144 + 131072, 3 * 262144);
    again->FlushVerified();
    EXPECT_EQ(CompletePieces(*again), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(again->VerifiedBytes(), 2 * 262144);
}

TEST_F(ResumeStartup, RecordSavedUnderTheTemporaryNameIsFoundAfterTheRename)
{
    const std::string info = Single(2 * 65536, 65536);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 65536);
    Stop(pieces);
    std::filesystem::rename(scratch.Path("data.bin.qltmp"), scratch.Path("data.bin"));
    PiecesHandle again = Open(info);
    EXPECT_EQ(CompletePieces(*again), std::vector<int32_t>{0});
    EXPECT_EQ(sink->Count(PIECES_EVENT_PIECE_BIT), 1) << "no full check ran";
}

TEST_F(ResumeStartup, FileThatDidNotExistStaysValidWhileItStillDoesNot)
{
    // A two-file torrent whose second file is deselected and never created.
    stream = Content(3 * 65536, 3);
    const std::string info = MultiFileInfo("G", {{{"a"}, stream.substr(0, 65536)}, {{"b"}, stream.substr(65536)}}, 65536);
    saved.part = "l3:G\\a" "de3:G\\bi1edee";
    PiecesHandle pieces = Open(info);
    ASSERT_FALSE(pieces->File(1)->Selected());
    Feed(*pieces, 0, 65536);
    Stop(pieces);
    TResumeRecordReader reader;
    ASSERT_TRUE(reader.Parse(saved.bits));
    TResumeFileState second;
    bool hasPriority = false;
    ASSERT_TRUE(reader.FindFile(scratch.Path("G/b.qltmp"), "", second, hasPriority));
    EXPECT_EQ(second.size, -1);
    EXPECT_EQ(second.timeLow | second.timeHigh, 0u);

    PiecesHandle again = Open(info);
    EXPECT_EQ(CompletePieces(*again), std::vector<int32_t>{0});
    EXPECT_FALSE(again->File(1)->Selected()) << "the selection record applies";
    Stop(again);

    scratch.Write("G/b.qltmp", "appeared");
    PiecesHandle third = Open(info);
    EXPECT_GT(sink->Count(PIECES_EVENT_PIECE_BIT), 0) << "a file that appeared sends the task to the full check";
    EXPECT_EQ(CompletePieces(*third), std::vector<int32_t>{0});
}

TEST_F(ResumeStartup, SizeDecidesAndTheTimeDoesNot)
{
    const std::string info = Single(2 * 65536, 65536);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 65536, 2 * 65536);
    Stop(pieces);
    std::filesystem::last_write_time(scratch.Path("data.bin.qltmp"),
                                     std::filesystem::last_write_time(scratch.Path("data.bin.qltmp")) - std::chrono::hours(5));
    PiecesHandle again = Open(info);
    EXPECT_EQ(CompletePieces(*again), std::vector<int32_t>{1});
    EXPECT_EQ(sink->Count(PIECES_EVENT_PIECE_BIT), 1);
    Stop(again);

    // Shorter on disk: the record is stale, the full check finds what is there.
    std::filesystem::resize_file(scratch.Path("data.bin.qltmp"), 65536 + 100);
    PiecesHandle third = Open(info);
    EXPECT_TRUE(CompletePieces(*third).empty());
}

TEST_F(ResumeStartup, DamagedOrForeignStateFallsBackToTheFullCheck)
{
    const std::string info = Single(3 * 65536, 65536);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 3 * 65536 - 65536);
    Stop(pieces);
    const TTaskStateValues good = saved;
    std::vector<std::string> bad = {"", "d", "x", good.bits.substr(0, good.bits.size() / 2),
                                    "d8:infohash20:" + std::string(20, 'z') + "e"};
    std::string otherHash = good.bits;
    otherHash[14] ^= 0x55; // inside the info hash
    bad.push_back(otherHash);
    std::string shortBits = good.bits;
    shortBits.replace(shortBits.size() - 4, 4, "0:" "e"); // no bitfield bytes
    bad.push_back(shortBits);
    for (const std::string &bits : bad) {
        saved = good;
        saved.bits = bits;
        PiecesHandle again = Open(info);
        EXPECT_EQ(CompletePieces(*again), (std::vector<int32_t>{0, 1})) << "record: " << bits.substr(0, 30);
        EXPECT_EQ(sink->Count(PIECES_EVENT_PIECE_BIT), 2) << "the full check marked the pieces";
    }
}

TEST_F(ResumeStartup, PartialEntriesAreCheckedAgainstThePiece)
{
    const std::string info = Single(2 * 262144, 262144);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 131072);
    AdvanceEngineClock(700);
    pieces->Housekeeping();
    Stop(pieces);
    const TTaskStateValues good = saved;

    struct Case {
        const char *what;
        std::function<void(TResumePieceState &)> edit;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"as saved", [](TResumePieceState &) {}, true},
        {"not a multiple of 131072", [](TResumePieceState &p) { p.part = 196608; }, false},
        {"image hashed another length", [](TResumePieceState &p) { p.part = 131072 * 2 - 131072; p.image[20] ^= 8; }, false},
        {"a whole piece", [](TResumePieceState &p) { p.part = 262144; }, false},
        {"block index out of range", [](TResumePieceState &p) { p.image[28] = 64; }, false},
        {"marked computed", [](TResumePieceState &p) { p.image[96] = 1; }, false},
        {"beyond the pieces", [](TResumePieceState &p) { p.index = 9; }, false},
    };
    for (const Case &c : cases) {
        saved = good;
        EditRecord([&](TResumeRecordData &record) {
            ASSERT_EQ(record.partialPieces.size(), 1u);
            c.edit(record.partialPieces[0]);
        });
        PiecesHandle again = Open(info);
        EXPECT_EQ(again->PartialPieces().size(), c.kept ? 1u : 0u) << c.what;
        EXPECT_EQ(again->HasBlock(0), c.kept) << c.what;
    }

    // A checksum that does not match is ignored: the piece restarts.
    saved = good;
    const size_t at = saved.bits.find("5:CRC32i") + 8;
    saved.bits[at] = saved.bits[at] == '1' ? '2' : '1';
    PiecesHandle again = Open(info);
    EXPECT_TRUE(again->PartialPieces().empty());
}

TEST_F(ResumeStartup, RestoredBeginningNeverVouchesForBytesAfterAReset)
{
    const std::string info = Single(262144, 262144);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 131072);
    AdvanceEngineClock(700);
    pieces->Housekeeping();
    Stop(pieces);

    PiecesHandle again = Open(info);
    ASSERT_EQ(again->PartialPieces(), std::vector<int32_t>{0});
    // A bad tail fails the piece: prefix and its hash go together.
    std::string tail = stream.substr(131072);
    tail[5] ^= 1;
    for (int64_t at = 0; at < 131072; at += kBlock)
        again->WriteBlock((131072 + at) / kBlock, kBlock, reinterpret_cast<const uint8_t *>(tail.data()) + at, nullptr);
    EXPECT_TRUE(again->PartialPieces().empty());
    EXPECT_FALSE(again->HasBlock(0));
    // A bad head now, then the good tail: the piece must not pass.
    std::string head = stream.substr(0, 131072);
    head[7] ^= 1;
    for (int64_t at = 0; at < 131072; at += kBlock)
        again->WriteBlock(at / kBlock, kBlock, reinterpret_cast<const uint8_t *>(head.data()) + at, nullptr);
    AdvanceEngineClock(700);
    again->Housekeeping();
    EXPECT_TRUE(again->HasBlock(0));
    EXPECT_EQ(again->InMemory(0), 131072) << "not written over what the saved record vouches for";
    Feed(*again, 131072, 262144);
    again->FlushVerified();
    EXPECT_FALSE(again->IsPieceComplete(0));
    Feed(*again, 0, 262144);
    again->FlushVerified();
    EXPECT_TRUE(again->IsPieceComplete(0));
    EXPECT_TRUE(scratch.Read("data.bin.qltmp") == stream);
}

TEST_F(ResumeStartup, SpilledBlocksComeBackAfterThePrefixAndAreVerified)
{
    const std::string info = Single(2 * 262144, 262144);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 131072);
    AdvanceEngineClock(700);
    pieces->Housekeeping();                    // piece 0: prefix 128 KiB on disk
    Feed(*pieces, 131072, 131072 + 3 * kBlock); // then 48 KiB in memory
    Feed(*pieces, 262144, 262144 + kBlock);     // piece 1: one block
    Feed(*pieces, 262144 + 2 * kBlock, 262144 + 3 * kBlock); // and one after a gap
    Stop(pieces);
    ASSERT_TRUE(std::filesystem::exists(scratch.Path("state.qlinfodf")));
    EXPECT_EQ(std::filesystem::file_size(scratch.Path("state.qlinfodf")), 16 + 3 * kBlock + 16 + kBlock)
        << "only the bytes right after each prefix";

    PiecesHandle again = Open(info);
    EXPECT_TRUE(again->PartialPieces().empty()) << "pieces with spilled bytes leave the priority list";
    EXPECT_EQ(again->InMemory(0), 3 * kBlock);
    EXPECT_EQ(again->InMemory(1), kBlock);
    // Only what was neither on disk nor spilled is fetched.
    Feed(*again, 131072 + 3 * kBlock, 262144);
    Feed(*again, 262144 + kBlock, 2 * 262144); // the block after the gap was not spilled
    again->FlushVerified();
    EXPECT_EQ(CompletePieces(*again), (std::vector<int32_t>{0, 1}));
    EXPECT_TRUE(scratch.Read("data.bin.qltmp") == stream);
}

TEST_F(ResumeStartup, SpillRecordsThatDoNotFitOrDoNotVerifyLeaveNothingBehind)
{
    const std::string info = Single(2 * 262144, 262144);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 262144 - kBlock); // piece 0 all but its last block
    Stop(pieces);
    const TTaskStateValues good = saved;
    const std::string spill = scratch.Read("state.qlinfodf");
    ASSERT_EQ(spill.size(), 16u + 262144 - kBlock);

    // A stale record claims a prefix of 128 KiB: the spilled 240 KiB no
    // longer fit after it, and the piece starts over.
    PiecesHandle first = Open(info);
    Feed(*first, 0, 131072);
    first->DropPiece(0);
    Feed(*first, 0, 131072);
    AdvanceEngineClock(700);
    first->Housekeeping();
    first->CloseFiles(false);
    first->SyncFiles();
    first->BuildResumeRecord();
    saved.bits = sink->values.bits;
    first.reset();
    scratch.Write("state.qlinfodf", spill);
    PiecesHandle again = Open(info);
    EXPECT_EQ(again->InMemory(0), 0);
    EXPECT_FALSE(again->HasBlock(0)) << "reset to nothing, restored prefix included";

    // Spilled bytes that complete a piece are hashed like fetched ones.
    saved = good;
    std::string corrupt = spill;
    corrupt[16 + 100] ^= 1;
    // Re-frame with a matching checksum: only the piece hash can tell.
    std::string reframed;
    const TInfoHash &hash = again->InfoHash();
    const std::string bytes = corrupt.substr(16) + stream.substr(262144 - kBlock, kBlock);
    AppendSpillRecord(reframed, 0, hash.Bytes(), reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    scratch.Write("state.qlinfodf", reframed);
    PiecesHandle third = Open(info);
    EXPECT_EQ(third->InMemory(0), 0);
    third->FlushVerified();
    EXPECT_FALSE(third->IsPieceComplete(0));
}

TEST_F(ResumeStartup, StoreModeTakesRightSizedFilesAfterThreeSamples)
{
    const std::string info = Single(5 * 65536, 65536);
    scratch.Write("data.bin", stream);
    PiecesHandle pieces = Open(info, true);
    EXPECT_EQ(pieces->VerifiedBytes(), 5 * 65536);
    EXPECT_EQ(sink->Count(PIECES_EVENT_ALL_BITS), 1);
    EXPECT_EQ(sink->Count(PIECES_EVENT_PIECE_BIT), 0);
    EXPECT_TRUE(pieces->AllPiecesComplete());
    pieces.reset();

    // A corrupt middle piece fails the fast check; the full check then
    // finds every other piece.
    std::string bad = stream;
    bad[2 * 65536 + 10] ^= 1;
    scratch.Write("data.bin", bad);
    PiecesHandle again = Open(info, true);
    EXPECT_EQ(sink->Count(PIECES_EVENT_ALL_BITS), 0);
    EXPECT_EQ(CompletePieces(*again), (std::vector<int32_t>{0, 1, 3, 4}));
}

TEST_F(ResumeStartup, FullCheckVerifiesPiecesAcrossAMidPieceFileBoundary)
{
    stream = Content(3 * 65536 + 5000, 11);
    const std::vector<TestFile> files = {{{"a"}, stream.substr(0, 65536 + 30000)},
                                         {{"b"}, stream.substr(65536 + 30000)}};
    const std::string info = MultiFileInfo("G", files, 65536);
    std::filesystem::create_directories(scratch.Root() / "G");
    scratch.Write("G/a", files[0].data);
    scratch.Write("G/b", files[1].data);
    PiecesHandle pieces = Open(info);
    EXPECT_EQ(CompletePieces(*pieces), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(sink->Count(PIECES_EVENT_OPEN_FAILED), 0);
    pieces.reset();

    // Without the first file, the piece it shares with the second fails; the
    // second file's own pieces still verify.
    std::filesystem::remove(scratch.Root() / "G/a");
    PiecesHandle again = Open(info);
    EXPECT_EQ(CompletePieces(*again), (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(sink->Count(PIECES_EVENT_OPEN_FAILED), 0) << "a missing file is an answer, not a failure";
}

TEST_F(ResumeStartup, CompletingDeletesTheSpillFile)
{
    const std::string info = Single(2 * 65536, 65536);
    PiecesHandle pieces = Open(info);
    Feed(*pieces, 0, 65536);
    Feed(*pieces, 65536, 65536 + kBlock);
    Stop(pieces);
    ASSERT_TRUE(std::filesystem::exists(scratch.Path("state.qlinfodf")));
    PiecesHandle again = Open(info);
    Feed(*again, 65536, 2 * 65536);
    again->CloseFiles(true);
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("state.qlinfodf")));
    EXPECT_TRUE(scratch.Read("data.bin") == stream);
}

} // namespace
