#include "engine/net/tracker_answer.h"

#include <algorithm>
#include <cstring>

#include "engine/net/ipv4_address.h"
#include "engine/storage/bencode.h"
#include "engine/storage/bencode_lookup.h"

namespace {
constexpr int32_t kShortestInterval = 61;
constexpr int32_t kDefaultInterval = 600;
constexpr int32_t kLongestInterval = 86400;
constexpr size_t kCompactEntry = 6;
constexpr size_t kPeerIdBytes = 20;

// Exactly four dotted decimal parts; DottedParse alone would take "10.1"
// as 10.0.0.1.
bool ParseDottedQuad(std::string_view text, uint32_t &networkOrder)
{
    if (!IsDigitsAndDots(text) || std::count(text.begin(), text.end(), '.') != 3)
        return false;
    uint32_t host = DottedParse(text);
    if (host == kNoAddress)
        return false;
    networkOrder = HostToNetwork32(host);
    return true;
}

void AppendDictionaryPeers(const QElement &list, std::vector<TTrackerPeerAddress> &peers)
{
    for (int64_t i = 0; i < list.Count(); ++i) {
        const QElement *entry = list.ItemAt(i);
        if (entry == nullptr || entry->Type() != ELEMENT_DICTIONARY)
            continue;
        const QElement *ip = StringValue(*entry, "ip");
        const QElement *port = IntegerEntry(*entry, "port");
        TTrackerPeerAddress peer;
        if (ip == nullptr || port == nullptr || !ParseDottedQuad(ip->Bytes(), peer.address) ||
            !UsablePeerAddress(peer.address, port->Integer()))
            continue;
        peer.port = static_cast<int32_t>(port->Integer());
        const QElement *id = StringValue(*entry, "peer id");
        if (id != nullptr && id->Bytes().size() >= kPeerIdBytes) {
            peer.hasPeerId = true;
            std::memcpy(peer.peerId.data(), id->Bytes().data(), kPeerIdBytes);
        }
        peers.push_back(peer);
    }
}
} // namespace

int32_t TrackerInterval(int64_t asked)
{
    if (asked < kShortestInterval)
        return kDefaultInterval;
    return static_cast<int32_t>(std::min<int64_t>(asked, kLongestInterval));
}

bool UsablePeerAddress(uint32_t networkOrder, int64_t port)
{
    if (port < 1 || port > 65535)
        return false;
    uint32_t host = NetworkToHost32(networkOrder);
    bool multicast = (host >> 28) == 0xE;
    return host != 0 && host != 0xFFFFFFFFu && !multicast;
}

void AppendCompactPeers(const uint8_t *bytes, size_t length, std::vector<TTrackerPeerAddress> &peers)
{
    for (size_t at = 0; at + kCompactEntry <= length; at += kCompactEntry) {
        TTrackerPeerAddress peer;
        std::memcpy(&peer.address, bytes + at, 4);
        peer.port = (bytes[at + 4] << 8) | bytes[at + 5];
        if (UsablePeerAddress(peer.address, peer.port))
            peers.push_back(peer);
    }
}

TTrackerAnswer DecodeTrackerAnswer(const std::string &body)
{
    TTrackerAnswer answer;
    std::unique_ptr<QElement> root = CreateElement(body.data(), static_cast<int64_t>(body.size()));
    if (root == nullptr || root->Type() != ELEMENT_DICTIONARY)
        return answer;
    answer.bencoded = true;
    if (const QElement *failure = StringValue(*root, "failure reason"))
        answer.failureReason = std::string(failure->Bytes());
    const QElement *interval = IntegerEntry(*root, "interval");
    answer.interval = TrackerInterval(interval != nullptr ? interval->Integer() : 0);
    if (const QElement *compact = StringValue(*root, "peers")) {
        std::string_view bytes = compact->Bytes();
        AppendCompactPeers(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), answer.peers);
    } else if (const QElement *list = ListValue(*root, "peers")) {
        AppendDictionaryPeers(*list, answer.peers);
    }
    return answer;
}
