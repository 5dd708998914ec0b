#pragma once
// The datagrams between an engine and the rendezvous server, and the punch
// packet engines send each other, as bytes. Numbers are big-endian, IPv4
// addresses stay in network order. Every parser takes exactly the lengths
// below and reads nothing past the length it is given; anything else is
// std::nullopt.
//
// Registration, introduction request and answer share one layout: a zero
// word, type at 12, identity at 16 (in answers the receiver's), request id
// at 28, local IPv4 at 32, local port at 36, 1 at 40 (requests), entry count
// at 44, then 16-byte entries: IPv4, port (-1 in answers: unknown), tag.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/net/udp_identity.h"

constexpr uint32_t kRendezvousRegistration = 2;
constexpr uint32_t kRendezvousIntroductionRequest = 3;
constexpr uint32_t kRendezvousIntroductionAnswer = 0x80000003;
constexpr uint32_t kIntroductionNoticeMark = 0x33333333;

constexpr size_t kRegistrationBytes = 64;
constexpr size_t kPublicAddressReportBytes = 8;
constexpr size_t kKeepAliveBytes = 8;
constexpr size_t kIntroductionHeaderBytes = 48;
constexpr size_t kIntroductionEntryBytes = 16;
constexpr size_t kIntroductionMaxEntries = 12;
constexpr size_t kIntroductionMaxBytes = kIntroductionHeaderBytes + kIntroductionEntryBytes * kIntroductionMaxEntries;
constexpr size_t kIntroductionAnswerMinBytes = 64;
constexpr size_t kIntroductionNoticeBytes = 32;
constexpr size_t kPunchBytes = 48;
constexpr int32_t kIntroductionPortUnknown = -1;

struct TRegistration {
    TUdpIdentity identity{};
    uint32_t requestId = 0;
    uint32_t localIpv4 = 0;
    uint32_t localPort = 0;
    bool operator==(const TRegistration &) const = default;
};

// What the server saw as the source of a registration.
struct TPublicAddressReport {
    uint32_t ipv4 = 0;
    uint32_t port = 0;
    bool operator==(const TPublicAddressReport &) const = default;
};

struct TIntroductionEntry {
    uint32_t ipv4 = 0;
    int32_t port = 0;
    TUdpTag tag{};
    bool operator==(const TIntroductionEntry &) const = default;
};

// An introduction request or its answer.
struct TIntroduction {
    TUdpIdentity identity{};
    uint32_t requestId = 0;
    uint32_t localIpv4 = 0;
    uint32_t localPort = 0;
    std::array<TIntroductionEntry, kIntroductionMaxEntries> entries{};
    size_t entryCount = 0;

    // False when the packet is full.
    bool Add(const TIntroductionEntry &entry);
    bool operator==(const TIntroduction &) const = default;
};

// Entries the answer to this request holds: one for each query by identity,
// a pair for each query by address (the address asked for, then who was
// found there).
size_t AnswerEntries(const TIntroduction &request);
// Whether one more query for tag fits the request: its answer must stay
// within 12 entries, as the server never splits a pair and leaves what does
// not fit unanswered.
bool RequestTakes(const TIntroduction &request, const TUdpTag &tag);

// Tells a target that the requester wants to reach it: punch its address.
struct TIntroductionNotice {
    TUdpIdentity requester{};
    uint32_t ipv4 = 0;
    uint32_t port = 0;
    bool operator==(const TIntroductionNotice &) const = default;
};

struct TPunchPacket {
    TUdpIdentity receiver{};
    uint16_t senderPort = 0;
    TUdpIdentity sender{};
    bool operator==(const TPunchPacket &) const = default;
};

// A request or answer, as long as its entries make it.
struct TIntroductionBytes {
    std::array<uint8_t, kIntroductionMaxBytes> data{};
    size_t size = 0;
};

std::array<uint8_t, kRegistrationBytes> EncodeRegistration(const TRegistration &registration);
std::optional<TRegistration> ParseRegistration(const uint8_t *bytes, size_t length);

std::array<uint8_t, kPublicAddressReportBytes> EncodePublicAddressReport(const TPublicAddressReport &report);
std::optional<TPublicAddressReport> ParsePublicAddressReport(const uint8_t *bytes, size_t length);

// Eight zero bytes.
std::array<uint8_t, kKeepAliveBytes> EncodeKeepAlive();
bool IsKeepAlive(const uint8_t *bytes, size_t length);

// 48 + 16 n bytes for 1 <= n <= 12 entries; the entries go with port 0.
// Encoding a request without entries gives size 0.
TIntroductionBytes EncodeIntroductionRequest(const TIntroduction &request);
std::optional<TIntroduction> ParseIntroductionRequest(const uint8_t *bytes, size_t length);

// At least 64 bytes (zero-padded when fewer entries fill them); a parsed
// answer has at most 12 entries, all within the datagram.
TIntroductionBytes EncodeIntroductionAnswer(const TIntroduction &answer);
std::optional<TIntroduction> ParseIntroductionAnswer(const uint8_t *bytes, size_t length);

std::array<uint8_t, kIntroductionNoticeBytes> EncodeIntroductionNotice(const TIntroductionNotice &notice);
std::optional<TIntroductionNotice> ParseIntroductionNotice(const uint8_t *bytes, size_t length);

// 20 zero bytes, receiver's identity, sender's port (2 bytes), 2 zero bytes,
// sender's identity.
std::array<uint8_t, kPunchBytes> EncodePunch(const TPunchPacket &punch);
std::optional<TPunchPacket> ParsePunch(const uint8_t *bytes, size_t length);
