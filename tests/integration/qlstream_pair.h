#pragma once
// One qlstream pair run to its end: a listener and a connector, each in a
// namespace of its own or in the caller's, moving the same seeded bytes each
// way over the UDP stream transport (introduced by the rendezvous server
// given) or over TCP, and verifying them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "platform/tick.h"
#include "tests/integration/child_exit.h"
#include "tests/integration/logged_child.h"

// qlrendezvous (program) listening on address in namespace space; its
// process id once it says so, else -1.
inline int StartRendezvousServer(const std::string &program, const std::string &space, const std::string &address,
                                 const std::filesystem::path &log)
{
    const int pid = StartLogged(space, log, {program, "--listen", address});
    if (pid > 0 && WaitForText(log, "listening on"))
        return pid;
    platform::StopChildProcess(pid);
    return -1;
}

// Where each side runs: a namespace (empty for the caller's), its address
// and port. The listener's address is also the one the connector dials.
struct TStreamSide {
    std::string space;
    std::string address;
    int port = 0;
};

struct TStreamPairResult {
    bool verified = false;
    double megabytesPerSecond = 0; // each way, as the connector measured
    std::string report;            // both sides' output, for a failure
};

class TStreamPair {
public:
    TStreamPair(std::string qlstream, std::string rendezvous, std::filesystem::path scratch)
        : program(std::move(qlstream)), rendezvousServer(std::move(rendezvous)), folder(std::move(scratch))
    {
    }

    TStreamPairResult Run(const TStreamSide &listen, const TStreamSide &connect, bool tcp, int64_t bytes,
                          uint32_t limitMs) const
    {
        const std::string kind = tcp ? "tcp" : "udp";
        const std::string server = "QUARROWLIGHT_RENDEZVOUS=" + rendezvousServer;
        const std::filesystem::path listenLog = folder / (kind + "_listen.log");
        const std::filesystem::path connectLog = folder / (kind + "_connect.log");
        // A log of an earlier run would show its listener's identity before
        // this listener has written anything.
        std::error_code ignored;
        std::filesystem::remove(listenLog, ignored);
        std::filesystem::remove(connectLog, ignored);
        TStreamPairResult result;
        std::vector<std::string> listenArgs{program, "listen", "--port", std::to_string(listen.port), "--local",
                                            listen.address, "--bytes", std::to_string(bytes)};
        if (tcp)
            listenArgs.push_back("--tcp");
        const int listener = StartLogged(listen.space, listenLog, listenArgs, {server});
        const std::string identity = WaitIdentity(listener, listenLog);
        if (identity.empty()) {
            platform::StopChildProcess(listener);
            result.report = "listener did not start: " + ReadLog(listenLog);
            return result;
        }
        std::vector<std::string> connectArgs{program, "connect",
                                             identity + "@" + listen.address + ":" + std::to_string(listen.port),
                                             "--port", std::to_string(connect.port), "--local", connect.address,
                                             "--bytes", std::to_string(bytes)};
        if (tcp)
            connectArgs.push_back("--tcp");
        const uint32_t start = platform::TickCount();
        const int connectStatus =
            WaitExitWithin(StartLogged(connect.space, connectLog, connectArgs, {server}), limitMs);
        // A listener whose connector failed may never be reached: it gets
        // a moment to end, not the rest of the limit.
        const uint32_t left = limitMs - std::min(limitMs, platform::TickCount() - start);
        const int listenStatus = WaitExitWithin(listener, connectStatus == 0 ? std::max(left, 2000u) : 2000u);
        const std::string output = ReadLog(connectLog);
        // The rate from the seconds, which qlstream prints more finely than
        // its rate: a lossy path is slower than 0.1 MB/s.
        const size_t seconds = output.find(" bytes each way in ");
        result.verified = connectStatus == 0 && listenStatus == 0 && seconds != std::string::npos;
        const double elapsed = result.verified ? std::atof(output.c_str() + seconds + 19) : 0;
        result.megabytesPerSecond = elapsed > 0 ? static_cast<double>(bytes) / elapsed / 1e6 : 0;
        result.report = "connector (status " + std::to_string(connectStatus) + "):\n" + output + "listener (status " +
                        std::to_string(listenStatus) + "):\n" + ReadLog(listenLog);
        return result;
    }

private:
    // The listener's identity once it listens; empty when it never did.
    static std::string WaitIdentity(int listener, const std::filesystem::path &log)
    {
        if (listener <= 0 || !WaitForText(log, "listening on"))
            return std::string();
        const std::string text = ReadLog(log);
        const size_t at = text.find("identity ");
        return at != std::string::npos ? text.substr(at + 9, 16) : std::string();
    }

    std::string program;
    std::string rendezvousServer;
    std::filesystem::path folder;
};
