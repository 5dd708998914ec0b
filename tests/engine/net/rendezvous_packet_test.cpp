#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/net/rendezvous_packet.h"

namespace {

const uint8_t kRandom[8] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};

TUdpIdentity Identity()
{
    return MakeUdpIdentity(kRandom);
}

std::vector<uint8_t> Bytes(const uint8_t *data, size_t size)
{
    return std::vector<uint8_t>(data, data + size);
}

TIntroduction RequestOf(size_t entries)
{
    TIntroduction request;
    request.identity = Identity();
    request.requestId = 77;
    for (size_t i = 0; i < entries; ++i)
        request.Add({0x0100007F, 0, UdpAddressTag(0x0100007F, static_cast<uint16_t>(6000 + i))});
    return request;
}

TEST(UdpIdentityTest, RandomBytesNeverMakeAnAddressTag)
{
    const uint8_t zeros[8] = {};
    const TUdpIdentity identity = MakeUdpIdentity(zeros);
    EXPECT_EQ(identity[0], 1);
    EXPECT_EQ(identity[1], 2);
    EXPECT_EQ(std::memcmp(identity.data() + 8, "UDP0", 4), 0);
    EXPECT_FALSE(IsUdpAddressTag(UdpIdentityTag(identity)));
    EXPECT_EQ(UdpIdentityOfTag(UdpIdentityTag(Identity())), Identity());
}

TEST(UdpIdentityTest, AddressTagCarriesIpv4AndPortBigEndian)
{
    const TUdpTag tag = UdpAddressTag(0x0A00A8C0, 0x1F90); // 192.168.0.10:8080
    const TUdpTag expected = {0, 0, 0xC0, 0xA8, 0x00, 0x0A, 0x1F, 0x90};
    EXPECT_EQ(tag, expected);
    EXPECT_TRUE(IsUdpAddressTag(tag));
    EXPECT_EQ(UdpAddressTagIpv4(tag), 0x0A00A8C0u);
    EXPECT_EQ(UdpAddressTagPort(tag), 8080);
}

TEST(RendezvousPacketTest, RegistrationLayoutAndExactLength)
{
    TRegistration registration{Identity(), 5, 0x0100A8C0, 8080};
    const auto bytes = EncodeRegistration(registration);
    EXPECT_EQ(bytes[15], 2);
    EXPECT_EQ(std::memcmp(bytes.data() + 16, Identity().data(), 12), 0);
    EXPECT_EQ(bytes[31], 5);
    EXPECT_EQ(bytes[32], 0xC0); // network order as kept
    EXPECT_EQ(bytes[38], 0x1F);
    EXPECT_EQ(bytes[39], 0x90);

    const auto parsed = ParseRegistration(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->identity, Identity());
    EXPECT_EQ(parsed->localIpv4, 0x0100A8C0u);
    EXPECT_EQ(parsed->localPort, 8080u);

    std::vector<uint8_t> longer = Bytes(bytes.data(), bytes.size());
    longer.push_back(0);
    EXPECT_FALSE(ParseRegistration(longer.data(), longer.size()));
    EXPECT_FALSE(ParseRegistration(bytes.data(), 63));
    std::vector<uint8_t> otherType = Bytes(bytes.data(), bytes.size());
    otherType[15] = 3;
    EXPECT_FALSE(ParseRegistration(otherType.data(), otherType.size()));
    std::vector<uint8_t> nonZeroWord = Bytes(bytes.data(), bytes.size());
    nonZeroWord[0] = 'd';
    EXPECT_FALSE(ParseRegistration(nonZeroWord.data(), nonZeroWord.size()));
    EXPECT_FALSE(ParseRegistration(nullptr, 64));
}

TEST(RendezvousPacketTest, ReportKeepAliveNoticeAndPunchTakeOnlyTheirLength)
{
    const auto report = EncodePublicAddressReport({0x0100007F, 40001});
    const auto parsedReport = ParsePublicAddressReport(report.data(), report.size());
    ASSERT_TRUE(parsedReport);
    EXPECT_EQ(parsedReport->ipv4, 0x0100007Fu);
    EXPECT_EQ(parsedReport->port, 40001u);
    EXPECT_FALSE(ParsePublicAddressReport(report.data(), 7));

    const auto keepAlive = EncodeKeepAlive();
    EXPECT_TRUE(IsKeepAlive(keepAlive.data(), keepAlive.size()));
    EXPECT_FALSE(IsKeepAlive(keepAlive.data(), 7));
    EXPECT_FALSE(IsKeepAlive(report.data(), report.size()));

    const auto notice = EncodeIntroductionNotice({Identity(), 0x0200007F, 9000});
    EXPECT_EQ(notice[0], 0x33);
    EXPECT_EQ(notice[3], 0x33);
    const auto parsedNotice = ParseIntroductionNotice(notice.data(), notice.size());
    ASSERT_TRUE(parsedNotice);
    EXPECT_EQ(parsedNotice->requester, Identity());
    EXPECT_EQ(parsedNotice->ipv4, 0x0200007Fu);
    EXPECT_EQ(parsedNotice->port, 9000u);
    EXPECT_FALSE(ParseIntroductionNotice(notice.data(), 31));
    std::vector<uint8_t> unmarked = Bytes(notice.data(), notice.size());
    unmarked[2] = 0;
    EXPECT_FALSE(ParseIntroductionNotice(unmarked.data(), unmarked.size()));

    const TUdpIdentity other = MakeUdpIdentity(reinterpret_cast<const uint8_t *>("otherhst"));
    const auto punch = EncodePunch({Identity(), 8080, other});
    EXPECT_EQ(punch[32], 0x1F);
    EXPECT_EQ(punch[33], 0x90);
    const auto parsedPunch = ParsePunch(punch.data(), punch.size());
    ASSERT_TRUE(parsedPunch);
    EXPECT_EQ(parsedPunch->receiver, Identity());
    EXPECT_EQ(parsedPunch->sender, other);
    EXPECT_EQ(parsedPunch->senderPort, 8080);
    EXPECT_FALSE(ParsePunch(punch.data(), 47));
    std::vector<uint8_t> dirty = Bytes(punch.data(), punch.size());
    dirty[19] = 1;
    EXPECT_FALSE(ParsePunch(dirty.data(), dirty.size()));
}

TEST(RendezvousPacketTest, RequestLengthMustMatchItsCount)
{
    for (size_t n : {size_t{1}, size_t{12}}) {
        const TIntroductionBytes bytes = EncodeIntroductionRequest(RequestOf(n));
        ASSERT_EQ(bytes.size, 48 + 16 * n);
        EXPECT_EQ(bytes.data[43], 1);
        const auto parsed = ParseIntroductionRequest(bytes.data.data(), bytes.size);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->entryCount, n);
        EXPECT_EQ(parsed->requestId, 77u);
        EXPECT_EQ(UdpAddressTagPort(parsed->entries[n - 1].tag), 6000 + n - 1);
    }
    EXPECT_EQ(EncodeIntroductionRequest(RequestOf(0)).size, 0u);

    TIntroductionBytes two = EncodeIntroductionRequest(RequestOf(2));
    EXPECT_FALSE(ParseIntroductionRequest(two.data.data(), 48)); // no entry
    EXPECT_FALSE(ParseIntroductionRequest(two.data.data(), two.size - 1));
    EXPECT_FALSE(ParseIntroductionRequest(two.data.data(), two.size - 16)); // count says 2, one there
    two.data[47] = 3;
    EXPECT_FALSE(ParseIntroductionRequest(two.data.data(), two.size));

    // Thirteen entries: the count matches, the length is past the limit.
    std::vector<uint8_t> thirteen(48 + 16 * 13, 0);
    thirteen[15] = 3;
    thirteen[47] = 13;
    EXPECT_FALSE(ParseIntroductionRequest(thirteen.data(), thirteen.size()));
}

TEST(RendezvousPacketTest, AnswerEntriesStayWithinTheDatagram)
{
    TIntroduction answer = RequestOf(1);
    answer.entries[0].port = kIntroductionPortUnknown;
    const TIntroductionBytes bytes = EncodeIntroductionAnswer(answer);
    ASSERT_EQ(bytes.size, 64u);
    EXPECT_EQ(bytes.data[12], 0x80);
    EXPECT_EQ(bytes.data[48 + 4], 0xFF);
    const auto parsed = ParseIntroductionAnswer(bytes.data.data(), bytes.size);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->entryCount, 1u);
    EXPECT_EQ(parsed->entries[0].port, -1);

    EXPECT_FALSE(ParseIntroductionAnswer(bytes.data.data(), 63));
    // A count beyond what the datagram holds, or beyond twelve.
    std::vector<uint8_t> overCount = Bytes(bytes.data.data(), bytes.size);
    overCount[47] = 2;
    EXPECT_FALSE(ParseIntroductionAnswer(overCount.data(), overCount.size()));
    std::vector<uint8_t> big(48 + 16 * 13, 0);
    big[12] = 0x80;
    big[15] = 3;
    big[47] = 13;
    EXPECT_FALSE(ParseIntroductionAnswer(big.data(), big.size()));
    big[44] = 0xFF; // a count that overflows 32-bit arithmetic
    EXPECT_FALSE(ParseIntroductionAnswer(big.data(), big.size()));

    // No entry: still the least length, zero-padded.
    const TIntroductionBytes empty = EncodeIntroductionAnswer(RequestOf(0));
    EXPECT_EQ(empty.size, 64u);
    const auto parsedEmpty = ParseIntroductionAnswer(empty.data.data(), empty.size);
    ASSERT_TRUE(parsedEmpty);
    EXPECT_EQ(parsedEmpty->entryCount, 0u);
}

TEST(RendezvousPacketTest, TheFormsAreNotMistakenForEachOther)
{
    const auto registration = EncodeRegistration({Identity(), 1, 0, 8080});
    const TIntroductionBytes request = EncodeIntroductionRequest(RequestOf(1)); // also 64 bytes
    TIntroduction oneAnswer = RequestOf(1);
    const TIntroductionBytes answer = EncodeIntroductionAnswer(oneAnswer);
    EXPECT_FALSE(ParseIntroductionRequest(registration.data(), registration.size()));
    EXPECT_FALSE(ParseIntroductionAnswer(registration.data(), registration.size()));
    EXPECT_FALSE(ParseRegistration(request.data.data(), request.size));
    EXPECT_FALSE(ParseIntroductionAnswer(request.data.data(), request.size));
    EXPECT_FALSE(ParseIntroductionRequest(answer.data.data(), answer.size));
}

} // namespace

TEST(RendezvousPacketTest, ARequestHoldsNoMoreQueriesThanItsAnswerCanPair)
{
    const TUdpTag byAddress = UdpAddressTag(0x0100007F, 6000);
    const TUdpTag byIdentity = UdpIdentityTag(Identity());
    TIntroduction request = RequestOf(6);
    EXPECT_EQ(AnswerEntries(request), 12u);
    EXPECT_FALSE(RequestTakes(request, byAddress)) << "a seventh address would lose its pair";
    EXPECT_FALSE(RequestTakes(request, byIdentity));

    request = RequestOf(5);
    EXPECT_TRUE(RequestTakes(request, byIdentity));
    request.Add({0x0100007F, 0, byIdentity});
    EXPECT_EQ(AnswerEntries(request), 11u);
    EXPECT_FALSE(RequestTakes(request, byAddress)) << "mixed: 11 answer entries leave room for one";
    EXPECT_TRUE(RequestTakes(request, byIdentity));

    TIntroduction identities;
    for (int i = 0; i < 11; ++i)
        identities.Add({0x0100007F, 0, byIdentity});
    EXPECT_TRUE(RequestTakes(identities, byIdentity));
    EXPECT_FALSE(RequestTakes(identities, byAddress));
}
