#pragma once
#include <cstdint>

// A plain datagram socket: the UDP tracker client sends and receives
// through it, as the engine's UDP server does. It never blocks. A send on a
// closed socket opens it again on the port and address it was last opened
// with, so a socket that failed recovers with the next send.
class QUdpSocket {
public:
    // Largest datagram sent or received.
    static constexpr int32_t kMaxDatagram = 8192;

    QUdpSocket() = default;
    ~QUdpSocket();
    QUdpSocket(const QUdpSocket &) = delete;
    QUdpSocket &operator=(const QUdpSocket &) = delete;

    // Opens on port (0: any) and address (network order, 0: every
    // interface); false, logged, when the socket or the bind fails.
    bool Open(int32_t port, uint32_t address);
    void Close();

    // Sends one datagram of 1 to kMaxDatagram bytes: the bytes sent, or -1.
    // An error other than "would block" closes the socket.
    int32_t SendTo(const void *data, int32_t length, uint32_t address, int32_t port);
    // Reads one datagram: its length, 0 while nothing waits, -1 once the
    // socket is closed. The source is kept for SourceAddress/SourcePort.
    int32_t RecvFrom(void *buffer, int32_t capacity);

    void SetBroadcast(bool on) { broadcast = on; }
    bool IsOpen() const { return open; }
    int32_t Handle() const { return handle; }
    // Where the socket is bound (the port the system chose for port 0).
    int32_t BoundPort() const { return boundPort; }
    uint32_t BoundAddress() const { return boundAddress; }
    // Source of the last datagram received (network order, host order).
    uint32_t SourceAddress() const { return sourceAddress; }
    int32_t SourcePort() const { return sourcePort; }
    uint32_t LastError() const { return lastError; }

private:
    int32_t handle = -1;
    bool open = false;
    bool broadcast = false;
    // As asked for, so a re-open takes the same port.
    int32_t wantedPort = 0;
    uint32_t wantedAddress = 0;
    int32_t boundPort = 0;
    uint32_t boundAddress = 0;
    uint32_t sourceAddress = 0;
    int32_t sourcePort = 0;
    uint32_t lastError = 0;
};
