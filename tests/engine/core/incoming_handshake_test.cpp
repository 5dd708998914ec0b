#include "engine/core/incoming_handshake.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/engine/core/task_harness.h"

namespace {

const uint8_t *Bytes(const std::string &text)
{
    return reinterpret_cast<const uint8_t *>(text.data());
}

std::string Handshake(uint8_t hashByte)
{
    std::string bytes("\x13" "BitTorrent protocol", 20);
    bytes.append(8, '\0');
    bytes.append(20, static_cast<char>(hashByte));
    bytes.append("-XX0001-abcdefghijkl");
    return bytes;
}

TEST(DisguiseTest, HeaderEndsAtTheBlankLine)
{
    std::string crlf = "GET / HTTP/1.0\r\nHost: x\r\n\r\nrest";
    EXPECT_EQ(DisguiseLength(Bytes(crlf), static_cast<int32_t>(crlf.size())), static_cast<int32_t>(crlf.size()) - 4);
    std::string lf = "HTTP/1.1 200 OK\nA: b\n\nrest";
    EXPECT_EQ(DisguiseLength(Bytes(lf), static_cast<int32_t>(lf.size())), static_cast<int32_t>(lf.size()) - 4);
    std::string open = "POST /x HTTP/1.1\r\nHost";
    EXPECT_EQ(DisguiseLength(Bytes(open), static_cast<int32_t>(open.size())), -1) << "wait for the rest";
    std::string plain = Handshake(1);
    EXPECT_EQ(DisguiseLength(Bytes(plain), static_cast<int32_t>(plain.size())), 0);
    EXPECT_EQ(DisguiseLength(Bytes("GE"), 2), 0) << "a partial method is no disguise";
    EXPECT_EQ(DisguiseLength(nullptr, 0), 0);
}

TEST(DisguiseTest, HandshakeNamesItsHashOnlyWhenComplete)
{
    std::string bytes = Handshake(7);
    const uint8_t *hash = HandshakeInfoHash(Bytes(bytes), static_cast<int32_t>(bytes.size()));
    ASSERT_NE(hash, nullptr);
    EXPECT_EQ(hash[0], 7);
    EXPECT_EQ(HandshakeInfoHash(Bytes(bytes), kHandshakeHashEnd - 1), nullptr);
    bytes[5] = 'X';
    EXPECT_EQ(HandshakeInfoHash(Bytes(bytes), static_cast<int32_t>(bytes.size())), nullptr);
}

// A task that knows an info hash of twenty bytes 7.
class HashedTask : public THarnessTask {
public:
    HashedTask() { hash.fill(7); }
    const uint8_t *InfoHash() override { return hash.data(); }
    std::array<uint8_t, 20> hash;
};

TEST(AcceptIncomingTest, DisguisedHandshakeForTheTaskIsTaken)
{
    HashedTask task;
    QSocket socket;
    std::string bytes = "GET / HTTP/1.0\r\nHost: peer\r\n\r\n" + Handshake(7);
    socket.ReceiveBuffer().Append(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(task.AcceptIncoming(socket));
    EXPECT_EQ(socket.ReceiveLength(), kHandshakeBytes) << "the disguise is consumed";

    QSocket other;
    std::string foreign = Handshake(8);
    other.ReceiveBuffer().Append(foreign.data(), static_cast<int32_t>(foreign.size()));
    EXPECT_FALSE(task.AcceptIncoming(other));

    // Without a BitTorrent peer kind the offered connection is not kept.
    auto offered = std::make_unique<QSocket>();
    EXPECT_FALSE(task.OfferIncomingPeer(offered));
    EXPECT_TRUE(task.connections.empty());
}

} // namespace
