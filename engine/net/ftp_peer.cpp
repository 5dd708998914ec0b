#include "engine/net/ftp_peer.h"

#include <algorithm>

#include "engine/base/engine_clock.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/net/ftp_command.h"

namespace {
constexpr int32_t kTransferTimeout = 15;
constexpr int32_t kReplyTimeout = 30;
constexpr int32_t kTimeoutPenalty = 15;
constexpr int32_t kServerPenalty = 60;
constexpr int32_t kPhaseFetchingTorrent = 2;
// Allowance below which a busy server's 4xx no longer lowers it.
constexpr int32_t kLeastAllowance = 2;
constexpr int32_t kReplyRead = 16384;

int64_t Now()
{
    return EngineTime();
}

// The reply codes that move each step on.
bool Expected(int32_t step, int32_t code)
{
    switch (step) {
    case TFtpPeer::STEP_GREETING:
        return code == 220;
    case TFtpPeer::STEP_USER:
        // 230: logged in on the name alone.
        return code == 331 || code == 230;
    case TFtpPeer::STEP_PASSWORD:
        return code == 230 || code == 332;
    case TFtpPeer::STEP_DIRECTORY:
        return code == 250;
    case TFtpPeer::STEP_BINARY:
        return code == 200;
    case TFtpPeer::STEP_SIZE:
        return code == 213;
    case TFtpPeer::STEP_PASSIVE:
        return code == 227;
    case TFtpPeer::STEP_RESTART:
        return code == 350;
    case TFtpPeer::STEP_RETRIEVE:
        return code == 125 || code == 150;
    case TFtpPeer::STEP_COMPLETION:
        return code == 426 || code == 226 || code == 250;
    default:
        return false;
    }
}
} // namespace

TFtpPeer::TFtpPeer(IPeerTask *task) : TPeerObject(task, PEER_KIND_FTP) {}

int64_t TFtpPeer::SkipTo(int64_t position, int64_t wanted)
{
    int64_t ahead = wanted - position;
    return ahead >= 0 && ahead <= kSkipReach ? ahead : -1;
}

bool TFtpPeer::WholeContent() const
{
    const TUrlParts *parts = address != nullptr ? address->PartsIfAny() : nullptr;
    return parts != nullptr && parts->wholeContent;
}

uint64_t TFtpPeer::TrafficIn() const
{
    // The file's bytes come on the data connection; the replies are noise.
    return data ? data->ReceivedBytes() : 0;
}

int32_t TFtpPeer::WaitHandle() const
{
    if (step == STEP_TRANSFER && data && data->HasHandle())
        return data->WaitHandle();
    return TPeerObject::WaitHandle();
}

// Every step but the transfer waits for a reply, and each one found only
// at the task's next service would cost the login and every new transfer
// a service period.
bool TFtpPeer::AwaitsReply() const
{
    return phase == PHASE_WAITING && step != STEP_TRANSFER && socket && socket->HasHandle();
}

void TFtpPeer::CloseData()
{
    if (data)
        CloseCounted(*data);
}

void TFtpPeer::AwaitCompletion()
{
    CloseData();
    step = STEP_COMPLETION;
    phase = PHASE_WAITING;
    position = 0;
    skip = 0;
    counters.pendingBlocks = 0;
}

bool TFtpPeer::AttachAddress(TPeerId *newAddress)
{
    if (!TPeerObject::AttachAddress(newAddress))
        return false;
    CloseData();
    step = STEP_GREETING;
    phase = PHASE_WAITING;
    position = 0;
    skip = 0;
    TUrlParts &parts = address->Parts();
    if (FtpFileNameOf(parts.path).empty()) {
        EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s names no file", address->url.c_str());
        return false;
    }
    if (parts.wholeContent) {
        // A failed earlier attempt must not leave its bytes in front.
        if (!parts.contentComplete)
            parts.content.clear();
        if (address->mainTorrent)
            task->Pool().SetPhase(kPhaseFetchingTorrent);
    }
    stage = socket->Connect(address->address, address->port, false) ? PEER_STAGE_CONNECTING : PEER_STAGE_NONE;
    return IsConnected();
}

bool TFtpPeer::Refuse(const std::string &why, int32_t penalty)
{
    EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s refused: %.512s", address->url.c_str(), why.c_str());
    CloseData();
    CloseSocket();
    task->Pool().Penalize(address, this, penalty);
    return false;
}

bool TFtpPeer::Send(const std::string &verb, const std::string &argument)
{
    std::string line = FtpCommand(verb, argument);
    if (line.empty()) {
        EngineLogFormat(LOG_CHANNEL_PEERS, "FTP command %s refused for %.512s: line break in its argument",
                        verb.c_str(), address->url.c_str());
        return false;
    }
    if (!socket->SendBuffer().Append(line.data(), static_cast<int32_t>(line.size())))
        return false;
    phase = PHASE_SENDING;
    return true;
}

bool TFtpPeer::SendStepCommand()
{
    const TUrlParts &parts = address->Parts();
    switch (step) {
    case STEP_USER:
        return Send("user", parts.user);
    case STEP_PASSWORD:
        return Send("pass", parts.password);
    case STEP_DIRECTORY:
        return Send("cwd", FtpDirectoryOf(parts.path));
    case STEP_BINARY:
        return Send("type", "i");
    case STEP_SIZE:
        return Send("size", FtpFileNameOf(parts.path));
    case STEP_PASSIVE:
        return Send("pasv", "");
    default:
        return true;
    }
}

bool TFtpPeer::PlanRequests()
{
    if (!IsConnected())
        return false;
    TUrlParts &parts = address->Parts();
    const bool whole = parts.wholeContent;
    if (!whole && parts.serverSize > 0) {
        int64_t fileSize = task->Store().FileSize();
        if (fileSize > 0 && fileSize != parts.serverSize)
            return Refuse("server size " + std::to_string(parts.serverSize) + " differs from the task's " +
                              std::to_string(fileSize),
                          kServerPenalty);
        if ((step == STEP_TRANSFER || step == STEP_PASSIVE) && requests.empty()) {
            skip = 0;
            TPeerObject::PlanRequests();
            if (requests.empty() && fileSize > 0) {
                state = PEER_STATE_FINISHED;
                return false;
            }
        }
        if (!requests.empty() && state == PEER_STATE_IDLE)
            state = PEER_STATE_WAITING;
    }
    if (step == STEP_TRANSFER && !whole) {
        int32_t run = requests.empty() ? 0 : 1;
        while (run < static_cast<int32_t>(requests.size()) && requests[run].block == requests[run - 1].block + 1)
            ++run;
        counters.pendingBlocks = run;
    }
    if (phase != PHASE_DUE)
        return true;
    // A transfer starts only with blocks to fetch, or once for the content.
    if (step == STEP_PASSIVE && (whole ? parts.contentComplete : requests.empty()))
        return true;
    return SendStepCommand();
}

bool TFtpPeer::FlushOutput()
{
    if (!IsConnected())
        return false;
    if (phase != PHASE_SENDING)
        return true;
    if (socket->SendLength() > 0 && socket->Flush() < 0)
        return false;
    if (socket->SendLength() == 0)
        phase = PHASE_WAITING;
    return IsConnected();
}

void TFtpPeer::NoteReply(int32_t code)
{
    counters.activityTime = Now();
    if (code >= 400 && code < 500) {
        if (address->allowance > kLeastAllowance)
            --address->allowance;
    } else if (code >= 500) {
        task->Pool().Penalize(address, this, kServerPenalty);
    }
}

int32_t TFtpPeer::TakeReply(TFtpReply &reply)
{
    // What is buffered goes first: a receive that meets the close frees it.
    for (int attempt = 0;; ++attempt) {
        const QSocketBuffer &buffer = socket->ReceiveBuffer();
        int32_t used = 0;
        TFtpFrame frame = FrameFtpReply(buffer.Text(), buffer.Length(), reply, used);
        if (frame == TFtpFrame::Malformed) {
            EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s sent no valid reply", address->url.c_str());
            CloseData();
            CloseSocket();
            return -1;
        }
        if (frame == TFtpFrame::Complete) {
            socket->ConsumeReceived(used);
            NoteReply(reply.code);
            return 1;
        }
        if (attempt > 0)
            return 0;
        if (socket->Receive(kReplyRead) < 0)
            return -1;
    }
}

bool TFtpPeer::ReadInput()
{
    if (!IsConnected())
        return false;
    // Nothing is awaited while a command is due: the peer waits for work.
    if (phase == PHASE_DUE)
        return true;
    if (IsTimedOut()) {
        task->Pool().Penalize(address, this, kTimeoutPenalty);
        return false;
    }
    if (phase != PHASE_WAITING)
        return true;
    if (step == STEP_TRANSFER)
        return ReadData();
    return ReadReply();
}

bool TFtpPeer::ReadReply()
{
    TFtpReply reply;
    int32_t taken = TakeReply(reply);
    if (taken <= 0)
        return taken == 0;
    if (!Expected(step, reply.code)) {
        EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s: step %d answered %d %.256s", address->url.c_str(),
                        static_cast<int>(step), static_cast<int>(reply.code), reply.text.c_str());
        CloseData();
        CloseSocket();
        return false;
    }
    return Advance(reply);
}

bool TFtpPeer::Advance(const TFtpReply &reply)
{
    phase = PHASE_DUE;
    switch (step) {
    case STEP_GREETING:
        stage = PEER_STAGE_USABLE;
        step = STEP_USER;
        return true;
    case STEP_USER:
        step = reply.code == 230 ? STEP_DIRECTORY : STEP_PASSWORD;
        return true;
    case STEP_PASSWORD:
        step = STEP_DIRECTORY;
        return true;
    case STEP_DIRECTORY:
        step = STEP_BINARY;
        return true;
    case STEP_BINARY:
        step = STEP_SIZE;
        return true;
    case STEP_SIZE:
        step = STEP_PASSIVE;
        return LearnSize(reply.text);
    case STEP_PASSIVE:
        return OpenData(reply.text);
    case STEP_RESTART:
        step = STEP_RETRIEVE;
        return Send("retr", address->Parts().path);
    case STEP_RETRIEVE:
        step = STEP_TRANSFER;
        phase = PHASE_WAITING;
        return true;
    default: // the completion reply
        step = STEP_PASSIVE;
        return true;
    }
}

bool TFtpPeer::LearnSize(const std::string &text)
{
    TUrlParts &parts = address->Parts();
    int64_t size = ParseFtpSize(text);
    if (size <= 0)
        return Refuse("SIZE answered \"" + text.substr(0, 64) + "\"", kServerPenalty);
    if (parts.wholeContent && size > kMaxWholeContent)
        return Refuse("file of " + std::to_string(size) + " bytes is too large to hold", kServerPenalty);
    // The file changed under the server, or another connection was lied to.
    if (!parts.wholeContent && parts.serverSize > 0 && parts.serverSize != size)
        return Refuse("size " + std::to_string(size) + " differs from " + std::to_string(parts.serverSize),
                      kServerPenalty);
    parts.serverSize = size;
    return true;
}

bool TFtpPeer::OpenData(const std::string &text)
{
    uint32_t advertised = 0;
    int32_t port = ParsePassiveReply(text, advertised);
    if (port < 0) {
        EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s: malformed 227 \"%.128s\"", address->url.c_str(),
                        text.c_str());
        CloseSocket();
        return false;
    }
    const bool whole = WholeContent();
    // The blocks went to another connection while PASV was on its way.
    if (!whole && requests.empty()) {
        step = STEP_PASSIVE;
        return true;
    }
    // Only the port is taken: a server behind NAT names its private address,
    // a hostile one any host at all.
    uint32_t server = socket->RemoteAddress() != 0 ? socket->RemoteAddress() : address->address;
    if (advertised != server)
        EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s advertised another address for its data; using its own",
                        address->url.c_str());
    if (!data)
        data = std::make_unique<QSocket>();
    else
        CloseData();
    if (!data->Connect(server, port, false)) {
        EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s: data connection to port %d failed",
                        address->url.c_str(), static_cast<int>(port));
        CloseSocket();
        return false;
    }
    if (whole) {
        position = 0;
        address->Parts().content.clear();
    } else {
        position = requests.front().block * kBlockBytes;
    }
    skip = 0;
    step = STEP_RESTART;
    return Send("rest", std::to_string(position));
}

int32_t TFtpPeer::ReadBudget() const
{
    return std::min(task->Meters().DownloadAllowance(), kReadChunk);
}

bool TFtpPeer::ReadData()
{
    int32_t budget = ReadBudget();
    if (budget <= 0)
        return true;
    if (WholeContent())
        return ReadWholeData(budget);
    // Buffered bytes first: a receive that meets the close frees the buffer.
    if (!DeliverData())
        return false;
    // Bytes that wait for the next planning stay unread behind them: a
    // receive that met the end of the transfer would drop them.
    if (step != STEP_TRANSFER || (requests.empty() && data->ReceiveLength() > 0))
        return true;
    uint64_t before = data->ReceivedBytes();
    if (data->Receive(budget) < 0) {
        AwaitCompletion();
        return true;
    }
    if (data->ReceivedBytes() > before)
        counters.activityTime = Now();
    return DeliverData();
}

bool TFtpPeer::DeliverData()
{
    const uint8_t *bytes = data->ReceiveBuffer().Data();
    const int64_t available = data->ReceiveLength();
    int64_t used = 0;
    bool delivered = true;
    bool move = false;
    for (;;) {
        if (skip > 0) {
            int64_t dropped = std::min(skip, available - used);
            used += dropped;
            position += dropped;
            skip -= dropped;
            if (skip > 0)
                break;
        }
        if (requests.empty())
            break;
        const TBlockRequest head = requests.front();
        int64_t ahead = SkipTo(position, head.block * kBlockBytes);
        if (ahead < 0) {
            move = true;
            break;
        }
        if (ahead > 0) {
            skip = ahead;
            continue;
        }
        if (available - used < head.length)
            break;
        delivered = DeliverBlock(head.block, head.length, bytes + used);
        used += head.length;
        position += head.length;
        if (!delivered)
            break;
        if (RangeEnded())
            skip = 0;
    }
    // One consume for the lot: block by block would move the rest of a
    // large buffer down for every block. The buffer keeps its size: the next
    // read fills it again at once, and shrinking it around the part-block
    // left over would copy that part twice on every read.
    data->ConsumeReceived(static_cast<int32_t>(used), true);
    if (move) {
        EngineLogFormat(LOG_CHANNEL_PEERS, "FTP source %.512s: next block at %lld, stream at %lld; new transfer",
                        address->url.c_str(), static_cast<long long>(requests.front().block * kBlockBytes),
                        static_cast<long long>(position));
        AwaitCompletion();
    }
    return delivered;
}

bool TFtpPeer::TakeContent()
{
    TUrlParts &parts = address->Parts();
    int64_t available = data->ReceiveLength();
    if (available <= 0)
        return true;
    if (static_cast<int64_t>(parts.content.size()) + available > std::min(parts.serverSize, kMaxWholeContent))
        return Refuse("file grows past its size of " + std::to_string(parts.serverSize) + " bytes", kServerPenalty);
    parts.content.append(data->ReceiveBuffer().Text(), static_cast<size_t>(available));
    data->ConsumeReceived(static_cast<int32_t>(available));
    position += available;
    counters.activityTime = Now();
    return true;
}

bool TFtpPeer::ReadWholeData(int32_t budget)
{
    TUrlParts &parts = address->Parts();
    if (!TakeContent())
        return false;
    bool ended = false;
    if (static_cast<int64_t>(parts.content.size()) < parts.serverSize) {
        ended = data->Receive(budget) < 0;
        if (!ended && !TakeContent())
            return false;
    }
    if (static_cast<int64_t>(parts.content.size()) >= parts.serverSize) {
        parts.contentComplete = true;
        AwaitCompletion();
        return true;
    }
    if (!ended)
        return true;
    EngineLogFormat(LOG_CHANNEL_PEERS, "FTP transfer of %.512s ended after %zu of %lld bytes", address->url.c_str(),
                    parts.content.size(), static_cast<long long>(parts.serverSize));
    CloseSocket();
    return false;
}

bool TFtpPeer::IsTimedOut()
{
    return SilentLongerThan(step == STEP_TRANSFER ? kTransferTimeout : kReplyTimeout);
}

void TFtpPeer::ReleaseRange()
{
    TPeerObject::ReleaseRange();
    skip = 0;
    counters.pendingBlocks = 0;
    // A stream that runs on for blocks nobody wants any more is cut now;
    // one still being set up is moved, if need be, once it runs.
    if (step == STEP_TRANSFER && !WholeContent())
        AwaitCompletion();
}

void TFtpPeer::Reset()
{
    TPeerObject::Reset();
    CloseData();
    step = STEP_GREETING;
    phase = PHASE_WAITING;
    position = 0;
    skip = 0;
}
