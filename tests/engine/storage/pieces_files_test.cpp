#include <filesystem>
#include <gtest/gtest.h>

#include "engine/storage/data_file_removal.h"
#include "storage_fixtures.h"
#include "tests/platform/scratch_folder.h"

namespace {

constexpr int32_t kPiece = 32768;

std::string Folder(const ScratchFolder &scratch)
{
    return scratch.Root().string() + "/";
}

bool Exists(const std::string &path)
{
    return std::filesystem::exists(path);
}

int64_t SizeOf(const std::string &path)
{
    return static_cast<int64_t>(std::filesystem::file_size(path));
}

std::string Join(const std::vector<TestFile> &files)
{
    std::string stream;
    for (const TestFile &file : files)
        stream += file.data;
    return stream;
}

class PiecesFiles : public ::testing::Test {
protected:
    PiecesHandle Build(const std::string &infoText, const std::string &target = std::string(),
                       TPieces *previous = nullptr)
    {
        PiecesHandle pieces = MakePieces(sink, Folder(scratch), target);
        std::unique_ptr<QElement> info = ParseInfo(infoText);
        EXPECT_TRUE(pieces->BuildFromInfo(info.get(), previous));
        return pieces;
    }

    ScratchFolder scratch;
    RecordingSink sink;
};

TEST_F(PiecesFiles, NewTaskStartsUnderTemporaryNamesWithEveryPieceMissing)
{
    const std::string data = Content(100000, 1);
    PiecesHandle pieces = Build(SingleFileInfo("setup.exe", data, kPiece));
    EXPECT_TRUE(pieces->CheckFinished());
    EXPECT_EQ(pieces->PieceCount(), 4);
    ASSERT_EQ(sink.Count(PIECES_EVENT_PIECE_COUNT), 1);
    EXPECT_EQ(sink.events[0].size, 4);
    EXPECT_EQ(sink.events[0].value, 4);
    EXPECT_TRUE(Exists(scratch.Path("setup.exe.qltmp")));
    EXPECT_EQ(SizeOf(scratch.Path("setup.exe.qltmp")), 0); // created, not yet allocated
    EXPECT_FALSE(Exists(scratch.Path("setup.exe")));
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_TRUE(pieces->IsNeeded(i));
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 0);
    EXPECT_EQ(pieces->WantedBytes(), 100000);
}

TEST_F(PiecesFiles, WholeStreamEndsUnderFinalNamesWithTheSameBytes)
{
    const std::vector<TestFile> files = {
        {{"a.bin"}, Content(50000, 1)},
        {{"empty.txt"}, ""},
        {{"sub", "b.bin"}, Content(70001, 2)},
        {{"c.bin"}, Content(3, 3)},
    };
    const std::string stream = Join(files);
    PiecesHandle pieces = Build(MultiFileInfo("Game", files, kPiece));
    FeedBlocks(*pieces, stream, 0, static_cast<int64_t>(stream.size()));
    // Verified pieces wait in memory while they fill less than half the cache.
    EXPECT_EQ(pieces->VerifiedInMemoryBytes(), static_cast<int64_t>(stream.size()));
    EXPECT_FALSE(pieces->AllPiecesComplete());
    pieces->CloseFiles(true);
    EXPECT_TRUE(pieces->AllPiecesComplete());
    EXPECT_EQ(pieces->VerifiedBytes(), static_cast<int64_t>(stream.size()));
    EXPECT_EQ(pieces->VerifiedInMemoryBytes(), 0);
    for (const TestFile &file : files) {
        std::string path = "Game";
        for (const std::string &part : file.path)
            path += "/" + part;
        EXPECT_EQ(scratch.Read(path), file.data) << path;
        EXPECT_FALSE(Exists(scratch.Path(path + ".qltmp"))) << path;
    }
    EXPECT_EQ(pieces->File(0)->diskPath, scratch.Path("Game/a.bin"));
    EXPECT_FALSE(pieces->File(0)->temporaryName);
}

TEST_F(PiecesFiles, RenameNeverReplacesAnExistingFinalFile)
{
    const std::string data = Content(40000, 4);
    PiecesHandle pieces = Build(SingleFileInfo("setup.exe", data, kPiece));
    scratch.Write("setup.exe", "someone else's file");
    FeedBlocks(*pieces, data, 0, static_cast<int64_t>(data.size()));
    pieces->CloseFiles(true);
    EXPECT_EQ(scratch.Read("setup.exe"), "someone else's file");
    EXPECT_EQ(scratch.Read("setup.exe.qltmp"), data);
    EXPECT_TRUE(pieces->File(0)->temporaryName);

    std::filesystem::remove(scratch.Path("setup.exe"));
    pieces->CloseFiles(true); // tried again at the next finishing close
    EXPECT_EQ(scratch.Read("setup.exe"), data);
    EXPECT_FALSE(Exists(scratch.Path("setup.exe.qltmp")));
}

TEST_F(PiecesFiles, ExistingFinalFileIsUsedInPlaceAndCutBackToItsLength)
{
    const std::string data = Content(40000, 5);
    scratch.Write("setup.exe", data + "trailing junk");
    PiecesHandle pieces = Build(SingleFileInfo("setup.exe", data, kPiece));
    EXPECT_FALSE(pieces->File(0)->temporaryName);
    EXPECT_FALSE(Exists(scratch.Path("setup.exe.qltmp")));
    EXPECT_EQ(SizeOf(scratch.Path("setup.exe")), 40000);
    // Its bytes are served once the pieces are known to be there.
    pieces->SetComplete(0, true);
    std::string block(16384, '\0');
    ASSERT_EQ(pieces->ReadBlock(1, 16384, reinterpret_cast<uint8_t *>(block.data()), 0, false), 16384);
    EXPECT_EQ(block, data.substr(16384, 16384));
}

TEST_F(PiecesFiles, SingleFileGoesToTheTaskTargetPath)
{
    const std::string data = Content(20000, 6);
    const std::string target = scratch.Path("elsewhere/package.bin");
    PiecesHandle pieces = Build(SingleFileInfo("", data, kPiece), target);
    EXPECT_EQ(pieces->File(0)->diskPath, target + ".qltmp");
    FeedBlocks(*pieces, data, 0, static_cast<int64_t>(data.size()));
    pieces->CloseFiles(true);
    EXPECT_EQ(scratch.Read("elsewhere/package.bin"), data);
}

TEST_F(PiecesFiles, PieceBorderingAZeroLengthFileMapsToTheNextFile)
{
    const std::vector<TestFile> files = {
        {{"a"}, Content(kPiece, 1)}, {{"z1"}, ""}, {{"z2"}, ""}, {{"b"}, Content(kPiece + 10, 2)}};
    PiecesHandle pieces = Build(MultiFileInfo("G", files, kPiece));
    std::vector<TTaskFile *> covered;
    int64_t start = -1;
    ASSERT_TRUE(pieces->MapPieceToFiles(1, covered, start));
    ASSERT_EQ(covered.size(), 1u);
    EXPECT_EQ(covered[0]->relativeName, "G\\b");
    EXPECT_EQ(start, 0);
    ASSERT_TRUE(pieces->MapPieceToFiles(2, covered, start));
    EXPECT_EQ(covered[0]->relativeName, "G\\b");
    EXPECT_EQ(start, kPiece);
    EXPECT_FALSE(pieces->MapPieceToFiles(3, covered, start));
    EXPECT_TRUE(Exists(scratch.Path("G/z1.qltmp")));
    EXPECT_EQ(SizeOf(scratch.Path("G/z1.qltmp")), 0);
}

TEST_F(PiecesFiles, RangeWritesAndReadsCrossFileBoundaries)
{
    const std::vector<TestFile> files = {{{"a"}, Content(10000, 1)}, {{"b"}, Content(5000, 2)}, {{"c"}, Content(60000, 3)}};
    const std::string stream = Join(files);
    PiecesHandle pieces = Build(MultiFileInfo("G", files, kPiece));
    const auto *bytes = reinterpret_cast<const uint8_t *>(stream.data());
    // The middle of piece 0, across all three files.
    EXPECT_EQ(pieces->WritePieceRange(0, bytes + 9000, 8000, 9000), 8000);
    std::string back(8000, '\0');
    EXPECT_EQ(pieces->ReadPieceRange(0, reinterpret_cast<uint8_t *>(back.data()), 8000, 9000), 8000);
    EXPECT_EQ(back, stream.substr(9000, 8000));
    // A selected file is allocated to its whole length at its first write.
    EXPECT_EQ(SizeOf(scratch.Path("G/c.qltmp")), 60000);
    EXPECT_EQ(pieces->WritePieceRange(0, bytes, 0, 0), -1);
    EXPECT_EQ(pieces->WritePieceRange(7, bytes, 10, 0), -1);
    EXPECT_FALSE(pieces->AllPiecesComplete()); // range writes mark nothing
}

TEST_F(PiecesFiles, DeselectedFileKeepsOnlyItsBoundaryBytesCompactly)
{
    const std::vector<TestFile> files = {
        {{"a"}, Content(20000, 1)}, {{"big"}, Content(5 * kPiece, 2)}, {{"c"}, Content(30000, 3)}};
    const std::string stream = Join(files);
    PiecesHandle pieces = Build(MultiFileInfo("G", files, kPiece));
    ASSERT_TRUE(pieces->SelectFile(1, true));
    // Pieces 0 and 5 are shared with the selected neighbours; 1..4 lie wholly
    // inside the deselected file.
    EXPECT_TRUE(pieces->IsNeeded(0));
    for (int32_t i = 1; i <= 4; ++i)
        EXPECT_FALSE(pieces->IsNeeded(i)) << i;
    EXPECT_TRUE(pieces->IsNeeded(5));
    EXPECT_TRUE(pieces->IsNeeded(6));

    // The tail boundary piece first, then the head.
    FeedBlocks(*pieces, stream, 5 * kPiece, static_cast<int64_t>(stream.size()));
    FeedBlocks(*pieces, stream, 0, kPiece);
    pieces->FlushVerified();
    EXPECT_TRUE(pieces->IsPieceComplete(0));
    EXPECT_TRUE(pieces->IsPieceComplete(5));
    pieces->CloseFiles(false);
    // head (12768 bytes) within one piece length, tail (20000 bytes) after it
    EXPECT_LE(SizeOf(scratch.Path("G/big.qltmp")), kPiece + 20000);

    for (int32_t piece : {0, 5}) {
        std::string back(kPiece, '\0');
        for (int32_t block = 0; block < 2; ++block) {
            ASSERT_EQ(pieces->ReadBlock(piece * 2 + block, 16384,
                                        reinterpret_cast<uint8_t *>(back.data()) + block * 16384, 0, false),
                      16384);
        }
        EXPECT_EQ(back, stream.substr(static_cast<size_t>(piece) * kPiece, kPiece)) << piece;
    }
}

TEST_F(PiecesFiles, SelectionMovesTheCountersOnlyForRealChanges)
{
    const std::vector<TestFile> files = {
        {{"a"}, Content(20000, 1)}, {{"b"}, Content(3 * kPiece, 2)}, {{"c"}, Content(30000, 3)}};
    PiecesHandle pieces = Build(MultiFileInfo("G", files, kPiece));
    const int64_t total = pieces->TotalLength();
    ASSERT_EQ(pieces->PieceCount(), 5);

    ASSERT_TRUE(pieces->SelectFile(1, true));
    EXPECT_EQ(pieces->WantedBytes(), total - 3 * kPiece);
    EXPECT_EQ(pieces->WantedPieces(), 3); // pieces 1 and 2 changed
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 2);
    ASSERT_TRUE(pieces->SelectFile(1, true)); // already deselected: nothing moves
    EXPECT_EQ(pieces->WantedPieces(), 3);

    ASSERT_TRUE(pieces->SelectFile(0, true)); // now the head piece of b goes too
    EXPECT_FALSE(pieces->IsNeeded(0));
    EXPECT_EQ(pieces->WantedPieces(), 2);
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 3);

    ASSERT_TRUE(pieces->SelectFile(1, false));
    ASSERT_TRUE(pieces->SelectFile(0, false));
    EXPECT_EQ(pieces->WantedBytes(), total);
    EXPECT_EQ(pieces->WantedPieces(), 5);
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 0);
    for (int32_t i = 0; i < 5; ++i)
        EXPECT_TRUE(pieces->IsNeeded(i));
    EXPECT_FALSE(pieces->SelectFile(3, true));
}

TEST_F(PiecesFiles, CompletePiecesOfADeselectedFileStayCounted)
{
    const std::vector<TestFile> files = {{{"a"}, Content(2 * kPiece, 1)}, {{"b"}, Content(kPiece, 2)}};
    PiecesHandle pieces = Build(MultiFileInfo("G", files, kPiece));
    pieces->SetComplete(0, true);
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 1);
    ASSERT_TRUE(pieces->SelectFile(0, true));
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 2);
    pieces->SetComplete(1, true); // an unwanted piece is counted once
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 2);
    pieces->SetComplete(1, false);
    EXPECT_EQ(pieces->DoneOrUnwantedPieces(), 2);
}

TEST_F(PiecesFiles, TooManyOpenHandlesAreAllClosed)
{
    const int32_t megabyte = 1024 * 1024;
    for (int count : {32, 33}) {
        std::vector<TestFile> files;
        for (int i = 0; i < count; ++i)
            files.push_back({{"f" + std::to_string(count) + "_" + std::to_string(i)}, Content(100, i)});
        PiecesHandle pieces = Build(MultiFileInfo("G", files, megabyte));
        for (int32_t i = 0; i < pieces->FileCount(); ++i)
            ASSERT_TRUE(pieces->PrepareFile(*pieces->File(i), 0, true, nullptr, false));
        pieces->LimitOpenFiles();
        int open = 0;
        for (int32_t i = 0; i < pieces->FileCount(); ++i)
            open += pieces->File(i)->disk.IsOpen() ? 1 : 0;
        EXPECT_EQ(open, count == 33 ? 0 : 32) << count;
    }
}

TEST_F(PiecesFiles, RebuiltTableKeepsTheNamesOfFilesOnDisk)
{
    const std::string data = Content(40000, 8);
    const std::string text = SingleFileInfo("setup.exe", data, kPiece);
    PiecesHandle first = Build(text);
    // The final file appears after the first build; the rebuilt table still
    // writes to the temporary file the first one used.
    scratch.Write("setup.exe", "foreign");
    PiecesHandle second = Build(text, std::string(), first.get());
    EXPECT_EQ(second->File(0)->diskPath, scratch.Path("setup.exe.qltmp"));
    EXPECT_TRUE(second->File(0)->temporaryName);
    EXPECT_EQ(second->File(0)->finalPath, scratch.Path("setup.exe"));
    EXPECT_EQ(first->RefCount(), 1);
}

TEST_F(PiecesFiles, PreparationRefusesOffsetsOutsideTheFile)
{
    PiecesHandle pieces = Build(SingleFileInfo("f", Content(1000, 1), kPiece));
    EXPECT_FALSE(pieces->PrepareFile(*pieces->File(0), 1001, true, nullptr, false));
    EXPECT_FALSE(pieces->PrepareFile(*pieces->File(0), -1, true, nullptr, false));
    EXPECT_TRUE(pieces->PrepareFile(*pieces->File(0), 1000, true, nullptr, false));
}

TEST_F(PiecesFiles, UnopenableFileIsReported)
{
    // A folder where the data file should be cannot be opened as a file.
    std::filesystem::create_directories(scratch.Path("blocked.qltmp"));
    PiecesHandle pieces = Build(SingleFileInfo("blocked", Content(1000, 1), kPiece));
    EXPECT_GE(sink.Count(PIECES_EVENT_OPEN_FAILED), 1);
    EXPECT_EQ(pieces->WritePieceRange(0, reinterpret_cast<const uint8_t *>("x"), 1, 0), 0);
}

TEST(TaskFileRemoval, RestartDeletesTheDataFileAndItsCompanions)
{
    ScratchFolder scratch;
    for (const char *name : {"pkg.bin", "pkg.bin.qltmp", "pkg.bin.qlinfo", "pkg.bin.qlinfodf", "other"})
        scratch.Write(name, "x");
    EXPECT_TRUE(RemoveTaskFiles(scratch.Path("pkg.bin"), scratch.Path("pkg.bin.qlinfo")));
    for (const char *name : {"pkg.bin", "pkg.bin.qltmp", "pkg.bin.qlinfo", "pkg.bin.qlinfodf"})
        EXPECT_FALSE(Exists(scratch.Path(name))) << name;
    EXPECT_TRUE(Exists(scratch.Path("other")));
    // Nothing left to delete is no failure.
    EXPECT_TRUE(RemoveTaskFiles(scratch.Path("pkg.bin"), std::string()));
}

} // namespace
