// The engine's UDP stream transport against TCP and against libtorrent's uTP.
//  - loopback: one qlstream pair each for the transport (qlrendezvous
//    introducing it) and for TCP, the same seeded bytes each way, verified;
//    and a libtorrent seeder and leecher moving the same amount one way over
//    uTP alone, data on tmpfs (bench/utp_transfer.py);
//  - wire: the transport and TCP again, between two namespaces joined by
//    tun_wire (10 ms and 1 % loss each way), when run as root.
// Prints TCP's congestion control, MB/s and the ratios.
//
//   bench_udp_stream [MiB] [wire MiB]      (defaults 64 and 4)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/free_port.h"
#include "platform/read_file.h"
#include "platform/run_program.h"
#include "platform/tick.h"
#include "tests/integration/qlstream_pair.h"
#include "tests/integration/tun_wire_namespaces.h"

namespace {
namespace fs = std::filesystem;

constexpr const char *kPython = "/usr/bin/python3";
constexpr uint32_t kLoopbackLimitMs = 600000;
// A loss stalls the transport for 1.6 s or more: about 0.1 MB/s.
constexpr uint32_t kWireLimitMs = 1200000;
constexpr int kWireRendezvousPort = 4082;
constexpr int kWireServicePort = 5000;
constexpr int kWireClientPort = 5001;

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// MB/s each way of the transport and of TCP between the two sides; 0 for a
// failed run, which is shown on standard error.
std::vector<double> TransportAndTcp(const TStreamPair &pair, const TStreamSide &listen, const TStreamSide &connect,
                                    long long bytes, uint32_t limitMs)
{
    std::vector<double> rates;
    for (const bool tcp : {false, true}) {
        const TStreamPairResult result = pair.Run(listen, connect, tcp, bytes, limitMs);
        if (!result.verified)
            std::fprintf(stderr, "%s transfer failed:\n%s\n", tcp ? "TCP" : "transport", result.report.c_str());
        rates.push_back(result.megabytesPerSecond);
    }
    return rates;
}

// MB/s of libtorrent's uTP one way on loopback; 0 when it failed or is not
// installed.
double UtpRate(long long mebibytes)
{
    std::string output;
    if (platform::RunProgram({kPython, "-c", "import libtorrent"}, &output) != 0) {
        std::fprintf(stderr, "python3-libtorrent is missing (scripts/setup.sh installs it)\n");
        return 0;
    }
    const int status = platform::RunProgram({kPython, std::string(QL_SOURCE_DIR) + "/bench/utp_transfer.py", "--mib",
                                             std::to_string(mebibytes), "--seed-port",
                                             std::to_string(platform::FreeLoopbackPort()), "--leech-port",
                                             std::to_string(platform::FreeLoopbackPort())},
                                            &output);
    const size_t rate = output.find(" s: ");
    if (status != 0 || rate == std::string::npos) {
        std::fprintf(stderr, "uTP transfer failed: %s\n", output.c_str());
        return 0;
    }
    return std::atof(output.c_str() + rate + 4);
}

double Ratio(double ours, double theirs)
{
    return theirs > 0 ? ours / theirs : 0.0;
}

bool Loopback(long long mebibytes, const fs::path &scratch)
{
    const std::string address = "127.0.0.1:" + std::to_string(platform::FreeLoopbackPort());
    const int rendezvous =
        StartRendezvousServer(QLRENDEZVOUS_PROGRAM, std::string(), address, scratch / "rendezvous.log");
    if (rendezvous < 0) {
        std::fprintf(stderr, "qlrendezvous did not start\n");
        return false;
    }
    const TStreamPair pair(QLSTREAM_PROGRAM, address, scratch);
    const std::vector<double> rates =
        TransportAndTcp(pair, {std::string(), "127.0.0.1", platform::FreeLoopbackPort()},
                        {std::string(), "127.0.0.1", platform::FreeLoopbackPort()}, mebibytes << 20, kLoopbackLimitMs);
    platform::StopChildProcess(rendezvous);
    const double utp = UtpRate(mebibytes);

    std::printf("loopback, %lld MiB, verified:\n", mebibytes);
    std::printf("  UDP stream transport  %8.1f MB/s each way\n", rates[0]);
    std::printf("  TCP                   %8.1f MB/s each way\n", rates[1]);
    std::printf("  libtorrent uTP        %8.1f MB/s one way\n", utp);
    std::printf("  transport / TCP       %8.2f\n", Ratio(rates[0], rates[1]));
    std::printf("  transport / uTP       %8.2f\n", Ratio(rates[0], utp));
    std::fflush(stdout);
    return rates[0] > 0 && rates[1] > 0 && utp > 0;
}

bool Wire(long long mebibytes, const fs::path &scratch)
{
    const TWireSettings settings;
    std::printf("wire (%d ms and %g %% loss each way), %lld MiB each way, verified:\n", settings.delayMs,
                settings.lossPercent, mebibytes);
    if (!NamespacesAvailable()) {
        std::printf("  skipped: the wire's namespaces need root and iproute2\n");
        return true;
    }
    TTunWireNamespaces wire;
    const std::string failure = wire.Build(TUN_WIRE_PROGRAM, scratch / "wire.log", settings);
    if (!failure.empty()) {
        std::fprintf(stderr, "wire not built: %s\n", failure.c_str());
        return false;
    }
    const std::string address = std::string(TTunWireNamespaces::kAddressA) + ":" + std::to_string(kWireRendezvousPort);
    const int rendezvous =
        StartRendezvousServer(QLRENDEZVOUS_PROGRAM, wire.SideA(), address, scratch / "wire_rendezvous.log");
    if (rendezvous < 0) {
        std::fprintf(stderr, "qlrendezvous did not start\n");
        return false;
    }
    const TStreamPair pair(QLSTREAM_PROGRAM, address, scratch);
    const std::vector<double> rates =
        TransportAndTcp(pair, {wire.SideB(), TTunWireNamespaces::kAddressB, kWireServicePort},
                        {wire.SideA(), TTunWireNamespaces::kAddressA, kWireClientPort}, mebibytes << 20, kWireLimitMs);
    platform::StopChildProcess(rendezvous);
    const std::string report = wire.Stop();
    std::printf("  UDP stream transport  %8.2f MB/s each way\n", rates[0]);
    std::printf("  TCP                   %8.2f MB/s each way\n", rates[1]);
    std::printf("  transport / TCP       %8.3f\n", Ratio(rates[0], rates[1]));
    for (size_t line = report.find("a to b"); line != std::string::npos && line < report.size();) {
        const size_t end = report.find('\n', line);
        std::printf("  the wire, %s\n", report.substr(line, end - line).c_str());
        line = end == std::string::npos ? end : end + 1;
    }
    return rates[0] > 0 && rates[1] > 0;
}
} // namespace

int main(int argc, char **argv)
{
    const long long mebibytes = argc > 1 ? std::atoll(argv[1]) : 64;
    const long long wireMebibytes = argc > 2 ? std::atoll(argv[2]) : 4;
    if (argc > 3 || mebibytes <= 0 || wireMebibytes <= 0) {
        std::fprintf(stderr, "usage: bench_udp_stream [MiB] [wire MiB]\n");
        return 2;
    }
    const fs::path scratch = fs::temp_directory_path() / ("ql_udp_stream_" + std::to_string(platform::TickCount()));
    fs::create_directories(scratch);
    std::string congestion;
    std::string allowed;
    platform::ReadWholeFile("/proc/sys/net/ipv4/tcp_congestion_control", 256, congestion);
    platform::ReadWholeFile("/proc/sys/net/ipv4/tcp_allowed_congestion_control", 256, allowed);
    std::printf("TCP congestion control: %s (allowed: %s)\n", Trimmed(congestion).c_str(), Trimmed(allowed).c_str());
    const bool loopback = Loopback(mebibytes, scratch);
    const bool wire = Wire(wireMebibytes, scratch);
    fs::remove_all(scratch);
    return loopback && wire ? 0 : 1;
}
