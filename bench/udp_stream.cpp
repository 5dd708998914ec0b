// The engine's UDP stream transport against TCP on loopback: one qlstream
// pair each (with qlrendezvous introducing the UDP pair), the same seeded
// bytes each way, verified. Prints MB/s each way and the ratio.
//
//   bench_udp_stream [MiB]      (default 64)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/child_wait.h"
#include "platform/free_port.h"
#include "platform/run_program.h"
#include "platform/tick.h"

namespace {
namespace fs = std::filesystem;

constexpr uint32_t kStartWaitMs = 20000;

std::string ReadText(const fs::path &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The listener's log once it says it listens; empty when it never did.
std::string WaitListening(const fs::path &log)
{
    for (uint32_t waited = 0; waited < kStartWaitMs; waited += 20) {
        std::string text = ReadText(log);
        if (text.find("listening on") != std::string::npos)
            return text;
        platform::SleepMs(20);
    }
    return std::string();
}

// MB/s each way of one qlstream pair; 0 when the transfer failed.
double RunPair(bool tcp, long long bytes, const fs::path &scratch)
{
    const std::string port = std::to_string(platform::FreeLoopbackPort());
    const std::string clientPort = std::to_string(platform::FreeLoopbackPort());
    const fs::path log = scratch / (tcp ? "tcp_listen.log" : "udp_listen.log");
    std::vector<std::string> listen{"/bin/sh", "-c", "exec \"$0\" \"$@\" >\"" + log.string() + "\" 2>&1",
                                    QLSTREAM_PROGRAM, "listen", "--port", port, "--local", "127.0.0.1",
                                    "--bytes", std::to_string(bytes)};
    if (tcp)
        listen.push_back("--tcp");
    const int listener = platform::StartChildProcess(listen);
    const std::string text = WaitListening(log);
    const size_t at = text.find("identity ");
    if (listener < 0 || at == std::string::npos) {
        std::fprintf(stderr, "listener did not start: %s\n", text.c_str());
        platform::StopChildProcess(listener);
        return 0;
    }
    const std::string identity = text.substr(at + 9, 16);
    std::vector<std::string> connect{QLSTREAM_PROGRAM, "connect", identity + "@127.0.0.1:" + port, "--port",
                                     clientPort, "--local", "127.0.0.1", "--bytes", std::to_string(bytes)};
    if (tcp)
        connect.push_back("--tcp");
    std::string output;
    const int status = platform::RunProgram(connect, &output);
    platform::ChildResult result;
    platform::WaitChild(listener, result);
    const size_t rate = output.find(" s: ");
    if (status != 0 || result.exitCode != 0 || rate == std::string::npos) {
        std::fprintf(stderr, "%s transfer failed: %s%s\n", tcp ? "TCP" : "UDP", output.c_str(),
                     ReadText(log).c_str());
        return 0;
    }
    return std::atof(output.c_str() + rate + 4);
}
} // namespace

int main(int argc, char **argv)
{
    const long long mebibytes = argc > 1 ? std::atoll(argv[1]) : 64;
    if (mebibytes <= 0) {
        std::fprintf(stderr, "usage: bench_udp_stream [MiB]\n");
        return 2;
    }
    const fs::path scratch = fs::temp_directory_path() / ("ql_udp_stream_" + std::to_string(platform::TickCount()));
    fs::create_directories(scratch);
    const std::string rendezvousPort = std::to_string(platform::FreeLoopbackPort());
    const int rendezvous = platform::StartChildProcess({QLRENDEZVOUS_PROGRAM, "--listen", "127.0.0.1:" + rendezvousPort});
    setenv("QUARROWLIGHT_RENDEZVOUS", ("127.0.0.1:" + rendezvousPort).c_str(), 1);

    std::string congestion = ReadText("/proc/sys/net/ipv4/tcp_congestion_control");
    while (!congestion.empty() && (congestion.back() == '\n' || congestion.back() == ' '))
        congestion.pop_back();
    const long long bytes = mebibytes << 20;
    const double udp = RunPair(false, bytes, scratch);
    const double tcp = RunPair(true, bytes, scratch);
    platform::StopChildProcess(rendezvous);
    fs::remove_all(scratch);

    std::printf("loopback, %lld MiB each way, verified:\n", mebibytes);
    std::printf("  UDP stream transport  %8.1f MB/s\n", udp);
    std::printf("  TCP (%s)%*s %8.1f MB/s\n", congestion.c_str(), static_cast<int>(15 - congestion.size()), "", tcp);
    std::printf("  transport / TCP       %8.2f\n", tcp > 0 ? udp / tcp : 0.0);
    return udp > 0 && tcp > 0 ? 0 : 1;
}
