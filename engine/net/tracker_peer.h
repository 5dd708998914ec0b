#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/net/peer_object.h"
#include "engine/net/qudp_socket.h"
#include "engine/net/tracker_answer.h"

// One announce to one tracker of a BitTorrent task ("tracker://" URLs).
// Over HTTP it sends one GET and reads the bencoded answer; over UDP it
// earns a connection id with a connect and then announces with it. The
// peers of the answer become BitTorrent candidates of the task, the
// interval the tracker asked for is kept on its address, and the peer
// finishes (state 6). The pool announces again after the interval.
//
// Until an answer comes the announce is sent again every kResendSeconds
// (over HTTP on a new connection); after kAnswerTimeout seconds in which
// the tracker sent nothing the peer times out (state 5). Before anything is kept the answer is
// checked: an HTTP status other than 2xx, a body that does not frame, and a
// datagram from anyone but the tracker or of the wrong length or
// transaction yield no peers.
class TTrackerPeer : public TPeerObject {
public:
    static constexpr int64_t kResendSeconds = 11;
    static constexpr int64_t kAnswerTimeout = 60;
    // A UDP connection id is good for a minute; an older one is renewed.
    static constexpr int64_t kConnectionIdLife = 60;
    // Datagrams read per tick: a flood cannot hold the task's thread.
    static constexpr int32_t kDatagramsPerRead = 16;

    explicit TTrackerPeer(IPeerTask *task);

    bool ReadInput() override;
    bool FlushOutput() override;
    bool PlanRequests() override;
    void Reset() override;
    bool AttachAddress(TPeerId *address) override;
    bool IsConnected() override;
    bool IsTimedOut() override;

    bool OverUdp() const { return overUdp; }
    // The request target of the last HTTP announce.
    const std::string &Query() const { return query; }
    int32_t AnnouncesSent() const { return announcesSent; }
    int32_t ConnectsSent() const { return connectsSent; }

protected:
    ~TTrackerPeer() override = default;

private:
    bool StartHttp();
    bool AnnounceHttp();
    bool ReadHttp();
    bool StartUdp();
    bool SendUdpConnect();
    bool AnnounceUdp();
    bool ReadUdp();
    void HandleDatagram(const uint8_t *data, int32_t length);
    // Keeps the answer's interval and offers its peers; the peer finishes.
    void TakeAnswer(int32_t interval, const std::vector<TTrackerPeerAddress> &peers);
    // Logs why the announce failed and closes; false.
    bool Fail(const std::string &why);
    uint32_t NewTransaction();

    bool overUdp = false;
    QUdpSocket udp;
    // Bytes of the HTTP answer received so far.
    std::string answer;
    std::string query;
    // Engine time of the attach or the last bytes or datagram from the tracker.
    int64_t lastHeard = 0;
    bool announced = false;
    int64_t lastAnnounce = 0;
    int64_t lastConnect = 0;
    uint32_t connectTransaction = 0;
    uint32_t announceTransaction = 0;
    uint64_t connectionId = 0;
    int64_t connectionIdTime = 0;
    int32_t announcesSent = 0;
    int32_t connectsSent = 0;
};
