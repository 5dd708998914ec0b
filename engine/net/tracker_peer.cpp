#include "engine/net/tracker_peer.h"

#include <strings.h>

#include "engine/base/engine_clock.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/tracker_announce.h"
#include "engine/net/tracker_http_answer.h"
#include "engine/net/tracker_udp.h"
#include "platform/random_bytes.h"

namespace {
// Largest UDP answer read: 200 peers take 1220 bytes.
constexpr int32_t kDatagramRoom = 2048;
// The head may add up to 64 KiB to the body's limit.
constexpr size_t kMaxAnswerBytes = kMaxTrackerAnswer + 64 * 1024;

int64_t Now()
{
    return EngineTime();
}

bool IsHttpsScheme(const std::string &scheme)
{
    return strcasecmp(scheme.c_str(), "https") == 0;
}
} // namespace

TTrackerPeer::TTrackerPeer(IPeerTask *task) : TPeerObject(task, PEER_KIND_TRACKER) {}

bool TTrackerPeer::AttachAddress(TPeerId *newAddress)
{
    if (newAddress == nullptr || newAddress->kind != PEER_KIND_TRACKER || !TPeerObject::AttachAddress(newAddress))
        return false;
    // TLS is not spoken here: an https tracker would get the announce in clear.
    if (IsHttpsScheme(address->Parts().trackerScheme)) {
        EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s skipped: https is not supported", address->url.c_str());
        task->Pool().RemoveAddress(address);
        return false;
    }
    overUdp = address->trackerTransport == 0;
    announced = false;
    lastHeard = Now();
    return overUdp ? StartUdp() : StartHttp();
}

bool TTrackerPeer::StartHttp()
{
    answer.clear();
    if (!socket->Connect(address->address, address->port, false))
        return Fail("connect failed");
    stage = PEER_STAGE_USABLE;
    state = PEER_STATE_ACTIVE;
    return true;
}

bool TTrackerPeer::StartUdp()
{
    if (!udp.IsOpen() && !udp.Open(0, 0))
        return Fail("no datagram socket");
    state = PEER_STATE_ACTIVE;
    return SendUdpConnect();
}

uint32_t TTrackerPeer::NewTransaction()
{
    // Guessable ids would let anyone on the path answer for the tracker.
    uint32_t id = 0;
    if (!platform::RandomBytes(&id, sizeof id))
        id = static_cast<uint32_t>(Now()) ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
    return id;
}

bool TTrackerPeer::SendUdpConnect()
{
    stage = PEER_STAGE_CONNECTING;
    connectionId = 0;
    connectTransaction = NewTransaction();
    std::array<uint8_t, kUdpConnectBytes> request = BuildUdpConnect(connectTransaction);
    lastConnect = Now();
    ++connectsSent;
    // A datagram lost here is sent again after kResendSeconds.
    udp.SendTo(request.data(), kUdpConnectBytes, address->address, address->port);
    return true;
}

bool TTrackerPeer::IsConnected()
{
    if (overUdp)
        return state != PEER_STATE_IDLE && udp.IsOpen();
    return TPeerObject::IsConnected();
}

bool TTrackerPeer::IsTimedOut()
{
    if (state == PEER_STATE_IDLE || state == PEER_STATE_FINISHED)
        return false;
    if (state == PEER_STATE_TIMED_OUT)
        return true;
    if (Now() - lastHeard < kAnswerTimeout)
        return false;
    EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s timed out: no answer for %lld s", address->url.c_str(),
                    static_cast<long long>(kAnswerTimeout));
    state = PEER_STATE_TIMED_OUT;
    return true;
}

bool TTrackerPeer::PlanRequests()
{
    counters.activityTime = Now();
    if (address == nullptr || state == PEER_STATE_FINISHED || state == PEER_STATE_IDLE)
        return false;
    if (overUdp && stage != PEER_STAGE_USABLE) {
        if (Now() - lastConnect >= kResendSeconds)
            SendUdpConnect();
        return true;
    }
    if (announced && Now() - lastAnnounce < kResendSeconds)
        return true;
    return overUdp ? AnnounceUdp() : AnnounceHttp();
}

bool TTrackerPeer::AnnounceHttp()
{
    TAnnounceFacts facts;
    if (!task->Announce().FillAnnounceFacts(facts, true))
        return Fail("the task has no info hash yet");
    // An announce that went unanswered is repeated on a new connection:
    // HTTP/1.0 carries one request per connection.
    if (announced) {
        CloseSocket();
        if (!StartHttp())
            return false;
    }
    const TUrlParts &parts = address->Parts();
    query = BuildAnnounceTarget(parts.requestPath, parts.query, facts);
    std::string request = BuildAnnounceRequest(query, parts.host, address->port);
    if (request.empty())
        return Fail("the tracker URL cannot form a request");
    answer.clear();
    answer.reserve(4096);
    announced = true;
    lastAnnounce = Now();
    ++announcesSent;
    return socket->SendBuffer().Append(request.data(), static_cast<int32_t>(request.size()));
}

bool TTrackerPeer::AnnounceUdp()
{
    if (Now() - connectionIdTime >= kConnectionIdLife)
        return SendUdpConnect();
    TAnnounceFacts facts;
    if (!task->Announce().FillAnnounceFacts(facts, false))
        return Fail("the task has no info hash yet");
    announceTransaction = NewTransaction();
    std::array<uint8_t, kUdpAnnounceBytes> request = BuildUdpAnnounce(connectionId, announceTransaction, facts);
    announced = true;
    lastAnnounce = Now();
    ++announcesSent;
    udp.SendTo(request.data(), kUdpAnnounceBytes, address->address, address->port);
    return true;
}

bool TTrackerPeer::FlushOutput()
{
    if (overUdp || !socket || socket->SendLength() == 0)
        return true;
    return socket->Flush() >= 0;
}

bool TTrackerPeer::ReadInput()
{
    if (address == nullptr || state == PEER_STATE_FINISHED)
        return false;
    if (IsTimedOut())
        return false;
    return overUdp ? ReadUdp() : ReadHttp();
}

bool TTrackerPeer::ReadHttp()
{
    if (!announced)
        return true;
    int32_t held = socket->Receive();
    bool closed = held < 0;
    if (held > 0) {
        answer.append(socket->ReceiveBuffer().Text(), static_cast<size_t>(held));
        socket->ConsumeReceived(held);
        lastHeard = Now();
    }
    if (answer.size() > kMaxAnswerBytes)
        return Fail("answer longer than 1 MiB");
    TTrackerHttpAnswer framed;
    switch (FrameTrackerAnswer(answer, closed, framed)) {
    case TTrackerFrame::Incomplete:
        return true;
    case TTrackerFrame::Refused:
        return Fail(framed.problem);
    case TTrackerFrame::Complete:
        break;
    }
    CloseSocket();
    TTrackerAnswer decoded = DecodeTrackerAnswer(framed.body);
    if (!decoded.bencoded)
        EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s answered with no bencoded dictionary",
                        address->url.c_str());
    if (!decoded.failureReason.empty())
        EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s refused the announce: %.512s", address->url.c_str(),
                        decoded.failureReason.c_str());
    TakeAnswer(decoded.interval, decoded.peers);
    return true;
}

bool TTrackerPeer::ReadUdp()
{
    uint8_t datagram[kDatagramRoom];
    for (int32_t i = 0; i < kDatagramsPerRead && state == PEER_STATE_ACTIVE; ++i) {
        int32_t length = udp.RecvFrom(datagram, sizeof datagram);
        if (length < 0)
            return Fail("datagram socket closed");
        if (length == 0)
            break;
        // Only the tracker may answer for the tracker.
        if (udp.SourceAddress() != address->address || udp.SourcePort() != address->port)
            continue;
        lastHeard = Now();
        HandleDatagram(datagram, length);
    }
    return true;
}

void TTrackerPeer::HandleDatagram(const uint8_t *data, int32_t length)
{
    TUdpTrackerAnswer parsed = ParseUdpTrackerAnswer(data, length);
    switch (parsed.kind) {
    case TUdpTrackerAnswer::Kind::Connected:
        if (stage != PEER_STAGE_CONNECTING || parsed.transaction != connectTransaction)
            return;
        connectionId = parsed.connectionId;
        connectionIdTime = Now();
        stage = PEER_STAGE_USABLE;
        // The announce follows at once, not after the resend period.
        announced = false;
        return;
    case TUdpTrackerAnswer::Kind::Announced:
        if (stage != PEER_STAGE_USABLE || !announced || parsed.transaction != announceTransaction)
            return;
        TakeAnswer(parsed.interval, parsed.peers);
        return;
    case TUdpTrackerAnswer::Kind::Error:
        if (parsed.transaction != connectTransaction && parsed.transaction != announceTransaction)
            return;
        EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s answered with an error: %.256s", address->url.c_str(),
                        parsed.message.c_str());
        // Most often an expired connection id: connect again, paced by the
        // resend period so a tracker that always refuses is not flooded.
        stage = PEER_STAGE_CONNECTING;
        connectionId = 0;
        return;
    case TUdpTrackerAnswer::Kind::Ignored:
        return;
    }
}

void TTrackerPeer::TakeAnswer(int32_t interval, const std::vector<TTrackerPeerAddress> &peers)
{
    address->announceInterval = interval;
    int32_t taken = 0;
    for (const TTrackerPeerAddress &peer : peers) {
        bool added = task->Announce().AddTrackerPeer(peer);
        taken += added ? 1 : 0;
        EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s named peer %s:%d%s", address->url.c_str(),
                        DottedText(peer.address).c_str(), static_cast<int>(peer.port), added ? "" : " (refused)");
    }
    EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s answered: %d peers, %d taken, interval %d s",
                    address->url.c_str(), static_cast<int>(peers.size()), static_cast<int>(taken),
                    static_cast<int>(interval));
    state = PEER_STATE_FINISHED;
}

bool TTrackerPeer::Fail(const std::string &why)
{
    EngineLogFormat(LOG_CHANNEL_PEERS, "Tracker %.512s: %.512s", address != nullptr ? address->url.c_str() : "",
                    why.c_str());
    CloseSocket();
    udp.Close();
    stage = PEER_STAGE_NONE;
    return false;
}

void TTrackerPeer::Reset()
{
    TPeerObject::Reset();
    udp.Close();
    overUdp = false;
    answer.clear();
    query.clear();
    lastHeard = 0;
    announced = false;
    lastAnnounce = 0;
    lastConnect = 0;
    connectTransaction = 0;
    announceTransaction = 0;
    connectionId = 0;
    connectionIdTime = 0;
}
