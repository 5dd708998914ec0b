#include "engine/net/tracker_http_answer.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "engine/net/gzip_body.h"
#include "engine/net/http_body_frame.h"
#include "engine/net/http_chunked_decoder.h"
#include "engine/net/http_response_header.h"

namespace {

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

TTrackerFrame Refuse(TTrackerHttpAnswer &answer, const std::string &problem)
{
    answer.body.clear();
    answer.problem = problem;
    return TTrackerFrame::Refused;
}

// The body of a chunked answer once its last chunk arrived.
TTrackerFrame Unchunk(const std::string &rest, bool closed, TTrackerHttpAnswer &answer)
{
    THttpChunkedDecoder decoder;
    std::vector<uint8_t> decoded;
    int32_t used = 0;
    THttpChunkedDecoder::Result result = decoder.Decode(reinterpret_cast<const uint8_t *>(rest.data()),
                                                        static_cast<int32_t>(rest.size()), decoded, used);
    if (result == THttpChunkedDecoder::Result::Bad)
        return Refuse(answer, "malformed chunked body");
    if (result == THttpChunkedDecoder::Result::More)
        return closed ? Refuse(answer, "closed inside a chunked body") : TTrackerFrame::Incomplete;
    answer.body.assign(decoded.begin(), decoded.end());
    return TTrackerFrame::Complete;
}

} // namespace

TTrackerFrame FrameTrackerAnswer(const std::string &bytes, bool closed, TTrackerHttpAnswer &answer)
{
    answer = TTrackerHttpAnswer();
    int32_t headLength = THttpResponseHeader::FindEnd(bytes.data(), static_cast<int32_t>(
                                                                        std::min<size_t>(bytes.size(), INT32_MAX)));
    if (headLength < 0)
        return Refuse(answer, "answer head longer than 64 KiB");
    if (headLength == 0)
        return closed ? Refuse(answer, "closed before the answer head ended") : TTrackerFrame::Incomplete;
    THttpResponseHeader header;
    header.Parse(bytes.data(), headLength);
    answer.status = header.statusCode;
    if (header.statusCode < 200 || header.statusCode > 299)
        return Refuse(answer, "HTTP " + std::to_string(header.statusCode) + " " + header.reason);

    const std::string rest = bytes.substr(static_cast<size_t>(headLength));
    if (rest.size() > kMaxTrackerAnswer)
        return Refuse(answer, "answer longer than 1 MiB");
    std::string transfer;
    TTrackerFrame framed = TTrackerFrame::Complete;
    if (header.Find("Transfer-Encoding", transfer) && Lower(transfer).find("chunked") != std::string::npos) {
        framed = Unchunk(rest, closed, answer);
    } else if (std::string lengthText; header.Find("Content-Length", lengthText)) {
        int64_t length = 0;
        if (!ParseByteCount(lengthText, length))
            return Refuse(answer, "malformed Content-Length " + lengthText);
        if (static_cast<uint64_t>(length) > kMaxTrackerAnswer)
            return Refuse(answer, "answer longer than 1 MiB");
        if (rest.size() < static_cast<size_t>(length))
            return closed ? Refuse(answer, "closed before the body ended") : TTrackerFrame::Incomplete;
        answer.body = rest.substr(0, static_cast<size_t>(length));
    } else {
        // Without a length the close ends the body; a NUL inside it is data
        // (a compact peer at 127.0.0.1 holds two).
        if (!closed)
            return TTrackerFrame::Incomplete;
        answer.body = rest;
    }
    if (framed != TTrackerFrame::Complete)
        return framed;

    std::string coding;
    if (header.Find("Content-Encoding", coding)) {
        coding = Lower(coding);
        if (coding == "gzip" || coding == "x-gzip") {
            std::string inflated;
            if (!InflateGzip(answer.body, kMaxTrackerAnswer, inflated))
                return Refuse(answer, "gzip body does not inflate within 1 MiB");
            answer.body = std::move(inflated);
        } else if (coding != "identity" && !coding.empty()) {
            return Refuse(answer, "unsupported Content-Encoding " + coding);
        }
    }
    return TTrackerFrame::Complete;
}
