#include "engine/core/connection_order.h"

#include <algorithm>
#include <array>
#include <utility>

#include "engine/net/peer_object.h"

namespace {
constexpr int64_t kStep = 2048;

// Larger compares first; every element is taken once before sorting so the
// order stays consistent while sockets move.
using TRankKey = std::array<int64_t, 5>;

TRankKey KeyOf(TPeerObject &peer, bool complete)
{
    QSocket *socket = peer.Socket();
    int64_t received = socket != nullptr ? static_cast<int64_t>(socket->ReceivedBytes()) : 0;
    TRankKey key{peer.IsConnected() ? 1 : 0, 0, 0, 0, 0};
    if (!complete) {
        key[1] = peer.period.downRate / kStep;
        key[2] = peer.DownloadSpeed() / kStep;
        key[3] = peer.period.upRate / kStep;
        key[4] = received / kStep;
    } else {
        key[1] = peer.ChokedByUs() ? 0 : 1;
        key[2] = peer.RemotePieceCount();
        key[3] = peer.period.upRate / kStep;
        key[4] = peer.UploadSpeed() / kStep;
    }
    return key;
}
} // namespace

void SortConnections(std::vector<TRef<TPeerObject>> &connections, bool complete)
{
    std::vector<std::pair<TRankKey, TRef<TPeerObject>>> keyed;
    keyed.reserve(connections.size());
    for (TRef<TPeerObject> &peer : connections)
        keyed.emplace_back(KeyOf(*peer, complete), std::move(peer));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (size_t i = 0; i < keyed.size(); ++i)
        connections[i] = std::move(keyed[i].second);
}
