#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// Where a datagram came from or goes: IPv4 in network order, port in host
// order.
struct TRendezvousEndpoint {
    uint32_t ipv4 = 0;
    uint16_t port = 0;
    bool operator==(const TRendezvousEndpoint &) const = default;
};

// One registered engine: its identity (bytes 0-7), the public address the
// server sees it at, the local address it says it has, when it was last
// heard, and its notice budget of the current second.
struct TRendezvousHost {
    uint64_t identity = 0;
    TRendezvousEndpoint publicAddress;
    uint32_t localIpv4 = 0;
    uint32_t localPort = 0;
    uint32_t lastHeard = 0;
    uint32_t noticeSecond = 0;
    uint32_t noticesInSecond = 0;
    // Neighbours in the order of last hearing (slot numbers).
    uint32_t older = 0;
    uint32_t newer = 0;
};

// The engines the server knows, bounded: a new one past the capacity pushes
// out the one heard from longest ago, and Expire drops the silent ones. One
// host per public address: a registration from an address another identity
// held means that mapping now belongs to a new host.
class TRendezvousTable {
public:
    explicit TRendezvousTable(size_t capacity);

    // Adds or updates the identity, now heard at source.
    TRendezvousHost &Register(uint64_t identity, TRendezvousEndpoint source, uint32_t localIpv4, uint32_t localPort,
                              uint32_t now);
    // The host heard at source, or nullptr.
    TRendezvousHost *FromSource(TRendezvousEndpoint source);
    TRendezvousHost *ByIdentity(uint64_t identity);
    // The host that last registered at this public IPv4 with this local port.
    TRendezvousHost *ByPublicIpv4AndLocalPort(uint32_t publicIpv4, uint32_t localPort);
    // Heard from now: it becomes the newest.
    void Touch(TRendezvousHost &host, uint32_t now);
    // Drops every host not heard from for more than silenceSeconds.
    void Expire(uint32_t now, uint32_t silenceSeconds);

    size_t Size() const { return byIdentity.size(); }

private:
    static uint64_t SourceKey(TRendezvousEndpoint source);
    static uint64_t LocalKey(uint32_t publicIpv4, uint32_t localPort);
    uint32_t SlotOf(const TRendezvousHost &host) const;
    void Unlink(uint32_t slot);
    void LinkNewest(uint32_t slot);
    void Remove(uint32_t slot);
    void IndexAddresses(uint32_t slot);
    void UnindexAddresses(uint32_t slot);

    size_t capacity;
    // Slot 0 is the head of the ring ordered by last hearing; hosts take
    // slots 1..capacity.
    std::vector<TRendezvousHost> slots;
    std::vector<uint32_t> freeSlots;
    std::unordered_map<uint64_t, uint32_t> byIdentity;
    std::unordered_map<uint64_t, uint32_t> bySource;
    std::unordered_map<uint64_t, uint32_t> byLocalPort;
};
