// Reads arbitrary bytes as a tracker's answers: an HTTP answer (framed with
// the connection open and closed, its body decoded), a bare bencoded body,
// and a UDP datagram. Whatever is taken must be a usable peer and a bounded
// interval, and reading must stay in bounds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/net/tracker_answer.h"
#include "engine/net/tracker_http_answer.h"
#include "engine/net/tracker_udp.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckPeers(const std::vector<TTrackerPeerAddress> &peers, size_t inputSize)
{
    // Six bytes per compact peer is the densest any form gets.
    Check(peers.size() <= inputSize / 6 + 1);
    for (const TTrackerPeerAddress &peer : peers)
        Check(UsablePeerAddress(peer.address, peer.port));
}

void CheckAnswer(const TTrackerAnswer &answer, size_t inputSize)
{
    Check(answer.interval >= 61 && answer.interval <= 86400);
    Check(answer.bencoded || (answer.peers.empty() && answer.failureReason.empty()));
    CheckPeers(answer.peers, inputSize);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1024 * 1024)
        return 0;
    const std::string bytes(reinterpret_cast<const char *>(data), size);

    for (bool closed : {false, true}) {
        TTrackerHttpAnswer framed;
        TTrackerFrame result = FrameTrackerAnswer(bytes, closed, framed);
        if (result == TTrackerFrame::Complete) {
            Check(framed.status >= 200 && framed.status <= 299);
            Check(framed.body.size() <= kMaxTrackerAnswer);
            // An inflated body may be larger than the input, never than the cap.
            CheckAnswer(DecodeTrackerAnswer(framed.body), kMaxTrackerAnswer);
        } else if (result == TTrackerFrame::Refused) {
            Check(!framed.problem.empty() && framed.body.empty());
        } else {
            Check(!closed);
        }
    }
    CheckAnswer(DecodeTrackerAnswer(bytes), size);

    TUdpTrackerAnswer datagram = ParseUdpTrackerAnswer(data, static_cast<int32_t>(size));
    if (datagram.kind == TUdpTrackerAnswer::Kind::Announced) {
        Check(size >= 20);
        Check(datagram.peers.size() <= (size - 20) / 6);
        CheckPeers(datagram.peers, size);
    }
    if (datagram.kind == TUdpTrackerAnswer::Kind::Connected)
        Check(size >= 16);
    Check(datagram.message.size() <= 256);
    return 0;
}
