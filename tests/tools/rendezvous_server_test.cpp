#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/net/rendezvous_packet.h"
#include "tools/qlrendezvous/rendezvous_command.h"
#include "tools/qlrendezvous/rendezvous_server.h"

namespace {

struct TSent {
    TRendezvousEndpoint to;
    std::vector<uint8_t> bytes;
};

class TRecordingSender : public IRendezvousSender {
public:
    void Send(TRendezvousEndpoint to, const uint8_t *bytes, size_t length) override
    {
        sent.push_back({to, std::vector<uint8_t>(bytes, bytes + length)});
    }
    std::vector<TSent> Take()
    {
        std::vector<TSent> out;
        out.swap(sent);
        return out;
    }
    std::vector<TSent> sent;
};

// Addresses in network order as the server keeps them.
constexpr uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    return uint32_t{a} | uint32_t{b} << 8 | uint32_t{c} << 16 | uint32_t{d} << 24;
}

const uint32_t kHomeA = Ip(198, 51, 100, 1);
const uint32_t kHomeB = Ip(203, 0, 113, 7);

TUdpIdentity IdentityOf(uint8_t n)
{
    const uint8_t random[8] = {n, 0x55, 1, 2, 3, 4, 5, n};
    return MakeUdpIdentity(random);
}

class RendezvousServerTest : public ::testing::Test {
protected:
    explicit RendezvousServerTest(TRendezvousLimits limits = {}) : server(limits) {}

    void Feed(const uint8_t *bytes, size_t length, TRendezvousEndpoint from)
    {
        server.Handle(bytes, length, from, now, sender);
    }

    template <size_t N>
    void Feed(const std::array<uint8_t, N> &bytes, TRendezvousEndpoint from)
    {
        Feed(bytes.data(), bytes.size(), from);
    }

    void Register(uint8_t n, TRendezvousEndpoint from, uint32_t localIpv4 = Ip(192, 168, 1, 10),
                  uint32_t localPort = 8080)
    {
        Feed(EncodeRegistration({IdentityOf(n), 1, localIpv4, localPort}), from);
        ASSERT_EQ(sender.Take().size(), 1u);
    }

    void Ask(TRendezvousEndpoint from, std::vector<TUdpTag> tags, uint32_t requestId = 42)
    {
        TIntroduction request;
        request.identity = IdentityOf(1);
        request.requestId = requestId;
        for (const TUdpTag &tag : tags)
            request.Add({kHomeB, 0, tag});
        const TIntroductionBytes bytes = EncodeIntroductionRequest(request);
        Feed(bytes.data.data(), bytes.size, from);
    }

    // The answer among what was sent (to from), and the notices.
    TIntroduction AnswerTo(TRendezvousEndpoint from, const std::vector<TSent> &sent)
    {
        for (const TSent &datagram : sent) {
            if (auto answer = ParseIntroductionAnswer(datagram.bytes.data(), datagram.bytes.size())) {
                EXPECT_EQ(datagram.to, from);
                return *answer;
            }
        }
        ADD_FAILURE() << "no answer";
        return {};
    }

    static std::vector<TSent> NoticesIn(const std::vector<TSent> &sent)
    {
        std::vector<TSent> out;
        for (const TSent &datagram : sent)
            if (ParseIntroductionNotice(datagram.bytes.data(), datagram.bytes.size()))
                out.push_back(datagram);
        return out;
    }

    TRendezvousServer server;
    TRecordingSender sender;
    uint32_t now = 1000;
};

const TRendezvousEndpoint kA{kHomeA, 40001};
const TRendezvousEndpoint kB{kHomeB, 51000};

TEST_F(RendezvousServerTest, RegistrationIsAnsweredWithTheSourceAddressOnlyAtItsExactLength)
{
    const auto registration = EncodeRegistration({IdentityOf(1), 9, Ip(10, 0, 0, 2), 8080});
    Feed(registration, kA);
    std::vector<TSent> sent = sender.Take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].to, kA);
    const auto report = ParsePublicAddressReport(sent[0].bytes.data(), sent[0].bytes.size());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->ipv4, kHomeA);
    EXPECT_EQ(report->port, 40001u);

    std::vector<uint8_t> longer(registration.begin(), registration.end());
    longer.push_back(0);
    Feed(longer.data(), longer.size(), kB);
    Feed(registration.data(), 63, kB);
    Feed(EncodeKeepAlive(), kA);
    const uint8_t eightNonZero[8] = {1};
    Feed(eightNonZero, sizeof eightNonZero, kA);
    EXPECT_TRUE(sender.Take().empty());
    EXPECT_EQ(server.HostCount(), 1u);
}

TEST_F(RendezvousServerTest, IdentityThatLooksLikeAnAddressTagIsRefused)
{
    TRegistration registration{IdentityOf(1), 1, 0, 8080};
    registration.identity[0] = 0;
    registration.identity[1] = 0;
    Feed(EncodeRegistration(registration), kA);
    EXPECT_TRUE(sender.Take().empty());
    EXPECT_EQ(server.HostCount(), 0u);
}

TEST_F(RendezvousServerTest, IntroductionByIdentityAnswersTheAskerAndNotifiesTheTarget)
{
    Register(1, kA);
    Register(2, kB);
    const TUdpTag unknown = UdpIdentityTag(IdentityOf(3));
    Ask(kA, {UdpIdentityTag(IdentityOf(2)), unknown}, 4242);
    const std::vector<TSent> sent = sender.Take();
    const TIntroduction answer = AnswerTo(kA, sent);
    EXPECT_EQ(answer.requestId, 4242u);
    ASSERT_EQ(answer.entryCount, 2u);
    EXPECT_EQ(answer.entries[0].ipv4, kHomeB);
    EXPECT_EQ(answer.entries[0].port, 51000);
    EXPECT_EQ(answer.entries[0].tag, UdpIdentityTag(IdentityOf(2)));
    EXPECT_EQ(answer.entries[1].port, kIntroductionPortUnknown);
    EXPECT_EQ(answer.entries[1].tag, unknown);

    const std::vector<TSent> notices = NoticesIn(sent);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].to, kB);
    const auto notice = ParseIntroductionNotice(notices[0].bytes.data(), notices[0].bytes.size());
    EXPECT_EQ(notice->requester, IdentityOf(1));
    EXPECT_EQ(notice->ipv4, kHomeA);
    EXPECT_EQ(notice->port, 40001u);
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(RendezvousServerTest, OnlyRegisteredSourcesAreIntroduced)
{
    Register(2, kB);
    // The identity of a registered host from another source gets nothing.
    Ask({kHomeA, 40002}, {UdpIdentityTag(IdentityOf(2))});
    EXPECT_TRUE(sender.Take().empty());
}

TEST_F(RendezvousServerTest, AddressFormIsAlwaysAnsweredByAPair)
{
    Register(1, kA);
    Register(2, kB, Ip(192, 168, 7, 20), 6881);
    const TUdpTag known = UdpAddressTag(kHomeB, 6881);     // public IPv4, local port
    const TUdpTag missing = UdpAddressTag(kHomeB, 6882);
    Ask(kA, {known, missing});
    const std::vector<TSent> sent = sender.Take();
    const TIntroduction answer = AnswerTo(kA, sent);
    ASSERT_EQ(answer.entryCount, 4u);
    EXPECT_EQ(answer.entries[0].tag, known);
    EXPECT_EQ(answer.entries[0].port, kIntroductionPortUnknown);
    EXPECT_EQ(answer.entries[1].ipv4, kHomeB);
    EXPECT_EQ(answer.entries[1].port, 51000);
    EXPECT_EQ(answer.entries[1].tag, UdpIdentityTag(IdentityOf(2)));
    EXPECT_EQ(answer.entries[2].tag, missing);
    EXPECT_EQ(answer.entries[2].port, kIntroductionPortUnknown);
    EXPECT_EQ(answer.entries[3].tag, missing);
    EXPECT_EQ(answer.entries[3].port, kIntroductionPortUnknown);
    EXPECT_EQ(NoticesIn(sent).size(), 1u);
}

TEST_F(RendezvousServerTest, AnswerNeverExceedsTwelveEntriesNorSplitsAPair)
{
    Register(1, kA);
    std::vector<TUdpTag> tags;
    tags.push_back(UdpIdentityTag(IdentityOf(9)));
    for (uint16_t port = 1; port <= 11; ++port)
        tags.push_back(UdpAddressTag(kHomeB, port));
    Ask(kA, tags);
    const TIntroduction answer = AnswerTo(kA, sender.Take());
    // One identity entry and five pairs; the sixth pair would make thirteen.
    EXPECT_EQ(answer.entryCount, 11u);
    EXPECT_EQ(answer.entries[10].tag, UdpAddressTag(kHomeB, 5));
}

TEST_F(RendezvousServerTest, BehindOnePublicAddressTheLocalOnesAreGiven)
{
    const TRendezvousEndpoint sibling{kHomeA, 40777};
    Register(1, kA, Ip(192, 168, 1, 10), 8080);
    Register(2, sibling, Ip(192, 168, 1, 11), 8081);
    Ask(kA, {UdpIdentityTag(IdentityOf(2))});
    const std::vector<TSent> sent = sender.Take();
    const TIntroduction answer = AnswerTo(kA, sent);
    EXPECT_EQ(answer.entries[0].ipv4, Ip(192, 168, 1, 11));
    EXPECT_EQ(answer.entries[0].port, 8081);
    const std::vector<TSent> notices = NoticesIn(sent);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].to, sibling); // the server itself still reaches it at its public address
    const auto notice = ParseIntroductionNotice(notices[0].bytes.data(), notices[0].bytes.size());
    EXPECT_EQ(notice->ipv4, Ip(192, 168, 1, 10));
    EXPECT_EQ(notice->port, 8080u);
}

TEST_F(RendezvousServerTest, SilenceExpiresAHostAndKeepAlivesPreventIt)
{
    Register(1, kA);
    Register(2, kB);
    now += 600;
    Feed(EncodeKeepAlive(), kB);
    EXPECT_TRUE(sender.Take().empty());
    now += 60; // A silent for exactly 660 s: still known
    Ask(kB, {UdpIdentityTag(IdentityOf(1))});
    EXPECT_EQ(AnswerTo(kB, sender.Take()).entries[0].port, 40001);
    now += 1; // B's request counts as hearing from it, A stays silent
    Ask(kB, {UdpIdentityTag(IdentityOf(1))});
    EXPECT_EQ(AnswerTo(kB, sender.Take()).entries[0].port, kIntroductionPortUnknown);
    EXPECT_EQ(server.HostCount(), 1u);
    // An expired host's keep-alive does not bring it back; a registration does.
    Feed(EncodeKeepAlive(), kA);
    EXPECT_EQ(server.HostCount(), 1u);
}

TEST_F(RendezvousServerTest, ANewHostAtAnAddressReplacesTheOldOne)
{
    Register(1, kA);
    Register(2, kB);
    Register(3, kA);
    Ask(kB, {UdpIdentityTag(IdentityOf(1)), UdpIdentityTag(IdentityOf(3))});
    const TIntroduction answer = AnswerTo(kB, sender.Take());
    EXPECT_EQ(answer.entries[0].port, kIntroductionPortUnknown);
    EXPECT_EQ(answer.entries[1].port, 40001);
    EXPECT_EQ(server.HostCount(), 2u);

    // A host that moved is found at its new address only.
    const TRendezvousEndpoint moved{kHomeA, 40500};
    Register(3, moved);
    Ask(kB, {UdpIdentityTag(IdentityOf(3))});
    EXPECT_EQ(AnswerTo(kB, sender.Take()).entries[0].port, 40500);
    Feed(EncodeKeepAlive(), kA); // the old address is nobody's now
    EXPECT_EQ(server.HostCount(), 2u);
}

class SmallRendezvousServerTest : public RendezvousServerTest {
protected:
    SmallRendezvousServerTest() : RendezvousServerTest(TRendezvousLimits{3, 660, 2}) {}
};

TEST_F(SmallRendezvousServerTest, AFullTableDropsTheHostHeardFromLongestAgo)
{
    Register(1, kA);
    Register(2, kB);
    Register(3, {kHomeB, 51001});
    now += 5;
    Feed(EncodeKeepAlive(), kA); // 1 is now newer than 2
    Register(4, {kHomeB, 51002});
    EXPECT_EQ(server.HostCount(), 3u);
    Ask(kA, {UdpIdentityTag(IdentityOf(2)), UdpIdentityTag(IdentityOf(3)), UdpIdentityTag(IdentityOf(4))});
    const TIntroduction answer = AnswerTo(kA, sender.Take());
    EXPECT_EQ(answer.entries[0].port, kIntroductionPortUnknown);
    EXPECT_EQ(answer.entries[1].port, 51001);
    EXPECT_EQ(answer.entries[2].port, 51002);
}

TEST_F(SmallRendezvousServerTest, NoticesAreRationedPerRequesterAndSecond)
{
    Register(1, kA);
    Register(2, kB);
    Register(3, {kHomeB, 51001});
    const TUdpTag target = UdpIdentityTag(IdentityOf(2));
    Ask(kA, {target, target, target});
    std::vector<TSent> sent = sender.Take();
    EXPECT_EQ(AnswerTo(kA, sent).entryCount, 3u); // every answer, but only two notices
    EXPECT_EQ(NoticesIn(sent).size(), 2u);
    Ask(kA, {target});
    EXPECT_EQ(NoticesIn(sender.Take()).size(), 0u);
    Ask({kHomeB, 51001}, {target}); // another requester has its own budget
    EXPECT_EQ(NoticesIn(sender.Take()).size(), 1u);
    now += 1;
    Ask(kA, {target});
    EXPECT_EQ(NoticesIn(sender.Take()).size(), 1u);
}

TEST(RendezvousListenAddressTest, TakesOnlyAddressAndPort)
{
    const auto any = ParseListenAddress("0.0.0.0:82");
    ASSERT_TRUE(any);
    EXPECT_EQ(any->ipv4, 0u);
    EXPECT_EQ(any->port, 82);
    const auto loopback = ParseListenAddress("127.0.0.1:65535");
    ASSERT_TRUE(loopback);
    EXPECT_EQ(loopback->ipv4, Ip(127, 0, 0, 1));
    for (const char *bad : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:8x", "host:82", ":82",
                            "127.0.0.1:", "127.0.0.1:-1"})
        EXPECT_FALSE(ParseListenAddress(bad)) << bad;
}

} // namespace
