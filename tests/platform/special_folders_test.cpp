#include "platform/special_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace {

// Environment edits are undone after each test.
class SpecialFoldersTest : public ::testing::Test {
protected:
    void Set(const char *name, const char *value)
    {
        if (saved.find(name) == saved.end()) {
            const char *old = std::getenv(name);
            saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    void TearDown() override
    {
        for (auto &[name, value] : saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    std::map<std::string, std::optional<std::string>> saved;
};

TEST_F(SpecialFoldersTest, DataFolderPrecedence)
{
    Set("HOME", "/home/someone");
    Set("XDG_DATA_HOME", nullptr);
    Set("QUARROWLIGHT_DATA_HOME", nullptr);
    EXPECT_EQ(platform::CommonDataFolder(), "/home/someone/.local/share");
    Set("XDG_DATA_HOME", "/xdg/data/");
    EXPECT_EQ(platform::CommonDataFolder(), "/xdg/data");
    Set("QUARROWLIGHT_DATA_HOME", "/ql/data");
    EXPECT_EQ(platform::CommonDataFolder(), "/ql/data");
    // Relative values do not count.
    Set("QUARROWLIGHT_DATA_HOME", "relative");
    EXPECT_EQ(platform::CommonDataFolder(), "/xdg/data");
}

TEST_F(SpecialFoldersTest, TempAndDownloadFolders)
{
    Set("TMPDIR", "/var/tmp");
    EXPECT_EQ(platform::TempFolder(), "/var/tmp");
    Set("TMPDIR", "tmp");
    EXPECT_EQ(platform::TempFolder(), "/tmp");
    Set("TMPDIR", nullptr);
    EXPECT_EQ(platform::TempFolder(), "/tmp");
    Set("XDG_DOWNLOAD_DIR", "/home/someone/Downloads");
    EXPECT_EQ(platform::DownloadFolder(), "/home/someone/Downloads");
    Set("XDG_DOWNLOAD_DIR", nullptr);
    EXPECT_EQ(platform::DownloadFolder(), "");
}

} // namespace
