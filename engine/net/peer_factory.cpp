#include "engine/net/peer_factory.h"

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/net/bt_peer.h"
#include "engine/net/ftp_peer.h"
#include "engine/net/http_peer.h"
#include "engine/net/tracker_peer.h"

namespace {

const char *KindName(int32_t kind)
{
    switch (kind) {
    case PEER_KIND_FTP:
        return "FTP source";
    default:
        return "unknown peer kind";
    }
}
} // namespace

TRef<TPeerObject> NewPeerObject(IPeerTask *task, int32_t kind)
{
    if (kind == PEER_KIND_HTTP)
        return TRef<TPeerObject>::Adopt(new THttpPeer(task));
    if (kind == PEER_KIND_TRACKER)
        return TRef<TPeerObject>::Adopt(new TTrackerPeer(task));
    if (kind == PEER_KIND_BT)
        return TRef<TPeerObject>::Adopt(new TBTPeer(task));
    if (kind == PEER_KIND_FTP)
        return TRef<TPeerObject>::Adopt(new TFtpPeer(task));
    EngineLogFormat(LOG_CHANNEL_PEERS, "Create Peer Failed: %s (kind %d) is not supported", KindName(kind),
                    static_cast<int>(kind));
    return nullptr;
}
