#include "engine/net/http_peer.h"

#include <algorithm>
#include <cstring>

#include "engine/base/engine_clock.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/net/http_redirect.h"
#include "engine/net/http_request.h"
#include "engine/net/http_validator.h"

namespace {
// The HTTP trace channel.
constexpr int32_t kHeaderTimeout = 15;
constexpr int32_t kBodyTimeout = 30;
constexpr int32_t kTimeoutPenalty = 15;
constexpr int32_t kServerPenalty = 60;
constexpr int32_t kPhaseFetchingTorrent = 2;
constexpr int32_t kOriginConfigured = 29;
constexpr int32_t kOriginConfirmed = 28;
constexpr int32_t kSameTargetLimit = 2;
// The size that stands for "until the server closes" in whole-content mode.
constexpr int64_t kOpenEndedContent = 2147483647;
const char kDefaultFileName[] = "index.htm";

int64_t Now()
{
    return EngineTime();
}

std::string BaseName(const std::string &name)
{
    size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}
} // namespace

THttpPeer::THttpPeer(IPeerTask *task) : TPeerObject(task, PEER_KIND_HTTP) {}

bool THttpPeer::WholeContent() const
{
    const TUrlParts *parts = address != nullptr ? address->PartsIfAny() : nullptr;
    return parts != nullptr && parts->wholeContent;
}

void THttpPeer::ClearResponse()
{
    headerParsed = false;
    skip = 0;
    noLength = false;
    responseHeader.Clear();
    frame = THttpBodyFrame();
    bodyEnd = -1;
    rangeIgnored = false;
    chunkedDecoder.Reset();
    decoded.clear();
}

bool THttpPeer::AttachAddress(TPeerId *newAddress)
{
    if (!TPeerObject::AttachAddress(newAddress))
        return false;
    ClearResponse();
    TUrlParts &parts = address->Parts();
    if (!parts.wholeContent) {
        if (requests.empty() && parts.serverSize > 0) {
            TPeerObject::PlanRequests();
            if (requests.empty())
                return false;
        }
        position = requests.empty() ? 0 : requests.front().block * kBlockBytes;
    } else {
        position = 0;
        // A failed earlier attempt must not leave its bytes in front.
        if (!parts.contentComplete)
            parts.content.clear();
        if (address->mainTorrent)
            task->Pool().SetPhase(kPhaseFetchingTorrent);
    }

    stage = socket->Connect(address->address, address->port, false) ? PEER_STAGE_CONNECTING : PEER_STAGE_NONE;
    counters.pendingBlocks = 0;
    if (!IsConnected())
        return false;
    return QueueRequest();
}

bool THttpPeer::QueueRequest()
{
    TUrlParts &parts = address->Parts();
    parts.referer = HttpRefererOf(address->url);
    THttpGet get;
    get.path = HttpRequestPath(address->url);
    get.host = parts.host;
    get.port = address->port;
    get.referer = parts.referer.empty() ? address->url : parts.referer;
    get.position = position;
    // Only the source that gave the validator can judge it.
    get.ifRange = task->Store().SourceValidator(address->url);
    std::string request = BuildHttpGet(get);
    if (request.empty()) {
        EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP request refused for %.512s: unsafe or overlong URL parts",
                        address->url.c_str());
        CloseSocket();
        stage = PEER_STAGE_NONE;
        return false;
    }
    return socket->SendBuffer().Append(request.data(), static_cast<int32_t>(request.size()));
}

bool THttpPeer::KeepsAlive() const
{
    std::string connection;
    bool named = responseHeader.Find("Connection", connection);
    for (char &c : connection)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (responseHeader.version == "HTTP/1.1")
        return !named || connection.find("close") == std::string::npos;
    return named && connection.find("keep-alive") != std::string::npos;
}

bool THttpPeer::AskAgainOnThisConnection()
{
    // Only a response read to its very end leaves the connection clean.
    if (bodyEnd < 0 || position != bodyEnd || socket->ReceiveLength() > 0 || !decoded.empty() || !KeepsAlive())
        return false;
    ClearResponse();
    position = requests.front().block * kBlockBytes;
    counters.pendingBlocks = 0;
    counters.activityTime = Now();
    stage = PEER_STAGE_CONNECTING;
    return true;
}

int32_t THttpPeer::ReadBudget() const
{
    int32_t allowance = task->Meters().DownloadAllowance();
    if (allowance <= 0)
        return stage == PEER_STAGE_CONNECTING ? kHeadRead : 0;
    return std::min(allowance, kReadChunk);
}

bool THttpPeer::DecodeBuffered()
{
    if (!frame.chunked || !socket || socket->ReceiveLength() <= 0)
        return true;
    int32_t used = 0;
    THttpChunkedDecoder::Result result =
        chunkedDecoder.Decode(socket->ReceiveBuffer().Data(), socket->ReceiveLength(), decoded, used);
    socket->ConsumeReceived(used);
    if (result == THttpChunkedDecoder::Result::Bad)
        return Refuse("malformed chunked body", kServerPenalty);
    // The last chunk ends the body, whatever the head said.
    if (result == THttpChunkedDecoder::Result::Done && bodyEnd < 0)
        bodyEnd = position + static_cast<int64_t>(decoded.size());
    return true;
}

const uint8_t *THttpPeer::BodyData() const
{
    return frame.chunked ? decoded.data() : socket->ReceiveBuffer().Data();
}

int64_t THttpPeer::BodyLength() const
{
    int64_t held = frame.chunked ? static_cast<int64_t>(decoded.size()) : (socket ? socket->ReceiveLength() : 0);
    if (bodyEnd >= 0)
        held = std::min(held, std::max<int64_t>(bodyEnd - position, 0));
    return held;
}

void THttpPeer::ConsumeBody(int64_t count)
{
    if (count <= 0)
        return;
    if (frame.chunked)
        decoded.erase(decoded.begin(), decoded.begin() + count);
    else
        socket->ConsumeReceived(static_cast<int32_t>(count));
}

bool THttpPeer::Refuse(const std::string &why, int32_t penalty)
{
    EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP answer from %.512s refused: %.512s", address->url.c_str(), why.c_str());
    task->Pool().SourceFailed(address, why, false);
    CloseSocket();
    task->Pool().Penalize(address, this, penalty);
    return false;
}

bool THttpPeer::ReadInput()
{
    if (!IsConnected())
        return false;
    if (IsTimedOut()) {
        task->Pool().Penalize(address, this, kTimeoutPenalty);
        return false;
    }
    int32_t budget = ReadBudget();
    if (budget <= 0)
        return true;
    if (!headerParsed)
        return ReadHeader(budget);
    if (WholeContent())
        return ReadWholeContent(budget);
    return ReadBlocks(budget);
}

bool THttpPeer::ReadHeader(int32_t budget)
{
    if (socket->Receive(budget) < 0)
        return false;
    const QSocketBuffer &buffer = socket->ReceiveBuffer();
    int32_t end = THttpResponseHeader::FindEnd(buffer.Text(), buffer.Length());
    if (end == 0)
        return true;
    if (end < 0)
        return Refuse("response head longer than 64 KiB", kServerPenalty);
    responseHeader.Parse(buffer.Text(), end);
    socket->ConsumeReceived(end);
    headerParsed = true;
    stage = PEER_STAGE_USABLE;
    counters.activityTime = Now();

    int32_t status = responseHeader.statusCode;
    if (status >= 200 && status < 300)
        return AcceptSuccess();
    if (status >= 300 && status < 400)
        return FollowRedirect();
    EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP %d %.128s from %.512s", status, responseHeader.reason.c_str(),
                    address->url.c_str());
    CloseSocket();
    const bool clientError = status >= 400 && status < 500;
    task->Pool().SourceFailed(address, "HTTP " + std::to_string(status) + " " + responseHeader.reason.substr(0, 128),
                              clientError);
    if (clientError)
        task->Pool().RemoveAddress(address);
    else if (status >= 500 && status < 600)
        task->Pool().Penalize(address, this, kServerPenalty);
    return false;
}

bool THttpPeer::CheckBodyPlacement()
{
    if (frame.start == position)
        return true;
    // A server that ignores Range sends the whole file: the stream is read
    // from byte 0 and the bytes before the wanted block are skipped.
    if (frame.start == 0 && !frame.hasRange && !WholeContent()) {
        EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP server of %.512s ignored the range from %lld; reading from byte 0",
                        address->url.c_str(), static_cast<long long>(position));
        rangeIgnored = true;
        position = 0;
        return true;
    }
    return Refuse("body starts at byte " + std::to_string(frame.start) + ", asked for byte " + std::to_string(position),
                  kServerPenalty);
}

void THttpPeer::LearnSize()
{
    TUrlParts &parts = address->Parts();
    if (parts.serverSize > 0)
        return;
    if (frame.hasRange || frame.hasLength) {
        parts.serverSize = frame.total;
    } else {
        noLength = true;
        parts.serverSize = -1;
    }
    if (parts.wholeContent && parts.serverSize <= 0)
        parts.serverSize = kOpenEndedContent;
}

bool THttpPeer::AcceptSuccess()
{
    if (address->origin == kOriginConfigured)
        address->origin = kOriginConfirmed;
    std::string problem;
    if (!DescribeHttpBody(responseHeader, frame, problem))
        return Refuse(problem, kServerPenalty);
    if (!task->Store().CheckSourceVersion(address->url, HttpValidatorOf(responseHeader))) {
        // Another version of the file: not one byte of it is stored.
        CloseSocket();
        return false;
    }
    if (!CheckBodyPlacement())
        return false;
    bodyEnd = frame.length >= 0 ? frame.start + frame.length : -1;

    TUrlParts &parts = address->Parts();
    // The file changed under the server, or the answer lies about it.
    if (parts.serverSize > 0 && frame.total > 0 && frame.total != parts.serverSize && !parts.wholeContent)
        return Refuse("size " + std::to_string(frame.total) + " differs from " + std::to_string(parts.serverSize),
                      kServerPenalty);
    if (parts.wholeContent && frame.length > kMaxWholeContent)
        return Refuse("resource of " + std::to_string(frame.length) + " bytes is too large to hold", kServerPenalty);
    if (address->useCount > 1)
        return true;

    parts.redirected = false;
    LearnSize();
    std::string disposition;
    std::string name;
    if (responseHeader.Find("Content-Disposition", disposition))
        name = BaseName(DispositionFileName(disposition));
    if (!name.empty())
        parts.fileName = name;
    else if (parts.fileName.empty())
        parts.fileName = kDefaultFileName;
    if (noLength && !parts.wholeContent) {
        // Asking again brings the same answer: this source cannot serve
        // blocks, and saying so now beats a silent time-out.
        EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP server of %.512s sends no length", address->url.c_str());
        task->Pool().SourceFailed(address, "the server sends no length; ranged download impossible", true);
        CloseSocket();
        task->Pool().RemoveAddress(address);
        return false;
    }
    return parts.serverSize > 0;
}

bool THttpPeer::FollowRedirect()
{
    TUrlParts &parts = address->Parts();
    parts.redirected = true;
    std::string location;
    responseHeader.Find("Location", location);
    std::string target;
    THttpRedirectVerdict verdict = ResolveHttpRedirect(location, parts.host, address->port, target);
    CloseSocket();
    if (verdict != THttpRedirectVerdict::Follow) {
        EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP %d from %.512s: %.768s", responseHeader.statusCode, address->url.c_str(),
                        target.c_str());
        if (verdict == THttpRedirectVerdict::NoLocation)
            task->Pool().Penalize(address, this, kServerPenalty);
        else
            task->Pool().RemoveAddress(address);
        return false;
    }
    if (parts.redirectHops >= kHttpMaxRedirectHops) {
        EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP redirect from %.512s refused: more than %d hops", address->url.c_str(),
                        kHttpMaxRedirectHops);
        task->Pool().RemoveAddress(address);
        return false;
    }
    if (target == parts.lastRedirect) {
        if (++parts.redirectCount > kSameTargetLimit)
            task->Pool().RemoveAddress(address);
    } else {
        parts.lastRedirect = target;
        ++parts.redirectCount;
    }

    auto next = TRef<TPeerId>::Adopt(new TPeerId);
    TUrlParts &nextParts = next->Parts();
    nextParts.referer = target;
    nextParts.wholeContent = parts.wholeContent;
    nextParts.redirectHops = parts.redirectHops + 1;
    next->mainTorrent = address->mainTorrent;
    if (next->Parse(target)) {
        next->origin = kOriginConfirmed;
        task->Pool().AddAddress(next);
    } else if (next->invalidHost) {
        task->Pool().HostNotFound();
    } else {
        EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP redirect target %.768s does not parse", target.c_str());
    }
    state = PEER_STATE_FINISHED;
    return false;
}

bool THttpPeer::TakeContent()
{
    TUrlParts &parts = address->Parts();
    if (!DecodeBuffered())
        return false;
    int64_t available = BodyLength();
    if (available > 0) {
        if (static_cast<int64_t>(parts.content.size()) + available > kMaxWholeContent)
            return Refuse("resource grows past " + std::to_string(kMaxWholeContent) + " bytes", kServerPenalty);
        if (parts.content.capacity() - parts.content.size() < 4096)
            parts.content.reserve(parts.content.size() + static_cast<size_t>(available) + 4096);
        parts.content.append(reinterpret_cast<const char *>(BodyData()), static_cast<size_t>(available));
        ConsumeBody(available);
        position += available;
        counters.activityTime = Now();
    }
    if (static_cast<int64_t>(parts.content.size()) >= parts.serverSize || (bodyEnd >= 0 && position >= bodyEnd))
        parts.contentComplete = true;
    return true;
}

bool THttpPeer::ReadWholeContent(int32_t budget)
{
    TUrlParts &parts = address->Parts();
    // What came with the head is taken before a receive can meet the close.
    if (!TakeContent())
        return false;
    if (parts.contentComplete)
        return true;
    if (socket->Receive(budget) < 0) {
        // Without a length the body ends when the server closes; a chunked
        // body ends only with its last chunk.
        if ((noLength && !frame.chunked) || static_cast<int64_t>(parts.content.size()) >= parts.serverSize) {
            parts.contentComplete = true;
            return true;
        }
        EngineLogFormat(LOG_CHANNEL_HTTP, "HTTP body of %.512s ended after %zu bytes", address->url.c_str(),
                        parts.content.size());
        return false;
    }
    return TakeContent();
}

bool THttpPeer::DeliverBuffered()
{
    if (!DecodeBuffered())
        return false;
    int64_t dropped = std::min(skip, BodyLength());
    if (dropped > 0) {
        ConsumeBody(dropped);
        position += dropped;
        skip -= dropped;
    }
    // The delivered bytes leave the buffer in one step: consuming block by
    // block would move the rest of a large buffer down for every block.
    const int64_t available = BodyLength();
    int64_t used = 0;
    bool delivered = true;
    while (skip == 0 && counters.pendingBlocks > 0 && !requests.empty()) {
        const TBlockRequest head = requests.front();
        // Bytes go only where the stream stands and only while the answer
        // holds them; otherwise planning moves or renews the stream.
        if (head.block * kBlockBytes != position || ResponseExhaustedAt(position, head.length)) {
            counters.pendingBlocks = 0;
            break;
        }
        if (available - used < head.length)
            break;
        delivered = DeliverBlock(head.block, head.length, BodyData() + used);
        used += head.length;
        position += head.length;
        --counters.pendingBlocks;
        if (!delivered)
            break;
        if (RangeEnded()) {
            counters.pendingBlocks = 0;
            skip = 0;
        }
    }
    ConsumeBody(used);
    return delivered;
}

bool THttpPeer::ReadBlocks(int32_t budget)
{
    if (counters.pendingBlocks <= 0)
        return true;
    // Buffered bytes first: a receive that meets the close frees the buffer.
    if (!DeliverBuffered())
        return false;
    if (counters.pendingBlocks <= 0)
        return IsConnected();
    int32_t held = socket->Receive(budget);
    if (held < 0)
        return false;
    if (held > 0)
        counters.activityTime = Now();
    return DeliverBuffered() && IsConnected();
}

bool THttpPeer::ResponseExhaustedAt(int64_t offset, int32_t length) const
{
    return bodyEnd >= 0 && offset + length > bodyEnd;
}

bool THttpPeer::PlanRequests()
{
    if (!IsConnected())
        return false;
    if (!headerParsed || counters.pendingBlocks > 0 || WholeContent())
        return true;
    TUrlParts &parts = address->Parts();
    if (parts.serverSize > 0) {
        int64_t fileSize = task->Store().FileSize();
        if (fileSize > 0 && fileSize != parts.serverSize)
            return Refuse("server size " + std::to_string(parts.serverSize) + " differs from the task's " +
                              std::to_string(fileSize),
                          kServerPenalty);
        if (requests.empty()) {
            skip = 0;
            TPeerObject::PlanRequests();
            if (requests.empty() && fileSize > 0) {
                state = PEER_STATE_FINISHED;
                return false;
            }
        }
    }
    if (requests.empty())
        return true;
    int32_t run = 1;
    while (run < static_cast<int32_t>(requests.size()) && requests[run].block == requests[run - 1].block + 1)
        ++run;
    counters.pendingBlocks = run;
    if (state == PEER_STATE_IDLE)
        state = PEER_STATE_WAITING;

    const TBlockRequest &head = requests.front();
    skip = head.block * kBlockBytes - position;
    bool reachable = skip >= 0 && (skip <= kSkipReach || rangeIgnored);
    if (reachable && !ResponseExhaustedAt(head.block * kBlockBytes, head.length))
        return true;
    skip = 0;
    headerParsed = false;
    ++address->reconnects;
    if (AskAgainOnThisConnection())
        return QueueRequest();
    return AttachAddress(address);
}

bool THttpPeer::FlushOutput()
{
    if (IsConnected() && socket->SendLength() > 0)
        return socket->Flush() >= 0;
    return IsConnected();
}

bool THttpPeer::IsTimedOut()
{
    return SilentLongerThan(headerParsed ? kBodyTimeout : kHeaderTimeout);
}

void THttpPeer::Reset()
{
    TPeerObject::Reset();
    ClearResponse();
    position = 0;
}

void THttpPeer::ReleaseRange()
{
    TPeerObject::ReleaseRange();
    skip = 0;
    counters.pendingBlocks = 0;
}
