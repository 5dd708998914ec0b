// Parses arbitrary text as a peer URL. Host names never reach the system:
// the look-up is replaced by one that knows no name. Whatever parses must
// hold a valid kind and port and stay within the URL limit.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/net/host_lookup.h"
#include "engine/net/peer_id.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool offline = [] {
        SetHostLookup([](const std::string &, std::vector<uint32_t> &) { return 11001; });
        return true;
    }();
    (void)offline;
    std::string text(reinterpret_cast<const char *>(data), size);
    auto *id = new TPeerId;
    if (id->Parse(text)) {
        Check(id->kind == PEER_KIND_BT || id->kind == PEER_KIND_HTTP || id->kind == PEER_KIND_FTP ||
              id->kind == PEER_KIND_TRACKER);
        Check(id->port >= 1 && id->port <= 65535);
        Check(id->url.size() <= kMaxPeerUrlBytes);
        Check(id->HasValidAddress());
        // A second parse of the stored URL must agree on what it names.
        auto *again = new TPeerId;
        Check(again->Parse(id->url) || id->kind != PEER_KIND_BT);
        again->Release();
    }
    id->Release();
    PercentDecode(text, 64);
    PercentEncodeUnsafe(text);
    return 0;
}
