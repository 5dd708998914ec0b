#include "platform/elf_sections.h"
#include "platform/program_file.h"
#include "platform/read_file.h"

#include <gtest/gtest.h>

#include <string>

using platform::ElfLookup;
using platform::ElfSection;
using platform::FindElfSection;

namespace {

class ElfSectionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(platform::ReadWholeFile(platform::OwnProgramPath(), 1u << 30, image), platform::ReadFileStatus::Ok);
    }
    void Put(size_t at, uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            image[at + i] = static_cast<char>(value >> (8 * i));
    }
    std::string image;
};

TEST_F(ElfSectionsTest, FindsSectionsOfThisProgram)
{
    ElfSection text;
    ASSERT_EQ(FindElfSection(image, ".text", text), ElfLookup::Found);
    EXPECT_GT(text.size, 0u);
    EXPECT_LE(text.offset + text.size, image.size());
    ElfSection none;
    EXPECT_EQ(FindElfSection(image, ".no-such-section", none), ElfLookup::Missing);
    // A name is matched whole, not as a prefix.
    EXPECT_EQ(FindElfSection(image, ".tex", none), ElfLookup::Missing);
}

TEST_F(ElfSectionsTest, OtherFilesAreNotElf)
{
    ElfSection section;
    EXPECT_EQ(FindElfSection("#!/bin/sh\necho hello\n", ".text", section), ElfLookup::NotElf);
    EXPECT_EQ(FindElfSection(image.substr(0, 63), ".text", section), ElfLookup::NotElf);
    image[4] = 1; // 32-bit
    EXPECT_EQ(FindElfSection(image, ".text", section), ElfLookup::NotElf);
}

TEST_F(ElfSectionsTest, TableOutsideTheFileIsCorrupt)
{
    ElfSection section;
    const std::string whole = image;
    Put(0x28, image.size() - 10, 8); // section table runs off the end
    EXPECT_EQ(FindElfSection(image, ".text", section), ElfLookup::Corrupt);
    image = whole;
    Put(0x28, UINT64_MAX - 100, 8);
    EXPECT_EQ(FindElfSection(image, ".text", section), ElfLookup::Corrupt);
    image = whole;
    Put(0x3e, 0xffff, 2); // extended name-table index
    EXPECT_EQ(FindElfSection(image, ".text", section), ElfLookup::Corrupt);
    image = whole;
    Put(0x3a, 8, 2); // entries too small
    EXPECT_EQ(FindElfSection(image, ".text", section), ElfLookup::Corrupt);
    // Cut the file inside the section data: the table is gone too.
    image = whole.substr(0, whole.size() / 2);
    EXPECT_EQ(FindElfSection(image, ".text", section), ElfLookup::Corrupt);
}

} // namespace
