#include "engine/net/qsocket.h"

#include <algorithm>
#include <cstring>

#include "engine/base/engine_clock.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/local_address.h"
#include "engine/net/resolver.h"
#include "engine/net/stream_transport.h"
#include "engine/net/tcp_socket_api.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"

namespace {
constexpr int32_t kSendGrowthPad = 1024;
constexpr int32_t kReceiveGrowthPad = 2048;
constexpr int32_t kTcpBacklog = 32;
constexpr int32_t kUdpBacklog = 1024;
constexpr int32_t kDefaultReceiveBuffer = 8192;
constexpr int32_t kLargestReceiveBuffer = 1024 * 1024;
constexpr uint32_t kBlockingSendPauseMs = 5;

bool IsValidPort(int32_t port)
{
    return port >= 1 && port <= 65535;
}

// Accept errors that mean the listener itself is unusable; everything else
// (an aborted connection, no descriptors left ...) only means "none now".
bool ListenerIsBroken(int32_t error)
{
    return error == platform::WSAENOTSOCK || error == platform::WSAEBADF || error == platform::WSAEINVAL;
}
} // namespace

QSocket::QSocket() : sendBuffer(kSendGrowthPad), receiveBuffer(kReceiveGrowthPad) {}

QSocket::~QSocket()
{
    Close();
}

QSocketApi *QSocket::ApiFor(const uint8_t *udpTag)
{
    if (udpTag == nullptr)
        return &TcpSocketApi();
    return StreamTransport();
}

bool QSocket::Fail(int32_t error)
{
    Close();
    lastError = static_cast<uint32_t>(error);
    return false;
}

int32_t QSocket::Broken(int32_t error)
{
    Fail(error);
    return -1;
}

void QSocket::FillAddressTag(const TSockAddr &address)
{
    std::memcpy(addressTag, address.padding, sizeof address.padding);
    std::memcpy(addressTag + sizeof address.padding, "UDP\0\0", 5);
}

void QSocket::RecordLocalAddress()
{
    TSockAddr local;
    if (api->GetSockName(handle, &local) != 0)
        return;
    localAddress = local.ip;
    localPort = local.port;
    FillAddressTag(local);
}

void QSocket::StampTimes()
{
    connectTime = static_cast<uint64_t>(EngineTime());
    activityTime = connectTime;
}

bool QSocket::Connect(uint32_t address, int32_t port, bool block, uint32_t bindAddress, const uint8_t *udpTag)
{
    Close();
    if (address == 0 || address == kNoAddress || !IsValidPort(port))
        return false;
    api = ApiFor(udpTag);
    if (api == nullptr)
        return Fail(platform::WSAENETUNREACH);
    handle = api->Socket();
    if (handle < 0)
        return Fail(api->LastError());
    remoteAddress = address;
    remotePort = port;
    blocking = block;
    overUdp = udpTag != nullptr;
    if (bindAddress != 0 && !overUdp) {
        TSockAddr local;
        local.ip = bindAddress;
        if (api->Bind(handle, local) != 0)
            return Fail(api->LastError());
    }
    TSockAddr remote;
    remote.ip = address;
    remote.port = static_cast<uint16_t>(port);
    if (udpTag != nullptr)
        std::memcpy(remote.padding, udpTag, sizeof remote.padding);
    if (api->Connect(handle, remote) != 0) {
        int32_t error = api->LastError();
        if (error != platform::WSAEWOULDBLOCK)
            return Fail(error);
        if (blocking) {
            // Writable only says the attempt ended; SO_ERROR says how.
            api->Wait(handle, TWaitFor::Write, -1);
            int32_t outcome = api->PendingError(handle);
            if (outcome != 0)
                return Fail(outcome < 0 ? api->LastError() : outcome);
            connected = true;
        }
    } else {
        connected = true;
    }
    RecordLocalAddress();
    StampTimes();
    return true;
}

bool QSocket::Connect(const std::string &name, int32_t port, bool block, uint32_t bindAddress,
                      const uint8_t *udpTag)
{
    uint32_t address = Resolve(name);
    if (address == kNoAddress) {
        Close();
        return false;
    }
    if (!Connect(address, port, block, bindAddress, udpTag))
        return false;
    remoteName = name;
    return true;
}

bool QSocket::IsConnected()
{
    if (connected)
        return true;
    if (handle < 0 || listening)
        return false;
    if (api->Wait(handle, TWaitFor::Write, 0) != 1)
        return false;
    int32_t outcome = api->PendingError(handle);
    if (outcome != 0) {
        Fail(outcome < 0 ? api->LastError() : outcome);
        return false;
    }
    connected = true;
    RecordLocalAddress();
    return true;
}

int32_t QSocket::SendSome(const uint8_t *data, int32_t length)
{
    int32_t sent = api->Send(handle, data, length);
    if (sent < 0) {
        int32_t error = api->LastError();
        lastError = static_cast<uint32_t>(error);
        // A full socket is not a broken one: nothing went out, try later.
        if (error == platform::WSAEWOULDBLOCK)
            return 0;
        return Broken(error);
    }
    if (sent > length)
        return Broken(platform::WSAEFAULT);
    sentBytes += static_cast<uint64_t>(sent);
    return sent;
}

int32_t QSocket::PushBuffered(int32_t most)
{
    int32_t total = 0;
    while (sendBuffer.Length() > 0) {
        if (blocking)
            WaitFor(TWaitFor::Write, -1);
        int32_t sent = SendSome(sendBuffer.Data(), std::min(sendBuffer.Length(), most));
        if (sent < 0)
            return -1;
        ConsumeSent(sent, false);
        total += sent;
        if (!blocking)
            break;
        if (sendBuffer.Length() > 0)
            platform::SleepMs(kBlockingSendPauseMs);
    }
    return total;
}

int32_t QSocket::FlushSome(int32_t most)
{
    if (handle < 0 || remoteAddress == 0)
        return 0;
    if (!IsConnected())
        return handle < 0 ? -1 : 0;
    return most > 0 ? PushBuffered(most) : 0;
}

int32_t QSocket::Send(const void *data, int32_t length)
{
    if (handle < 0 || remoteAddress == 0)
        return 0;
    const bool withData = data != nullptr && length > 0;
    if (!IsConnected()) {
        if (handle < 0)
            return -1;
        if (withData && !sendBuffer.Append(data, length))
            return Broken(platform::WSAENOBUFS);
        return 0;
    }
    if (!withData)
        return PushBuffered(sendBuffer.Length());
    int32_t total = 0;
    if (sendBuffer.Length() > 0) {
        int32_t sent = SendSome(sendBuffer.Data(), std::min(sendBuffer.Length(), length));
        if (sent < 0)
            return -1;
        ConsumeSent(sent, false);
        total += sent;
    }
    const auto *bytes = static_cast<const uint8_t *>(data);
    int32_t direct = 0;
    if (sendBuffer.Length() == 0) {
        direct = SendSome(bytes, length);
        if (direct < 0)
            return -1;
        total += direct;
    }
    if (!sendBuffer.Append(bytes + direct, length - direct))
        return Broken(platform::WSAENOBUFS);
    if (blocking) {
        int32_t rest = PushBuffered(sendBuffer.Length());
        if (rest < 0)
            return -1;
        total += rest;
    }
    return total;
}

int32_t QSocket::Receive(int32_t maximum)
{
    if (handle < 0 || remoteAddress == 0)
        return -1;
    if (!IsConnected())
        return handle < 0 ? -1 : 0;
    const int32_t room = std::min(maximum, kReceiveLimit - receiveBuffer.Length());
    if (room <= 0)
        return receiveBuffer.Length(); // full: the owner must consume first
    if (!receiveBuffer.Reserve(room))
        return Broken(platform::WSAENOBUFS);
    if (blocking)
        WaitFor(TWaitFor::Read, -1);
    int32_t got = api->Recv(handle, receiveBuffer.Tail(), room);
    if (got < 0) {
        int32_t error = api->LastError();
        lastError = static_cast<uint32_t>(error);
        if (error == platform::WSAEWOULDBLOCK)
            return 0;
        return Broken(error);
    }
    if (got == 0) { // the remote side closed
        Close();
        return -1;
    }
    receiveBuffer.Commit(got);
    receivedBytes += static_cast<uint64_t>(got);
    return receiveBuffer.Length();
}

void QSocket::ConsumeReceived(int32_t count, bool keep)
{
    receiveBuffer.Consume(count, keep);
}

void QSocket::ConsumeSent(int32_t count, bool keep)
{
    sendBuffer.Consume(count, keep || keepBuffer);
}

int32_t QSocket::WaitFor(TWaitFor what, int32_t seconds)
{
    int32_t timeoutMs;
    if (seconds == -1)
        timeoutMs = -1;
    else if (seconds == -2)
        timeoutMs = blocking ? -1 : 0;
    else
        timeoutMs = seconds <= 0 ? 0 : seconds * 1000;
    return api->Wait(handle, what, timeoutMs);
}

bool QSocket::WaitReadable(int32_t seconds)
{
    if (readPending) {
        readPending = false;
        return true;
    }
    return handle >= 0 && WaitFor(TWaitFor::Read, seconds) == 1;
}

bool QSocket::WaitWritable(int32_t seconds)
{
    if (writePending) {
        writePending = false;
        return true;
    }
    return handle >= 0 && WaitFor(TWaitFor::Write, seconds) == 1;
}

bool QSocket::Listen(int32_t port, uint32_t address, const uint8_t *udpTag)
{
    Close();
    if (!IsValidPort(port))
        return false;
    api = ApiFor(udpTag);
    if (api == nullptr)
        return Fail(platform::WSAENETUNREACH);
    handle = api->Socket();
    if (handle < 0)
        return Fail(api->LastError());
    overUdp = udpTag != nullptr;
    TSockAddr local;
    local.ip = address;
    local.port = static_cast<uint16_t>(port);
    if (udpTag != nullptr)
        std::memcpy(local.padding, udpTag, sizeof local.padding);
    // A restarted engine must get its port back while old connections linger.
    if (!overUdp && api->SetReuseAddress(handle) != 0)
        return Fail(api->LastError());
    if (api->Bind(handle, local) != 0 || api->Listen(handle, overUdp ? kUdpBacklog : kTcpBacklog) != 0)
        return Fail(api->LastError());
    listening = true;
    localAddress = address != 0 ? address : PickLocalAddress();
    localPort = static_cast<uint32_t>(port);
    activityTime = static_cast<uint64_t>(EngineTime());
    return true;
}

std::unique_ptr<QSocket> QSocket::Accept()
{
    if (!listening || handle < 0)
        return nullptr;
    if (blocking)
        WaitFor(TWaitFor::Read, -1);
    TSockAddr peer;
    int32_t accepted = api->Accept(handle, &peer);
    if (accepted < 0) {
        int32_t error = api->LastError();
        lastError = static_cast<uint32_t>(error);
        if (!overUdp && ListenerIsBroken(error))
            Fail(error);
        return nullptr;
    }
    auto socket = std::make_unique<QSocket>();
    socket->api = api;
    socket->handle = accepted;
    socket->overUdp = overUdp;
    socket->localAddress = localAddress;
    socket->localPort = localPort;
    socket->remoteAddress = peer.ip;
    socket->remotePort = peer.port;
    socket->connected = true;
    socket->remoteName = DottedText(peer.ip);
    socket->StampTimes();
    socket->FillAddressTag(peer);
    return socket;
}

void QSocket::SetReceiveBufferSize(int32_t bytes)
{
    if (handle < 0 || overUdp)
        return;
    if (bytes <= 0 || bytes > kLargestReceiveBuffer)
        bytes = kDefaultReceiveBuffer;
    api->SetReceiveBuffer(handle, bytes);
}

void QSocket::Close()
{
    if (handle >= 0)
        api->Close(handle);
    handle = -1;
    api = nullptr;
    sendBuffer.Free();
    receiveBuffer.Free();
    remoteName.clear();
    remoteAddress = 0;
    localAddress = 0;
    remotePort = 0;
    localPort = 0;
    readPending = false;
    writePending = false;
    connected = false;
    listening = false;
    blocking = false;
    sentBytes = 0;
    receivedBytes = 0;
    connectTime = 0;
    activityTime = 0;
    overUdp = false;
    keepBuffer = false;
    disguised = false;
    std::memset(addressTag, 0, sizeof addressTag);
}

std::string QSocket::RemoteDotted() const
{
    return DottedText(remoteAddress);
}

std::string QSocket::LocalDotted() const
{
    return DottedText(localAddress);
}
