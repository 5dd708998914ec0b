#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// A UDP socket that is a member of one IPv4 multicast group on one
// interface, sends to the group and receives what the group carries.
// Bound to the group address (not 0.0.0.0), so unicast to the port is not
// delivered, and with address reuse, so a second member on the host can
// join. Sends stay on the link (TTL 1) and loop back to the host's own
// members. Addresses are in network order.
class MulticastSocket {
public:
    MulticastSocket() = default;
    ~MulticastSocket();
    MulticastSocket(const MulticastSocket &) = delete;
    MulticastSocket &operator=(const MulticastSocket &) = delete;

    // False, with errno kept, when a step fails; nothing stays open then.
    bool Join(uint32_t group, uint16_t port, uint32_t interfaceAddress);
    void Leave();
    bool IsOpen() const { return fd >= 0; }

    // False on a socket error.
    bool SendToGroup(const uint8_t *bytes, size_t length);
    // 1 with the datagram's full length (which may exceed capacity: the
    // rest is cut) and its source, 0 when none waits, -1 on an error.
    int Receive(uint8_t *buffer, size_t capacity, size_t &length, uint32_t &source);

private:
    int fd = -1;
    uint32_t group = 0;
    uint16_t port = 0;
};

} // namespace platform
