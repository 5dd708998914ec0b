#pragma once
// A task for driving one peer object in tests: the file lives in memory, the
// piece store keeps one bit per block, the scheduling is the real scheduler
// over that store, and the pool's address operations are recorded instead of
// acted on.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/base/engine_clock.h"
#include "engine/core/piece_scheduler.h"
#include "engine/net/peer_object.h"
#include "engine/net/peer_task.h"
#include "platform/tick.h"

// Deleter for peers and addresses held in a std::unique_ptr by a test.
struct Released {
    void operator()(TRefObject *object) const
    {
        if (object != nullptr)
            object->Release();
    }
};

class TMemoryPeerTask : public IPeerTask,
                        public ITaskMeters,
                        public ITaskPieceStore,
                        public ITaskPool,
                        public ITaskSwarm,
                        public ISchedulerPieces,
                        public ISchedulerPool,
                        public ITaskAnnounce {
public:
    struct Penalty {
        std::string url;
        int32_t amount;
    };
    struct Added {
        std::string url;
        std::string referer;
        int32_t origin;
        int32_t hops;
        bool wholeContent;
        bool mainTorrent;
    };

    TMemoryPeerTask(int64_t size, int32_t pieceLength) { SetFile(size, pieceLength); }

    // A new, empty file; what was scheduled against the old one goes.
    void SetFile(int64_t size, int32_t pieceLength)
    {
        scheduler.Clear();
        fileSize = size;
        pieceBytes = pieceLength;
        data.assign(static_cast<size_t>(size), 0);
        present.assign(static_cast<size_t>((size + kBlockBytes - 1) / kBlockBytes), false);
    }

    // Marks every block of pieces [first, last] present with the given bytes.
    void MarkPresent(int32_t first, int32_t last, const std::vector<uint8_t> &content)
    {
        int64_t from = static_cast<int64_t>(first) * pieceBytes;
        int64_t to = std::min(static_cast<int64_t>(last + 1) * pieceBytes, fileSize);
        std::memcpy(data.data() + from, content.data() + from, static_cast<size_t>(to - from));
        for (int64_t b = from / kBlockBytes; b < (to + kBlockBytes - 1) / kBlockBytes; ++b)
            present[static_cast<size_t>(b)] = true;
    }

    ITaskMeters &Meters() override { return *this; }
    ITaskPieceStore &Store() override { return *this; }
    TPieceScheduler &Scheduling() override { return scheduler; }
    ITaskPool &Pool() override { return *this; }
    ITaskAnnounce &Announce() override { return *this; }
    ITaskSwarm &Swarm() override { return *this; }

    // Limits and statistics.
    int32_t allowance = INT32_MAX;
    int64_t httpBytes = 0;
    int32_t DownloadAllowance() override { return allowance; }
    int32_t uploadAllowance = INT32_MAX;
    int64_t uploaded = 0;
    int32_t uploadsThisRound = 0;
    int32_t UploadAllowance() override { return uploadAllowance; }
    void CountPayload(int64_t) override {}
    void CountUpload(int64_t bytes) override { uploaded += bytes; }
    void NoteUploading() override { ++uploadsThisRound; }
    int32_t UploadsThisRound() override { return uploadsThisRound; }
    void CountKindBytes(int32_t kind, int64_t bytes) override
    {
        if (kind == PEER_KIND_HTTP)
            httpBytes += bytes;
    }

    // The piece store, and what the scheduler reads of it.
    bool PieceLayerReady() override { return fileSize > 0; }
    int64_t FileSize() override { return fileSize; }
    int32_t PieceLength() override { return pieceBytes; }
    int32_t PieceCount() override
    {
        return fileSize > 0 ? static_cast<int32_t>((fileSize + pieceBytes - 1) / pieceBytes) : 0;
    }
    bool HasAllPieces() override { return fileSize > 0 && std::all_of(present.begin(), present.end(), [](bool b) { return b; }); }
    bool IsPieceComplete(int32_t piece) override
    {
        int64_t first = 0, count = 0;
        BlocksOf(piece, first, count);
        for (int64_t b = first; b < first + count; ++b)
            if (!present[static_cast<size_t>(b)])
                return false;
        return true;
    }
    bool IsPieceNeeded(int32_t piece) override { return piece >= 0 && piece < PieceCount() && !IsPieceComplete(piece); }
    bool HasBlock(int64_t block) override
    {
        return block >= 0 && block < static_cast<int64_t>(present.size()) && present[static_cast<size_t>(block)];
    }
    int32_t MissingPieceCount() override
    {
        int32_t missing = 0;
        for (int32_t p = 0; p < PieceCount(); ++p)
            missing += IsPieceComplete(p) ? 0 : 1;
        return missing;
    }
    int64_t MissingInPiece(int32_t piece, int64_t *firstMissing) override
    {
        int64_t first = 0, count = 0;
        BlocksOf(piece, first, count);
        int64_t missing = 0;
        bool found = false;
        for (int64_t b = first; b < first + count; ++b) {
            if (present[static_cast<size_t>(b)])
                continue;
            int64_t start = b * kBlockBytes;
            missing += std::min<int64_t>(kBlockBytes, fileSize - start);
            if (!found && firstMissing != nullptr)
                *firstMissing = start - static_cast<int64_t>(piece) * pieceBytes;
            found = true;
        }
        return missing;
    }
    int32_t WriteBlock(int64_t block, int32_t length, const uint8_t *bytes, IBlockSource *, bool *needed) override
    {
        int64_t offset = block * kBlockBytes;
        if (block < 0 || offset + length > fileSize)
            return -1;
        *needed = !present[static_cast<size_t>(block)];
        std::memcpy(data.data() + offset, bytes, static_cast<size_t>(length));
        present[static_cast<size_t>(block)] = true;
        ++writes;
        return length;
    }
    // Source versions: the first validator of a URL is kept, another one
    // is refused and counted.
    std::map<std::string, std::string> validators;
    int versionChanges = 0;
    std::string SourceValidator(const std::string &url) override
    {
        auto found = validators.find(url);
        return found != validators.end() ? found->second : std::string();
    }
    bool CheckSourceVersion(const std::string &url, const std::string &validator) override
    {
        if (validator.empty())
            return true;
        auto [at, added] = validators.emplace(url, validator);
        if (added || at->second == validator)
            return true;
        at->second = validator;
        ++versionChanges;
        return false;
    }

    // What the scheduler reads of the pool: no other connections and no
    // candidates, so no ranges are engaged and a server connection carves
    // the first run of open pieces for itself.
    const std::vector<TRef<TPeerObject>> &Connections() override { return none; }
    const std::vector<TRef<TPeerId>> &Candidates() override { return noCandidates; }
    int64_t TaskClock() override { return EngineTime(); }
    bool IsStopping() override { return false; }
    uint32_t SecondsRunning() override { return 0; }

    // The pool, recorded.
    std::vector<Added> added;
    std::vector<Penalty> penalties;
    std::vector<std::string> removed;
    int32_t hostsNotFound = 0;
    int32_t phase = 0;
    bool AddAddress(TPeerId *address) override
    {
        const TUrlParts &parts = address->Parts();
        added.push_back({address->url, parts.referer, address->origin, parts.redirectHops, parts.wholeContent,
                         address->mainTorrent});
        return true;
    }
    void Penalize(TPeerId *address, TPeerObject *, int32_t amount) override
    {
        penalties.push_back({address != nullptr ? address->url : std::string(), amount});
    }
    void RemoveAddress(TPeerId *address) override { removed.push_back(address->url); }
    void HostNotFound() override { ++hostsNotFound; }
    void SetPhase(int32_t value) override { phase = value; }
    std::vector<std::string> failures; // "why", with " (given up)" when dropped
    void SourceFailed(TPeerId *, const std::string &why, bool givenUp) override
    {
        failures.push_back(givenUp ? why + " (given up)" : why);
    }

    // What the trackers are told, and the peers they named.
    bool knowsInfoHash = true;
    std::array<uint8_t, 20> infoHash{};
    std::array<uint8_t, 20> ownPeerId{};
    int32_t listenPort = 6881;
    int64_t downloaded = 0; // (uploaded is the meters' count above)
    int32_t freshPeerIds = 0;
    std::vector<TTrackerPeerAddress> trackerPeers;
    bool FillAnnounceFacts(TAnnounceFacts &facts, bool freshPeerId) override
    {
        if (!knowsInfoHash)
            return false;
        facts.infoHash = infoHash;
        facts.peerId = ownPeerId;
        // Each fresh id differs from the last in its final byte.
        if (freshPeerId)
            facts.peerId[19] = static_cast<uint8_t>(++freshPeerIds);
        facts.uploaded = uploaded;
        facts.downloaded = downloaded;
        int64_t have = static_cast<int64_t>(std::count(present.begin(), present.end(), true)) * kBlockBytes;
        facts.left = std::max<int64_t>(fileSize - have, 0);
        facts.port = listenPort;
        return true;
    }
    bool AddTrackerPeer(const TTrackerPeerAddress &peer) override
    {
        trackerPeers.push_back(peer);
        return true;
    }

    // The swarm: the handshake the test set, the have-map of the complete
    // pieces, and the pool's view of connected peers.
    std::vector<uint8_t> handshake;
    std::vector<uint8_t> haveMap;
    std::vector<TRef<TPeerId>> incomingAddresses;
    bool duplicate = false;
    bool waitsForServers = false;
    bool failReads = false; // the disk cannot give the bytes back
    const uint8_t *Handshake() override { return handshake.size() == 68 ? handshake.data() : nullptr; }
    const std::vector<uint8_t> &HaveMap() override
    {
        haveMap.assign((static_cast<size_t>(PieceCount()) + 7) / 8, 0);
        for (int32_t p = 0; p < PieceCount(); ++p)
            if (IsPieceComplete(p))
                haveMap[static_cast<size_t>(p / 8)] |= static_cast<uint8_t>(0x80 >> (p % 8));
        return haveMap;
    }
    int32_t ReadBlock(int64_t block, int32_t length, uint8_t *buffer) override
    {
        int64_t offset = block * kBlockBytes;
        if (failReads || block < 0 || offset + length > fileSize || !IsPieceComplete(static_cast<int32_t>(offset / pieceBytes)))
            return -1;
        std::memcpy(buffer, data.data() + offset, static_cast<size_t>(length));
        return length;
    }
    bool MarkInProgress(int32_t piece) override { return scheduler.MarkInProgress(piece); }
    bool PickPending(TPeerObject &peer, const std::vector<uint8_t> &remoteHave, int32_t most) override
    {
        return scheduler.PickPending(peer, remoteHave, {}, most);
    }
    bool WaitsForServers() override { return waitsForServers; }
    int32_t RandomStartPiece() override { return 0; }
    TPeerId *AddressOfIncoming(uint32_t address, int32_t port) override
    {
        auto record = TRef<TPeerId>::Adopt(new TPeerId);
        record->address = address;
        record->port = port;
        record->kind = PEER_KIND_BT;
        record->parsed = true;
        incomingAddresses.push_back(record);
        return record.Get();
    }
    bool DuplicatePeer(const TPeerObject &, const uint8_t *) override { return duplicate; }
    bool wantsUdp = false;
    bool WantsUdp() const override { return wantsUdp; }

    std::vector<uint8_t> data;
    std::vector<bool> present;
    int64_t writes = 0;

private:
    void BlocksOf(int32_t piece, int64_t &first, int64_t &count) const
    {
        int64_t start = static_cast<int64_t>(piece) * pieceBytes;
        int64_t end = std::min(start + pieceBytes, fileSize);
        first = start / kBlockBytes;
        count = (end - start + kBlockBytes - 1) / kBlockBytes;
    }

    int64_t fileSize = 0;
    int32_t pieceBytes = 0;
    const std::vector<TRef<TPeerObject>> none;
    const std::vector<TRef<TPeerId>> noCandidates;
    TPieceScheduler scheduler{*this, *this};
};

// Drives one peer like the pool does until the task holds every piece: a
// peer that fails is reset and attached again, at most maxAttaches times in
// all (attaches counts them). False when that or the rounds ran out.
inline bool DriveUntilComplete(TMemoryPeerTask &task, TPeerObject &peer, TPeerId *address, int &attaches,
                               int maxAttaches = 20)
{
    for (int round = 0; round < 400000 && !task.HasAllPieces(); ++round) {
        if (!peer.IsConnected()) {
            if (++attaches > maxAttaches)
                return false;
            peer.Reset();
            if (!peer.AttachAddress(address))
                continue;
        }
        if (!peer.DownloadTick())
            peer.Reset();
        else if (peer.tick.received == 0)
            platform::SleepMs(1);
    }
    return task.HasAllPieces();
}
