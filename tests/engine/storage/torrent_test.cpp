#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/qelement.h"
#include "engine/storage/task_phase.h"
#include "engine/storage/torrent.h"
#include "engine/storage/torrent_owner.h"
#include "tests/platform/scratch_folder.h"

namespace {

// Stands in for the task: records what the torrent tells it and plays the
// file table's part by reading the info dictionary's name.
class RecordingOwner : public TTorrentOwner {
public:
    void SetMetainfoPhase(int32_t phase) override { phases.push_back(phase); }
    void OnBadLocalTorrent() override { ++badTorrents; }
    bool BuildFileTable(const QElement &info) override
    {
        ++tables;
        if (const QElement *name = info.FindValue("name"))
            infoName = name->Text();
        return acceptTable;
    }

    std::vector<int32_t> phases;
    int badTorrents = 0;
    int tables = 0;
    bool acceptTable = true;
    std::string infoName;
};

struct ReleaseTorrent {
    void operator()(TTorrent *torrent) const { torrent->Release(); }
};
using TorrentPtr = std::unique_ptr<TTorrent, ReleaseTorrent>;

TorrentPtr MakeTorrent(const std::string &source, TTorrentOwner *owner)
{
    return TorrentPtr(new TTorrent(source, owner));
}

const std::string kInfo = "d6:lengthi5e4:name3:abc12:piece lengthi16384e6:pieces20:xxxxxxxxxxxxxxxxxxxxe";
const char kInfoHashHex[] = "286b31a84aa440aa98becc0fff90f1bd5f0cda45";

// A metainfo dictionary: the given top-level entries, then the info entry.
std::string Metainfo(const std::string &entries, const std::string &info = kInfo)
{
    return "d" + entries + "4:info" + info + "e";
}

bool Parse(TTorrent &torrent, const std::string &bytes)
{
    return torrent.ParseMetainfo(bytes.data(), static_cast<int64_t>(bytes.size()));
}

std::string Quote(const std::string &text)
{
    return "'" + text + "'";
}

// Runs a command line; true when it exited with 0.
bool RunQuietly(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The info hash that aria2c reads from a torrent file.
std::string Aria2InfoHash(const ScratchFolder &folder, const std::string &torrent)
{
    const std::string listing = folder.Path("aria2.txt");
    if (std::system(("aria2c -S " + Quote(torrent) + " >" + Quote(listing) + " 2>&1").c_str()) != 0)
        return std::string();
    std::ifstream in(listing);
    const std::string label = "Info Hash: ";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, label.size(), label) == 0)
            return line.substr(label.size());
    }
    return std::string();
}

std::string Bytes(size_t count, unsigned seed)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

} // namespace

TEST(TorrentFromMktorrent, SingleFileMatchesAnIndependentReader)
{
    ScratchFolder folder;
    folder.Write("one.bin", Bytes(70000, 1)); // a short last piece
    const std::string file = folder.Path("one.torrent");
    ASSERT_TRUE(RunQuietly("mktorrent -l 15 -a http://127.0.0.1:6969/announce -a udp://127.0.0.1:6969 -c 'a comment' -o " +
                    Quote(file) + " " + Quote(folder.Path("one.bin"))));

    RecordingOwner owner;
    TorrentPtr torrent = MakeTorrent("file://" + file, &owner);
    ASSERT_TRUE(torrent->LoadMetainfo());
    EXPECT_EQ(torrent->InfoHashHex(), Aria2InfoHash(folder, file));
    EXPECT_EQ(torrent->Announce(), "http://127.0.0.1:6969/announce");
    EXPECT_EQ(torrent->Trackers(), (std::vector<std::string>{"http://127.0.0.1:6969/announce",
                                                             "http://127.0.0.1:6969/announce",
                                                             "udp://127.0.0.1:6969"}));
    EXPECT_EQ(torrent->Comment(), "a comment");
    EXPECT_GT(torrent->CreationDate(), 1600000000);
    EXPECT_EQ(torrent->Metainfo(), folder.Read("one.torrent"));
    EXPECT_EQ(owner.infoName, "one.bin");
    EXPECT_EQ(owner.phases, (std::vector<int32_t>{TASK_PHASE_METAINFO, TASK_PHASE_DOWNLOADING}));
    EXPECT_EQ(owner.badTorrents, 0);
}

TEST(TorrentFromMktorrent, MultiFileMatchesAnIndependentReader)
{
    ScratchFolder folder;
    std::filesystem::create_directories(folder.Root() / "multi" / "sub");
    folder.Write("multi/a.bin", Bytes(40000, 2));
    folder.Write("multi/sub/b.bin", Bytes(33333, 3));
    const std::string file = folder.Path("multi.torrent");
    ASSERT_TRUE(RunQuietly("mktorrent -l 15 -a http://127.0.0.1:1/a,http://127.0.0.1:2/a -a http://127.0.0.1:3/a -o " +
                    Quote(file) + " " + Quote(folder.Path("multi"))));

    RecordingOwner owner;
    TorrentPtr torrent = MakeTorrent("FILE://" + file, &owner);
    ASSERT_TRUE(torrent->LoadMetainfo());
    const std::string expected = Aria2InfoHash(folder, file);
    ASSERT_EQ(expected.size(), 40u);
    EXPECT_EQ(torrent->InfoHashHex(), expected);
    EXPECT_EQ(torrent->Trackers(), (std::vector<std::string>{"http://127.0.0.1:1/a", "http://127.0.0.1:1/a",
                                                             "http://127.0.0.1:2/a", "http://127.0.0.1:3/a"}));
    EXPECT_EQ(owner.infoName, "multi");
}

TEST(TorrentInfoHash, ThreeForms)
{
    TInfoHash hash;
    EXPECT_TRUE(hash.IsZero());
    ASSERT_TRUE(TInfoHash::Compute("abc", 3, hash));
    EXPECT_FALSE(hash.IsZero());
    EXPECT_EQ(hash.Hex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // Letters and digits stay; '%' itself and every other byte are escaped.
    EXPECT_EQ(hash.Percent(), "%a9%99%3e6G%06%81j%ba%3e%25qxP%c2l%9c%d0%d8%9d");
}

TEST(TorrentInfoHash, HashesTheInfoDictionaryAsWritten)
{
    // Keys out of order and an unusual integer spelling are hashed as they
    // stand, not as a re-encoding would write them.
    const std::string unsorted = "d4:name3:abc6:lengthi5e6:pieces20:xxxxxxxxxxxxxxxxxxxx12:piece lengthi16384ee";
    TorrentPtr torrent = MakeTorrent("", nullptr);
    ASSERT_TRUE(Parse(*torrent, Metainfo("8:announce12:http://t/ann", unsorted)));
    EXPECT_EQ(torrent->InfoHashHex(), "fb917f6333c28be9908ec2b6b109387dfe6af079");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(torrent->InfoHash().Bytes()), 4), "\xfb\x91\x7f\x63");

    ASSERT_TRUE(Parse(*torrent, Metainfo("")));
    EXPECT_EQ(torrent->InfoHashHex(), kInfoHashHex);
    EXPECT_EQ(torrent->InfoHashPercent(), torrent->InfoHash().Percent());
}

TEST(TorrentCodePage, EncodingNamesTheCodePage)
{
    RecordingOwner owner;
    TorrentPtr torrent = MakeTorrent("", &owner);
    const std::string info = "d6:lengthi5e4:name4:\xC4\xE3\xBA\xC3" "12:piece lengthi16384e6:pieces20:xxxxxxxxxxxxxxxxxxxxe";
    ASSERT_TRUE(Parse(*torrent, Metainfo("7:comment4:\xC4\xE3\xBA\xC3" "8:encoding3:gbk9:publisher5:plain", info)));
    EXPECT_EQ(torrent->CodePage(), 936);
    EXPECT_EQ(torrent->Comment(), "你好");
    EXPECT_EQ(torrent->Publisher(), "plain");
    EXPECT_EQ(owner.infoName, "你好"); // the file table reads names converted too
}

TEST(TorrentCodePage, CodepageKeyWinsOverEncodingAndAPresetWinsOverBoth)
{
    const std::string metainfo =
        Metainfo("8:codepagei950e7:comment4:\xA4\xA4\xA4\xE5" "8:encoding3:GBK");
    TorrentPtr torrent = MakeTorrent("", nullptr);
    ASSERT_TRUE(Parse(*torrent, metainfo));
    EXPECT_EQ(torrent->CodePage(), 950);
    EXPECT_EQ(torrent->Comment(), "中文");

    TorrentPtr preset = MakeTorrent("", nullptr);
    preset->SetCodePage(936);
    ASSERT_TRUE(Parse(*preset, metainfo));
    EXPECT_EQ(preset->CodePage(), 936);
    EXPECT_EQ(preset->Comment(), "いゅ");

    for (const char *name : {"BIG5", "kor", "shift-jis", "utf-8"}) {
        SCOPED_TRACE(name);
        TorrentPtr named = MakeTorrent("", nullptr);
        const std::string value = name;
        ASSERT_TRUE(Parse(*named, Metainfo("8:encoding" + std::to_string(value.size()) + ":" + value)));
        const int32_t expected = value == "BIG5" ? 950 : value == "kor" ? 949 : value == "shift-jis" ? 932 : 0;
        EXPECT_EQ(named->CodePage(), expected);
    }

    // Not a code page number: the encoding name decides instead.
    TorrentPtr bogus = MakeTorrent("", nullptr);
    ASSERT_TRUE(Parse(*bogus, Metainfo("8:codepagei-5e8:encoding3:GBK")));
    EXPECT_EQ(bogus->CodePage(), 936);
}

TEST(TorrentTrackers, AnnounceIsNormalised)
{
    struct Case {
        std::string value;
        std::string announce;
    } cases[] = {
        {"  http://t.example/announce|||", "http://t.example/announce"},
        {"--> udp://t.example:80", "udp://t.example:80"},
        {"HTTP://t.example/a \t", "HTTP://t.example/a"},
        {"x", ""},
        {"h", ""},
        {"12345", ""},
        {"http://t/a||| ", "http://t/a|||"}, // '|' only comes off the very end
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        TorrentPtr torrent = MakeTorrent("", nullptr);
        ASSERT_TRUE(Parse(*torrent, Metainfo("8:announce" + std::to_string(c.value.size()) + ":" + c.value)));
        EXPECT_EQ(torrent->Announce(), c.announce);
        ASSERT_EQ(torrent->Trackers().size(), 1u);
        EXPECT_EQ(torrent->Trackers()[0], c.announce);
    }
    TorrentPtr none = MakeTorrent("", nullptr);
    ASSERT_TRUE(Parse(*none, Metainfo("")));
    EXPECT_EQ(none->Trackers(), std::vector<std::string>{""});
}

TEST(TorrentTrackers, AnnounceListIsWalkedInOrder)
{
    TorrentPtr torrent = MakeTorrent("", nullptr);
    // "Name" ends only the inner list it stands in; "Tracker" is passed over;
    // nested lists and dictionaries are entered; a string without a scheme
    // still takes its (empty) place.
    ASSERT_TRUE(Parse(*torrent, Metainfo("8:announce10:http://a/113:announce-list"
                                         "l" "l10:http://b/1e" "l4:Name10:http://x/1e" "l10:http://c/1e"
                                         "l7:Tracker10:http://d/1d3:key12:  udp://e/1|ee"
                                         "e")));
    EXPECT_EQ(torrent->Trackers(), (std::vector<std::string>{"http://a/1", "http://b/1", "http://c/1", "http://d/1",
                                                             "", "udp://e/1"}));

    TorrentPtr ignored = MakeTorrent("", nullptr);
    ASSERT_TRUE(Parse(*ignored, Metainfo("13:announce-list10:http://b/1")));
    EXPECT_EQ(ignored->Trackers(), std::vector<std::string>{""});
}

TEST(TorrentFields, LookupsPairKeysWithValues)
{
    // The comment's value spells "announce": it must not be taken for the key.
    TorrentPtr torrent = MakeTorrent("", nullptr);
    ASSERT_TRUE(Parse(*torrent, Metainfo("7:comment8:announce8:announce10:http://t/a13:creation datei1700000000e"
                                         "13:publisher-url8:http://p")));
    EXPECT_EQ(torrent->Comment(), "announce");
    EXPECT_EQ(torrent->Announce(), "http://t/a");
    EXPECT_EQ(torrent->CreationDate(), 1700000000);
    EXPECT_EQ(torrent->PublisherUrl(), "http://p");
    EXPECT_EQ(torrent->Publisher(), "");

    // Publisher texts missing at the top level are looked up in the info
    // dictionary.
    const std::string info = "d6:lengthi5e4:name3:abc12:piece lengthi16384e6:pieces20:xxxxxxxxxxxxxxxxxxxx"
                             "9:publisher2:in13:publisher-url6:in-urle";
    ASSERT_TRUE(Parse(*torrent, Metainfo("9:publisher3:top", info)));
    EXPECT_EQ(torrent->Publisher(), "top");
    EXPECT_EQ(torrent->PublisherUrl(), "in-url");
    EXPECT_EQ(torrent->Comment(), ""); // cleared by the new parse
}

TEST(TorrentParse, FailuresClearTheFields)
{
    RecordingOwner owner;
    TorrentPtr torrent = MakeTorrent("", &owner);
    const std::string good = Metainfo("8:announce10:http://t/a7:comment2:hi");
    ASSERT_TRUE(Parse(*torrent, good));
    ASSERT_EQ(torrent->Metainfo(), good);

    owner.acceptTable = false;
    EXPECT_FALSE(Parse(*torrent, Metainfo("8:announce10:http://u/a")));
    EXPECT_EQ(torrent->Announce(), "");
    EXPECT_TRUE(torrent->Trackers().empty());
    EXPECT_TRUE(torrent->InfoHash().IsZero());
    EXPECT_EQ(torrent->InfoHashHex(), "");
    EXPECT_EQ(torrent->InfoHashPercent(), "");
    EXPECT_EQ(torrent->Metainfo(), good); // only a successful parse replaces it

    owner.acceptTable = true;
    EXPECT_FALSE(Parse(*torrent, "d8:announce10:http://t/ae"));              // no info
    EXPECT_FALSE(Parse(*torrent, Metainfo("", "l1:ae")));                     // info not a dictionary
    EXPECT_FALSE(Parse(*torrent, Metainfo("").substr(0, 20)));               // cut short
    EXPECT_FALSE(Parse(*torrent, "l4:infod1:a1:bee"));                        // not a dictionary
    EXPECT_FALSE(torrent->ParseMetainfo(good.data(), 0));
    EXPECT_EQ(owner.tables, 2);
    // Every parse that started reported phase 3 and then 4.
    ASSERT_EQ(owner.phases.size(), 12u);
    for (size_t i = 0; i < owner.phases.size(); i += 2) {
        EXPECT_EQ(owner.phases[i], TASK_PHASE_METAINFO);
        EXPECT_EQ(owner.phases[i + 1], TASK_PHASE_DOWNLOADING);
    }
    EXPECT_EQ(owner.badTorrents, 0);
}

TEST(TorrentParse, KeepsOnlyTheDictionaryAsMetainfo)
{
    TorrentPtr torrent = MakeTorrent("", nullptr);
    const std::string metainfo = Metainfo("");
    ASSERT_TRUE(Parse(*torrent, metainfo + "trailing"));
    EXPECT_EQ(torrent->Metainfo(), metainfo);

    torrent->SetMetainfo(metainfo + "more");
    ASSERT_TRUE(torrent->LoadMetainfo());
    EXPECT_EQ(torrent->Metainfo(), metainfo);

    torrent->ClearMetainfo();
    EXPECT_TRUE(torrent->InfoHash().IsZero());
    EXPECT_EQ(torrent->Metainfo(), metainfo);
}

TEST(TorrentLoad, HeldMetainfoComesBeforeTheSource)
{
    RecordingOwner owner;
    TorrentPtr torrent = MakeTorrent("file:///nonexistent/ql.torrent", &owner);
    torrent->SetMetainfo(Metainfo(""));
    EXPECT_TRUE(torrent->LoadMetainfo());
    EXPECT_EQ(torrent->InfoHashHex(), kInfoHashHex);
    EXPECT_EQ(owner.badTorrents, 0);

    // A source that is no local file is simply not available yet.
    TorrentPtr remote = MakeTorrent("http://127.0.0.1/x.torrent", &owner);
    EXPECT_FALSE(remote->LoadMetainfo());
    EXPECT_EQ(owner.badTorrents, 0);
}

TEST(TorrentLoad, BadLocalFilesEndTheTask)
{
    ScratchFolder folder;
    folder.Write("text.torrent", "this is not a torrent");
    folder.Write("short.torrent", "de");
    folder.Write("garbage.torrent", "d8:announce99:http");
    folder.Write("list.torrent", "l1:ae");
    std::filesystem::create_directories(folder.Root() / "folder.torrent");
    {
        std::ofstream huge(folder.Path("huge.torrent"), std::ios::binary);
        huge << 'd';
    }
    std::filesystem::resize_file(folder.Path("huge.torrent"), TTorrent::kMaxMetainfoBytes + 1);

    for (const char *name : {"text.torrent", "short.torrent", "garbage.torrent", "list.torrent", "folder.torrent",
                             "huge.torrent", "missing.torrent"}) {
        SCOPED_TRACE(name);
        RecordingOwner owner;
        TorrentPtr torrent = MakeTorrent("file://" + folder.Path(name), &owner);
        EXPECT_FALSE(torrent->LoadMetainfo());
        EXPECT_EQ(owner.badTorrents, 1);
        EXPECT_EQ(owner.tables, 0);
        EXPECT_TRUE(torrent->Metainfo().empty());
    }

    // A dictionary without usable files is no bad torrent: it just builds
    // no table.
    folder.Write("noinfo.torrent", "d8:announce10:http://t/ae");
    RecordingOwner owner;
    TorrentPtr torrent = MakeTorrent("file://" + folder.Path("noinfo.torrent"), &owner);
    EXPECT_FALSE(torrent->LoadMetainfo());
    EXPECT_EQ(owner.badTorrents, 0);
    EXPECT_EQ(owner.phases, (std::vector<int32_t>{TASK_PHASE_METAINFO, TASK_PHASE_DOWNLOADING}));
}

TEST(TorrentRefCount, LastReleaseDeletes)
{
    TTorrent *torrent = new TTorrent("", nullptr);
    EXPECT_EQ(torrent->RefCount(), 1);
    EXPECT_EQ(torrent->AddRef(), torrent);
    EXPECT_EQ(torrent->RefCount(), 2);
    EXPECT_EQ(torrent->Release(), 1);
    EXPECT_EQ(torrent->Release(), 0); // LeakSanitizer reports it if it stayed
}
