#include <gtest/gtest.h>

#include "engine/storage/file_table.h"
#include "storage_fixtures.h"

namespace {

constexpr int32_t kPiece = 32768;

bool Build(const std::string &text, TFileTableLayout &layout, const std::string &save = "/data/save",
           const std::string &target = std::string())
{
    std::unique_ptr<QElement> info = ParseInfo(text);
    return BuildFileTable(info.get(), save, target, layout);
}

std::string MultiWithPath(const std::vector<std::string> &path, int64_t length = 5)
{
    std::string list = "ld" + BInt("length", length) + BString("path") + "l";
    for (const std::string &part : path)
        list += BString(part);
    list += "eee";
    return "d" + BString("files") + list + BString("name") + BString("Game") + BInt("piece length", kPiece) +
           BString("pieces") + BString(std::string(20, 'x')) + "e";
}

TEST(FileTable, SingleFileLandsInTheSaveFolderOrAtTheTarget)
{
    const std::string text = SingleFileInfo("setup.exe", Content(70000, 1), kPiece);
    TFileTableLayout layout;
    ASSERT_TRUE(Build(text, layout));
    ASSERT_EQ(layout.files.size(), 1u);
    EXPECT_EQ(layout.files[0].diskPath, "/data/save/setup.exe");
    EXPECT_EQ(layout.files[0].relativeName, "setup.exe");
    EXPECT_EQ(layout.totalLength, 70000);
    EXPECT_EQ(layout.pieceCount, 3);
    EXPECT_EQ(layout.files[0].pieceCount, 3);

    ASSERT_TRUE(Build(text, layout, "/data/save", "/elsewhere/package.bin"));
    EXPECT_EQ(layout.files[0].diskPath, "/elsewhere/package.bin");
}

TEST(FileTable, UnnamedSingleFileGetsTheFixedName)
{
    TFileTableLayout layout;
    ASSERT_TRUE(Build(SingleFileInfo("", Content(100, 2), kPiece), layout, "/data/save/"));
    EXPECT_EQ(layout.files[0].diskPath, "/data/save/strRecommend");
    EXPECT_EQ(layout.name, "strRecommend");
}

TEST(FileTable, MultiFileOffsetsPiecesAndNames)
{
    const std::vector<TestFile> files = {
        {{"a.bin"}, Content(40000, 1)},
        {{"empty"}, ""},
        {{"sub", "b.bin"}, Content(30000, 2)},
        {{"c.bin"}, Content(1, 3)},
    };
    TFileTableLayout layout;
    ASSERT_TRUE(Build(MultiFileInfo("Game", files, kPiece), layout));
    ASSERT_EQ(layout.files.size(), 4u);
    EXPECT_EQ(layout.files[2].relativeName, "Game\\sub\\b.bin");
    EXPECT_EQ(layout.files[2].diskPath, "/data/save/Game/sub/b.bin");
    EXPECT_EQ(layout.files[2].offset, 40000);
    EXPECT_EQ(layout.files[2].firstPiece, 1);
    EXPECT_EQ(layout.files[2].pieceCount, 2); // 40000..70000 touches pieces 1 and 2
    EXPECT_EQ(layout.files[1].pieceCount, 0);
    EXPECT_EQ(layout.files[3].offset, 70000);
    EXPECT_EQ(layout.files[3].firstPiece, 2);
    EXPECT_EQ(layout.totalLength, 70001);
}

TEST(FileTable, SaveFolderThatRepeatsTheTorrentFolderIsNotNestedAgain)
{
    const std::vector<TestFile> files = {{{"a.bin"}, Content(100, 1)}};
    TFileTableLayout layout;
    ASSERT_TRUE(Build(MultiFileInfo("Game", files, kPiece), layout, "/games/game/"));
    EXPECT_EQ(layout.files[0].diskPath, "/games/game/a.bin"); // not /games/game/Game/a.bin
    EXPECT_EQ(layout.files[0].relativeName, "Game\\a.bin");
    // Only a whole folder name counts.
    ASSERT_TRUE(Build(MultiFileInfo("Game", files, kPiece), layout, "/games/MyGame/"));
    EXPECT_EQ(layout.files[0].diskPath, "/games/MyGame/Game/a.bin");
}

TEST(FileTable, ZeroLengthEntryEndingInAnEmptyElementIsAFolder)
{
    const std::string folder = MultiWithPath({"docs", ""}, 0);
    TFileTableLayout layout;
    // No file at all: the pieces cannot cover it.
    EXPECT_FALSE(Build(folder, layout));

    const std::string text = "d" + BString("files") + "ld" + BInt("length", 0) + BString("path") + "l" +
                             BString("docs") + BString("") + "eed" + BInt("length", 10) + BString("path") + "l" +
                             BString("f") + "eee" + BString("name") + BString("Game") + BInt("piece length", kPiece) +
                             BString("pieces") + BString(std::string(20, 'x')) + "e";
    ASSERT_TRUE(Build(text, layout));
    ASSERT_EQ(layout.directories.size(), 1u);
    EXPECT_EQ(layout.directories[0], "/data/save/Game/docs/");
    ASSERT_EQ(layout.files.size(), 1u);
    EXPECT_EQ(layout.files[0].offset, 0);
    // The same entry with a length is no folder and no file: refused.
    EXPECT_FALSE(Build(MultiWithPath({"docs", ""}, 3), layout));
}

TEST(FileTable, PathsThatCouldLeaveTheSaveFolderAreRefused)
{
    TFileTableLayout layout;
    for (const std::vector<std::string> &path : std::vector<std::vector<std::string>>{
             {".."}, {"..", "etc", "passwd"}, {"."}, {"a", "", "b"}, {"/etc/passwd"}, {"a/b"}, {"a\\b"},
             {std::string("a\0b", 3)}}) {
        EXPECT_FALSE(Build(MultiWithPath(path), layout)) << path[0];
    }
    EXPECT_FALSE(Build(SingleFileInfo("..", "x", kPiece), layout));
    EXPECT_FALSE(Build(SingleFileInfo("../x", "x", kPiece), layout));
    const std::vector<TestFile> files = {{{"a"}, "x"}};
    EXPECT_FALSE(Build(MultiFileInfo("..", files, kPiece), layout));
    EXPECT_FALSE(Build(MultiFileInfo("a/b", files, kPiece), layout));
    // Ordinary dots inside names are fine.
    EXPECT_TRUE(Build(MultiWithPath({"..hidden", "v1.2..3"}), layout));
}

TEST(FileTable, QuestionMarksAndLineBreaksBecomeUnderscores)
{
    TFileTableLayout layout;
    ASSERT_TRUE(Build(MultiWithPath({"what?", "two\r\nlines"}), layout));
    EXPECT_EQ(layout.files[0].diskPath, "/data/save/Game/what_/two__lines");
    // The record key keeps the torrent's own name.
    EXPECT_EQ(layout.files[0].relativeName, "Game\\what?\\two\r\nlines");
}

TEST(FileTable, MalformedPieceFieldsAreRefused)
{
    TFileTableLayout layout;
    const std::string hashes = BString("pieces") + BString(std::string(20, 'x'));
    auto single = [&](const std::string &pieceFields) {
        return Build("d" + BInt("length", 10) + BString("name") + BString("f") + pieceFields + "e", layout);
    };
    EXPECT_TRUE(single(BInt("piece length", kPiece) + hashes));
    EXPECT_FALSE(single(hashes));                                        // no piece length
    EXPECT_FALSE(single(BInt("piece length", 0) + hashes));
    EXPECT_FALSE(single(BInt("piece length", 1000) + hashes));           // not whole blocks
    EXPECT_FALSE(single(BInt("piece length", (int64_t(1) << 32) + kPiece) + hashes)); // low 32 bits would pass
    EXPECT_FALSE(single(BInt("piece length", 512 * 1024 * 1024) + hashes));
    EXPECT_FALSE(single(BInt("piece length", kPiece)));                  // no pieces
    EXPECT_FALSE(single(BInt("piece length", kPiece) + BString("pieces") + BString(std::string(19, 'x'))));
    EXPECT_FALSE(single(BInt("piece length", kPiece) + BString("pieces") + BString(std::string(30, 'x'))));
    EXPECT_FALSE(Build("d" + BInt("length", 0) + BInt("piece length", kPiece) + hashes + "e", layout));
    EXPECT_FALSE(Build("l" + BInt("length", 10) + "e", layout));
}

TEST(FileTable, PiecesMustCoverTheFilesExactly)
{
    TFileTableLayout layout;
    auto single = [&](int64_t length, int pieces) {
        return Build("d" + BInt("length", length) + BInt("piece length", kPiece) + BString("pieces") +
                         BString(std::string(20 * static_cast<size_t>(pieces), 'x')) + "e",
                     layout);
    };
    EXPECT_TRUE(single(kPiece, 1));
    EXPECT_TRUE(single(kPiece + 1, 2));
    EXPECT_FALSE(single(kPiece + 1, 1)); // too few pieces
    EXPECT_FALSE(single(kPiece, 2));     // a whole piece too many
}

TEST(FileTable, LengthsWhoseSumOverflowsAreRefused)
{
    const int64_t huge = INT64_MAX / 2 + 1;
    const std::string text = "d" + BString("files") + "ld" + BInt("length", huge) + BString("path") + "l" +
                             BString("a") + "eed" + BInt("length", huge) + BString("path") + "l" + BString("b") +
                             "eee" + BString("name") + BString("G") + BInt("piece length", kPiece) +
                             BString("pieces") + BString(std::string(20, 'x')) + "e";
    TFileTableLayout layout;
    EXPECT_FALSE(Build(text, layout));
}

TEST(FileTable, MalformedFileEntriesRefuseTheTorrent)
{
    TFileTableLayout layout;
    auto withEntry = [&](const std::string &entry) {
        return Build("d" + BString("files") + "ld" + BInt("length", 10) + BString("path") + "l" + BString("a") +
                         "ee" + entry + "e" + BString("name") + BString("G") + BInt("piece length", kPiece) +
                         BString("pieces") + BString(std::string(20, 'x')) + "e",
                     layout);
    };
    EXPECT_TRUE(withEntry(""));
    EXPECT_FALSE(withEntry("de"));                                                    // empty entry
    EXPECT_FALSE(withEntry("d" + BString("path") + "l" + BString("b") + "ee"));       // no length
    EXPECT_FALSE(withEntry("d" + BInt("length", 1) + "e"));                           // no path
    EXPECT_FALSE(withEntry("d" + BInt("length", -1) + BString("path") + "l" + BString("b") + "ee"));
    EXPECT_FALSE(withEntry("d" + BInt("length", 1) + BString("path") + "lee"));       // empty path
    EXPECT_FALSE(withEntry("d" + BInt("length", 1) + BString("path") + "lle" + "ee")); // element not a string
    EXPECT_FALSE(withEntry(BString("junk")));
}

TEST(FileTable, PieceCountOfAFile)
{
    EXPECT_EQ(FilePieceCount(0, 0, 100), 0);
    EXPECT_EQ(FilePieceCount(0, 100, 100), 1);
    EXPECT_EQ(FilePieceCount(0, 101, 100), 2);
    EXPECT_EQ(FilePieceCount(50, 50, 100), 1);  // fits in the first partial piece
    EXPECT_EQ(FilePieceCount(50, 51, 100), 2);
    EXPECT_EQ(FilePieceCount(50, 250, 100), 3); // 50..300: pieces 0, 1, 2
    EXPECT_EQ(FilePieceCount(50, 251, 100), 4);
}

} // namespace
