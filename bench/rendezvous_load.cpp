// Load on one qlrendezvous over loopback: 100,000 engines, each its own
// source address (127.10.x.y on one of many ports), register, keep alive and
// ask for introductions. Each phase runs at a set rate, then as fast as the
// server answers (a bounded number in flight). Prints per phase the rate
// achieved, the answers lost (and where the kernel dropped datagrams), the
// server's CPU time (so the rate one core sustains) and at the end its peak
// memory.
//
//   bench_rendezvous_load [--hosts N] [--rate PER_SECOND] [--ports N] [--server PATH]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/net/ipv4_address.h"
#include "engine/net/qudp_socket.h"
#include "engine/net/rendezvous_packet.h"
#include "platform/child_process.h"
#include "platform/datagram_batch.h"
#include "platform/free_port.h"
#include "platform/socket_os.h"
#include "platform/tick.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kFirstSource = 0x7F0A0001; // 127.10.0.1
constexpr int kBatch = 64;
constexpr int kWindow = 4096;
constexpr int kQuietMs = 500;

struct TArgs {
    int hosts = 100000;
    int rate = 50000;
    int ports = 64;
    std::string server;
};

bool ParseArgs(int argc, char **argv, TArgs &args)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--hosts" && i + 1 < argc)
            args.hosts = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--rate" && i + 1 < argc)
            args.rate = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--ports" && i + 1 < argc)
            args.ports = std::clamp(std::atoi(argv[++i]), 1, 1024);
        else if (arg == "--server" && i + 1 < argc)
            args.server = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--hosts N] [--rate PER_SECOND] [--ports N] [--server PATH]\n", argv[0]);
            return false;
        }
    }
    if (args.server.empty())
        args.server = (fs::weakly_canonical(fs::path(argv[0])).parent_path().parent_path() / "tools" / "qlrendezvous")
                          .string();
    if (!fs::exists(args.server)) {
        std::fprintf(stderr, "qlrendezvous not found at %s (build it, or pass --server PATH)\n", args.server.c_str());
        return false;
    }
    return true;
}

// Fields of /proc/PID/status and /proc/PID/stat.
int64_t StatusKb(int pid, const std::string &field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::atoll(line.c_str() + field.size() + 1);
    return -1;
}

double CpuSeconds(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name (which may hold spaces): state is 3rd,
    // utime the 14th, stime the 15th.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i >= 14)
            ticks += std::atof(field.c_str());
    return ticks / 100.0;
}

// Datagrams the kernel dropped at full receive queues: at the server's
// socket (port), and at every other loopback socket (the load's own).
struct TDrops {
    uint64_t server = 0;
    uint64_t load = 0;
};

TDrops SocketDrops(int serverPort)
{
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);
    TDrops drops;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, field;
        fields >> slot >> local;
        for (int i = 3; i < 13 && fields >> field; ++i) {
        }
        uint64_t dropped = 0;
        fields >> dropped;
        const int port = static_cast<int>(std::strtol(local.substr(local.find(':') + 1).c_str(), nullptr, 16));
        (port == serverPort ? drops.server : drops.load) += dropped;
    }
    return drops;
}

enum class TKind { Registration, KeepAlive, Introduction };

class TLoad {
public:
    TLoad(const TArgs &args, int serverPort) : args(args), serverPort(serverPort)
    {
        perPort = (args.hosts + args.ports - 1) / args.ports;
        for (int i = 0; i < args.ports; ++i) {
            // Every address: answers come back to 127.10.x.y, not to the address bound.
            sockets.push_back(std::make_unique<QUdpSocket>());
            sockets.back()->Open(0, 0);
            platform::OsSetReceiveBuffer(sockets.back()->Handle(), 4 << 20);
        }
        received.resize(kBatch);
        for (auto &slot : received) {
            slot.data = new uint8_t[512];
            slot.capacity = 512;
        }
    }
    ~TLoad()
    {
        for (auto &slot : received)
            delete[] slot.data;
    }

    bool Ready() const
    {
        return std::all_of(sockets.begin(), sockets.end(), [](const auto &s) { return s->IsOpen(); });
    }

    // Sends one datagram of the kind for each host, rate per second (0: as
    // fast as answers come, kWindow in flight), and waits for the answers.
    void Phase(const char *name, TKind kind, int rate, int serverPid)
    {
        answered.assign(static_cast<size_t>(args.hosts), 0);
        answers = notices = 0;
        const bool answers_expected = kind != TKind::KeepAlive;
        const double cpuBefore = CpuSeconds(serverPid);
        const TDrops dropsBefore = SocketDrops(serverPort);
        const Clock::time_point start = Clock::now();
        Clock::time_point lastProgress = start;
        int sent = 0;
        while (true) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            // Paced: rate a second, never more than kWindow unanswered (a
            // load descheduled on a busy machine must not come back as one
            // burst larger than any socket queue). Flat out: the window alone.
            int due = rate > 0 ? std::min<int>(args.hosts, static_cast<int>(elapsed * rate) + 1) : args.hosts;
            if (answers_expected)
                due = std::min<int>(due, static_cast<int>(answers) + kWindow);
            // A load that fell behind catches up in steps, reading between
            // them, or it would flood both ends at once.
            for (int step = 0; sent < due && step < 8; ++step)
                sent += SendRun(kind, sent, due);
            const uint64_t before = answers + notices;
            Drain();
            if (answers + notices != before || sent < args.hosts)
                lastProgress = Clock::now();
            const bool allAnswered = !answers_expected || answers == static_cast<uint64_t>(args.hosts);
            if (sent == args.hosts && (allAnswered || Clock::now() - lastProgress > std::chrono::milliseconds(kQuietMs)))
                break;
            if (sent == due)
                platform::SleepMs(0);
        }
        const double seconds = std::chrono::duration<double>(lastProgress - start).count();
        const double cpu = CpuSeconds(serverPid) - cpuBefore;
        const uint64_t lost = answers_expected ? static_cast<uint64_t>(args.hosts) - answers : 0;
        const TDrops drops = SocketDrops(serverPort);
        std::printf("  %-26s %9.0f /s  lost %6llu (dropped in: server %llu, load %llu)  notices %6llu  "
                    "server cpu %5.2f s = %7.0f /s on one core\n",
                    name, args.hosts / std::max(seconds, 1e-6), static_cast<unsigned long long>(lost),
                    static_cast<unsigned long long>(drops.server - dropsBefore.server),
                    static_cast<unsigned long long>(drops.load - dropsBefore.load),
                    static_cast<unsigned long long>(notices), cpu, cpu > 0 ? args.hosts / cpu : 0.0);
        std::fflush(stdout);
    }

private:
    uint32_t SourceOf(int host) const { return HostToNetwork32(kFirstSource + static_cast<uint32_t>(host % perPort)); }
    int PortIndexOf(int host) const { return host / perPort; }

    TUdpIdentity IdentityOf(int host) const
    {
        const uint8_t random[8] = {0x51, 0x4C, static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                                   static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host), 0x99, 0x77};
        return MakeUdpIdentity(random);
    }

    size_t Encode(TKind kind, int host, uint8_t *out) const
    {
        if (kind == TKind::Registration) {
            const auto bytes = EncodeRegistration({IdentityOf(host), 1, SourceOf(host), 8080});
            std::copy(bytes.begin(), bytes.end(), out);
            return bytes.size();
        }
        if (kind == TKind::KeepAlive) {
            std::fill(out, out + kKeepAliveBytes, 0);
            return kKeepAliveBytes;
        }
        // One to four targets: known identities, an unknown one, and an
        // address form that names a registered host.
        TIntroduction request;
        request.identity = IdentityOf(host);
        request.requestId = static_cast<uint32_t>(host);
        const int targets = 1 + host % 4;
        for (int t = 0; t < targets; ++t) {
            const int target = static_cast<int>((static_cast<int64_t>(host) * 7919 + t * 104729) % args.hosts);
            TUdpTag tag = UdpIdentityTag(IdentityOf(target));
            if (t == 2)
                tag[7] ^= 0xFF;
            if (t == 3)
                tag = UdpAddressTag(SourceOf(target), 8080);
            request.Add({SourceOf(target), 0, tag});
        }
        const TIntroductionBytes bytes = EncodeIntroductionRequest(request);
        std::copy(bytes.data.begin(), bytes.data.begin() + static_cast<long>(bytes.size), out);
        return bytes.size;
    }

    // Sends hosts from first on, up to due and within one port: how many went.
    int SendRun(TKind kind, int first, int due)
    {
        const int port = PortIndexOf(first);
        const int last = std::min({due, first + kBatch, (port + 1) * perPort});
        platform::DatagramSlot slots[kBatch];
        int count = 0;
        for (int host = first; host < last; ++host, ++count) {
            slots[count].data = outgoing[count];
            slots[count].length = Encode(kind, host, outgoing[count]);
            slots[count].peer.ip = HostToNetwork32(0x7F000001);
            slots[count].peer.port = static_cast<uint16_t>(serverPort);
            slots[count].from = SourceOf(host);
        }
        int went = 0;
        while (went < count) {
            const int now = platform::OsSendDatagrams(sockets[port]->Handle(), slots + went, count - went);
            if (now <= 0) {
                Drain();
                continue;
            }
            went += now;
        }
        return count;
    }

    void Drain()
    {
        for (size_t port = 0; port < sockets.size(); ++port) {
            int got;
            while ((got = platform::OsRecvDatagrams(sockets[port]->Handle(), received.data(), kBatch)) > 0)
                for (int i = 0; i < got; ++i)
                    Count(static_cast<int>(port), received[i]);
        }
    }

    void Count(int port, const platform::DatagramSlot &slot)
    {
        int host = -1;
        if (auto report = ParsePublicAddressReport(slot.data, slot.length))
            host = port * perPort + static_cast<int>(NetworkToHost32(report->ipv4) - kFirstSource);
        else if (auto answer = ParseIntroductionAnswer(slot.data, slot.length))
            host = static_cast<int>(answer->requestId);
        else if (ParseIntroductionNotice(slot.data, slot.length))
            ++notices;
        if (host >= 0 && host < args.hosts && !answered[static_cast<size_t>(host)]) {
            answered[static_cast<size_t>(host)] = 1;
            ++answers;
        }
    }

    TArgs args;
    int serverPort;
    int perPort = 1;
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
    std::vector<platform::DatagramSlot> received;
    uint8_t outgoing[kBatch][kIntroductionMaxBytes];
    std::vector<uint8_t> answered;
    uint64_t answers = 0;
    uint64_t notices = 0;
};

} // namespace

int main(int argc, char **argv)
{
    TArgs args;
    if (!ParseArgs(argc, argv, args))
        return 2;
    const int port = platform::FreeLoopbackPort();
    const int pid = platform::StartChildProcess({args.server, "--listen", "127.0.0.1:" + std::to_string(port)});
    if (port <= 0 || pid <= 0) {
        std::fprintf(stderr, "could not start %s\n", args.server.c_str());
        return 1;
    }
    platform::SleepMs(300);
    auto load = std::make_unique<TLoad>(args, port);
    if (!load->Ready()) {
        std::fprintf(stderr, "could not open the load's sockets\n");
        platform::StopChildProcess(pid);
        return 1;
    }
    std::printf("rendezvous load: %d engines from %d ports, %d /s paced, server pid %d\n", args.hosts, args.ports,
                args.rate, pid);
    load->Phase("register (paced)", TKind::Registration, args.rate, pid);
    load->Phase("register again (flat out)", TKind::Registration, 0, pid);
    load->Phase("keep-alive (paced)", TKind::KeepAlive, args.rate, pid);
    load->Phase("introduce (paced)", TKind::Introduction, args.rate, pid);
    load->Phase("introduce (flat out)", TKind::Introduction, 0, pid);
    std::printf("  server memory: peak %.1f MiB (VmHWM), now %.1f MiB with %d engines held\n",
                static_cast<double>(StatusKb(pid, "VmHWM")) / 1024.0,
                static_cast<double>(StatusKb(pid, "VmRSS")) / 1024.0, args.hosts);
    platform::StopChildProcess(pid);
    return 0;
}
