#include "engine/net/peer_id.h"

#include <algorithm>
#include <set>
#include <strings.h>

#include "engine/base/hex_digits.h"
#include "engine/net/host_addresses.h"
#include "engine/net/ipv4_address.h"

namespace {
constexpr char kFtp[] = "ftp://";
constexpr char kHttp[] = "http://";
constexpr char kTracker[] = "tracker://";
constexpr char kBtNode[] = "btnode://";
constexpr char kAnonymousUser[] = "anonymous";
constexpr char kAnonymousPassword[] = "guest@quarrowlight";
constexpr int32_t kHttpPort = 80;
constexpr int32_t kFtpPort = 21;

bool StartsWith(const std::string &text, const char *prefix)
{
    size_t n = std::char_traits<char>::length(prefix);
    return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

// A decimal port of 1..65535 and nothing else; 0 otherwise.
int32_t ParsePort(const std::string &text)
{
    if (text.empty() || text.size() > 5)
        return 0;
    int32_t port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535 ? port : 0;
}

// Splits "host[:port]"; false for an empty host or a bad port.
bool SplitHostPort(const std::string &text, int32_t defaultPort, std::string &host, int32_t &port)
{
    size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = colon == std::string::npos ? defaultPort : ParsePort(text.substr(colon + 1));
    return !host.empty() && port != 0;
}

bool EqualsIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}
} // namespace

std::string PercentDecode(const std::string &text, size_t limit)
{
    std::string out;
    for (size_t i = 0; i < text.size() && out.size() < limit; ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            break;
        int high = HexDigitValue(text[i + 1]);
        int low = HexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) {
            out.push_back('%');
            continue;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::string PercentEncodeUnsafe(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x21 && byte <= 0x7F) {
            out.push_back(c);
        } else {
            out.push_back('%');
            AppendLowerHex(out, &byte, 1);
        }
    }
    return out;
}

TUrlParts &TPeerId::Parts()
{
    if (!parts)
        parts = std::make_unique<TUrlParts>();
    return *parts;
}

bool TPeerId::NeverVerifies(int32_t piece) const
{
    auto found = pieceFailures.find(piece);
    return found != pieceFailures.end() && found->second >= kPieceFailuresToCondemn;
}

std::pair<int32_t, int32_t> TPeerId::WorstPiece() const
{
    std::pair<int32_t, int32_t> worst{-1, 0};
    for (const auto &[piece, failures] : pieceFailures) {
        if (failures > worst.second)
            worst = {piece, failures};
    }
    return worst;
}

bool TPeerId::HasValidAddress() const
{
    return address != 0 && address != 0xFFFFFFFFu && port >= 1 && port <= 65535;
}

bool TPeerId::Parse(const std::string &text)
{
    parsed = false;
    if (text.empty() || text.size() > kMaxPeerUrlBytes)
        return false;
    std::string normal = text;
    std::replace(normal.begin(), normal.end(), '\\', '/');
    // The system code page is UTF-8, so only the escaping is left to do.
    normal = StartsWith(normal, kHttp) ? PercentEncodeUnsafe(normal) : PercentDecode(normal);
    if (normal.size() > kMaxPeerUrlBytes)
        return false;
    url = normal;

    bool ok = false;
    if (StartsWith(url, kFtp))
        ok = ParseFtp(url.substr(sizeof kFtp - 1));
    else if (StartsWith(url, kHttp))
        ok = ParseHttp(url.substr(sizeof kHttp - 1));
    else if (StartsWith(url, kTracker))
        ok = ParseTracker(url.substr(sizeof kTracker - 1));
    else if (StartsWith(url, kBtNode))
        ok = ParseBtNode(url.substr(sizeof kBtNode - 1));
    if (!ok)
        return false;
    if (kind != PEER_KIND_BT && !ResolveHost())
        return false;
    parsed = true;
    if (IsServer())
        TakeFileName(kind == PEER_KIND_HTTP);
    return true;
}

bool TPeerId::ParseFtp(const std::string &rest)
{
    TUrlParts &p = Parts();
    std::string hostPart = rest;
    // An "@" in the path (after the first "/") is part of a file name.
    size_t at = rest.find('@');
    if (at != std::string::npos && at > rest.find('/'))
        at = std::string::npos;
    if (at != std::string::npos) {
        std::string user = rest.substr(0, at);
        size_t colon = user.find(':');
        p.user = user.substr(0, colon);
        p.password = colon == std::string::npos ? std::string() : user.substr(colon + 1);
        hostPart = rest.substr(at + 1);
    } else {
        p.user = kAnonymousUser;
        p.password = kAnonymousPassword;
    }
    size_t slash = hostPart.find('/');
    p.path = slash == std::string::npos ? "/" : hostPart.substr(slash);
    if (!SplitHostPort(hostPart.substr(0, slash), kFtpPort, p.host, port))
        return false;
    // These go into command lines: a decoded line break would end the
    // command and start one of the URL's choosing.
    const std::string breaks("\r\n\0", 3);
    for (const std::string *part : {&p.user, &p.password, &p.path})
        if (part->find_first_of(breaks) != std::string::npos)
            return false;
    kind = PEER_KIND_FTP;
    return true;
}

bool TPeerId::ParseHttp(const std::string &rest)
{
    TUrlParts &p = Parts();
    size_t slash = rest.find('/');
    p.requestPath = slash == std::string::npos ? "/" : rest.substr(slash);
    if (!SplitHostPort(rest.substr(0, slash), kHttpPort, p.host, port))
        return false;
    kind = PEER_KIND_HTTP;
    return true;
}

bool TPeerId::ParseTracker(const std::string &rest)
{
    size_t sep = rest.find("://");
    if (sep == std::string::npos)
        return false;
    std::string scheme = rest.substr(0, sep);
    if (StartsWith(scheme, "http") || StartsWith(scheme, "tcp"))
        trackerTransport = 1;
    else if (StartsWith(scheme, "udp"))
        trackerTransport = 0;
    else
        return false;
    TUrlParts &p = Parts();
    p.trackerScheme = scheme;
    std::string after = rest.substr(sep + 3);
    size_t hostEnd = after.find_first_of("/?");
    std::string location = after.substr(0, hostEnd);
    std::string tail = hostEnd == std::string::npos ? std::string() : after.substr(hostEnd);
    size_t question = tail.find('?');
    p.requestPath = tail.substr(0, question);
    if (p.requestPath.empty())
        p.requestPath = "/";
    p.query = question == std::string::npos ? std::string() : tail.substr(question + 1);
    if (!SplitHostPort(location, kHttpPort, p.host, port))
        return false;
    kind = PEER_KIND_TRACKER;
    return true;
}

bool TPeerId::ParseBtNode(const std::string &rest)
{
    size_t colon = rest.find(':');
    if (colon == std::string::npos)
        return false;
    uint32_t parsedAddress = DottedParse(rest.substr(0, colon));
    port = ParsePort(rest.substr(colon + 1));
    if (parsedAddress == kNoAddress || port == 0)
        return false;
    address = HostToNetwork32(parsedAddress);
    kind = PEER_KIND_BT;
    return true;
}

bool TPeerId::ResolveHost()
{
    TUrlParts &p = Parts();
    std::set<uint32_t> found;
    if (HostToAddresses(p.host, found) <= 0) {
        address = kNoAddress;
        invalidHost = true;
        return false;
    }
    invalidHost = false;
    // Keep the rotation of an earlier parse while the host still resolves
    // to the same addresses.
    std::set<uint32_t> known(p.resolved.begin(), p.resolved.end());
    if (known != found)
        p.resolved.assign(found.begin(), found.end());
    address = p.resolved.front();
    std::rotate(p.resolved.begin(), p.resolved.begin() + 1, p.resolved.end());
    return true;
}

void TPeerId::TakeFileName(bool decode)
{
    size_t scheme = url.find("://");
    size_t slash = url.rfind('/');
    if (slash == std::string::npos || scheme == std::string::npos || slash <= scheme + 2)
        return;
    std::string name = url.substr(slash + 1);
    Parts().fileName = decode ? PercentDecode(name) : name;
}

bool TPeerId::SameParty(const TPeerId &other) const
{
    if (this == &other)
        return true;
    if (kind != other.kind)
        return false;
    switch (kind) {
    case PEER_KIND_BT:
        return (address == other.address && port == other.port) || peerId == other.peerId;
    case PEER_KIND_TRACKER:
        return address == other.address && port == other.port && trackerTransport == other.trackerTransport;
    case PEER_KIND_HTTP:
    case PEER_KIND_FTP:
        return EqualsIgnoringCase(url, other.url);
    default:
        return false;
    }
}

TRef<TPeerId> TPeerId::CopyForAddress(uint32_t otherAddress) const
{
    auto copy = TRef<TPeerId>::Adopt(new TPeerId);
    copy->parsed = parsed;
    copy->port = port;
    copy->peerId = peerId;
    copy->url = url;
    copy->address = otherAddress;
    copy->kind = kind;
    copy->trackerTransport = trackerTransport;
    if (parts) {
        TUrlParts &p = copy->Parts();
        p.host = parts->host;
        p.user = parts->user;
        p.password = parts->password;
        p.path = parts->path;
        p.query = parts->query;
        p.trackerScheme = parts->trackerScheme;
        p.requestPath = parts->requestPath;
        p.fileName = parts->fileName;
        p.wholeContent = parts->wholeContent;
    }
    return copy;
}
