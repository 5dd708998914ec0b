// ctest-labels: threading
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/net/host_lookup.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/timed_resolver.h"
#include "platform/os_event.h"
#include "platform/os_thread.h"
#include "platform/tick.h"
#include "platform/winsock_codes.h"

namespace {
// Look-ups that finish only when the test lets them. Lives as long as the
// process: a worker that was given up on may still be inside.
struct Gates {
    platform::OsEvent slowGate;
    platform::OsEvent otherGate;
    std::atomic<bool> slowReturned{false};
};

Gates &TheGates()
{
    static Gates *gates = new Gates;
    return *gates;
}

int32_t GatedLookup(const std::string &host, std::vector<uint32_t> &out)
{
    Gates &gates = TheGates();
    if (host == "slow.test") {
        gates.slowGate.Wait(60000);
        out.assign(300, HostToNetwork32(0x0A0A0A0A));
        gates.slowReturned = true;
        return 0;
    }
    if (host == "other.test") {
        gates.otherGate.Wait(60000);
        out.push_back(HostToNetwork32(0x0A0B0C0D));
        return 0;
    }
    if (host == "many.test") {
        for (uint32_t i = 1; i <= 300; ++i)
            out.push_back(HostToNetwork32(0x0A000000 + i));
        return 0;
    }
    return platform::WSAHOST_NOT_FOUND;
}

struct LookupInstalled {
    LookupInstalled() { SetHostLookup(GatedLookup); }
    ~LookupInstalled() { SetHostLookup(nullptr); }
};
} // namespace

TEST(TimedResolver, RefusesAMissingHostOrNoTime)
{
    TResolveResult result;
    EXPECT_FALSE(ResolveWithTimeout("", result, 3000));
    EXPECT_EQ(result.error, platform::WSA_INVALID_PARAMETER);
    EXPECT_FALSE(ResolveWithTimeout("many.test", result, 0));
    EXPECT_EQ(result.error, platform::WSA_INVALID_PARAMETER);
}

TEST(TimedResolver, KeepsAtMostTheAddressesThatFit)
{
    LookupInstalled installed;
    TResolveResult result;
    ASSERT_TRUE(ResolveWithTimeout("many.test", result, 10000));
    EXPECT_EQ(result.addressLength, 4);
    ASSERT_EQ(result.addresses.size(), kMostResolvedAddresses);
    EXPECT_EQ(result.addresses.front(), HostToNetwork32(0x0A000001));
    EXPECT_EQ(result.addresses.back(), HostToNetwork32(0x0A000100));
}

TEST(TimedResolver, AFailureComesBackWithItsError)
{
    LookupInstalled installed;
    TResolveResult result;
    EXPECT_FALSE(ResolveWithTimeout("unknown.test", result, 10000));
    EXPECT_EQ(result.error, platform::WSAHOST_NOT_FOUND);
    EXPECT_TRUE(result.addresses.empty());
    EXPECT_FALSE(ResolveWithTimeout("unknown.invalid", result, 10000));
    EXPECT_EQ(result.error, platform::WSAHOST_NOT_FOUND);
}

TEST(TimedResolver, ALateAnswerNeverReachesAnotherLookup)
{
    LookupInstalled installed;
    Gates &gates = TheGates();
    TResolveResult slow;
    EXPECT_FALSE(ResolveWithTimeout("slow.test", slow, 20));
    EXPECT_EQ(slow.error, platform::WSAETIMEDOUT);
    EXPECT_TRUE(slow.addresses.empty());

    // A second look-up is under way when the first one's answer comes in.
    TResolveResult other;
    std::atomic<bool> otherOk{false};
    platform::OsThread asking;
    ASSERT_TRUE(asking.Start([&] { otherOk = ResolveWithTimeout("other.test", other, 30000); }));
    gates.slowGate.Set();
    while (!gates.slowReturned.load())
        platform::SleepMs(1);
    gates.otherGate.Set();
    asking.Join();
    ASSERT_TRUE(otherOk.load());
    EXPECT_EQ(other.addresses, std::vector<uint32_t>{HostToNetwork32(0x0A0B0C0D)});
    EXPECT_TRUE(slow.addresses.empty());
}
