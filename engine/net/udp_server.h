#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/base/qmutex.h"
#include "engine/base/qthread.h"
#include "engine/core/udp_server_slot.h"
#include "engine/net/qudp_socket.h"
#include "engine/net/rendezvous_packet.h"
#include "engine/net/stream_sockets.h"
#include "engine/net/stream_transport.h"

// The engine's one UDP socket and the thread "UDPServer" that owns it: every
// datagram is received and sorted here (rendezvous exchange, punches,
// transport packets), and every timer of the stream transport runs here.
// The object lives for the process, because QSocket keeps a plain pointer to
// it as its socket calls; only the thread starts and stops.
//
// The server lock is a leaf: nothing is locked under it, so callers that
// hold the registry lock (SetLocalAddress) may take it.
class QUInternalServer : public QThread, public QStreamTransport, private IStreamWire {
public:
    static QUInternalServer &Instance();

    // 0 when started or running; -1 for a missing host, a port outside
    // 1..65535 or a time-out of 0.
    int32_t StartServer(const TUdpServerSettings &settings);
    void StopServer();

    // The public IPv4 the rendezvous server last reported, or 0xFFFFFFFF.
    uint32_t PublicAddress();
    int32_t PublicPort();
    // The reported public address differs from the local one (or none came).
    bool BehindNat();
    // The local port the socket is opened on.
    int32_t LocalPort();

    // QStreamTransport.
    int32_t Socket() override;
    int32_t Bind(int32_t handle, const TSockAddr &address) override;
    int32_t Listen(int32_t handle, int32_t backlog) override;
    int32_t Accept(int32_t handle, TSockAddr *peer) override;
    int32_t Connect(int32_t handle, const TSockAddr &address) override;
    int32_t Send(int32_t handle, const uint8_t *data, int32_t length) override;
    int32_t Recv(int32_t handle, uint8_t *buffer, int32_t length) override;
    int32_t Wait(int32_t handle, TWaitFor what, int32_t timeoutMs) override;
    int32_t GetSockName(int32_t handle, TSockAddr *local) override;
    int32_t PendingError(int32_t handle) override;
    int32_t SetReuseAddress(int32_t) override { return 0; }
    int32_t SetReceiveBuffer(int32_t, int32_t) override { return 0; }
    int32_t Close(int32_t handle) override;
    int32_t LastError() override;
    int32_t WaitHandle(int32_t handle) override;
    void SetLocalAddress(uint32_t address, int32_t port) override;
    void Reset() override;

    void Run() override;
    void Refresh() override {}

private:
    QUInternalServer();
    ~QUInternalServer() override;

    // IStreamWire, called under the server lock.
    bool SendDatagram(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port) override;
    int32_t QueueIntroduction(uint32_t ip, const uint8_t *tag) override;
    void DropPunches(uint32_t ip, int32_t port) override;
    void Wake(int32_t handle) override;

    int32_t Result(int32_t result);
    void CloseWakeFd(int32_t handle);
    bool TransportOff();
    bool EnsureSocket();
    void ResolveRendezvous();
    // Reads up to a batch of datagrams; the count read, -1 after a socket
    // error.
    int32_t ReceiveBatch();
    void Demultiplex(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port);
    void RunTimers();
    // Milliseconds until the next timer falls due.
    int32_t NextTimerMs();
    void ClearRendezvousState();

    // The rendezvous exchange (registration, keep-alive, introductions,
    // notices and punches).
    void RendezvousRound(uint32_t now);
    void Register();
    void SendKeepAlive();
    void FlushIntroduction();
    void OnAddressReport(const uint8_t *bytes, size_t length);
    void OnIntroductionAnswer(const uint8_t *bytes, size_t length);
    void OnIntroductionNotice(const uint8_t *bytes, size_t length);
    void OnPunch(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port);
    void PunchRound();
    bool SendPunch(const uint8_t *receiver, uint32_t ip, int32_t port);

    struct TPunchEntry {
        uint8_t identity[12];
        uint32_t ip;
        int32_t port;
        int32_t timedSends;
    };

    QTMutex serverLock;
    QStreamSockets streams;
    QUdpSocket udp;
    TUdpServerSettings settings;
    uint8_t identity[12] = {};
    std::map<int32_t, int> wakeFds;

    std::atomic<uint32_t> publicAddress{0xFFFFFFFFu};
    std::atomic<int32_t> publicPort{0};
    std::atomic<uint32_t> localAddress{0};
    std::atomic<int32_t> localPort{8000};

    uint32_t rendezvousIp = 0;
    uint32_t nextResolveTick = 0;
    uint32_t resolveBackoffMs = 0;
    bool reportReceived = false;
    bool registerNextRound = true;
    int32_t requestCounter = 0;
    std::vector<int32_t> pendingRequests;
    // The introduction request being assembled (no entries: none).
    TIntroduction introduction;
    std::vector<TPunchEntry> punches;

    uint32_t lastRetransmitTick = 0;
    uint32_t lastAckTick = 0;
    uint32_t lastConnectionTick = 0;
    uint32_t lastRegistrationTick = 0;
    uint32_t lastKeepAliveTick = 0;
};

// Makes engine start-up run the UDP server (call before the first task).
void InstallUdpServerFactory();
