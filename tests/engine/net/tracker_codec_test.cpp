#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <zlib.h>

#include "engine/net/ipv4_address.h"
#include "engine/net/tracker_announce.h"
#include "engine/net/tracker_answer.h"
#include "engine/net/tracker_http_answer.h"
#include "engine/net/tracker_udp.h"

namespace {

std::string Compact(uint32_t a, uint32_t b, uint32_t c, uint32_t d, int port)
{
    return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d),
                       static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
}

std::string Str(const std::string &bytes)
{
    return std::to_string(bytes.size()) + ":" + bytes;
}

std::string Gzip(const std::string &plain)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, plain.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.data()));
    stream.avail_in = static_cast<uInt>(plain.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string Dotted(const TTrackerPeerAddress &peer)
{
    return DottedText(peer.address) + ":" + std::to_string(peer.port);
}

std::vector<std::string> PeersOf(const TTrackerAnswer &answer)
{
    std::vector<std::string> out;
    for (const TTrackerPeerAddress &peer : answer.peers)
        out.push_back(Dotted(peer));
    return out;
}

// A compact answer naming 127.0.0.1:6881 and 127.0.0.2:6882: NUL bytes inside.
const std::string kLoopbackBody =
    "d8:intervali1800e5:peers12:" + Compact(127, 0, 0, 1, 6881) + Compact(127, 0, 0, 2, 6882) + "e";

TTrackerFrame Frame(const std::string &bytes, bool closed, TTrackerHttpAnswer &answer)
{
    return FrameTrackerAnswer(bytes, closed, answer);
}

} // namespace

TEST(TrackerHttpAnswer, ContentLengthCountsFromTheEndOfTheHeadAndASplitBodyWaits)
{
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kLoopbackBody.size()) +
                       "\r\nContent-Type: text/plain\r\n\r\n";
    TTrackerHttpAnswer answer;
    // The head and half the body: not complete, however the bytes fall.
    for (size_t cut = 0; cut < head.size() + kLoopbackBody.size(); ++cut)
        ASSERT_EQ(Frame((head + kLoopbackBody).substr(0, cut), false, answer), TTrackerFrame::Incomplete) << cut;
    ASSERT_EQ(Frame(head + kLoopbackBody + "trailing junk", false, answer), TTrackerFrame::Complete);
    EXPECT_EQ(answer.body, kLoopbackBody);
    EXPECT_EQ(PeersOf(DecodeTrackerAnswer(answer.body)),
              (std::vector<std::string>{"127.0.0.1:6881", "127.0.0.2:6882"}));
    // Closed before the announced length arrived: a failure, not a short body.
    EXPECT_EQ(Frame(head + kLoopbackBody.substr(0, 10), true, answer), TTrackerFrame::Refused);
}

TEST(TrackerHttpAnswer, WithoutLengthTheCloseEndsTheBodyNotTheFirstNul)
{
    std::string bytes = "HTTP/1.0 200 OK\r\n\r\n" + kLoopbackBody;
    TTrackerHttpAnswer answer;
    EXPECT_EQ(Frame(bytes, false, answer), TTrackerFrame::Incomplete);
    ASSERT_EQ(Frame(bytes, true, answer), TTrackerFrame::Complete);
    EXPECT_EQ(answer.body.size(), kLoopbackBody.size());
    EXPECT_EQ(DecodeTrackerAnswer(answer.body).peers.size(), 2u);
    // A bare LF head works as well.
    ASSERT_EQ(Frame("HTTP/1.0 200 OK\n\n" + kLoopbackBody, true, answer), TTrackerFrame::Complete);
    EXPECT_EQ(answer.body, kLoopbackBody);
}

TEST(TrackerHttpAnswer, RefusesOtherStatusesOversizeAndBrokenFraming)
{
    TTrackerHttpAnswer answer;
    EXPECT_EQ(Frame("HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/x\r\nContent-Length: 0\r\n\r\n", false,
                    answer),
              TTrackerFrame::Refused);
    EXPECT_EQ(answer.status, 302);
    EXPECT_EQ(Frame("HTTP/1.1 404 Not Found\r\n\r\n" + kLoopbackBody, true, answer), TTrackerFrame::Refused);
    EXPECT_TRUE(answer.body.empty());
    EXPECT_EQ(Frame("HTTP/1.1 200 OK\r\nContent-Length: 1048577\r\n\r\n", false, answer), TTrackerFrame::Refused);
    EXPECT_EQ(Frame("HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\n", false, answer), TTrackerFrame::Refused);
    EXPECT_EQ(Frame("HTTP/1.1 200 OK\r\n\r\n" + std::string(kMaxTrackerAnswer + 1, 'x'), true, answer),
              TTrackerFrame::Refused);
    EXPECT_EQ(Frame("HTTP/1.1 200 OK\r\nContent-Type: text/plain", true, answer), TTrackerFrame::Refused);
    EXPECT_EQ(Frame("HTTP/1.1 200 OK\r\nContent-Encoding: br\r\n\r\nde", true, answer), TTrackerFrame::Refused);
}

TEST(TrackerHttpAnswer, GzipIsInflatedWithinTheLimit)
{
    std::string zipped = Gzip(kLoopbackBody);
    TTrackerHttpAnswer answer;
    std::string head = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                       std::to_string(zipped.size()) + "\r\n\r\n";
    ASSERT_EQ(Frame(head + zipped, false, answer), TTrackerFrame::Complete);
    EXPECT_EQ(answer.body, kLoopbackBody);
    // Cut short, or a bomb that inflates past 1 MiB: refused.
    EXPECT_EQ(Frame("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + zipped.substr(0, zipped.size() - 9),
                    true, answer),
              TTrackerFrame::Refused);
    std::string bomb = Gzip(std::string(kMaxTrackerAnswer + 1, 'e'));
    EXPECT_LT(bomb.size(), 8192u);
    EXPECT_EQ(Frame("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + bomb, true, answer),
              TTrackerFrame::Refused);
}

TEST(TrackerHttpAnswer, ChunkedBodyEndsAtItsLastChunk)
{
    TTrackerHttpAnswer answer;
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nd8:in\r\n";
    EXPECT_EQ(Frame(chunked, false, answer), TTrackerFrame::Incomplete);
    ASSERT_EQ(Frame(chunked + "E\r\ntervali1800e5:\r\n9\r\npeers0:ee\r\n0\r\n\r\n", false, answer),
              TTrackerFrame::Complete);
    EXPECT_EQ(answer.body, "d8:intervali1800e5:peers0:ee");
    EXPECT_EQ(Frame(chunked, true, answer), TTrackerFrame::Refused);
}

TEST(TrackerAnswer, CompactPeersSkipUnusableAddressesAndAPartialEntry)
{
    std::string peers = Compact(10, 0, 0, 5, 51413) + Compact(0, 0, 0, 0, 80) + Compact(255, 255, 255, 255, 80) +
                        Compact(224, 0, 0, 1, 80) + Compact(239, 1, 2, 3, 80) + Compact(10, 0, 0, 6, 0) +
                        Compact(192, 168, 1, 9, 65535) + "x";
    TTrackerAnswer answer = DecodeTrackerAnswer("d5:peers" + Str(peers) + "e");
    EXPECT_TRUE(answer.bencoded);
    EXPECT_EQ(PeersOf(answer), (std::vector<std::string>{"10.0.0.5:51413", "192.168.1.9:65535"}));
    EXPECT_EQ(answer.interval, 600);
    // 13 bytes: two peers, the last byte ignored.
    EXPECT_EQ(DecodeTrackerAnswer("d5:peers13:" + Compact(1, 2, 3, 4, 5) + Compact(1, 2, 3, 5, 6) + "ze").peers.size(),
              2u);
}

TEST(TrackerAnswer, DictionaryPeersReadExactlyTheirOwnBytes)
{
    std::string id(20, 'A');
    id[0] = '-';
    // The address string is followed directly by the next key: reading past
    // its length would see "127.0.0.24:port".
    std::string list = "l"
                       "d2:ip9:127.0.0.24:porti6881e7:peer id20:" + id + "e"
                       "d2:ip8:10.0.0.94:porti6882ee"
                       "d2:ip4:10.14:porti6883ee"                // only two parts
                       "d2:ip15:fe80::1234:56784:porti6884ee"    // not IPv4
                       "d2:ip8:10.0.0.74:porti0ee"               // port 0
                       "d2:ip8:10.0.0.74:porti65536ee"           // port too large
                       "d2:ip9:224.0.0.14:porti6885ee"           // multicast
                       "d2:ip15:255.255.255.2554:porti6886ee"    // broadcast
                       "d4:port4:68872:ip8:10.0.0.8e"            // port as a string
                       "4:junk"
                       "e";
    TTrackerAnswer answer = DecodeTrackerAnswer("d8:intervali900e5:peers" + list + "e");
    ASSERT_EQ(PeersOf(answer), (std::vector<std::string>{"127.0.0.2:6881", "10.0.0.9:6882"}));
    EXPECT_TRUE(answer.peers[0].hasPeerId);
    EXPECT_EQ(std::string(answer.peers[0].peerId.begin(), answer.peers[0].peerId.end()), id);
    EXPECT_FALSE(answer.peers[1].hasPeerId);
    EXPECT_EQ(answer.interval, 900);
}

TEST(TrackerAnswer, IntervalAndFailureAreTypeChecked)
{
    EXPECT_EQ(DecodeTrackerAnswer("d8:intervali30ee").interval, 600);
    EXPECT_EQ(DecodeTrackerAnswer("d8:intervali61ee").interval, 61);
    EXPECT_EQ(DecodeTrackerAnswer("d8:intervali999999999ee").interval, 86400);
    EXPECT_EQ(DecodeTrackerAnswer("d8:intervali-5ee").interval, 600);
    // An interval given as a string is no interval.
    EXPECT_EQ(DecodeTrackerAnswer("d8:interval4:1800e").interval, 600);
    TTrackerAnswer refused = DecodeTrackerAnswer("d14:failure reason17:unregistered hashe");
    EXPECT_TRUE(refused.bencoded);
    EXPECT_EQ(refused.failureReason, "unregistered hash");
    EXPECT_TRUE(refused.peers.empty());
    // Peers of the wrong type, and bodies that are no dictionary.
    EXPECT_TRUE(DecodeTrackerAnswer("d5:peersi12ee").peers.empty());
    EXPECT_TRUE(DecodeTrackerAnswer("d5:peersd2:ip8:10.0.0.9ee").peers.empty());
    EXPECT_FALSE(DecodeTrackerAnswer("l5:peerse").bencoded);
    EXPECT_FALSE(DecodeTrackerAnswer("<html>busy</html>").bencoded);
    EXPECT_FALSE(DecodeTrackerAnswer(Gzip(kLoopbackBody)).bencoded);
}

TEST(TrackerAnnounce, QueryKeepsTheTrackersOwnQueryAndEscapesBinaryValues)
{
    TAnnounceFacts facts;
    for (int i = 0; i < 20; ++i)
        facts.infoHash[i] = static_cast<uint8_t>(i * 13);
    const std::string id = std::string("\x00\x01Ql", 4) + "abc-DEF.01234567";
    std::copy(id.begin(), id.end(), facts.peerId.begin());
    facts.port = 51413;
    facts.uploaded = 5;
    facts.downloaded = 7;
    facts.left = 1234567890123;
    std::string target = BuildAnnounceTarget("/announce", "passkey=abc", facts);
    EXPECT_EQ(target.rfind("/announce?passkey=abc&info_hash=%00%0d%1a%274AN%5bhu", 0), 0u) << target;
    EXPECT_NE(target.find("&peer_id=%00%01Qlabc%2dDEF%2e01234567&port=51413&uploaded=5&downloaded=7"
                          "&left=1234567890123&event=started&key=3800&compact=1&numwant=200"),
              std::string::npos)
        << target;
    EXPECT_EQ(BuildAnnounceTarget("/a", "", facts).rfind("/a?info_hash=", 0), 0u);
    EXPECT_EQ(BuildAnnounceTarget("/a", "k=1&", facts).rfind("/a?k=1&info_hash=", 0), 0u);
    EXPECT_EQ(BuildAnnounceTarget("/a b", "x=\x01", facts).rfind("/a%20b?x=%01&", 0), 0u);

    EXPECT_EQ(BuildAnnounceRequest("/a?x", "tracker.test", 80),
              "GET /a?x HTTP/1.0\r\nUser-Agent: BitTorrent/4.1.2\r\nHost: tracker.test\r\n"
              "Accept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    EXPECT_NE(BuildAnnounceRequest("/a?x", "127.0.0.1", 6969).find("Host: 127.0.0.1:6969\r\n"), std::string::npos);
    EXPECT_EQ(BuildAnnounceRequest("/a?x", "evil\r\nX: 1", 80), "");
    EXPECT_EQ(BuildAnnounceRequest("/a x", "h", 80), "");
}

TEST(TrackerUdp, RequestsCarryTheFieldsAtTheirOffsets)
{
    auto connect = BuildUdpConnect(0xA1B2C3D4u);
    EXPECT_EQ(std::vector<uint8_t>(connect.begin(), connect.end()),
              (std::vector<uint8_t>{0, 0, 4, 0x17, 0x27, 0x10, 0x19, 0x80, 0, 0, 0, 0, 0xA1, 0xB2, 0xC3, 0xD4}));
    TAnnounceFacts facts;
    facts.infoHash.fill(0x11);
    facts.peerId.fill(0x22);
    facts.downloaded = 0x0102030405LL;
    facts.left = 9;
    facts.uploaded = -3; // never negative on the wire
    facts.port = 0xC8D5;
    auto a = BuildUdpAnnounce(0x0102030405060708ull, 7, facts);
    EXPECT_EQ(a.size(), 104u);
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ(a[7], 8);
    EXPECT_EQ(a[11], 1);  // action announce
    EXPECT_EQ(a[15], 7);  // transaction
    EXPECT_EQ(a[16], 0x11);
    EXPECT_EQ(a[36], 0x22);
    EXPECT_EQ(a[59], 1);
    EXPECT_EQ(a[63], 5);  // downloaded
    EXPECT_EQ(a[71], 9);  // left
    EXPECT_EQ(a[79], 0);  // uploaded
    EXPECT_EQ(a[83], 2);  // started
    for (int i = 84; i < 92; ++i)
        EXPECT_EQ(a[i], 0) << "IP and key are 0, byte " << i;
    EXPECT_EQ(a[95], 200);
    EXPECT_EQ(a[96], 0xC8);
    EXPECT_EQ(a[97], 0xD5);
}

TEST(TrackerUdp, ShortAndForeignAnswersAreIgnored)
{
    std::vector<uint8_t> connect{0, 0, 0, 0, 0, 0, 0, 9, 1, 2, 3, 4, 5, 6, 7, 8};
    TUdpTrackerAnswer parsed = ParseUdpTrackerAnswer(connect.data(), 16);
    EXPECT_EQ(parsed.kind, TUdpTrackerAnswer::Kind::Connected);
    EXPECT_EQ(parsed.transaction, 9u);
    EXPECT_EQ(parsed.connectionId, 0x0102030405060708ull);
    EXPECT_EQ(ParseUdpTrackerAnswer(connect.data(), 15).kind, TUdpTrackerAnswer::Kind::Ignored);

    std::vector<uint8_t> announce{0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 30, 0, 0, 0, 1, 0, 0, 0, 2};
    for (uint8_t b : Compact(127, 0, 0, 3, 6881) + Compact(0, 0, 0, 0, 1) + "abc")
        announce.push_back(b);
    parsed = ParseUdpTrackerAnswer(announce.data(), static_cast<int32_t>(announce.size()));
    EXPECT_EQ(parsed.kind, TUdpTrackerAnswer::Kind::Announced);
    EXPECT_EQ(parsed.interval, 600);
    ASSERT_EQ(parsed.peers.size(), 1u);
    EXPECT_EQ(Dotted(parsed.peers[0]), "127.0.0.3:6881");
    // 19 bytes: no header, no peers, nothing read past the end.
    EXPECT_EQ(ParseUdpTrackerAnswer(announce.data(), 19).kind, TUdpTrackerAnswer::Kind::Ignored);
    EXPECT_EQ(ParseUdpTrackerAnswer(announce.data(), 20).peers.size(), 0u);

    std::string error = std::string("\0\0\0\3\0\0\0\x09", 8) + "Connection ID missmatch.";
    parsed = ParseUdpTrackerAnswer(reinterpret_cast<const uint8_t *>(error.data()), static_cast<int32_t>(error.size()));
    EXPECT_EQ(parsed.kind, TUdpTrackerAnswer::Kind::Error);
    EXPECT_EQ(parsed.message, "Connection ID missmatch.");
    std::vector<uint8_t> scrape{0, 0, 0, 2, 0, 0, 0, 9, 0, 0, 0, 0};
    EXPECT_EQ(ParseUdpTrackerAnswer(scrape.data(), 12).kind, TUdpTrackerAnswer::Kind::Ignored);
    EXPECT_EQ(ParseUdpTrackerAnswer(nullptr, 0).kind, TUdpTrackerAnswer::Kind::Ignored);
}
