#include "app/program_resources.h"
#include "app/resource_directory.h"
#include "tests/platform/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kProgram = "\x7f" "ELF program body";

std::vector<TResourcePayload> SampleResources()
{
    return {{"TORRENT", 301, "d4:infod6:lengthi5eee"}, {"TORRENT", 306, std::string("\0\1\2", 3)},
            {"DUCONF", 181, "W1NdCmE9Yg=="}, {"EMPTY", 7, ""}};
}

TResourceDirectory Read(const std::string &image, ResourceDirectoryStatus expected)
{
    CMemoryByteSource source(image);
    TResourceDirectory directory;
    EXPECT_EQ(ReadResourceDirectory(source, directory), expected);
    return directory;
}

TEST(ResourceDirectoryTest, BuiltDirectoryReadsBackEveryResource)
{
    const std::string image = kProgram + BuildResourceDirectory(kProgram.size(), SampleResources());
    const TResourceDirectory directory = Read(image, ResourceDirectoryStatus::Valid);
    EXPECT_EQ(directory.appendedOffset, kProgram.size());
    ASSERT_EQ(directory.entries.size(), 4u);
    for (const TResourcePayload &resource : SampleResources()) {
        const TResourceEntry *entry = FindResourceEntry(directory, resource.type, resource.id);
        ASSERT_NE(entry, nullptr) << resource.type << resource.id;
        EXPECT_EQ(entry->language, kResourceLanguage);
        EXPECT_EQ(image.substr(entry->offset, entry->size), resource.bytes);
    }
    EXPECT_EQ(FindResourceEntry(directory, "TORRENT", 302), nullptr);
    EXPECT_EQ(FindResourceEntry(directory, "torrent", 301), nullptr);
}

TEST(ResourceDirectoryTest, ProgramWithoutDirectoryHasNone)
{
    const TResourceDirectory directory = Read(kProgram + std::string(64, '\0'), ResourceDirectoryStatus::Absent);
    EXPECT_EQ(directory.appendedOffset, kProgram.size() + 64);
    Read("tiny", ResourceDirectoryStatus::Absent);
    Read(kProgram + BuildResourceDirectory(kProgram.size(), {}), ResourceDirectoryStatus::Valid);
}

// Offsets inside the built image of the single-resource directory below.
class DamagedDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = kProgram + BuildResourceDirectory(kProgram.size(), {{"TORRENT", 301, "0123456789"}});
        trailer = image.size() - kResourceTrailerBytes;
        entry = trailer - kResourceEntryBytes;
    }
    void Put64(size_t at, uint64_t value)
    {
        for (int i = 0; i < 8; ++i)
            image[at + i] = static_cast<char>(value >> (8 * i));
    }
    std::string image;
    size_t trailer = 0;
    size_t entry = 0;
};

TEST_F(DamagedDirectoryTest, CountThatDoesNotMatchTheEntriesIsRefused)
{
    image[trailer + 8] = 2;
    Read(image, ResourceDirectoryStatus::Corrupt);
    image[trailer + 8] = static_cast<char>(0xff);
    Read(image, ResourceDirectoryStatus::Corrupt);
}

TEST_F(DamagedDirectoryTest, EntryOutsideTheAppendedPartIsRefused)
{
    Put64(entry + 24, 0); // starts in the program
    Read(image, ResourceDirectoryStatus::Corrupt);
    SetUp();
    Put64(entry + 32, 11); // runs into the entries
    Read(image, ResourceDirectoryStatus::Corrupt);
    SetUp();
    Put64(entry + 24, UINT64_MAX - 3); // offset + size wraps
    Read(image, ResourceDirectoryStatus::Corrupt);
}

TEST_F(DamagedDirectoryTest, TypeWithoutNulOrEmptyIsRefused)
{
    std::memset(image.data() + entry, 'T', kResourceTypeBytes);
    Read(image, ResourceDirectoryStatus::Corrupt);
    SetUp();
    std::memset(image.data() + entry, 0, kResourceTypeBytes);
    Read(image, ResourceDirectoryStatus::Corrupt);
}

TEST_F(DamagedDirectoryTest, AppendedOffsetPastTheEntriesIsRefused)
{
    Put64(trailer + 24, entry + 1);
    Read(image, ResourceDirectoryStatus::Corrupt);
    SetUp();
    Put64(trailer + 16, entry - 1);
    Read(image, ResourceDirectoryStatus::Corrupt);
}

TEST(ProgramResourcesTest, LoadsFromAProgramFile)
{
    ScratchFolder folder;
    folder.Write("program", kProgram + BuildResourceDirectory(kProgram.size(), SampleResources()));
    folder.Write("plain", kProgram);
    std::string damaged = kProgram + BuildResourceDirectory(kProgram.size(), SampleResources());
    damaged[damaged.size() - 24] = 9; // count
    folder.Write("damaged", damaged);

    std::string bytes;
    CProgramResources program(folder.Path("program"));
    EXPECT_EQ(program.Load("DUCONF", 181, bytes), ResourceLoad::Loaded);
    EXPECT_EQ(bytes, "W1NdCmE9Yg==");
    EXPECT_EQ(program.Load("TORRENT", 306, bytes), ResourceLoad::Loaded);
    EXPECT_EQ(bytes, std::string("\0\1\2", 3));
    EXPECT_EQ(program.Load("TORRENT", 303, bytes), ResourceLoad::NotFound);
    EXPECT_EQ(CProgramResources(folder.Path("plain")).Load("DUCONF", 181, bytes), ResourceLoad::NotFound);
    EXPECT_EQ(CProgramResources(folder.Path("damaged")).Load("DUCONF", 181, bytes), ResourceLoad::LoadFailed);
    EXPECT_EQ(CProgramResources(folder.Path("missing")).Load("DUCONF", 181, bytes), ResourceLoad::NoModule);
}

TEST(ProgramResourcesTest, UnstampedProgramCarriesNoResources)
{
    std::string bytes;
    CProgramResources self;
    EXPECT_EQ(self.Load("TORRENT", 301, bytes), ResourceLoad::NotFound);
    EXPECT_EQ(self.Load("DUCONF", 181, bytes), ResourceLoad::NotFound);
}

} // namespace
