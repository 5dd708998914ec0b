#include "engine/net/rendezvous_packet.h"

#include <algorithm>
#include <cstring>

#include "engine/base/zero_bytes.h"
#include "engine/net/bt_wire.h"

namespace {
constexpr size_t kTypeAt = 12;
constexpr size_t kIdentityAt = 16;
constexpr size_t kRequestIdAt = 28;
constexpr size_t kLocalIpv4At = 32;
constexpr size_t kLocalPortAt = 36;
constexpr size_t kRequestMarkAt = 40;
constexpr size_t kEntryCountAt = 44;

constexpr size_t kNoticeIdentityAt = 4;
constexpr size_t kNoticeIpv4At = 20;
constexpr size_t kNoticePortAt = 24;

constexpr size_t kPunchReceiverAt = 20;
constexpr size_t kPunchPortAt = 32;
constexpr size_t kPunchSenderAt = 36;

// The zero word that opens every rendezvous packet, and its type.
bool HasType(const uint8_t *bytes, uint32_t type)
{
    return AllZeroBytes(bytes, 4) && ReadBigEndian32(bytes + kTypeAt) == type;
}

void WriteHeader(uint8_t *bytes, uint32_t type, const TUdpIdentity &identity, uint32_t requestId, uint32_t localIpv4,
                 uint32_t localPort)
{
    WriteBigEndian32(bytes + kTypeAt, type);
    std::memcpy(bytes + kIdentityAt, identity.data(), identity.size());
    WriteBigEndian32(bytes + kRequestIdAt, requestId);
    std::memcpy(bytes + kLocalIpv4At, &localIpv4, 4);
    WriteBigEndian32(bytes + kLocalPortAt, localPort);
}

template <typename Packet>
void ReadHeader(const uint8_t *bytes, Packet &packet)
{
    std::memcpy(packet.identity.data(), bytes + kIdentityAt, packet.identity.size());
    packet.requestId = ReadBigEndian32(bytes + kRequestIdAt);
    std::memcpy(&packet.localIpv4, bytes + kLocalIpv4At, 4);
    packet.localPort = ReadBigEndian32(bytes + kLocalPortAt);
}

TIntroductionBytes EncodeIntroduction(const TIntroduction &packet, uint32_t type, bool request)
{
    TIntroductionBytes out;
    uint8_t *bytes = out.data.data();
    WriteHeader(bytes, type, packet.identity, packet.requestId, packet.localIpv4, packet.localPort);
    if (request)
        WriteBigEndian32(bytes + kRequestMarkAt, 1);
    const size_t count = std::min(packet.entryCount, kIntroductionMaxEntries);
    WriteBigEndian32(bytes + kEntryCountAt, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const TIntroductionEntry &entry = packet.entries[i];
        uint8_t *at = bytes + kIntroductionHeaderBytes + i * kIntroductionEntryBytes;
        std::memcpy(at, &entry.ipv4, 4);
        WriteBigEndian32(at + 4, request ? 0 : static_cast<uint32_t>(entry.port));
        std::memcpy(at + 8, entry.tag.data(), entry.tag.size());
    }
    out.size = kIntroductionHeaderBytes + count * kIntroductionEntryBytes;
    return out;
}

// The caller has checked that count entries lie within the datagram.
TIntroduction ReadIntroduction(const uint8_t *bytes, size_t count)
{
    TIntroduction packet;
    ReadHeader(bytes, packet);
    packet.entryCount = count;
    for (size_t i = 0; i < count; ++i) {
        TIntroductionEntry &entry = packet.entries[i];
        const uint8_t *at = bytes + kIntroductionHeaderBytes + i * kIntroductionEntryBytes;
        std::memcpy(&entry.ipv4, at, 4);
        entry.port = static_cast<int32_t>(ReadBigEndian32(at + 4));
        std::memcpy(entry.tag.data(), at + 8, entry.tag.size());
    }
    return packet;
}
} // namespace

bool TIntroduction::Add(const TIntroductionEntry &entry)
{
    if (entryCount >= kIntroductionMaxEntries)
        return false;
    entries[entryCount++] = entry;
    return true;
}

size_t AnswerEntries(const TIntroduction &request)
{
    size_t count = 0;
    for (size_t i = 0; i < request.entryCount && i < kIntroductionMaxEntries; ++i)
        count += IsUdpAddressTag(request.entries[i].tag) ? 2 : 1;
    return count;
}

bool RequestTakes(const TIntroduction &request, const TUdpTag &tag)
{
    return AnswerEntries(request) + (IsUdpAddressTag(tag) ? 2 : 1) <= kIntroductionMaxEntries;
}

std::array<uint8_t, kRegistrationBytes> EncodeRegistration(const TRegistration &registration)
{
    std::array<uint8_t, kRegistrationBytes> bytes{};
    WriteHeader(bytes.data(), kRendezvousRegistration, registration.identity, registration.requestId,
                registration.localIpv4, registration.localPort);
    return bytes;
}

std::optional<TRegistration> ParseRegistration(const uint8_t *bytes, size_t length)
{
    if (bytes == nullptr || length != kRegistrationBytes || !HasType(bytes, kRendezvousRegistration))
        return std::nullopt;
    TRegistration registration;
    ReadHeader(bytes, registration);
    return registration;
}

std::array<uint8_t, kPublicAddressReportBytes> EncodePublicAddressReport(const TPublicAddressReport &report)
{
    std::array<uint8_t, kPublicAddressReportBytes> bytes{};
    std::memcpy(bytes.data(), &report.ipv4, 4);
    WriteBigEndian32(bytes.data() + 4, report.port);
    return bytes;
}

std::optional<TPublicAddressReport> ParsePublicAddressReport(const uint8_t *bytes, size_t length)
{
    if (bytes == nullptr || length != kPublicAddressReportBytes)
        return std::nullopt;
    TPublicAddressReport report;
    std::memcpy(&report.ipv4, bytes, 4);
    report.port = ReadBigEndian32(bytes + 4);
    return report;
}

std::array<uint8_t, kKeepAliveBytes> EncodeKeepAlive()
{
    return {};
}

bool IsKeepAlive(const uint8_t *bytes, size_t length)
{
    return bytes != nullptr && length == kKeepAliveBytes && AllZeroBytes(bytes, length);
}

TIntroductionBytes EncodeIntroductionRequest(const TIntroduction &request)
{
    if (request.entryCount == 0)
        return {};
    return EncodeIntroduction(request, kRendezvousIntroductionRequest, true);
}

std::optional<TIntroduction> ParseIntroductionRequest(const uint8_t *bytes, size_t length)
{
    if (bytes == nullptr || length < kIntroductionHeaderBytes + kIntroductionEntryBytes ||
        length > kIntroductionMaxBytes || (length - kIntroductionHeaderBytes) % kIntroductionEntryBytes != 0 ||
        !HasType(bytes, kRendezvousIntroductionRequest))
        return std::nullopt;
    const size_t count = (length - kIntroductionHeaderBytes) / kIntroductionEntryBytes;
    if (ReadBigEndian32(bytes + kEntryCountAt) != count)
        return std::nullopt;
    return ReadIntroduction(bytes, count);
}

TIntroductionBytes EncodeIntroductionAnswer(const TIntroduction &answer)
{
    TIntroductionBytes out = EncodeIntroduction(answer, kRendezvousIntroductionAnswer, false);
    out.size = std::max(out.size, kIntroductionAnswerMinBytes);
    return out;
}

std::optional<TIntroduction> ParseIntroductionAnswer(const uint8_t *bytes, size_t length)
{
    if (bytes == nullptr || length < kIntroductionAnswerMinBytes || !HasType(bytes, kRendezvousIntroductionAnswer))
        return std::nullopt;
    const uint32_t count = ReadBigEndian32(bytes + kEntryCountAt);
    if (count > kIntroductionMaxEntries || kIntroductionHeaderBytes + count * kIntroductionEntryBytes > length)
        return std::nullopt;
    return ReadIntroduction(bytes, count);
}

std::array<uint8_t, kIntroductionNoticeBytes> EncodeIntroductionNotice(const TIntroductionNotice &notice)
{
    std::array<uint8_t, kIntroductionNoticeBytes> bytes{};
    WriteBigEndian32(bytes.data(), kIntroductionNoticeMark);
    std::memcpy(bytes.data() + kNoticeIdentityAt, notice.requester.data(), notice.requester.size());
    std::memcpy(bytes.data() + kNoticeIpv4At, &notice.ipv4, 4);
    WriteBigEndian32(bytes.data() + kNoticePortAt, notice.port);
    return bytes;
}

std::optional<TIntroductionNotice> ParseIntroductionNotice(const uint8_t *bytes, size_t length)
{
    if (bytes == nullptr || length != kIntroductionNoticeBytes || ReadBigEndian32(bytes) != kIntroductionNoticeMark)
        return std::nullopt;
    TIntroductionNotice notice;
    std::memcpy(notice.requester.data(), bytes + kNoticeIdentityAt, notice.requester.size());
    std::memcpy(&notice.ipv4, bytes + kNoticeIpv4At, 4);
    notice.port = ReadBigEndian32(bytes + kNoticePortAt);
    return notice;
}

std::array<uint8_t, kPunchBytes> EncodePunch(const TPunchPacket &punch)
{
    std::array<uint8_t, kPunchBytes> bytes{};
    std::memcpy(bytes.data() + kPunchReceiverAt, punch.receiver.data(), punch.receiver.size());
    bytes[kPunchPortAt] = static_cast<uint8_t>(punch.senderPort >> 8);
    bytes[kPunchPortAt + 1] = static_cast<uint8_t>(punch.senderPort);
    std::memcpy(bytes.data() + kPunchSenderAt, punch.sender.data(), punch.sender.size());
    return bytes;
}

std::optional<TPunchPacket> ParsePunch(const uint8_t *bytes, size_t length)
{
    if (bytes == nullptr || length != kPunchBytes || !AllZeroBytes(bytes, kPunchReceiverAt))
        return std::nullopt;
    TPunchPacket punch;
    std::memcpy(punch.receiver.data(), bytes + kPunchReceiverAt, punch.receiver.size());
    punch.senderPort = static_cast<uint16_t>(bytes[kPunchPortAt] << 8 | bytes[kPunchPortAt + 1]);
    std::memcpy(punch.sender.data(), bytes + kPunchSenderAt, punch.sender.size());
    return punch;
}
