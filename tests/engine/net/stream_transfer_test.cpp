#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/winsock_codes.h"
#include "tests/engine/net/stream_pipe.h"

namespace {
// A seeded byte stream written on one side and checked on the other.
class Direction {
public:
    Direction(QStreamSockets &fromIn, int32_t fromHandle, QStreamSockets &toIn, int32_t toHandle, size_t total,
              unsigned seed)
        : from(fromIn), sender(fromHandle), to(toIn), receiver(toHandle), bytes(total), write(seed), check(seed)
    {
    }

    void Step()
    {
        uint8_t chunk[5000];
        while (sent < bytes) {
            size_t count = std::min(sizeof chunk, bytes - sent);
            auto keep = write;
            for (size_t i = 0; i < count; ++i)
                chunk[i] = static_cast<uint8_t>(write());
            int32_t taken = from.Send(sender, chunk, static_cast<int32_t>(count));
            if (taken <= 0) {
                write = keep;
                break;
            }
            // Rewind the generator to just past what was taken.
            write = keep;
            write.discard(static_cast<unsigned long long>(taken));
            sent += static_cast<size_t>(taken);
        }
        while (true) {
            int32_t got = to.Recv(receiver, chunk, sizeof chunk);
            if (got <= 0)
                break;
            for (int32_t i = 0; i < got; ++i)
                mismatches += chunk[i] != static_cast<uint8_t>(check()) ? 1 : 0;
            received += static_cast<size_t>(got);
        }
    }
    bool Done() const { return received == bytes; }

    QStreamSockets &from;
    int32_t sender;
    QStreamSockets &to;
    int32_t receiver;
    size_t bytes;
    std::mt19937 write;
    std::mt19937 check;
    size_t sent = 0;
    size_t received = 0;
    size_t mismatches = 0;
};

// Runs both directions until done or the round budget is spent.
void Transfer(StreamPipe &pipe, Direction &forth, Direction &back, int rounds)
{
    for (int round = 0; round < rounds && !(forth.Done() && back.Done()); ++round) {
        forth.Step();
        back.Step();
        if (pipe.Deliver() == 0)
            pipe.TimerStep();
        else
            pipe.Advance(1);
    }
}
} // namespace

TEST(StreamTransfer, EightMebibytesArriveIntactThroughLossReorderingAndDuplicates)
{
    StreamPipe pipe(1000000, 7);
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    pipe.faults = {3, 3, 10};
    Direction forth(pipe.a.sockets, client, pipe.b.sockets, server, 8u << 20, 11);
    Direction back(pipe.b.sockets, server, pipe.a.sockets, client, 1u << 20, 12);
    Transfer(pipe, forth, back, 3000000);
    EXPECT_TRUE(forth.Done()) << forth.received;
    EXPECT_TRUE(back.Done()) << back.received;
    EXPECT_EQ(forth.mismatches, 0u);
    EXPECT_EQ(back.mismatches, 0u);
    QUSocket *sending = pipe.a.sockets.Find(client);
    EXPECT_EQ(sending->bytesAcknowledged, 8u << 20);
    EXPECT_GT(sending->retransmissions, 0u);
    EXPECT_EQ(pipe.b.sockets.Find(server)->bytesReceived, 8u << 20);
}

TEST(StreamTransfer, SurvivesTheTickWrappingMidTransfer)
{
    // Starts 3 s before the 32-bit tick wraps, with loss so re-send timers
    // straddle the wrap.
    StreamPipe pipe(0xFFFFFFFFu - 3000, 5);
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    pipe.faults = {5, 0, 0};
    Direction forth(pipe.a.sockets, client, pipe.b.sockets, server, 2u << 20, 3);
    Direction back(pipe.b.sockets, server, pipe.a.sockets, client, 0, 4);
    Transfer(pipe, forth, back, 1000000);
    EXPECT_TRUE(forth.Done());
    EXPECT_EQ(forth.mismatches, 0u);
    EXPECT_LT(pipe.tick.Now(), 0x10000000u); // it did wrap
}

TEST(StreamTransfer, APacketResentOneHundredTwentyEightTimesFailsTheConnection)
{
    StreamPipe pipe;
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    pipe.faults.lossPercent = 100;
    const uint8_t byte = 'x';
    ASSERT_EQ(pipe.a.sockets.Send(client, &byte, 1), 1);
    QUSocket *socket = pipe.a.sockets.Find(client);
    uint32_t resends = 0;
    for (int step = 0; step < 100000 && socket->state == STREAM_ESTABLISHED; ++step) {
        // Keep the connection timers out of it: only the re-send rule may
        // end the connection.
        socket->lastHeardTick = pipe.tick.Now();
        resends = socket->SendSlot(socket->sendBase).retries;
        pipe.Deliver();
        pipe.Advance(400);
        pipe.a.sockets.RetransmissionPass();
    }
    EXPECT_EQ(socket->state, STREAM_CLOSED);
    EXPECT_EQ(resends, QStreamSockets::kMaxRetries);
    EXPECT_EQ(pipe.a.sockets.PendingError(client), 0); // it was connected: no connect error
    uint8_t out;
    EXPECT_EQ(pipe.a.sockets.Send(client, &out, 1), -1);
    EXPECT_EQ(pipe.a.sockets.LastError(), platform::WSAENOTCONN);
    EXPECT_EQ(pipe.a.sockets.Ready(client, TWaitFor::Read), 1); // closed reads as ready
}

TEST(StreamTransfer, SilenceBringsKeepAlivesAndThenTheTimeOut)
{
    StreamPipe pipe;
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    // Both sides quiet but alive: keep-alives hold the connection open.
    for (int step = 0; step < 3000; ++step) { // 60 s
        pipe.Deliver();
        pipe.TimerStep();
    }
    EXPECT_EQ(pipe.a.sockets.Find(client)->state, STREAM_ESTABLISHED);
    EXPECT_EQ(pipe.b.sockets.Find(server)->state, STREAM_ESTABLISHED);
    // The wire goes dead: after 30 s of silence both ends give up.
    pipe.faults.lossPercent = 100;
    for (int step = 0; step < 1700; ++step) { // 34 s
        pipe.Deliver();
        pipe.TimerStep();
    }
    EXPECT_EQ(pipe.a.sockets.Find(client)->state, STREAM_CLOSED);
    EXPECT_EQ(pipe.b.sockets.Find(server)->state, STREAM_CLOSED);
}

TEST(StreamTransfer, CloseRightAfterSendingStillDeliversEverythingThenEnds)
{
    StreamPipe pipe;
    auto [client, server] = pipe.Connect();
    ASSERT_GT(client, 0);
    pipe.faults.lossPercent = 30;
    std::vector<uint8_t> data(100000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(pipe.a.sockets.Send(client, data.data(), static_cast<int32_t>(data.size())),
              static_cast<int32_t>(data.size()));
    EXPECT_EQ(pipe.a.sockets.Close(client), 0);
    EXPECT_EQ(pipe.a.sockets.Send(client, data.data(), 1), -1); // the handle is gone at once
    std::vector<uint8_t> got;
    uint8_t out[4096];
    bool ended = false;
    for (int step = 0; step < 200000 && !ended; ++step) {
        if (pipe.Deliver() == 0)
            pipe.TimerStep();
        int32_t count;
        while ((count = pipe.b.sockets.Recv(server, out, sizeof out)) > 0)
            got.insert(got.end(), out, out + count);
        ended = pipe.b.sockets.LastError() != platform::WSAEWOULDBLOCK;
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(pipe.b.sockets.LastError(), platform::WSAENOTCONN);
    EXPECT_EQ(pipe.a.sockets.SocketCount(), 0u);
}
