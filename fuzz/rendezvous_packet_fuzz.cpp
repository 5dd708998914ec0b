// Arbitrary bytes through every rendezvous and punch parser: nothing is read
// past the length, and whatever parses encodes to a datagram that parses to
// the same fields (a request's entry ports aside: requests carry port 0).
#include <cstdint>
#include <cstdlib>

#include "engine/net/rendezvous_packet.h"

namespace {
template <typename Packet, typename Encode, typename Parse>
void RoundTrip(const Packet &packet, Encode encode, Parse parse)
{
    const auto bytes = encode(packet);
    const auto again = parse(bytes.data(), bytes.size());
    if (!again || !(*again == packet))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (auto registration = ParseRegistration(data, size))
        RoundTrip(*registration, EncodeRegistration, ParseRegistration);
    if (auto report = ParsePublicAddressReport(data, size))
        RoundTrip(*report, EncodePublicAddressReport, ParsePublicAddressReport);
    if (auto notice = ParseIntroductionNotice(data, size))
        RoundTrip(*notice, EncodeIntroductionNotice, ParseIntroductionNotice);
    if (auto punch = ParsePunch(data, size))
        RoundTrip(*punch, EncodePunch, ParsePunch);
    if (auto answer = ParseIntroductionAnswer(data, size)) {
        const TIntroductionBytes bytes = EncodeIntroductionAnswer(*answer);
        const auto again = ParseIntroductionAnswer(bytes.data.data(), bytes.size);
        if (!again || !(*again == *answer))
            std::abort();
    }
    if (auto request = ParseIntroductionRequest(data, size)) {
        if (request->entryCount < 1 || request->entryCount > kIntroductionMaxEntries)
            std::abort();
        for (size_t i = 0; i < request->entryCount; ++i)
            request->entries[i].port = 0;
        const TIntroductionBytes bytes = EncodeIntroductionRequest(*request);
        const auto again = ParseIntroductionRequest(bytes.data.data(), bytes.size);
        if (bytes.size != size || !again || !(*again == *request))
            std::abort();
    }
    (void)IsKeepAlive(data, size);
    return 0;
}
