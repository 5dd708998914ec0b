#pragma once
#include <string>
#include <vector>

#include "engine/core/base_work.h"

// Source-entry marks kept by the peer pool.
enum : int {
    SOURCE_MARK_NEW = 0,
    SOURCE_MARK_MAIN_UNUSED = 1,
    SOURCE_MARK_IN_USE = 16,
    SOURCE_MARK_MAIN_IN_USE = 17,
};

// The peer layer of a task: its limits, its mirrors, its candidates and
// connections. The operations the main loop drives are virtual so that the
// pool fills them in.
class TWorkWithPeers : public TBaseWork {
public:
    int32_t maxServers = 0;
    int32_t maxPeers = 0;
    std::vector<std::string> mirrorUrls;
    std::vector<std::string> mirrorHosts;
    bool hasMirrors = false;

    void SetPeerLimitsLocked(int32_t servers, int32_t peers);
    void AddMirrorsLocked(const char *urls, const char *hosts);
    void ClearMirrorsLocked();

    // After a stop: sources in use become idle again; the main source is
    // processed again while the task has no torrent yet.
    void ReleaseSourceMarks();

    virtual bool HasMetadata() { return false; }
    virtual void Reset(bool release, bool full);

    // Every 15 s: sources to candidates, unresolved hosts retried, further
    // addresses of multi-address hosts added.
    virtual void MaintainCandidates() {}
    virtual bool HasCandidates() { return false; }
    // Every 400 ms: take over incoming connections meant for this task.
    virtual void DispatchIncoming() {}
    // Every main-loop round: send and receive on each connection.
    virtual void ServiceConnections() {}
    // True when every remaining connection has been a tracker for the given seconds.
    virtual bool OnlyTrackersFor(uint32_t) { return false; }
    // Registers the info hash for incoming connections, and removes it.
    virtual void JoinSwarm() {}
    virtual void LeaveSwarm() {}
    // Every 10 s: the LAN exchange.
    virtual void LanExchange() {}
};
