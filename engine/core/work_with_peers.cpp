#include "engine/core/work_with_peers.h"

void TWorkWithPeers::SetPeerLimitsLocked(int32_t servers, int32_t peers)
{
    maxServers = servers;
    maxPeers = peers;
}

void TWorkWithPeers::AddMirrorsLocked(const char *urls, const char *hosts)
{
    for (auto &entry : SplitSourceList(urls))
        mirrorUrls.push_back(std::move(entry.text));
    for (auto &entry : SplitSourceList(hosts))
        mirrorHosts.push_back(std::move(entry.text));
    hasMirrors = true;
}

void TWorkWithPeers::ClearMirrorsLocked()
{
    mirrorUrls.clear();
    mirrorHosts.clear();
    hasMirrors = false;
}

void TWorkWithPeers::ReleaseSourceMarks()
{
    bool haveTorrent = HasMetadata();
    for (auto &entry : sources) {
        if (entry.mark == SOURCE_MARK_IN_USE)
            entry.mark = SOURCE_MARK_NEW;
        else if (entry.mark == SOURCE_MARK_MAIN_IN_USE && !haveTorrent)
            entry.mark = SOURCE_MARK_MAIN_UNUSED;
    }
}

void TWorkWithPeers::Reset(bool, bool) {}
