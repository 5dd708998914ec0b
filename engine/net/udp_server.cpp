#include "engine/net/udp_server.h"

#include <algorithm>
#include <cstring>

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/core/engine_state.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/local_address.h"
#include "engine/net/resolver.h"
#include "engine/net/udp_demux.h"
#include "platform/datagram_batch.h"
#include "platform/socket_os.h"
#include "platform/tick.h"
#include "platform/wake_fd.h"
#include "platform/winsock_codes.h"

namespace {
constexpr int kBatch = 19;
constexpr int32_t kSocketBufferBytes = 131072;
constexpr uint32_t kOpenRetryMs = 1000;
constexpr uint32_t kOffPauseMs = 100;
constexpr uint32_t kAckPeriodMs = 20;
constexpr uint32_t kRetransmitPeriodMs = 40;
constexpr uint32_t kConnectionPeriodMs = 2000; // "every 3 s": more than 2 s elapsed
constexpr uint32_t kResolveFirstBackoffMs = 1000;
constexpr uint32_t kResolveLastBackoffMs = 60000;
constexpr int32_t kWaitStepMs = 10;
} // namespace

QUInternalServer &QUInternalServer::Instance()
{
    // Never destroyed: sockets keep a pointer to it as their socket calls.
    static QUInternalServer *server = new QUInternalServer;
    return *server;
}

QUInternalServer::QUInternalServer() : streams(*this) {}

QUInternalServer::~QUInternalServer()
{
    Stop();
}

int32_t QUInternalServer::StartServer(const TUdpServerSettings &wanted)
{
    if (wanted.rendezvousHost.empty() || wanted.rendezvousPort == 0 || wanted.timeoutSeconds == 0)
        return -1;
    if (IsRunning())
        return 0;
    {
        QAutoLock hold(serverLock);
        settings = wanted;
        settings.keepAliveSeconds = std::max<uint32_t>(settings.keepAliveSeconds, 10);
        const TUdpIdentity made = MakeUdpIdentity(wanted.identity);
        std::memcpy(identity, made.data(), sizeof identity);
        streams.SetIdentity(identity);
        streams.SetTimeoutMs(settings.timeoutSeconds * 1000);
        if (localPort.load() == 0)
            localPort = wanted.localPort;
        rendezvousIp = 0;
        resolveBackoffMs = 0;
        nextResolveTick = platform::TickCount();
    }
    SetStreamTransport(this);
    return Start("UDPServer") || IsRunning() ? 0 : -1;
}

void QUInternalServer::StopServer()
{
    Stop();
    Reset();
    {
        QAutoLock hold(serverLock);
        udp.Close();
    }
    EngineLogFormat(LOG_CHANNEL_CLOCK, "UDPServer Thread Stopped.. ");
}

uint32_t QUInternalServer::PublicAddress()
{
    return publicAddress.load();
}

int32_t QUInternalServer::PublicPort()
{
    return publicPort.load();
}

bool QUInternalServer::BehindNat()
{
    return publicAddress.load() != localAddress.load();
}

int32_t QUInternalServer::LocalPort()
{
    QAutoLock hold(serverLock);
    return udp.IsOpen() ? udp.BoundPort() : 0;
}

void QUInternalServer::SetLocalAddress(uint32_t address, int32_t port)
{
    QAutoLock hold(serverLock);
    localAddress = address;
    if (port > 0 && port < 65536)
        localPort = port;
    streams.SetLocalAddress(address);
}

void QUInternalServer::ClearRendezvousState()
{
    publicAddress = 0xFFFFFFFFu;
    publicPort = 0;
    reportReceived = false;
    registerNextRound = true;
    pendingRequests.clear();
    introduction = TIntroduction();
    punches.clear();
}

void QUInternalServer::Reset()
{
    QAutoLock hold(serverLock);
    streams.Reset();
    for (auto &entry : wakeFds)
        platform::OsWakeFdClose(entry.second);
    wakeFds.clear();
    ClearRendezvousState();
}

// The socket calls: each takes the server lock; failures leave their code
// for LastError, per thread like the system's.
int32_t QUInternalServer::Result(int32_t result)
{
    if (result < 0)
        platform::SetLastSocketError(streams.LastError());
    return result;
}

int32_t QUInternalServer::LastError()
{
    return platform::LastSocketError();
}

int32_t QUInternalServer::Socket()
{
    QAutoLock hold(serverLock);
    const int32_t handle = streams.Socket();
    wakeFds[handle] = platform::OsWakeFdOpen();
    return handle;
}

int32_t QUInternalServer::Bind(int32_t handle, const TSockAddr &address)
{
    QAutoLock hold(serverLock);
    return Result(streams.Bind(handle, address));
}

int32_t QUInternalServer::Listen(int32_t handle, int32_t backlog)
{
    QAutoLock hold(serverLock);
    if (!IsRunning()) {
        platform::SetLastSocketError(platform::WSASYSNOTREADY);
        return -1;
    }
    return Result(streams.Listen(handle, backlog));
}

int32_t QUInternalServer::Accept(int32_t handle, TSockAddr *peer)
{
    QAutoLock hold(serverLock);
    const int32_t accepted = Result(streams.Accept(handle, peer));
    if (accepted > 0)
        wakeFds[accepted] = platform::OsWakeFdOpen();
    return accepted;
}

int32_t QUInternalServer::Connect(int32_t handle, const TSockAddr &address)
{
    QAutoLock hold(serverLock);
    return Result(streams.Connect(handle, address));
}

int32_t QUInternalServer::Send(int32_t handle, const uint8_t *data, int32_t length)
{
    QAutoLock hold(serverLock);
    return Result(streams.Send(handle, data, length));
}

int32_t QUInternalServer::Recv(int32_t handle, uint8_t *buffer, int32_t length)
{
    QAutoLock hold(serverLock);
    const int32_t got = Result(streams.Recv(handle, buffer, length));
    // Room made in a full receive queue reopens the sender's window now.
    streams.SendDueAcknowledgements();
    // Nothing left to read: the wake handle must not keep a waiting task
    // spinning.
    auto fd = wakeFds.find(handle);
    QUSocket *socket = streams.Find(handle);
    if (fd != wakeFds.end() && socket != nullptr && socket->ready.empty() && socket->state != STREAM_CLOSED)
        platform::OsWakeFdDrain(fd->second);
    return got;
}

int32_t QUInternalServer::Wait(int32_t handle, TWaitFor what, int32_t timeoutMs)
{
    const uint32_t start = platform::TickCount();
    for (;;) {
        int fd = -1;
        {
            QAutoLock hold(serverLock);
            auto found = wakeFds.find(handle);
            if (found != wakeFds.end()) {
                fd = found->second;
                // Drained before the check: a change after it signals again.
                platform::OsWakeFdDrain(fd);
            }
            const int32_t ready = Result(streams.Ready(handle, what));
            if (ready != 0)
                return ready;
        }
        const uint32_t waited = platform::TickCount() - start;
        if (timeoutMs >= 0 && waited >= static_cast<uint32_t>(timeoutMs))
            return 0;
        int32_t step = kWaitStepMs;
        if (timeoutMs >= 0)
            step = std::min<int32_t>(step, timeoutMs - static_cast<int32_t>(waited));
        if (fd >= 0)
            platform::OsWait(fd, TWaitFor::Read, step);
        else
            platform::SleepMs(static_cast<uint32_t>(step));
    }
}

int32_t QUInternalServer::WaitHandle(int32_t handle)
{
    QAutoLock hold(serverLock);
    auto found = wakeFds.find(handle);
    return found == wakeFds.end() ? -1 : found->second;
}

int32_t QUInternalServer::GetSockName(int32_t handle, TSockAddr *local)
{
    QAutoLock hold(serverLock);
    return Result(streams.GetSockName(handle, local));
}

int32_t QUInternalServer::PendingError(int32_t handle)
{
    QAutoLock hold(serverLock);
    return Result(streams.PendingError(handle));
}

int32_t QUInternalServer::Close(int32_t handle)
{
    QAutoLock hold(serverLock);
    CloseWakeFd(handle);
    return Result(streams.Close(handle));
}

void QUInternalServer::CloseWakeFd(int32_t handle)
{
    auto found = wakeFds.find(handle);
    if (found == wakeFds.end())
        return;
    platform::OsWakeFdClose(found->second);
    wakeFds.erase(found);
}

void QUInternalServer::Wake(int32_t handle)
{
    auto found = wakeFds.find(handle);
    if (found != wakeFds.end()) {
        platform::OsWakeFdSignal(found->second);
        return;
    }
    // A connection not yet accepted: its listener may now have one ready.
    for (const auto &entry : wakeFds) {
        QUSocket *socket = streams.Find(entry.first);
        if (socket != nullptr && socket->state == STREAM_LISTENING)
            platform::OsWakeFdSignal(entry.second);
    }
}

// Every datagram goes out through here: one that fails for any reason but a
// full buffer closed the socket, and is sent once more, which reopens it.
bool QUInternalServer::SendDatagram(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port)
{
    const auto size = static_cast<int32_t>(length);
    if (udp.SendTo(bytes, size, ip, port) == size)
        return true;
    if (udp.LastError() == static_cast<uint32_t>(platform::WSAEWOULDBLOCK))
        return false;
    return udp.SendTo(bytes, size, ip, port) == size;
}

bool QUInternalServer::TransportOff()
{
    return engineIdle.load();
}

bool QUInternalServer::EnsureSocket()
{
    const int32_t port = localPort.load();
    if (udp.IsOpen() && (port == 0 || udp.BoundPort() == port))
        return true;
    if (!udp.Open(port, 0))
        return false;
    platform::OsSetReceiveBuffer(udp.Handle(), kSocketBufferBytes);
    platform::OsSetSendBuffer(udp.Handle(), kSocketBufferBytes);
    // The rendezvous server knows the socket by its source: a new socket
    // (the listening port is set after start-up) registers again, or peers
    // are sent to a mapping nobody reads any more.
    registerNextRound = true;
    return true;
}

// Outside the lock: a look-up may take seconds. A name the negative cache
// refuses at once must not make the thread spin, so failures back off.
void QUInternalServer::ResolveRendezvous()
{
    if (rendezvousIp != 0 || static_cast<int32_t>(platform::TickCount() - nextResolveTick) < 0)
        return;
    const std::string host = settings.rendezvousHost;
    serverLock.Unlock();
    const uint32_t resolved = Resolve(host);
    serverLock.Lock();
    if (resolved != kNoAddress && resolved != 0) {
        rendezvousIp = resolved;
        resolveBackoffMs = 0;
        return;
    }
    resolveBackoffMs = std::min(kResolveLastBackoffMs, std::max(kResolveFirstBackoffMs, resolveBackoffMs * 2));
    nextResolveTick = platform::TickCount() + resolveBackoffMs;
}

int32_t QUInternalServer::ReceiveBatch()
{
    // Every datagram counts towards the batch, however short: a flood of
    // tiny ones must not keep the timers from running.
    static thread_local std::vector<uint8_t> buffers(static_cast<size_t>(kBatch) * QUdpSocket::kMaxDatagram);
    platform::DatagramSlot slots[kBatch];
    for (int i = 0; i < kBatch; ++i) {
        slots[i].data = buffers.data() + static_cast<size_t>(i) * QUdpSocket::kMaxDatagram;
        slots[i].capacity = QUdpSocket::kMaxDatagram;
    }
    const int count = platform::OsRecvDatagrams(udp.Handle(), slots, kBatch);
    if (count < 0) {
        if (platform::LastSocketError() == platform::WSAEWOULDBLOCK)
            return 0;
        udp.Close();
        return -1;
    }
    for (int i = 0; i < count; ++i)
        Demultiplex(slots[i].data, slots[i].length, slots[i].peer.ip, slots[i].peer.port);
    streams.SendDueAcknowledgements();
    return count;
}

void QUInternalServer::Demultiplex(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port)
{
    const bool fromRendezvous = rendezvousIp != 0 && ip == rendezvousIp && port == settings.rendezvousPort;
    switch (ClassifyUdpDatagram(bytes, length, fromRendezvous, identity)) {
    case TUdpDatagramKind::AddressReport:
        OnAddressReport(bytes, length);
        break;
    case TUdpDatagramKind::IntroductionNotice:
        OnIntroductionNotice(bytes, length);
        break;
    case TUdpDatagramKind::Punch:
        OnPunch(bytes, length, ip, port);
        break;
    case TUdpDatagramKind::Transport:
        streams.HandleDatagram(bytes, length, ip, port);
        break;
    case TUdpDatagramKind::IntroductionAnswer:
        OnIntroductionAnswer(bytes, length);
        break;
    case TUdpDatagramKind::Dropped:
        break;
    }
}

void QUInternalServer::RunTimers()
{
    const uint32_t now = platform::TickCount();
    if (now - lastRetransmitTick >= kRetransmitPeriodMs) {
        lastRetransmitTick = now;
        lastAckTick = now;
        streams.RetransmissionPass();
    } else if (now - lastAckTick >= kAckPeriodMs) {
        lastAckTick = now;
        streams.AcknowledgementPass();
    }
    if (now - lastConnectionTick > kConnectionPeriodMs) {
        lastConnectionTick = now;
        streams.ConnectionTimers();
        PunchRound();
    }
    RendezvousRound(now);
    FlushIntroduction();
}

int32_t QUInternalServer::NextTimerMs()
{
    const uint32_t sinceAck = platform::TickCount() - lastAckTick;
    return sinceAck >= kAckPeriodMs ? 0 : static_cast<int32_t>(kAckPeriodMs - sinceAck);
}

void QUInternalServer::Run()
{
    while (!CheckStop()) {
        if (TransportOff()) {
            {
                QAutoLock hold(serverLock);
                udp.Close();
                publicAddress = 0xFFFFFFFFu;
                streams.SetEnabled(false);
            }
            platform::SleepMs(kOffPauseMs);
            continue;
        }
        int fd = -1;
        int32_t received = 0;
        {
            QAutoLock hold(serverLock);
            if (!streams.Enabled()) {
                // Back on: every timer starts over.
                streams.SetEnabled(true);
                registerNextRound = true;
            }
            if (EnsureSocket()) {
                ResolveRendezvous();
                received = ReceiveBatch();
                RunTimers();
                fd = udp.Handle();
            } else {
                publicAddress = 0xFFFFFFFFu;
            }
        }
        if (fd < 0 && received == 0) {
            platform::SleepMs(kOpenRetryMs);
            continue;
        }
        // A full batch may have more behind it; otherwise wait for data or
        // the next timer.
        if (received < 0)
            platform::SleepMs(2);
        else if (received < kBatch)
            platform::OsWait(fd, TWaitFor::Read, std::max<int32_t>(1, NextTimerMs()));
    }
}
