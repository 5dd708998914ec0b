// The UDP server's exchange with the rendezvous server: registration and
// keep-alive, introduction requests and answers, and the punches that open
// the NAT mappings between two hosts. Runs under the server lock.
#include <algorithm>
#include <cstring>

#include "engine/net/ipv4_address.h"
#include "engine/net/local_address.h"
#include "engine/net/udp_server.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"

namespace {
constexpr uint32_t kRegistrationPeriodMs = 300000;
constexpr size_t kPendingRequestsMost = 2048;
constexpr size_t kPunchListMost = 512;
constexpr int32_t kTimedPunches = 2;

TUdpIdentity IdentityOf(const uint8_t *bytes)
{
    TUdpIdentity identity{};
    std::memcpy(identity.data(), bytes, identity.size());
    return identity;
}
} // namespace

void QUInternalServer::RendezvousRound(uint32_t now)
{
    if (rendezvousIp == 0)
        return;
    if (registerNextRound || now - lastRegistrationTick >= kRegistrationPeriodMs) {
        Register();
        lastKeepAliveTick = now;
        return;
    }
    if (now - lastKeepAliveTick >= settings.keepAliveSeconds * 1000) {
        lastKeepAliveTick = now;
        if (BehindNat())
            SendKeepAlive();
        // No report since the last registration: it or its answer was lost.
        if (!reportReceived)
            registerNextRound = true;
    }
}

void QUInternalServer::Register()
{
    TRegistration registration;
    registration.identity = IdentityOf(identity);
    registration.requestId = static_cast<uint32_t>(++requestCounter);
    const uint32_t local = localAddress.load();
    registration.localIpv4 = local != 0 && local != kNoAddress ? local : PickLocalAddress();
    registration.localPort = static_cast<uint32_t>(udp.BoundPort());
    const auto bytes = EncodeRegistration(registration);
    SendDatagram(bytes.data(), bytes.size(), rendezvousIp, settings.rendezvousPort);
    reportReceived = false;
    registerNextRound = false;
    lastRegistrationTick = platform::TickCount();
}

void QUInternalServer::SendKeepAlive()
{
    const auto bytes = EncodeKeepAlive();
    SendDatagram(bytes.data(), bytes.size(), rendezvousIp, settings.rendezvousPort);
}

void QUInternalServer::OnAddressReport(const uint8_t *bytes, size_t length)
{
    const auto report = ParsePublicAddressReport(bytes, length);
    if (!report)
        return;
    reportReceived = true;
    if (report->ipv4 != 0 && report->ipv4 != kNoAddress)
        publicAddress = report->ipv4;
    publicPort = static_cast<int32_t>(report->port);
}

int32_t QUInternalServer::QueueIntroduction(uint32_t ip, const uint8_t *tag)
{
    TIntroductionEntry entry;
    entry.ipv4 = ip;
    std::memcpy(entry.tag.data(), tag, entry.tag.size());
    if (!RequestTakes(introduction, entry.tag))
        FlushIntroduction();
    if (introduction.entryCount == 0) {
        introduction = TIntroduction();
        introduction.identity = IdentityOf(identity);
        introduction.requestId = static_cast<uint32_t>(++requestCounter);
        introduction.localIpv4 = localAddress.load();
        introduction.localPort = static_cast<uint32_t>(udp.BoundPort());
        if (pendingRequests.size() > kPendingRequestsMost)
            pendingRequests.clear();
        pendingRequests.push_back(static_cast<int32_t>(introduction.requestId));
    }
    const auto id = static_cast<int32_t>(introduction.requestId);
    introduction.Add(entry);
    // A request whose answer is full goes now rather than grow.
    if (AnswerEntries(introduction) == kIntroductionMaxEntries)
        FlushIntroduction();
    return id;
}

void QUInternalServer::FlushIntroduction()
{
    if (introduction.entryCount == 0)
        return;
    // Without a server to ask, the queries are dropped: the connection
    // timers ask again, and a request must never outgrow its answer.
    if (rendezvousIp == 0) {
        introduction.entryCount = 0;
        return;
    }
    const TIntroductionBytes bytes = EncodeIntroductionRequest(introduction);
    if (bytes.size > 0)
        SendDatagram(bytes.data.data(), bytes.size, rendezvousIp, settings.rendezvousPort);
    introduction.entryCount = 0;
}

void QUInternalServer::OnIntroductionAnswer(const uint8_t *bytes, size_t length)
{
    const auto answer = ParseIntroductionAnswer(bytes, length);
    if (!answer)
        return;
    const auto requestId = static_cast<int32_t>(answer->requestId);
    auto pending = std::find(pendingRequests.begin(), pendingRequests.end(), requestId);
    if (pending == pendingRequests.end())
        return;
    pendingRequests.erase(pending);
    for (size_t i = 0; i < answer->entryCount; ++i) {
        const TIntroductionEntry &entry = answer->entries[i];
        if (entry.port != kIntroductionPortUnknown) {
            streams.Introduced(entry.tag.data(), entry.ipv4, entry.port);
            continue;
        }
        // An address the server could not name is followed by what it found
        // there; the pair is only complete when that entry exists.
        if (!IsUdpAddressTag(entry.tag) || i + 1 >= answer->entryCount)
            continue;
        const TIntroductionEntry &found = answer->entries[i + 1];
        if (found.port != kIntroductionPortUnknown || !IsUdpAddressTag(found.tag))
            streams.Introduced(entry.tag.data(), found.ipv4, found.port, found.tag.data());
        ++i;
    }
    streams.IntroductionUnanswered(requestId);
}

void QUInternalServer::OnIntroductionNotice(const uint8_t *bytes, size_t length)
{
    const auto notice = ParseIntroductionNotice(bytes, length);
    if (!notice || !BehindNat())
        return;
    for (TPunchEntry &entry : punches) {
        if (std::memcmp(entry.identity, notice->requester.data(), sizeof entry.identity) == 0) {
            entry.ip = notice->ipv4;
            entry.port = static_cast<int32_t>(notice->port);
            entry.timedSends = 0;
            return;
        }
    }
    SendPunch(notice->requester.data(), notice->ipv4, static_cast<int32_t>(notice->port));
    if (punches.size() >= kPunchListMost)
        return;
    TPunchEntry entry{};
    std::memcpy(entry.identity, notice->requester.data(), sizeof entry.identity);
    entry.ip = notice->ipv4;
    entry.port = static_cast<int32_t>(notice->port);
    punches.push_back(entry);
}

// The receiver sorts a punch by its own identity in it: one without is dropped.
bool QUInternalServer::SendPunch(const uint8_t *receiver, uint32_t ip, int32_t port)
{
    TPunchPacket punch;
    punch.receiver = IdentityOf(receiver);
    punch.sender = IdentityOf(identity);
    punch.senderPort = static_cast<uint16_t>(udp.BoundPort());
    const auto bytes = EncodePunch(punch);
    return SendDatagram(bytes.data(), bytes.size(), ip, port);
}

void QUInternalServer::PunchRound()
{
    for (auto entry = punches.begin(); entry != punches.end();) {
        if (!SendPunch(entry->identity, entry->ip, entry->port) &&
            udp.LastError() == static_cast<uint32_t>(platform::WSAEWOULDBLOCK))
            return;
        if (++entry->timedSends >= kTimedPunches)
            entry = punches.erase(entry);
        else
            ++entry;
    }
}

void QUInternalServer::DropPunches(uint32_t ip, int32_t port)
{
    punches.erase(std::remove_if(punches.begin(), punches.end(),
                                 [&](const TPunchEntry &entry) { return entry.ip == ip && entry.port == port; }),
                  punches.end());
}

void QUInternalServer::OnPunch(const uint8_t *bytes, size_t length, uint32_t ip, int32_t port)
{
    const auto punch = ParsePunch(bytes, length);
    if (punch)
        streams.Punched(ip, port, punch->senderPort, punch->sender.data());
}
