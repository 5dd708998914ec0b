#pragma once
// Command line of qlget, checked before any work starts.
#include <cstdint>
#include <string>
#include <vector>

struct TQlgetOptions {
    std::vector<std::string> urls; // mirrors of one file
    std::string output;            // -o, else the first URL's last path element
    std::string torrent;           // --torrent: a P2SP task, or without URLs a BitTorrent task
    std::vector<std::string> peers; // --peer btnode://a.b.c.d:port
    int32_t listenPort = 0;        // --port: listen for peers there (0: the engine's default)
    bool seed = false;             // --seed: serve after completion until stopped
    bool httpWrap = false;         // --http-wrap: disguise outgoing peer connections
    std::vector<std::string> trackers; // --tracker: announce URLs (http:// or udp://)
    std::string statePath;         // --state, else output + ".qlinfo"
    int32_t limitKBps = 0;         // 0: none
    int32_t uploadLimitKBps = 0;
    bool force = false;
    bool help = false;

    // The task talks to BitTorrent peers: the engine's peer switch goes on.
    // Announcing is part of the peer side, which runs only while listening.
    bool UsesPeers() const
    {
        return !trackers.empty() ||
               (!torrent.empty() && (urls.empty() || listenPort > 0 || seed || !peers.empty()));
    }
};

// Fills options from the arguments after the program name. On bad input
// returns false and sets error to a message for the user.
bool ParseQlgetOptions(const std::vector<std::string> &args, TQlgetOptions &options, std::string &error);

// The file name a URL names: its last path element without query or
// fragment; empty when there is none.
std::string OutputNameOfUrl(const std::string &url);

std::string QlgetUsage();
