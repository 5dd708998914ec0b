#include "engine/net/tracker_announce.h"

#include "engine/base/hex_digits.h"
#include "engine/net/peer_id.h"

namespace {
constexpr int32_t kDefaultHttpPort = 80;

bool FitsInRequestLine(const std::string &part)
{
    for (unsigned char c : part)
        if (c <= 0x20 || c == 0x7F)
            return false;
    return !part.empty();
}
} // namespace

std::string BuildAnnounceTarget(const std::string &path, const std::string &ownQuery, const TAnnounceFacts &facts)
{
    std::string target = PercentEncodeUnsafe(path.empty() ? std::string("/") : path);
    target += '?';
    if (!ownQuery.empty()) {
        target += PercentEncodeUnsafe(ownQuery);
        if (ownQuery.back() != '&')
            target += '&';
    }
    target += "info_hash=" + PercentEscapeBinary(facts.infoHash.data(), facts.infoHash.size());
    target += "&peer_id=" + PercentEscapeBinary(facts.peerId.data(), facts.peerId.size());
    target += "&port=" + std::to_string(facts.port);
    target += "&uploaded=" + std::to_string(facts.uploaded);
    target += "&downloaded=" + std::to_string(facts.downloaded);
    target += "&left=" + std::to_string(facts.left);
    target += "&event=started";
    target += "&key=" + std::to_string(kAnnounceHttpKey) + "&compact=1&numwant=" + std::to_string(kAnnounceNumWant);
    return target;
}

std::string BuildAnnounceRequest(const std::string &target, const std::string &host, int32_t port)
{
    if (!FitsInRequestLine(target) || !FitsInRequestLine(host) || target.size() > kMaxPeerUrlBytes * 2)
        return std::string();
    std::string request = "GET " + target + " HTTP/1.0\r\n";
    request += "User-Agent: BitTorrent/4.1.2\r\nHost: " + host;
    if (port != kDefaultHttpPort)
        request += ":" + std::to_string(port);
    request += "\r\nAccept-Encoding: gzip\r\nConnection: close\r\n\r\n";
    return request;
}
