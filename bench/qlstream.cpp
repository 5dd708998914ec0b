// qlstream: one stream over the engine's UDP transport (or TCP with --tcp)
// between two processes. Each side sends N seeded bytes and checks the N it
// receives, then a one-byte end mark that proves the other side has all of
// its bytes; it prints the rate, this engine's identity and public address.
//
//   qlstream listen --port P [--bytes N] [--local A.B.C.D] [--tcp]
//   qlstream connect TAG@IP:PORT --port P [--bytes N] [--local A.B.C.D] [--tcp]
//
// TAG is 16 hex digits (an identity, or an address form 0000 + IPv4 + port),
// or "address" for the address form of IP:PORT. The rendezvous server comes
// from QUARROWLIGHT_RENDEZVOUS. Exit status: 0 verified, 1 failed, 2 usage.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/base/engine_locks.h"
#include "engine/core/engine_startup.h"
#include "engine/core/engine_state.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/local_address.h"
#include "engine/net/qsocket.h"
#include "engine/net/udp_identity.h"
#include "engine/net/udp_server.h"
#include "platform/socket_wait.h"
#include "platform/tick.h"

namespace {
constexpr char kEndMark = 'K';
constexpr int32_t kChunk = 64 * 1024;
constexpr int32_t kSendAhead = 256 * 1024;
constexpr uint32_t kRegisterWaitMs = 15000;
constexpr uint32_t kConnectWaitMs = 40000;

struct TOptions {
    bool listen = false;
    bool tcp = false;
    int32_t port = 0;
    int64_t bytes = 16 << 20;
    uint32_t local = 0;
    std::string target;
};

// Bytes 8k..8k+7 of the stream are a mix of k with the seed.
uint64_t StreamWord(uint64_t seed, uint64_t word)
{
    uint64_t z = seed + word * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void Fill(uint64_t seed, uint64_t offset, uint8_t *out, size_t count)
{
    uint64_t word = offset >> 3;
    uint64_t bits = StreamWord(seed, word);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t index = offset + i;
        if ((index >> 3) != word) {
            word = index >> 3;
            bits = StreamWord(seed, word);
        }
        out[i] = static_cast<uint8_t>(bits >> ((index & 7) * 8));
    }
}

bool ParseHex(const std::string &text, uint8_t *out, size_t bytes)
{
    if (text.size() != bytes * 2)
        return false;
    for (size_t i = 0; i < bytes; ++i) {
        char *end = nullptr;
        std::string pair = text.substr(i * 2, 2);
        out[i] = static_cast<uint8_t>(std::strtoul(pair.c_str(), &end, 16));
        if (end != pair.c_str() + 2)
            return false;
    }
    return true;
}

std::string Hex(const uint8_t *bytes, size_t count)
{
    std::string text;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

bool ParseOptions(int argc, char **argv, TOptions &options)
{
    if (argc < 2)
        return false;
    std::string mode = argv[1];
    int next = 2;
    if (mode == "listen") {
        options.listen = true;
    } else if (mode == "connect" && argc > 2) {
        options.target = argv[2];
        next = 3;
    } else {
        return false;
    }
    for (int i = next; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--tcp") {
            options.tcp = true;
        } else if (arg == "--port" && i + 1 < argc) {
            options.port = std::atoi(argv[++i]);
        } else if (arg == "--bytes" && i + 1 < argc) {
            options.bytes = std::atoll(argv[++i]);
        } else if (arg == "--local" && i + 1 < argc) {
            uint32_t host = DottedParse(argv[++i]);
            if (host == kNoAddress)
                return false;
            options.local = HostToNetwork32(host);
        } else {
            return false;
        }
    }
    return options.port > 0 && options.port < 65536 && options.bytes > 0;
}

// Runs both directions over an established socket; true when every byte
// arrived right and the other side marked that it has all of ours.
bool Exchange(QSocket &socket, int64_t bytes, uint64_t sendSeed, uint64_t receiveSeed)
{
    std::vector<uint8_t> chunk(kChunk);
    std::vector<uint8_t> expected(static_cast<size_t>(QSocket::kReceiveLimit));
    int64_t sent = 0;
    int64_t received = 0;
    bool markSent = false;
    bool markReceived = false;
    while (!(markSent && markReceived && socket.SendLength() == 0)) {
        bool progressed = false;
        if (sent < bytes && socket.SendLength() < kSendAhead) {
            const auto count = static_cast<int32_t>(std::min<int64_t>(kChunk, bytes - sent));
            Fill(sendSeed, static_cast<uint64_t>(sent), chunk.data(), static_cast<size_t>(count));
            if (socket.Send(chunk.data(), count) < 0)
                return false;
            sent += count;
            progressed = true;
        } else if (socket.SendLength() > 0) {
            if (socket.Flush() < 0)
                return false;
        }
        const int32_t held = socket.Receive();
        if (held < 0) {
            std::fprintf(stderr, "connection ended after %" PRId64 " of %" PRId64 " bytes (error %u)\n", received,
                         bytes, socket.LastError());
            return false;
        }
        if (held > 0) {
            const uint8_t *data = socket.ReceiveBuffer().Data();
            int32_t dataBytes = static_cast<int32_t>(std::min<int64_t>(held, bytes - received));
            Fill(receiveSeed, static_cast<uint64_t>(received), expected.data(), static_cast<size_t>(dataBytes));
            if (std::memcmp(data, expected.data(), static_cast<size_t>(dataBytes)) != 0) {
                std::fprintf(stderr, "data differs near byte %" PRId64 "\n", received);
                return false;
            }
            received += dataBytes;
            if (held > dataBytes) {
                if (data[dataBytes] != kEndMark)
                    return false;
                markReceived = true;
                dataBytes += 1;
            }
            socket.ConsumeReceived(dataBytes);
            progressed = true;
        }
        if (received == bytes && sent == bytes && !markSent) {
            const char mark = kEndMark;
            if (socket.Send(&mark, 1) < 0)
                return false;
            markSent = true;
        }
        if (!progressed && socket.WaitHandle() >= 0)
            platform::WaitAnyReadable({socket.WaitHandle()}, 1);
    }
    return true;
}

bool WaitConnected(QSocket &socket)
{
    const uint32_t start = platform::TickCount();
    while (platform::TickCount() - start < kConnectWaitMs) {
        if (socket.IsConnected())
            return true;
        if (!socket.HasHandle())
            return false;
        platform::SleepMs(5);
    }
    return false;
}

std::unique_ptr<QSocket> AcceptOne(QSocket &listener)
{
    for (;;) {
        if (auto accepted = listener.Accept())
            return accepted;
        listener.WaitReadable(1);
    }
}

bool ParseTarget(const std::string &text, uint8_t *tag, uint32_t &ip, int32_t &port)
{
    size_t at = text.find('@');
    size_t colon = text.rfind(':');
    if (at == std::string::npos || colon == std::string::npos || colon < at)
        return false;
    uint32_t host = DottedParse(text.substr(at + 1, colon - at - 1));
    port = std::atoi(text.c_str() + colon + 1);
    if (host == kNoAddress || port <= 0 || port > 65535)
        return false;
    ip = HostToNetwork32(host);
    const std::string name = text.substr(0, at);
    if (name == "address") {
        const TUdpTag address = UdpAddressTag(ip, static_cast<uint16_t>(port));
        std::memcpy(tag, address.data(), address.size());
        return true;
    }
    return ParseHex(name, tag, kUdpTagBytes);
}
} // namespace

int main(int argc, char **argv)
{
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: qlstream listen|connect TAG@IP:PORT --port P [--bytes N] [--local IP] [--tcp]\n");
        return 2;
    }
    InstallUdpServerFactory();
    {
        QAutoLock hold(RegistryLock());
        EngineStartUp();
    }
    QUInternalServer &server = QUInternalServer::Instance();
    const uint32_t local = options.local != 0 ? options.local : PickLocalAddress();
    server.SetLocalAddress(local, options.port);
    if (!options.tcp) {
        const uint32_t start = platform::TickCount();
        while (server.PublicAddress() == kNoAddress && platform::TickCount() - start < kRegisterWaitMs)
            platform::SleepMs(20);
    }
    std::printf("identity %s public %s:%d\n", Hex(EngineId(), kUdpTagBytes).c_str(),
                DottedText(server.PublicAddress()).c_str(), server.PublicPort());
    std::fflush(stdout);

    QSocket socket;
    std::unique_ptr<QSocket> accepted;
    QSocket *stream = &socket;
    uint64_t sendSeed = 1;
    uint64_t receiveSeed = 2;
    if (options.listen) {
        QSocket listener;
        if (!listener.Listen(options.port, 0, options.tcp ? nullptr : EngineId())) {
            std::fprintf(stderr, "cannot listen on %d (error %u)\n", options.port, listener.LastError());
            return 1;
        }
        std::printf("listening on %d\n", options.port);
        std::fflush(stdout);
        accepted = AcceptOne(listener);
        stream = accepted.get();
        std::swap(sendSeed, receiveSeed);
    } else {
        uint8_t tag[kUdpTagBytes];
        uint32_t ip = 0;
        int32_t port = 0;
        if (!ParseTarget(options.target, tag, ip, port)) {
            std::fprintf(stderr, "target must be TAG@A.B.C.D:PORT\n");
            return 2;
        }
        if (!socket.Connect(ip, port, false, 0, options.tcp ? nullptr : tag) || !WaitConnected(socket)) {
            std::printf("connect failed: error %u\n", socket.LastError());
            return 1;
        }
    }
    const uint32_t begin = platform::TickCount();
    const bool verified = Exchange(*stream, options.bytes, sendSeed, receiveSeed);
    const double seconds = std::max(1u, platform::TickCount() - begin) / 1000.0;
    stream->Close();
    if (!verified) {
        std::printf("transfer failed\n");
        return 1;
    }
    std::printf("verified %" PRId64 " bytes each way in %.3f s: %.1f MB/s each way\n", options.bytes, seconds,
                static_cast<double>(options.bytes) / seconds / 1e6);
    return 0;
}
