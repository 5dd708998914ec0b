// ctest-labels: threading
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/base/reserved_host.h"
#include "engine/net/dns_diagnostic.h"
#include "engine/net/host_addresses.h"
#include "engine/net/host_lookup.h"
#include "engine/net/ipv4_address.h"
#include "engine/net/negative_dns_cache.h"
#include "engine/net/resolver.h"
#include "engine/net/run_end_trim.h"
#include "platform/winsock_codes.h"

namespace {
uint32_t Net(uint32_t hostOrder)
{
    return HostToNetwork32(hostOrder);
}

// A name service in memory: every question is counted, unknown names give
// the error chosen for them (11001 by default).
class FakeNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearNegativeDnsCache();
        SetHostLookup([this](const std::string &host, std::vector<uint32_t> &out) {
            std::lock_guard<std::mutex> hold(lock);
            ++asked[host];
            auto known = addresses.find(host);
            if (known != addresses.end()) {
                out.insert(out.end(), known->second.begin(), known->second.end());
                return 0;
            }
            auto error = errors.find(host);
            return error != errors.end() ? error->second : static_cast<int32_t>(platform::WSAHOST_NOT_FOUND);
        });
        SetDnsDiagnosticCapture([this](const std::string &text) {
            std::lock_guard<std::mutex> hold(lock);
            diagnostics.push_back(text);
        });
    }

    void TearDown() override
    {
        SetHostLookup(nullptr);
        SetDnsDiagnosticCapture(nullptr);
        ClearNegativeDnsCache();
    }

    int Asked(const std::string &host)
    {
        std::lock_guard<std::mutex> hold(lock);
        return asked[host];
    }

    size_t Diagnostics()
    {
        std::lock_guard<std::mutex> hold(lock);
        return diagnostics.size();
    }

    // Makes sure the next failure counts as the first after a success.
    void Rearm()
    {
        std::set<uint32_t> found;
        ASSERT_EQ(HostToAddresses("known.test", found), 1);
    }

    std::mutex lock;
    std::map<std::string, std::vector<uint32_t>> addresses{{"known.test", {Net(0x0A000001)}}};
    std::map<std::string, int32_t> errors;
    std::map<std::string, int> asked;
    std::vector<std::string> diagnostics;
};
} // namespace

using BlockingResolver = FakeNames;
using HostAddresses = FakeNames;

TEST_F(BlockingResolver, TakesNumericTextWithoutAskingAnyone)
{
    EXPECT_EQ(Resolve("10.1.2.3"), Net(0x0A010203));
    EXPECT_EQ(Resolve("1.2.3.4.5"), kNoAddress);
    EXPECT_EQ(Resolve("0.0.0.0"), kNoAddress);
    EXPECT_EQ(Resolve(""), kNoAddress);
    EXPECT_EQ(Asked("10.1.2.3") + Asked("1.2.3.4.5") + Asked("0.0.0.0"), 0);
}

TEST_F(BlockingResolver, RefusesReservedNamesWithoutAskingAnyone)
{
    addresses["tracker.example.invalid"] = {Net(0x0A000002)};
    EXPECT_EQ(Resolve("tracker.example.invalid"), kNoAddress);
    EXPECT_EQ(Resolve("TRACKER.EXAMPLE.INVALID."), kNoAddress);
    EXPECT_EQ(Asked("tracker.example.invalid"), 0);
    std::vector<uint32_t> found;
    EXPECT_EQ(LookupHost("x.invalid", found), platform::WSAHOST_NOT_FOUND);
    EXPECT_EQ(LookupHost(std::string("known.test\0.invalid", 18), found), platform::WSAHOST_NOT_FOUND);
    EXPECT_FALSE(IsReservedHostName("invalid.example"));
    EXPECT_TRUE(IsReservedHostName("invalid"));
}

TEST_F(BlockingResolver, RemembersNamesTheSystemDoesNotKnowUntilCleared)
{
    EXPECT_EQ(Resolve("known.test"), Net(0x0A000001));
    EXPECT_EQ(Resolve("missing.test"), kNoAddress);
    EXPECT_EQ(Resolve("missing.test"), kNoAddress);
    EXPECT_EQ(Resolve("Missing.Test"), kNoAddress);
    EXPECT_EQ(Asked("missing.test"), 1);
    EXPECT_TRUE(IsInNegativeDnsCache("missing.test"));

    // The end of a task's run clears the cache with its trim.
    TrimEngineBufferPoolsAtRunEnd();
    EXPECT_FALSE(IsInNegativeDnsCache("missing.test"));
    EXPECT_EQ(Resolve("missing.test"), kNoAddress);
    EXPECT_EQ(Asked("missing.test"), 2);
}

TEST_F(BlockingResolver, DoesNotRememberPassingFailures)
{
    errors["flaky.test"] = platform::WSATRY_AGAIN;
    EXPECT_EQ(Resolve("flaky.test"), kNoAddress);
    EXPECT_EQ(Resolve("flaky.test"), kNoAddress);
    EXPECT_EQ(Asked("flaky.test"), 2);
}

TEST_F(HostAddresses, ParsesDigitsAndDotsAsAnAddress)
{
    std::set<uint32_t> found;
    EXPECT_EQ(HostToAddresses("10.0.0", found), 1);
    EXPECT_EQ(found, std::set<uint32_t>{Net(0x0A000000)});
    EXPECT_EQ(HostToAddresses("0.0.0.0", found), 0);
    EXPECT_EQ(HostToAddresses("1.2.3.4.5", found), 0);
    EXPECT_EQ(HostToAddresses("300.1.1.1", found), 0);
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(Diagnostics(), 0u);
}

TEST_F(HostAddresses, AddsEveryUsableAddressOfAName)
{
    addresses["multi.test"] = {0, Net(0x01020304), kNoAddress, Net(0x05060708), Net(0x01020304)};
    std::set<uint32_t> found;
    EXPECT_EQ(HostToAddresses("multi.test", found), 3);
    EXPECT_EQ(found, (std::set<uint32_t>{Net(0x01020304), Net(0x05060708)}));
    // Asking again still counts what the name has.
    EXPECT_EQ(HostToAddresses("multi.test", found), 3);
}

TEST_F(HostAddresses, ReportsOnlyTheFirstFailureOfARun)
{
    Rearm();
    std::set<uint32_t> found;
    EXPECT_EQ(HostToAddresses("gone.test", found), -1);
    EXPECT_EQ(HostToAddresses("away.test", found), -1);
    ASSERT_EQ(Diagnostics(), 1u);
    EXPECT_EQ(diagnostics[0].rfind("ErrCode : (11001) Host : (gone.test) , ", 0), 0u) << diagnostics[0];
    // A success in between arms the report again.
    Rearm();
    EXPECT_EQ(HostToAddresses("lost.test", found), -1);
    EXPECT_EQ(Diagnostics(), 2u);
}

TEST_F(HostAddresses, RemembersUnknownNamesAndNamesWithoutData)
{
    errors["nodata.test"] = platform::WSANO_DATA;
    errors["busy.test"] = platform::WSATRY_AGAIN;
    std::set<uint32_t> found;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(HostToAddresses("gone.test", found), -1);
        EXPECT_EQ(HostToAddresses("nodata.test", found), -1);
        EXPECT_EQ(HostToAddresses("busy.test", found), -1);
    }
    EXPECT_EQ(Asked("gone.test"), 1);
    EXPECT_EQ(Asked("nodata.test"), 1);
    EXPECT_EQ(Asked("busy.test"), 2);
}

TEST(DnsDiagnostic, NamesTheErrorTheHostAndTheServers)
{
    EXPECT_EQ(DnsDiagnosticText(11001, "a.test", {}), "ErrCode : (11001) Host : (a.test) , no DNS");
    EXPECT_EQ(DnsDiagnosticText(11001, "a.test", {""}), "ErrCode : (11001) Host : (a.test) , no DNS");
    EXPECT_EQ(DnsDiagnosticText(11004, "b.test", {"10.0.0.53"}),
              "ErrCode : (11004) Host : (b.test) , DNS : (10.0.0.53)");
    EXPECT_EQ(DnsDiagnosticText(10060, "c.test", {"10.0.0.53", "10.0.0.54", "fd00::1"}),
              "ErrCode : (10060) Host : (c.test) , DNS : (10.0.0.53), 备用 DNS : (10.0.0.54), 备用 DNS : (fd00::1)");
}
