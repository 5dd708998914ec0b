#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "engine/net/socket_api.h"
#include "engine/net/stream_socket.h"

// Where the stream sockets' datagrams go and what they ask of the UDP server.
class IStreamWire {
public:
    virtual ~IStreamWire() = default;
    // One datagram out; false when it could not be sent (would block).
    virtual bool SendDatagram(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port) = 0;
    // Queues an introduction request for the host named by tag; its id.
    virtual int32_t QueueIntroduction(uint32_t ip, const uint8_t *tag) = 0;
    // A connect from this host arrived: it needs no more punches.
    virtual void DropPunches(uint32_t ip, int32_t port) = 0;
    // Something a waiting caller may care about changed on this socket.
    virtual void Wake(int32_t handle) = 0;
};

// Every stream socket of the host: the socket calls (as QSocketApi, without
// the locking, which the owner does), the received transport packets and the
// timers. Not thread-safe on its own: the UDP server holds its lock around
// every call. Times are the millisecond tick, compared by unsigned
// difference so the count may wrap.
class QStreamSockets {
public:
    static constexpr uint32_t kDefaultTimeoutMs = 30000;
    // Bytes a socket buffers beyond its windows in each direction.
    static constexpr size_t kBacklogBytes = 256 * 1024;
    // Half-open incoming connections one source IPv4 may hold.
    static constexpr int32_t kHalfOpenPerSource = 8;
    static constexpr uint32_t kMaxRetries = 128;

    explicit QStreamSockets(IStreamWire &wire);

    void SetIdentity(const uint8_t *identity8);
    const uint8_t *Identity() const { return identity; }
    void SetTimeoutMs(uint32_t ms) { timeoutMs = ms; }
    // The address getsockname reports (the listening service's).
    void SetLocalAddress(uint32_t ip) { localAddress = ip; }
    void SetEnabled(bool on) { enabled = on; }
    bool Enabled() const { return enabled; }

    // The socket calls; failures return -1 and leave the code for LastError.
    int32_t Socket();
    int32_t Bind(int32_t handle, const TSockAddr &address);
    int32_t Listen(int32_t handle, int32_t backlog);
    int32_t Accept(int32_t handle, TSockAddr *peer);
    int32_t Connect(int32_t handle, const TSockAddr &address);
    int32_t Send(int32_t handle, const uint8_t *data, int32_t length);
    int32_t Recv(int32_t handle, uint8_t *buffer, int32_t length);
    // 1 when the socket is ready for what, 0 when not, -1 for a bad handle.
    int32_t Ready(int32_t handle, TWaitFor what);
    int32_t GetSockName(int32_t handle, TSockAddr *local);
    int32_t PendingError(int32_t handle);
    int32_t Close(int32_t handle);
    int32_t LastError() const { return lastError; }

    // A datagram the demultiplexer took for a transport packet.
    void HandleDatagram(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port);
    // The rendezvous server named where the host behind tag is (and, for an
    // address-form tag, the identity found there as newTag).
    void Introduced(const uint8_t *tag, uint32_t ip, int32_t port, const uint8_t *newTag = nullptr);
    // Sockets still waiting for answer requestId learnt nothing: they fail.
    void IntroductionUnanswered(int32_t requestId);
    // A punch arrived from ip:port, sent by the host with senderIdentity,
    // naming punchPort as its own.
    void Punched(uint32_t ip, int32_t port, int32_t punchPort, const uint8_t *senderIdentity);

    void ConnectionTimers();
    void RetransmissionPass();
    void AcknowledgementPass();
    // Acknowledgements that arriving data made due (end of a receive batch).
    void SendDueAcknowledgements();
    // Every socket closed and forgotten.
    void Reset();

    size_t SocketCount() const { return sockets.size(); }
    QUSocket *Find(int32_t handle);

private:
    int32_t Fail(int32_t code);
    QUSocket *Live(int32_t handle);
    QUSocket *ByConnectionId(uint32_t id);
    uint32_t NewConnectionId();
    uint32_t NewAttempt();
    void Remove(int32_t handle);
    void MarkClosed(QUSocket &socket, int32_t failure);
    // A closing socket whose data is all acknowledged says goodbye; true
    // when it was removed.
    bool FinishClosing(QUSocket &socket);

    // Control packets.
    TStreamPacket Header(QUSocket &socket, uint32_t type, bool controlEcho);
    void Transmit(QUSocket &socket, const std::vector<uint8_t> &datagram);
    void SendConnect(QUSocket &socket);
    void SendAccept(QUSocket &socket);
    void SendAcceptAck(QUSocket &socket, const TStreamPacket &accept);
    void SendClose(QUSocket &socket);
    void SendKeepAlive(QUSocket &socket);
    void SendRefuse(const TStreamPacket &connect, uint32_t ip, int32_t port);
    void OnConnect(const TStreamPacket &packet, uint32_t ip, int32_t port);
    void OnAccept(const TStreamPacket &packet, uint32_t ip, int32_t port);
    void OnAcceptAck(QUSocket &socket, const TStreamPacket &packet, uint32_t ip, int32_t port);
    void OnRefuse(QUSocket &socket, const TStreamPacket &packet, uint32_t ip, int32_t port);
    void OnClose(QUSocket &socket, const TStreamPacket &packet, uint32_t ip);
    bool AcceptIncoming(const TStreamPacket &packet, uint32_t ip, int32_t port);
    QUSocket *MatchingIncoming(const TStreamPacket &packet, uint32_t ip, int32_t port);
    int32_t HalfOpenFrom(uint32_t ip) const;
    void Establish(QUSocket &socket);

    // Data.
    void FillSendWindow(QUSocket &socket);
    void SendSlot(QUSocket &socket, uint32_t sequence, bool resend);
    void DropAcknowledged(QUSocket &socket);
    void MoveInOrder(QUSocket &socket);
    void OnData(QUSocket &socket, const TStreamPacket &packet, uint32_t ip, int32_t port);
    void OnAck(QUSocket &socket, const TStreamPacket &packet, uint32_t ip);
    void OnSingleAck(QUSocket &socket, const TStreamPacket &packet, uint32_t ip);
    void FreeSent(QUSocket &socket, uint32_t sequence);
    void SendAck(QUSocket &socket);
    void Retransmit(QUSocket &socket);

    IStreamWire &wire;
    uint8_t identity[kStreamIdentityBytes] = {};
    uint32_t localAddress = 0;
    uint32_t timeoutMs = kDefaultTimeoutMs;
    bool enabled = true;
    int32_t backlog = 32;
    int32_t nextHandle = 1;
    int32_t lastError = 0;
    std::map<int32_t, std::unique_ptr<QUSocket>> sockets;
    std::map<uint32_t, QUSocket *> byConnectionId;
};
