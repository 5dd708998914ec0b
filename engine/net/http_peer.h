#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/net/http_body_frame.h"
#include "engine/net/http_chunked_decoder.h"
#include "engine/net/http_response_header.h"
#include "engine/net/peer_object.h"

// A task's HTTP source. Each GET asks for the rest of the file from a byte
// offset; the body is cut into 16 KiB blocks handed to the piece layer in
// order. When the next wanted block lies behind the stream or more than
// 128 KiB ahead of it, the peer asks again with a new start offset: on the
// same connection when the last answer was read to its end and the server
// keeps connections alive, else on a new one. In whole-content mode the
// address's resource is read whole into memory.
//
// Answers are checked before a byte is stored: a body goes to the offset the
// answer itself names (Content-Range, else byte 0), never to the offset that
// was asked for, and never past the length it announces.
class THttpPeer : public TPeerObject {
public:
    // Farthest a response is read ahead, discarding, instead of reconnecting.
    static constexpr int64_t kSkipReach = 131072;
    // Largest resource read whole into memory.
    static constexpr int64_t kMaxWholeContent = 16 * 1024 * 1024;
    // Largest single read from the socket.
    static constexpr int32_t kReadChunk = 256 * 1024;
    // Head bytes read while the speed limit leaves nothing for this second.
    static constexpr int32_t kHeadRead = 1024;

    explicit THttpPeer(IPeerTask *task);

    bool ReadInput() override;
    bool FlushOutput() override;
    bool PlanRequests() override;
    void Reset() override;
    bool AttachAddress(TPeerId *address) override;
    bool IsTimedOut() override;
    void ReleaseRange() override;

    bool HeaderParsed() const { return headerParsed; }
    int64_t Position() const { return position; }
    int64_t Skip() const { return skip; }
    bool NoLength() const { return noLength; }
    const THttpResponseHeader &ResponseHeader() const { return responseHeader; }

protected:
    ~THttpPeer() override = default;

private:
    // Forgets everything about the current response.
    void ClearResponse();
    // Appends the GET for the current position to the send buffer.
    bool QueueRequest();
    // Whether the server lets the connection carry another request.
    bool KeepsAlive() const;
    // Prepares the next request on the open connection, when the last
    // response was read to its end and the server keeps the connection.
    bool AskAgainOnThisConnection();
    // Most bytes to read now under the task's download allowance.
    int32_t ReadBudget() const;
    bool ReadHeader(int32_t budget);
    bool AcceptSuccess();
    bool CheckBodyPlacement();
    void LearnSize();
    bool FollowRedirect();
    // Decodes what a chunked body has buffered; false when it is malformed.
    bool DecodeBuffered();
    bool ReadWholeContent(int32_t budget);
    // Appends the buffered body to the address's content.
    bool TakeContent();
    bool ReadBlocks(int32_t budget);
    // Skips and delivers from the buffered body; false when a block was refused.
    bool DeliverBuffered();
    // Body bytes of this response buffered and not yet used.
    const uint8_t *BodyData() const;
    int64_t BodyLength() const;
    void ConsumeBody(int64_t count);
    // Closes the connection and backs off from the address; false.
    bool Refuse(const std::string &why, int32_t penalty);
    bool ResponseExhaustedAt(int64_t offset, int32_t length) const;
    bool WholeContent() const;

    bool headerParsed = false;
    int64_t skip = 0;
    int64_t position = 0;
    THttpResponseHeader responseHeader;
    bool noLength = false;

    // Framing of the current response.
    THttpBodyFrame frame;
    // File offset just past the response's last body byte; -1 until close.
    int64_t bodyEnd = -1;
    // The server answered a ranged request with the whole file: the stream
    // runs from byte 0 and reconnecting cannot move it.
    bool rangeIgnored = false;
    THttpChunkedDecoder chunkedDecoder;
    std::vector<uint8_t> decoded;
};
