#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/net/socket_api.h"
#include "engine/net/socket_buffer.h"

// One stream connection, over TCP or over the engine's stream transport on
// UDP, with an owned send buffer and receive buffer. Connects never block
// unless asked to; a QSocket belongs to one thread at a time and has no lock.
// Any fatal error closes it, after which the owner may reuse the object.
class QSocket {
public:
    static constexpr int32_t kDefaultReceive = 43008;
    // A peer cannot make the receive buffer hold more than 1 MiB beyond the
    // largest message a protocol allows (512 KiB plus its header).
    static constexpr int32_t kReceiveLimit = 1024 * 1024 + 512 * 1024 + 1024;
    static constexpr int32_t kTagSize = 13;

    QSocket();
    ~QSocket();
    QSocket(const QSocket &) = delete;
    QSocket &operator=(const QSocket &) = delete;

    // address in network order, port 1..65535. A non-null udpTag (8 bytes)
    // selects the stream transport over UDP. A non-blocking connect that is
    // under way counts as success; IsConnected tells when it completed.
    bool Connect(uint32_t address, int32_t port, bool blocking = false, uint32_t localAddress = 0,
                 const uint8_t *udpTag = nullptr);
    // Resolves name with the blocking resolver first.
    bool Connect(const std::string &name, int32_t port, bool blocking = false, uint32_t localAddress = 0,
                 const uint8_t *udpTag = nullptr);

    // Sends what the send buffer holds and then data; what cannot be sent now
    // stays buffered. Returns the bytes sent in this call (0 when the socket
    // cannot take any now), or -1 after a fatal error, which closes it.
    int32_t Send(const void *data, int32_t length);
    int32_t Flush() { return Send(nullptr, -1); }
    // Sends at most most buffered bytes: the bytes sent, -1 after a fatal
    // error.
    int32_t FlushSome(int32_t most);
    // Reads up to maximum bytes behind what the receive buffer holds. Returns
    // the bytes now held, 0 when nothing could be read yet, -1 when the
    // connection failed or the remote side closed it.
    int32_t Receive(int32_t maximum = kDefaultReceive);
    void ConsumeReceived(int32_t count, bool keep = false);
    void ConsumeSent(int32_t count, bool keep = false);

    // seconds: -1 waits without limit, -2 without limit in blocking mode and
    // not at all otherwise, 0 polls.
    bool WaitReadable(int32_t seconds);
    bool WaitWritable(int32_t seconds);
    // Whether the connect completed; a connect that failed closes the socket.
    bool IsConnected();

    // Listens on port, on localAddress or on every interface when it is 0.
    bool Listen(int32_t port, uint32_t localAddress = 0, const uint8_t *udpTag = nullptr);
    // A waiting connection as a new socket, or none.
    std::unique_ptr<QSocket> Accept();

    // SO_RCVBUF for TCP; values <= 0 or above 1 MiB become 8192.
    void SetReceiveBufferSize(int32_t bytes);
    // Closes the handle, returns both buffers and clears every field but the
    // last error, which the owner may still want to log.
    void Close();

    void SetReadPending() { readPending = true; }
    void SetWritePending() { writePending = true; }
    void SetKeepBuffer(bool on) { keepBuffer = on; }
    // The connection opened behind an HTTP disguise, so it is answered in
    // kind.
    void SetDisguised() { disguised = true; }
    bool IsDisguised() const { return disguised; }

    QSocketBuffer &SendBuffer() { return sendBuffer; }
    QSocketBuffer &ReceiveBuffer() { return receiveBuffer; }
    int32_t SendLength() const { return sendBuffer.Length(); }
    int32_t ReceiveLength() const { return receiveBuffer.Length(); }

    bool HasHandle() const { return handle >= 0; }
    // The system handle a task may wait on for readability (over UDP, the
    // transport's wake handle for this connection); -1 for a closed socket.
    int32_t WaitHandle() const { return overUdp && handle >= 0 ? api->WaitHandle(handle) : handle; }
    bool IsListening() const { return listening; }
    bool IsBlocking() const { return blocking; }
    bool IsOverUdp() const { return overUdp; }
    const std::string &RemoteName() const { return remoteName; }
    uint32_t RemoteAddress() const { return remoteAddress; }
    int32_t RemotePort() const { return remotePort; }
    uint32_t LocalAddress() const { return localAddress; }
    uint32_t LocalPort() const { return localPort; }
    std::string RemoteDotted() const;
    std::string LocalDotted() const;
    uint64_t SentBytes() const { return sentBytes; }
    uint64_t ReceivedBytes() const { return receivedBytes; }
    uint32_t LastError() const { return lastError; }
    uint64_t ConnectTime() const { return connectTime; }
    uint64_t ActivityTime() const { return activityTime; }
    const uint8_t *AddressTag() const { return addressTag; }

private:
    // The socket calls for a new handle: TCP, or the registered transport.
    QSocketApi *ApiFor(const uint8_t *udpTag);
    // Close, keeping the error: false for connects, -1 for transfers.
    bool Fail(int32_t error);
    int32_t Broken(int32_t error);
    void FillAddressTag(const TSockAddr &address);
    void RecordLocalAddress();
    void StampTimes();
    int32_t WaitFor(TWaitFor what, int32_t seconds);
    // One send call: bytes taken, 0 when the socket would block, -1 fatal.
    int32_t SendSome(const uint8_t *data, int32_t length);
    // Pushes the buffered bytes; in blocking mode until all are gone.
    int32_t PushBuffered(int32_t most);

    std::string remoteName;
    uint32_t remoteAddress = 0;
    uint32_t localAddress = 0;
    int32_t handle = -1;
    QSocketBuffer sendBuffer;
    QSocketBuffer receiveBuffer;
    int32_t remotePort = 0;
    uint32_t localPort = 0;
    bool readPending = false;
    bool writePending = false;
    bool connected = false;
    bool listening = false;
    bool blocking = false;
    uint64_t sentBytes = 0;
    uint64_t receivedBytes = 0;
    uint32_t lastError = 0;
    uint64_t connectTime = 0;
    uint64_t activityTime = 0;
    bool overUdp = false;
    bool keepBuffer = false;
    bool disguised = false;
    uint8_t addressTag[kTagSize] = {};
    QSocketApi *api = nullptr;
};
