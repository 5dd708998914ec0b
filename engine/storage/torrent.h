#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/ref_object.h"
#include "engine/storage/info_hash.h"

class QElement;
class TTorrentOwner;

// The metainfo of one task: where it comes from, its bytes, the trackers,
// the descriptive texts in the system code page and the info hash. Loading
// it has the owning task build its file table from the info dictionary.
class TTorrent : public TRefObject {
public:
    // A local metainfo file longer than this is not read: a torrent of a few
    // GiB in small pieces stays far below it.
    static constexpr size_t kMaxMetainfoBytes = size_t{64} << 20;

    // source names where the metainfo comes from ("file://" and a local
    // path, or a URL the task fetches). Without an owner, parsing builds no
    // file table and reports no phase.
    TTorrent(std::string source, TTorrentOwner *owner);

    // Parses the metainfo bytes already held, or else reads the "file://"
    // source; false when no metainfo is available locally or it does not
    // parse.
    bool LoadMetainfo();
    // Parses bencoded metainfo and builds the file table; keeps the bytes as
    // the metainfo on success.
    bool ParseMetainfo(const char *bytes, int64_t length);
    // Empties the texts, the creation date, the info hash and the trackers.
    void ClearMetainfo();

    // Metainfo bytes from elsewhere (the task state file, a fetched torrent),
    // parsed by the next LoadMetainfo.
    void SetMetainfo(std::string bytes) { metainfo = std::move(bytes); }
    const std::string &Metainfo() const { return metainfo; }
    const std::string &Source() const { return source; }

    // The Windows code page of the metainfo's texts; 0 when not set. A code
    // page set before parsing overrides the metainfo's own.
    int32_t CodePage() const { return codePage; }
    void SetCodePage(int32_t page) { codePage = page; }

    const std::string &Announce() const { return announce; }
    const std::string &Publisher() const { return publisher; }
    const std::string &PublisherUrl() const { return publisherUrl; }
    const std::string &Comment() const { return comment; }
    int64_t CreationDate() const { return creationDate; }
    // The announce URL first (empty when there is none), then the
    // announce-list entries in order.
    const std::vector<std::string> &Trackers() const { return trackers; }

    const TInfoHash &InfoHash() const { return infoHash; }
    const std::string &InfoHashPercent() const { return infoHashPercent; }
    const std::string &InfoHashHex() const { return infoHashHex; }

private:
    enum class Outcome { Parsed, NotDictionary, NoFileTable };

    ~TTorrent() override = default;

    Outcome ParseWithPhases(const char *bytes, int64_t length);
    Outcome Interpret(const char *bytes, int64_t length);
    void ReadCodePage(const QElement &root);
    void ReadTrackers(const QElement &root);
    void WalkTrackerList(const QElement &level);
    void SetPhase(int32_t phase);

    std::string source;
    TTorrentOwner *owner;
    std::string metainfo;
    int32_t codePage = 0;
    std::string announce;
    std::string publisher;
    std::string publisherUrl;
    std::string comment;
    int64_t creationDate = 0;
    std::vector<std::string> trackers;
    TInfoHash infoHash;
    std::string infoHashPercent;
    std::string infoHashHex;
};
