#include "tools/qlrendezvous/rendezvous_server.h"

#include <cstring>

namespace {
uint64_t IdentityKey(const TUdpTag &tag)
{
    uint64_t key = 0;
    std::memcpy(&key, tag.data(), sizeof key);
    return key;
}

TUdpTag TagOf(uint64_t identity)
{
    TUdpTag tag{};
    std::memcpy(tag.data(), &identity, sizeof identity);
    return tag;
}
} // namespace

TRendezvousServer::TRendezvousServer(const TRendezvousLimits &limits) : limits(limits), table(limits.capacity) {}

void TRendezvousServer::Handle(const uint8_t *bytes, size_t length, TRendezvousEndpoint source, uint32_t now,
                               IRendezvousSender &sender)
{
    table.Expire(now, limits.silenceSeconds);
    if (IsKeepAlive(bytes, length)) {
        if (TRendezvousHost *host = table.FromSource(source))
            table.Touch(*host, now);
    } else if (auto registration = ParseRegistration(bytes, length)) {
        Register(*registration, source, now, sender);
    } else if (auto request = ParseIntroductionRequest(bytes, length)) {
        if (TRendezvousHost *requester = table.FromSource(source)) {
            table.Touch(*requester, now);
            Introduce(*request, *requester, now, sender);
        }
    }
}

void TRendezvousServer::Register(const TRegistration &registration, TRendezvousEndpoint source, uint32_t now,
                                 IRendezvousSender &sender)
{
    const TUdpTag tag = UdpIdentityTag(registration.identity);
    // Such an identity would answer for an address-form query.
    if (IsUdpAddressTag(tag))
        return;
    table.Register(IdentityKey(tag), source, registration.localIpv4, registration.localPort, now);
    const auto report = EncodePublicAddressReport({source.ipv4, source.port});
    sender.Send(source, report.data(), report.size());
}

TRendezvousEndpoint TRendezvousServer::ReachableAt(const TRendezvousHost &from, const TRendezvousHost &target)
{
    if (from.publicAddress.ipv4 != target.publicAddress.ipv4 || target.localPort == 0 || target.localPort > 0xFFFF)
        return target.publicAddress;
    const uint32_t ipv4 = target.localIpv4 != 0 ? target.localIpv4 : target.publicAddress.ipv4;
    return {ipv4, static_cast<uint16_t>(target.localPort)};
}

void TRendezvousServer::Notify(TRendezvousHost &requester, const TRendezvousHost &target, uint32_t now,
                               IRendezvousSender &sender)
{
    if (requester.noticeSecond != now) {
        requester.noticeSecond = now;
        requester.noticesInSecond = 0;
    }
    if (requester.noticesInSecond >= limits.noticesPerSecond)
        return;
    ++requester.noticesInSecond;
    const TRendezvousEndpoint punchTo = ReachableAt(target, requester);
    const auto notice = EncodeIntroductionNotice({UdpIdentityOfTag(TagOf(requester.identity)), punchTo.ipv4, punchTo.port});
    sender.Send(target.publicAddress, notice.data(), notice.size());
}

void TRendezvousServer::Introduce(const TIntroduction &request, TRendezvousHost &requester, uint32_t now,
                                  IRendezvousSender &sender)
{
    TIntroduction answer;
    answer.identity = request.identity;
    answer.requestId = request.requestId;
    for (size_t i = 0; i < request.entryCount; ++i) {
        const TIntroductionEntry &query = request.entries[i];
        const TIntroductionEntry unknown{query.ipv4, kIntroductionPortUnknown, query.tag};
        const bool addressForm = IsUdpAddressTag(query.tag);
        // An address-form query is answered by a pair, never split: what
        // does not fit stays unanswered.
        if (answer.entryCount + (addressForm ? 2 : 1) > kIntroductionMaxEntries)
            break;
        const TRendezvousHost *target = nullptr;
        if (addressForm) {
            answer.Add(unknown);
            target = table.ByPublicIpv4AndLocalPort(UdpAddressTagIpv4(query.tag), UdpAddressTagPort(query.tag));
        } else {
            target = table.ByIdentity(IdentityKey(query.tag));
        }
        if (target == nullptr) {
            answer.Add(unknown);
            continue;
        }
        const TRendezvousEndpoint at = ReachableAt(requester, *target);
        answer.Add({at.ipv4, at.port, TagOf(target->identity)});
        Notify(requester, *target, now, sender);
    }
    const TIntroductionBytes bytes = EncodeIntroductionAnswer(answer);
    sender.Send(requester.publicAddress, bytes.data.data(), bytes.size);
}
