// ctest-labels: threading
#include "platform/ini.h"
#include "platform/ini_parser.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

class IniReadTest : public ::testing::Test {
protected:
    std::string Read(const std::string &section, const std::string &key, const std::string &fallback = "<none>")
    {
        return IniReadString(path, section, key, fallback);
    }
    int ReadInt(const std::string &key, int fallback = 99) { return IniReadInt(path, "N", key, fallback); }

    ScratchFolder folder;
    std::string path = folder.Path("a.ini");
};

TEST_F(IniReadTest, NamesCompareWithoutCaseAndFirstMatchWins)
{
    folder.Write("a.ini", "[Alpha]\nKey=one\nkey=two\n[beta]\nKey=three\n[ALPHA]\nkey=four\nother=five\n");
    EXPECT_EQ(Read("alpha", "KEY"), "one");
    EXPECT_EQ(Read("BETA", "kEy"), "three");
    // A repeated section continues the first one.
    EXPECT_EQ(Read("Alpha", "other"), "five");
    EXPECT_EQ(Read("Gamma", "key"), "<none>");
    EXPECT_EQ(Read("Alpha", "missing"), "<none>");
}

TEST_F(IniReadTest, CaseFoldingIsAsciiOnly)
{
    folder.Write("a.ini", "[Ä]\nÉ=accent\n[ä]\né=lower\n");
    EXPECT_EQ(Read("Ä", "É"), "accent");
    EXPECT_EQ(Read("ä", "é"), "lower");
    EXPECT_EQ(Read("ä", "É"), "<none>");
}

TEST_F(IniReadTest, ValuesAreTrimmedAndLoseOnePairOfQuotes)
{
    folder.Write("a.ini", "[S]\n"
                          "  plain \t=\t  some value \t \n"
                          "double=\"quoted  \"\n"
                          "single=  'x'  \n"
                          "mixed=\"x'\n"
                          "twice=\"\"x\"\"\n"
                          "lone=\"\n"
                          "equals=a=b;c\n"
                          "empty=\n");
    EXPECT_EQ(Read("S", "plain"), "some value");
    EXPECT_EQ(Read("S", "double"), "quoted  ");
    EXPECT_EQ(Read("S", "single"), "x");
    EXPECT_EQ(Read("S", "mixed"), "\"x'");
    EXPECT_EQ(Read("S", "twice"), "\"x\"");
    EXPECT_EQ(Read("S", "lone"), "\"");
    EXPECT_EQ(Read("S", "equals"), "a=b;c");
    EXPECT_EQ(Read("S", "empty"), "");
}

TEST_F(IniReadTest, CommentsStraysAndKeysBeforeAnySectionAreNotEntries)
{
    folder.Write("a.ini", "early=1\n"
                          "[S]\n"
                          ";hidden=2\n"
                          "  ; spaced=3\n"
                          "no equals sign\n"
                          "[broken\n"
                          "after=4\n"
                          " [ Spaced ] trailing text\n"
                          "in=5\n");
    EXPECT_EQ(Read("", "early"), "<none>");
    EXPECT_EQ(Read("S", "early"), "<none>");
    EXPECT_EQ(Read("S", ";hidden"), "<none>");
    EXPECT_EQ(Read("S", "hidden"), "<none>");
    EXPECT_EQ(Read("S", "spaced"), "<none>");
    // A header without ']' is ignored and does not end the section.
    EXPECT_EQ(Read("S", "after"), "4");
    EXPECT_EQ(Read("spaced", "in"), "5");
}

TEST_F(IniReadTest, CrLfFilesReadWithoutCarriageReturns)
{
    folder.Write("a.ini", "\xEF\xBB\xBF[S]\r\nk=v\r\nlast=end");
    EXPECT_EQ(Read("S", "k"), "v");
    EXPECT_EQ(Read("S", "last"), "end");
}

TEST_F(IniReadTest, MissingFileGivesDefaults)
{
    EXPECT_EQ(Read("S", "k", "fallback"), "fallback");
    EXPECT_EQ(IniReadInt(path, "S", "k", -7), -7);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(IniReadTest, IntegersReadLikeAtoi)
{
    folder.Write("a.ini", "[N]\n"
                          "plain=42\n"
                          "signed=  -17xyz\n"
                          "plus=+8\n"
                          "garbage=abc\n"
                          "bare sign=-\n"
                          "quoted=\"12\"\n"
                          "inner=1 2\n"
                          "empty=\n"
                          "max=2147483647\n"
                          "unsigned=3000000000\n"
                          "all ones=4294967295\n");
    EXPECT_EQ(ReadInt("plain"), 42);
    EXPECT_EQ(ReadInt("signed"), -17);
    EXPECT_EQ(ReadInt("plus"), 8);
    EXPECT_EQ(ReadInt("garbage"), 0);
    EXPECT_EQ(ReadInt("bare sign"), 0);
    EXPECT_EQ(ReadInt("quoted"), 12);
    EXPECT_EQ(ReadInt("inner"), 1);
    EXPECT_EQ(ReadInt("empty"), 99);
    EXPECT_EQ(ReadInt("missing"), 99);
    EXPECT_EQ(ReadInt("max"), 2147483647);
    // "%u" values keep their bits.
    EXPECT_EQ(static_cast<unsigned>(ReadInt("unsigned")), 3000000000u);
    EXPECT_EQ(ReadInt("all ones"), -1);
}

TEST(IniValueToIntTest, LongDigitRunsWrapInsteadOfOverflowing)
{
    EXPECT_EQ(IniValueToInt("4294967296"), 0);
    EXPECT_EQ(IniValueToInt("-4294967297"), -1);
    EXPECT_EQ(IniValueToInt(std::string(500, '9')), -1); // 10^500 - 1, a multiple of 2^32 less one
    EXPECT_EQ(IniValueToInt("\v\f 5"), 5);
}

TEST_F(IniReadTest, UnreadableTargetsGiveDefaults)
{
    std::filesystem::create_directory(path);
    EXPECT_EQ(Read("S", "k"), "<none>");
    std::filesystem::remove(path);
    ASSERT_EQ(std::system(("mkfifo '" + path + "'").c_str()), 0);
    // Must not wait for a writer on the FIFO.
    EXPECT_EQ(Read("S", "k"), "<none>");
    EXPECT_EQ(IniReadInt(path, "S", "k", 3), 3);
}

class IniWriteTest : public IniReadTest {
protected:
    bool Write(const std::string &section, const std::string &key, const std::string &value)
    {
        return IniWriteString(path, section, key, value);
    }
    std::string Text() { return folder.Read("a.ini"); }
    std::vector<std::string> FolderEntries()
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(folder.Root()))
            names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST_F(IniWriteTest, CreatesTheFileWithTheSectionAndKey)
{
    ASSERT_TRUE(Write("Sec", "Key", "value"));
    EXPECT_EQ(Text(), "[Sec]\nKey=value\n");
    EXPECT_EQ(Read("sec", "key"), "value");
}

TEST_F(IniWriteTest, FailsWhenTheFolderIsMissing)
{
    std::string nowhere = folder.Path("missing/a.ini");
    EXPECT_FALSE(IniWriteString(nowhere, "S", "k", "v"));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("missing")));
}

TEST_F(IniWriteTest, ReplacesTheFirstMatchInPlaceAndKeepsEverythingElse)
{
    const std::string before = "; top comment\n"
                               "[One]\n"
                               "  Key = old  \n"
                               "key=second\n"
                               "\n"
                               "; about two\n"
                               "[Two]\n"
                               "Key=untouched\n";
    folder.Write("a.ini", before);
    ASSERT_TRUE(Write("ONE", "KEY", "new"));
    EXPECT_EQ(Text(), "; top comment\n"
                      "[One]\n"
                      "Key=new\n"
                      "key=second\n"
                      "\n"
                      "; about two\n"
                      "[Two]\n"
                      "Key=untouched\n");
}

TEST_F(IniWriteTest, AppendsAMissingKeyAfterTheLastEntryOfItsSection)
{
    folder.Write("a.ini", "[One]\na=1\n; note\nb=2\n\n[Two]\nc=3\n[One]\nd=4\n");
    ASSERT_TRUE(Write("one", "e", "5"));
    EXPECT_EQ(Text(), "[One]\na=1\n; note\nb=2\ne=5\n\n[Two]\nc=3\n[One]\nd=4\n");
    ASSERT_TRUE(Write("Two", "f", "6"));
    EXPECT_EQ(Text(), "[One]\na=1\n; note\nb=2\ne=5\n\n[Two]\nc=3\nf=6\n[One]\nd=4\n");
}

TEST_F(IniWriteTest, AKeyIntoAnEmptySectionGoesRightAfterItsHeader)
{
    folder.Write("a.ini", "[Empty]\n\n[Next]\nx=1\n");
    ASSERT_TRUE(Write("empty", "k", "v"));
    EXPECT_EQ(Text(), "[Empty]\nk=v\n\n[Next]\nx=1\n");
}

TEST_F(IniWriteTest, AppendsAMissingSectionAtTheEndOfTheFile)
{
    folder.Write("a.ini", "early=1\n[One]\na=1\n; trailing comment");
    ASSERT_TRUE(Write("Two", "b", "2"));
    EXPECT_EQ(Text(), "early=1\n[One]\na=1\n; trailing comment\n[Two]\nb=2\n");
    EXPECT_EQ(Read("Two", "b"), "2");
}

TEST_F(IniWriteTest, KeepsTheLineEndingsTheFileUses)
{
    folder.Write("a.ini", "\xEF\xBB\xBF[One]\r\na=1\r\n");
    ASSERT_TRUE(Write("One", "b", "2"));
    ASSERT_TRUE(Write("Two", "c", "3"));
    ASSERT_TRUE(Write("One", "a", "9"));
    EXPECT_EQ(Text(), "\xEF\xBB\xBF[One]\r\na=9\r\nb=2\r\n[Two]\r\nc=3\r\n");
}

TEST_F(IniWriteTest, RefusesWhatCouldNotBeReadBack)
{
    folder.Write("a.ini", "[S]\nk=v\n");
    EXPECT_FALSE(Write("S", "k", "two\nlines"));
    EXPECT_FALSE(Write("S", "k", "carriage\rreturn"));
    EXPECT_FALSE(Write("S", "a=b", "v"));
    EXPECT_FALSE(Write("S", ";k", "v"));
    EXPECT_FALSE(Write("S", "[k", "v"));
    EXPECT_FALSE(Write("S", "  ", "v"));
    EXPECT_FALSE(Write("S]", "k", "v"));
    EXPECT_FALSE(Write("", "k", "v"));
    EXPECT_FALSE(Write("S\n", "k", "v"));
    EXPECT_EQ(Text(), "[S]\nk=v\n");
}

TEST_F(IniWriteTest, EveryValueWithoutLineBreaksReadsBackUnchanged)
{
    const std::vector<std::string> values = {
        "",       " leading", "trailing\t", "\"quoted\"", "'single'", "\"", "'x\"",
        "a=b;c",  "[x]",      "; not a comment", "中文路径/下载", std::string("nul\0byte", 8),
    };
    for (size_t i = 0; i < values.size(); ++i) {
        std::string key = "k" + std::to_string(i);
        ASSERT_TRUE(Write("S", key, values[i])) << i;
        EXPECT_EQ(Read("S", key), values[i]) << i;
    }
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(Read("S", "k" + std::to_string(i)), values[i]) << i;
}

TEST_F(IniWriteTest, NamesAreStoredTrimmed)
{
    ASSERT_TRUE(Write("  Sec\t", " key ", "v"));
    EXPECT_EQ(Text(), "[Sec]\nkey=v\n");
    EXPECT_EQ(Read(" sec ", "KEY\t"), "v");
}

TEST_F(IniWriteTest, DeleteKeyRemovesEveryMatchOfThatSectionOnly)
{
    folder.Write("a.ini", "[A]\nk=1\nK=2\nj=3\n[B]\nk=4\n[a]\nk=5\n");
    ASSERT_TRUE(IniDeleteKey(path, "a", "K"));
    EXPECT_EQ(Text(), "[A]\nj=3\n[B]\nk=4\n[a]\n");
    EXPECT_EQ(Read("A", "k"), "<none>");
    EXPECT_EQ(Read("B", "k"), "4");
}

TEST_F(IniWriteTest, DeleteSectionRemovesEveryBlockOfThatName)
{
    folder.Write("a.ini", "top=0\n[A]\nk=1\n; a's note\n\n[B]\nk=2\n[a]\nk=3\n");
    ASSERT_TRUE(IniDeleteSection(path, "A"));
    EXPECT_EQ(Text(), "top=0\n[B]\nk=2\n");
    EXPECT_EQ(Read("A", "k"), "<none>");
}

TEST_F(IniWriteTest, DeletesOfWhatIsNotThereChangeNothing)
{
    EXPECT_TRUE(IniDeleteKey(path, "S", "k"));
    EXPECT_TRUE(IniDeleteSection(path, "S"));
    EXPECT_FALSE(std::filesystem::exists(path));
    folder.Write("a.ini", "[S]\nk=v");
    auto stamp = std::filesystem::last_write_time(path);
    EXPECT_TRUE(IniDeleteKey(path, "S", "other"));
    EXPECT_TRUE(IniDeleteSection(path, "T"));
    EXPECT_EQ(Text(), "[S]\nk=v");
    EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
}

TEST_F(IniWriteTest, ReplacementLeavesNoTempFilesAndKeepsPermissions)
{
    ASSERT_TRUE(Write("S", "k", "1"));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(IniWriteString(path, "S", "k", std::to_string(i),
                                   i % 2 ? IniDurability::Synced : IniDurability::Plain));
    }
    ASSERT_TRUE(IniDeleteKey(path, "S", "k", IniDurability::Synced));
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"a.ini"});
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(IniWriteTest, ReplacesASymlinkRatherThanWritingThroughIt)
{
    folder.Write("target", "[S]\nk=old\n");
    std::filesystem::create_symlink(folder.Path("target"), path);
    EXPECT_EQ(Read("S", "k"), "old");
    ASSERT_TRUE(Write("S", "k", "new"));
    EXPECT_EQ(folder.Read("target"), "[S]\nk=old\n");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(Read("S", "k"), "new");
}

TEST_F(IniWriteTest, NeverOverwritesWhatItCannotRead)
{
    std::filesystem::create_directory(path);
    EXPECT_FALSE(Write("S", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::remove(path);
    ASSERT_EQ(std::system(("mkfifo '" + path + "'").c_str()), 0);
    EXPECT_FALSE(Write("S", "k", "v"));
    EXPECT_FALSE(IniDeleteSection(path, "S"));
    EXPECT_TRUE(std::filesystem::is_fifo(path));
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"a.ini"});
}

TEST_F(IniWriteTest, AHugeFileIsNeitherLoadedNorRewritten)
{
    folder.Write("a.ini", "[S]\nk=v\n");
    const uintmax_t huge = 17u << 20; // a hole: cheap to make
    std::filesystem::resize_file(path, huge);
    EXPECT_EQ(Read("S", "k"), "<none>");
    EXPECT_FALSE(Write("S", "k", "w"));
    EXPECT_EQ(std::filesystem::file_size(path), huge);
}

TEST_F(IniWriteTest, ConcurrentWritersLoseNoUpdate)
{
    ASSERT_TRUE(Write("Shared", "steady", "yes"));
    constexpr int kThreads = 6;
    constexpr int kRounds = 40;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([this, t] {
            std::string section = t % 2 ? "Shared" : "Own" + std::to_string(t);
            for (int r = 0; r < kRounds; ++r) {
                std::string key = "t" + std::to_string(t) + "r" + std::to_string(r % 8);
                EXPECT_TRUE(IniWriteString(path, section, key, std::to_string(r)));
                EXPECT_EQ(IniReadString(path, "Shared", "steady", ""), "yes");
            }
        });
    }
    for (auto &writer : writers)
        writer.join();
    for (int t = 0; t < kThreads; ++t) {
        std::string section = t % 2 ? "Shared" : "Own" + std::to_string(t);
        for (int k = 0; k < 8; ++k) {
            int last = kRounds - 8 + k;
            EXPECT_EQ(IniReadInt(path, section, "t" + std::to_string(t) + "r" + std::to_string(k), -1), last)
                << section << " " << k;
        }
    }
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"a.ini"});
}

} // namespace
