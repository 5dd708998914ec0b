#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/datagram_batch.h"
#include "platform/socket_os.h"

namespace {

constexpr uint32_t Loopback(uint8_t last)
{
    return uint32_t{127} | uint32_t{last} << 24; // network order
}

int BoundSocket(uint32_t address, platform::SocketAddress &bound)
{
    const int fd = platform::OsUdpSocket();
    platform::SocketAddress local;
    local.ip = address;
    if (fd < 0 || platform::OsBind(fd, local) != 0 || platform::OsGetSockName(fd, &bound) != 0)
        return -1;
    return fd;
}

TEST(DatagramBatchTest, ABatchArrivesInOrderFromTheAddressEachNames)
{
    platform::SocketAddress senderAt, receiverAt;
    const int sender = BoundSocket(Loopback(1), senderAt);
    const int receiver = BoundSocket(Loopback(1), receiverAt);
    ASSERT_GE(sender, 0);
    ASSERT_GE(receiver, 0);

    // 100 datagrams: more than one system call's worth.
    constexpr int kCount = 100;
    std::vector<std::vector<uint8_t>> payloads(kCount);
    std::vector<platform::DatagramSlot> out(kCount);
    for (int i = 0; i < kCount; ++i) {
        payloads[i].assign(static_cast<size_t>(1 + i), static_cast<uint8_t>(i));
        out[i].data = payloads[i].data();
        out[i].length = payloads[i].size();
        out[i].peer = receiverAt;
        out[i].from = i % 2 == 0 ? 0 : Loopback(7);
    }
    ASSERT_EQ(platform::OsSendDatagrams(sender, out.data(), kCount), kCount);

    std::vector<std::vector<uint8_t>> buffers(kCount, std::vector<uint8_t>(16));
    std::vector<platform::DatagramSlot> in(kCount);
    for (int i = 0; i < kCount; ++i) {
        in[i].data = buffers[i].data();
        in[i].capacity = buffers[i].size();
    }
    ASSERT_EQ(platform::OsRecvDatagrams(receiver, in.data(), kCount), kCount);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(in[i].length, static_cast<size_t>(std::min(1 + i, 16))) << i; // cut to the buffer
        EXPECT_EQ(in[i].data[0], static_cast<uint8_t>(i));
        EXPECT_EQ(in[i].peer.ip, i % 2 == 0 ? Loopback(1) : Loopback(7)) << i;
        EXPECT_EQ(in[i].peer.port, senderAt.port);
    }
    EXPECT_EQ(platform::OsRecvDatagrams(receiver, in.data(), kCount), 0); // nothing waits: no blocking
    platform::OsClose(sender);
    platform::OsClose(receiver);
}

} // namespace
