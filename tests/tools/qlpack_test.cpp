#include "app/file_md5.h"
#include "app/local_file_system.h"
#include "app/package_manifest.h"
#include "app/program_resources.h"
#include "app/resource_directory.h"
#include "app/resource_extractor.h"
#include "platform/private_temp_folder.h"
#include "platform/program_file.h"
#include "platform/read_file.h"
#include "platform/run_program.h"
#include "tests/platform/scratch_folder.h"
#include "tools/qlpack/qlpack_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Run only inside a stamped copy of this test program (see
// StampedProgramTest): prints what the copy carries, as LoadManifest reads it
// and as ExtractResource writes its resources out.
TEST(StampedProgramProbe, DISABLED_PrintsItsPackage)
{
    PackageManifest manifest;
    LoadManifest(manifest);
    std::string keys[kPackageFileCount];
    LoadInstanceKeys(keys);
    std::cout << "probe resource_list_url=" << manifest.resourceListUrl << "\n";
    std::cout << "probe switches=" << manifest.lanDiscovery << manifest.portMapping << "\n";
    CLocalFileSystem files;
    CProgramResources resources;
    CResourceExtractor extractor(resources, files);
    platform::PrivateTempFolder folder;
    ASSERT_TRUE(folder.Create("probe-"));
    auto digestOf = [&](const std::string &path) {
        return FileMd5(files, path, [](uint32_t) {}, [] { return false; }).hex;
    };
    for (int i = 0; i < kPackageFileCount; ++i) {
        std::cout << "probe file" << i << "=" << manifest.name[i] << "|" << manifest.url[i] << "|" << manifest.size[i]
                  << "|" << manifest.md5[i] << "|" << keys[i] << "|" << manifest.torrentId[i] << "\n";
        const int result =
            extractor.ExtractResource(manifest.torrentId[i], folder.Path(), manifest.md5[i], "TORRENT", false);
        std::cout << "probe torrent" << i << "=" << result << "|"
                  << (result == 0 ? digestOf(extractor.WrittenPath()) : std::string()) << "\n";
    }
    const int result = extractor.ExtractResource(181, folder.Path(), "dataupload.qlconf", "DUCONF", true);
    std::cout << "probe report=" << result << "|" << (result == 0 ? digestOf(extractor.WrittenPath()) : "") << "\n";
}

using Description = std::map<std::string, std::map<std::string, std::string>>;

class QlpackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string self;
        ASSERT_EQ(platform::ReadWholeFile(platform::OwnProgramPath(), 1u << 30, self), platform::ReadFileStatus::Ok);
        programSize = self.size();
        ASSERT_TRUE(platform::WriteProgramFile(scratch.Path("program"), self));
        description["package"] = {{"resource_list_url", "https://127.0.0.1:9/list.xml"},
                                   {"announce", "http://127.0.0.1:6969/announce"},
                                   {"report_config", "report.ini"}};
        scratch.Write("report.ini", "[SubmitEventDownload]\nInputDataKeyWord=GameID\n");
        for (int i = 0; i < kPackageFileCount; ++i) {
            const std::string name = "Volume" + std::to_string(i) + ".bin";
            std::string bytes;
            for (int k = 0; k < 3000 + 997 * i; ++k)
                bytes.push_back(static_cast<char>((k * 31 + i * 7) % 251));
            scratch.Write(name, bytes);
            description["file" + std::to_string(i)] = {
                {"name", name}, {"url", "http://127.0.0.1:8080/10192/" + name}, {"path", name}};
        }
    }

    int Stamp(const std::string &output = "stamped", const std::string &program = "program")
    {
        std::string text;
        for (const auto &[section, keys] : description) {
            text += "[" + section + "]\n";
            for (const auto &[key, value] : keys)
                text += key + " = " + value + "\n";
        }
        scratch.Write("package.ini", text);
        std::ostringstream out;
        std::ostringstream err;
        const int code =
            RunQlpack({scratch.Path("package.ini"), scratch.Path(program), scratch.Path(output)}, out, err);
        errors = err.str();
        return code;
    }

    std::string Md5(const std::string &name)
    {
        CLocalFileSystem files;
        return FileMd5(files, scratch.Path(name), [](uint32_t) {}, [] { return false; }).hex;
    }

    // Runs the probe in a stamped program and returns its "probe" lines.
    std::map<std::string, std::string> Probe(const std::string &program)
    {
        std::string output;
        const int code = platform::RunProgram(
            {scratch.Path(program), "--gtest_also_run_disabled_tests", "--gtest_filter=StampedProgramProbe.*"},
            &output);
        EXPECT_EQ(code, 0) << output;
        std::map<std::string, std::string> lines;
        std::istringstream in(output);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("probe ", 0) != 0)
                continue;
            const size_t eq = line.find('=');
            lines[line.substr(6, eq - 6)] = line.substr(eq + 1);
        }
        return lines;
    }

    ScratchFolder scratch;
    Description description;
    std::string errors;
    size_t programSize = 0;
};

TEST_F(QlpackTest, StampedProgramReadsBackItsPackageAndResources)
{
    std::string chatter;
    ASSERT_EQ(platform::RunProgram({"mktorrent", "-d", "-a", "http://127.0.0.1:1/a", "-n", "Volume2.bin", "-o",
                                    scratch.Path("given.torrent"), scratch.Path("Volume2.bin")},
                                   &chatter),
              0);
    description["file2"]["torrent"] = "given.torrent";
    description["file5"]["torrent"] = "none";
    description["file4"]["md5"] = Md5("Volume4.bin");
    description["package"]["lan_discovery"] = "on";
    ASSERT_EQ(Stamp(), 0) << errors;

    const std::map<std::string, std::string> probe = Probe("stamped");
    ASSERT_FALSE(probe.empty());
    EXPECT_EQ(probe.at("resource_list_url"), "https://127.0.0.1:9/list.xml");
    EXPECT_EQ(probe.at("switches"), "10");
    for (int i = 0; i < kPackageFileCount; ++i) {
        const std::string name = "Volume" + std::to_string(i) + ".bin";
        const std::string md5 = Md5(name);
        EXPECT_EQ(probe.at("file" + std::to_string(i)), name + "|http://127.0.0.1:8080/10192/" + name + "|" +
                                                            std::to_string(3000 + 997 * i) + "|" + md5 + "|" + md5 +
                                                            "|" + std::to_string(301 + i));
    }
    EXPECT_EQ(probe.at("torrent2"), "0|" + Md5("given.torrent"));
    EXPECT_EQ(probe.at("torrent5"), "-1|");
    EXPECT_EQ(probe.at("torrent0").substr(0, 2), "0|");
    EXPECT_EQ(probe.at("report"), "0|" + Md5("report.ini"));
}

TEST_F(QlpackTest, RestampingReplacesTheEarlierStamp)
{
    ASSERT_EQ(Stamp("first"), 0) << errors;
    description["package"].erase("report_config");
    description["package"].erase("resource_list_url");
    description["file0"]["url"] = "ftp://127.0.0.1:2121/setup.exe";
    description["file3"]["torrent"] = "none";
    ASSERT_EQ(Stamp("second", "first"), 0) << errors;

    std::string image;
    ASSERT_EQ(platform::ReadWholeFile(scratch.Path("second"), 1u << 30, image), platform::ReadFileStatus::Ok);
    CMemoryByteSource source(image);
    TResourceDirectory directory;
    ASSERT_EQ(ReadResourceDirectory(source, directory), ResourceDirectoryStatus::Valid);
    EXPECT_EQ(directory.appendedOffset, programSize);
    EXPECT_EQ(directory.entries.size(), 5u);

    const std::map<std::string, std::string> probe = Probe("second");
    ASSERT_FALSE(probe.empty());
    EXPECT_EQ(probe.at("resource_list_url"), "");
    EXPECT_EQ(probe.at("file0").substr(0, probe.at("file0").find('|', 13)),
              "Volume0.bin|ftp://127.0.0.1:2121/setup.exe");
    EXPECT_EQ(probe.at("torrent3"), "-1|");
    EXPECT_EQ(probe.at("report"), "-1|");
}

TEST_F(QlpackTest, ShowPrintsTheStampedPackage)
{
    ASSERT_EQ(Stamp(), 0) << errors;
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunQlpack({"--show", scratch.Path("stamped")}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("file3: Volume3.bin 5991 " + Md5("Volume3.bin")), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("report configuration: "), std::string::npos);
    EXPECT_EQ(out.str().find("(none)"), std::string::npos);
    EXPECT_EQ(err.str(), "");
}

TEST_F(QlpackTest, ShowWarnsWhenTheStampLostItsResources)
{
    ASSERT_EQ(Stamp(), 0) << errors;
    std::string image;
    ASSERT_EQ(platform::ReadWholeFile(scratch.Path("stamped"), 1u << 30, image), platform::ReadFileStatus::Ok);
    // strip drops everything after the loaded parts; a copy may stop short.
    scratch.Write("stripped", image.substr(0, programSize));
    scratch.Write("cut", image.substr(0, image.size() - 1));
    for (const char *name : {"stripped", "cut"}) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunQlpack({"--show", scratch.Path(name)}, out, err), 0) << err.str();
        EXPECT_NE(out.str().find("(none)"), std::string::npos) << out.str();
        EXPECT_NE(err.str().find("warning: " + scratch.Path(name) + " carries no resource directory"),
                  std::string::npos)
            << name << ": " << err.str();
    }
}

struct BadCase {
    const char *what;
    std::function<void(Description &, ScratchFolder &)> edit;
    const char *message;
};

TEST_F(QlpackTest, RefusesEachKindOfBadDescription)
{
    const std::string longUrl = "http://127.0.0.1/" + std::string(3069 - 17 + 1, 'u');
    const BadCase cases[] = {
        {"unknown key", [](Description &d, ScratchFolder &) { d["file0"]["sizee"] = "5"; }, "unknown key \"sizee\""},
        {"unknown section", [](Description &d, ScratchFolder &) { d["file6"]["name"] = "x"; }, "unknown section"},
        {"missing file", [](Description &d, ScratchFolder &) { d.erase("file5"); }, "[file5] is missing"},
        {"upper-case md5",
         [](Description &d, ScratchFolder &) {
             d["file1"] = {{"name", "a"}, {"url", "http://x/a"}, {"size", "5"},
                           {"md5", "0123456789ABCDEF0123456789abcdef"}};
         },
         "md5 must be 32 lower-case hex digits"},
        {"short md5", [](Description &d, ScratchFolder &) { d["file1"]["md5"] = "abc"; }, "32 lower-case"},
        {"size beyond what the program takes",
         [](Description &d, ScratchFolder &) {
             d["file1"] = {{"name", "a"}, {"url", "http://x/a"}, {"size", "9223372036854775808"},
                           {"md5", "0123456789abcdef0123456789abcdef"}};
         },
         "size: at most 9223372036854775807 bytes"},
        {"size differs", [](Description &d, ScratchFolder &) { d["file2"]["size"] = "1"; },
         "size 1 differs from the file's 4994"},
        {"md5 differs",
         [](Description &d, ScratchFolder &) { d["file2"]["md5"] = "0123456789abcdef0123456789abcdef"; },
         "md5 0123456789abcdef0123456789abcdef differs"},
        {"https download", [](Description &d, ScratchFolder &) { d["file0"]["url"] = "https://127.0.0.1/a"; },
         "must start with http:// or ftp://"},
        {"blank in url", [](Description &d, ScratchFolder &) { d["file0"]["url"] = "http://127.0.0.1/a b"; },
         "blanks or control characters"},
        {"url too long", [&](Description &d, ScratchFolder &) { d["file0"]["url"] = longUrl; },
         "a slot holds at most 3069"},
        {"name with a folder", [](Description &d, ScratchFolder &) { d["file3"]["name"] = "../x"; },
         "plain file name"},
        {"same name twice", [](Description &d, ScratchFolder &) { d["file4"]["name"] = "Volume1.bin"; },
         "used by another file"},
        {"same file twice", [](Description &d, ScratchFolder &) { d["file4"]["path"] = "Volume1.bin"; },
         "same MD5"},
        {"empty file",
         [](Description &d, ScratchFolder &s) {
             s.Write("empty", "");
             d["file1"]["path"] = "empty";
         },
         "the file is empty"},
        {"nothing to measure", [](Description &d, ScratchFolder &) { d["file1"].erase("path"); },
         "needs either path"},
        {"missing file on disk", [](Description &d, ScratchFolder &) { d["file1"]["path"] = "nowhere"; },
         "is not a readable file"},
        {"report too long",
         [](Description &, ScratchFolder &s) { s.Write("report.ini", std::string(4096, 'r')); },
         "report_config is 4096 bytes"},
        {"report with NUL", [](Description &, ScratchFolder &s) { s.Write("report.ini", std::string("a\0b", 3)); },
         "NUL"},
        {"no announce", [](Description &d, ScratchFolder &) { d["package"].erase("announce"); }, "no announce URL"},
        {"torrent of another file",
         [](Description &d, ScratchFolder &s) {
             std::string chatter;
             platform::RunProgram({"mktorrent", "-d", "-a", "http://127.0.0.1:1/a", "-o", s.Path("t3.torrent"),
                                   s.Path("Volume3.bin")},
                                  &chatter);
             d["file2"]["torrent"] = "t3.torrent";
         },
         "differs from the file's size"},
        {"torrent that is no torrent",
         [](Description &d, ScratchFolder &s) {
             s.Write("junk.torrent", "i42e");
             d["file2"]["torrent"] = "junk.torrent";
         },
         "not a bencoded dictionary"},
        {"piece length", [](Description &d, ScratchFolder &) { d["package"]["piece_length"] = "30"; }, "15 to 24"},
        {"switch", [](Description &d, ScratchFolder &) { d["package"]["port_mapping"] = "maybe"; }, "on or off"},
        {"resource list scheme", [](Description &d, ScratchFolder &) { d["package"]["resource_list_url"] = "ftp://x"; },
         "resource_list_url must start with https:// or http://"},
    };
    const Description good = description;
    for (const BadCase &c : cases) {
        description = good;
        scratch.Write("report.ini", "[SubmitEventDownload]\nInputDataKeyWord=GameID\n");
        c.edit(description, scratch);
        EXPECT_EQ(Stamp(), 1) << c.what;
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.what << ": " << errors;
        EXPECT_FALSE(std::filesystem::exists(scratch.Path("stamped"))) << c.what;
    }
}

TEST_F(QlpackTest, RefusesKeysTwiceAndLinesThatAreNoKeys)
{
    scratch.Write("twice.ini", "[package]\nannounce=a\nANNOUNCE=b\n");
    scratch.Write("junk.ini", "[package]\njust words\n");
    for (const auto &[name, where] : {std::pair{"twice.ini", ":3: "}, std::pair{"junk.ini", ":2: "}}) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunQlpack({scratch.Path(name), scratch.Path("program"), scratch.Path("stamped")}, out, err), 1);
        EXPECT_NE(err.str().find(std::string(name) + where), std::string::npos) << err.str();
    }
}

TEST_F(QlpackTest, RefusesProgramsItCannotStamp)
{
    scratch.Write("script", "#!/bin/sh\necho not a program\n");
    EXPECT_EQ(Stamp("stamped", "script"), 1);
    EXPECT_NE(errors.find("not a 64-bit little-endian ELF program"), std::string::npos) << errors;
    // A real program without the manifest sections.
    std::string other;
    ASSERT_EQ(platform::ReadWholeFile("/bin/true", 1u << 30, other), platform::ReadFileStatus::Ok);
    scratch.Write("other", other);
    EXPECT_EQ(Stamp("stamped", "other"), 1);
    EXPECT_NE(errors.find("has no .qlmanifest section"), std::string::npos) << errors;
    EXPECT_EQ(Stamp("stamped", "absent"), 1);
    EXPECT_NE(errors.find("cannot be read"), std::string::npos) << errors;
}

TEST_F(QlpackTest, BadUsageIsExitCodeTwo)
{
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunQlpack({}, out, err), 2);
    EXPECT_EQ(RunQlpack({"a", "b"}, out, err), 2);
    EXPECT_EQ(RunQlpack({"--frobnicate", "a", "b", "c"}, out, err), 2);
    EXPECT_EQ(RunQlpack({"--show"}, out, err), 2);
    EXPECT_NE(err.str().find("usage: qlpack"), std::string::npos);
    EXPECT_EQ(RunQlpack({"--help"}, out, err), 0);
}

} // namespace
