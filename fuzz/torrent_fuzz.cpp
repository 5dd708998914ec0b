// Feeds arbitrary bytes to the metainfo parser, with an owner that reads the
// info dictionary the way a file table does. Whatever parses must give a
// consistent info hash and keep a prefix of the input as its metainfo.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/storage/qelement.h"
#include "engine/storage/torrent.h"
#include "engine/storage/torrent_owner.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

class FileTableReader : public TTorrentOwner {
public:
    void SetMetainfoPhase(int32_t) override {}
    void OnBadLocalTorrent() override {}
    bool BuildFileTable(const QElement &info) override
    {
        const QElement *name = info.FindValue("name");
        const QElement *files = info.FindValue("files");
        for (int64_t i = 0; files && i < files->Count(); ++i) {
            const QElement *entry = files->ItemAt(i);
            if (const QElement *path = entry->FindValue("path"))
                path->Text("/");
            entry->FindValue("length");
        }
        return name && !name->Text().empty();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    std::memcpy(copy.get(), data, size);
    FileTableReader owner;
    TTorrent *torrent = new TTorrent("", &owner);
    if (torrent->ParseMetainfo(copy.get(), static_cast<int64_t>(size))) {
        Check(!torrent->InfoHash().IsZero());
        Check(torrent->InfoHashHex().size() == 40);
        Check(torrent->InfoHashPercent() == torrent->InfoHash().Percent());
        Check(!torrent->Trackers().empty() && torrent->Trackers()[0] == torrent->Announce());
        const std::string &kept = torrent->Metainfo();
        Check(kept.size() <= size && std::memcmp(kept.data(), data, kept.size()) == 0);
        // Parsing the kept bytes again gives the same identity.
        std::string hash = torrent->InfoHashHex();
        Check(torrent->LoadMetainfo());
        Check(torrent->InfoHashHex() == hash);
    } else {
        Check(torrent->InfoHash().IsZero() && torrent->Trackers().empty());
    }
    torrent->Release();
    return 0;
}
