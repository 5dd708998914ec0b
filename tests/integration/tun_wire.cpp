// tun_wire: a lossy, slow wire between two TUN devices, for tests and
// benchmarks that need a path worse than loopback on a kernel without netem.
// Every IP packet read from one device is written to the other after a fixed
// delay, unless the seeded draw drops it (each direction draws on its own, so
// a run repeats exactly for the same traffic).
//
//   tun_wire DEV_A DEV_B [--delay-ms N] [--loss-percent P] [--seed N]
//
// The devices exist already (ip tuntap add); the wire attaches to them where
// it runs and prints "ready", after which they may be moved into other
// namespaces: an attached descriptor keeps working across the move.
// SIGTERM or SIGINT ends it with 0 after printing what it forwarded and
// dropped each way. Exit status 2 for bad usage, 1 when a device cannot be
// attached.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "platform/socket_wait.h"

namespace {

using TClock = std::chrono::steady_clock;

// Far above what a 10 ms delay holds at any rate the machine forwards; a
// bound only so that a stuck writer cannot eat the memory.
constexpr size_t kQueueLimit = 65536;
constexpr size_t kPacketLimit = 65536;

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int)
{
    stopRequested = 1;
}

struct TOptions {
    std::string deviceA;
    std::string deviceB;
    int delayMs = 10;
    double lossPercent = 1.0;
    uint64_t seed = 1;
};

struct TDelayed {
    TClock::time_point due;
    std::vector<uint8_t> bytes;
};

// One direction: packets read from `from`, held until due, written to `to`.
struct TDirection {
    int from = -1;
    int to = -1;
    std::mt19937_64 random;
    std::deque<TDelayed> queue;
    uint64_t forwarded = 0;
    uint64_t dropped = 0;
};

bool ParseOptions(int argc, char **argv, TOptions &options)
{
    if (argc < 3)
        return false;
    options.deviceA = argv[1];
    options.deviceB = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        char *end = nullptr;
        if (name == "--delay-ms")
            options.delayMs = static_cast<int>(std::strtol(argv[i + 1], &end, 10));
        else if (name == "--loss-percent")
            options.lossPercent = std::strtod(argv[i + 1], &end);
        else if (name == "--seed")
            options.seed = std::strtoull(argv[i + 1], &end, 10);
        else
            return false;
        if (end == argv[i + 1] || *end != '\0')
            return false;
    }
    const bool paired = argc % 2 == 1;
    return paired && options.delayMs >= 0 && options.lossPercent >= 0 && options.lossPercent <= 100 &&
           !options.deviceA.empty() && options.deviceA.size() < IFNAMSIZ && !options.deviceB.empty() &&
           options.deviceB.size() < IFNAMSIZ;
}

// A non-blocking descriptor on the named TUN device, raw IP without the
// packet-information prefix; -1 after saying why.
int AttachDevice(const std::string &name)
{
    const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open /dev/net/tun: %s\n", std::strerror(errno));
        return -1;
    }
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    if (ioctl(fd, TUNSETIFF, &request) < 0) {
        std::fprintf(stderr, "cannot attach %s: %s\n", name.c_str(), std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

// Reads every packet waiting on the direction's source and queues or drops it.
void Take(TDirection &direction, const TOptions &options, std::vector<uint8_t> &buffer)
{
    std::bernoulli_distribution lost(options.lossPercent / 100.0);
    for (;;) {
        const ssize_t length = read(direction.from, buffer.data(), buffer.size());
        if (length <= 0)
            return;
        if (lost(direction.random) || direction.queue.size() >= kQueueLimit) {
            ++direction.dropped;
            continue;
        }
        direction.queue.push_back({TClock::now() + std::chrono::milliseconds(options.delayMs),
                                   std::vector<uint8_t>(buffer.begin(), buffer.begin() + length)});
    }
}

// Writes every packet that is due. A device that is not up yet refuses the
// write; the packet is lost as on a cable that is not plugged in.
void Deliver(TDirection &direction)
{
    const TClock::time_point now = TClock::now();
    while (!direction.queue.empty() && direction.queue.front().due <= now) {
        const std::vector<uint8_t> &bytes = direction.queue.front().bytes;
        if (write(direction.to, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()))
            ++direction.forwarded;
        else
            ++direction.dropped;
        direction.queue.pop_front();
    }
}

// Milliseconds until the earlier of the two queue heads is due; 100 when
// both are empty, so that a stop request is noticed.
int WaitMs(const TDirection &first, const TDirection &second)
{
    int wait = 100;
    const TClock::time_point now = TClock::now();
    for (const TDirection *direction : {&first, &second}) {
        if (direction->queue.empty())
            continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(direction->queue.front().due - now);
        wait = std::min(wait, static_cast<int>(std::max<int64_t>(0, left.count())));
    }
    return wait;
}

} // namespace

int main(int argc, char **argv)
{
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: tun_wire DEV_A DEV_B [--delay-ms N] [--loss-percent P] [--seed N]\n");
        return 2;
    }
    const int a = AttachDevice(options.deviceA);
    const int b = a < 0 ? -1 : AttachDevice(options.deviceB);
    if (b < 0)
        return 1;
    struct sigaction action{};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    TDirection aToB{a, b, std::mt19937_64(options.seed), {}, 0, 0};
    TDirection bToA{b, a, std::mt19937_64(options.seed + 1), {}, 0, 0};
    std::vector<uint8_t> buffer(kPacketLimit);
    std::printf("ready\n");
    std::fflush(stdout);
    while (stopRequested == 0) {
        platform::WaitAnyReadable({a, b}, WaitMs(aToB, bToA));
        Take(aToB, options, buffer);
        Take(bToA, options, buffer);
        Deliver(aToB);
        Deliver(bToA);
    }
    std::printf("a to b: forwarded %llu dropped %llu\nb to a: forwarded %llu dropped %llu\n",
                static_cast<unsigned long long>(aToB.forwarded), static_cast<unsigned long long>(aToB.dropped),
                static_cast<unsigned long long>(bToA.forwarded), static_cast<unsigned long long>(bToA.dropped));
    return 0;
}
