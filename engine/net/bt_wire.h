#pragma once
// The BitTorrent wire as bytes: framing of the length-prefixed messages, the
// block fields of request, cancel and piece with their bounds, the messages
// this engine sends, and the HTTP disguise texts. Nothing here touches a
// socket; nothing is read past the length it is given.
#include <cstdint>
#include <string>
#include <vector>

enum : uint8_t {
    BT_CHOKE = 0,
    BT_UNCHOKE = 1,
    BT_INTERESTED = 2,
    BT_NOT_INTERESTED = 3,
    BT_HAVE = 4,
    BT_BITFIELD = 5,
    BT_REQUEST = 6,
    BT_PIECE = 7,
    BT_CANCEL = 8,
};

// Longest message a peer may send (length field, not counting itself).
constexpr int64_t kBtMaxMessage = 524288;
// Largest piece block a peer may send before the connection is dropped.
constexpr int32_t kBtMaxPieceBlock = 131072;
constexpr int32_t kBtBlockFields = 12; // index, begin, length
constexpr int32_t kBtPieceHeader = 13; // length, id, index, begin

uint32_t ReadBigEndian32(const uint8_t *bytes);
void WriteBigEndian32(uint8_t *bytes, uint32_t value);

enum class TBtFrame {
    Incomplete, // wait for more bytes; id is set once it arrived
    Complete,
    Oversized,  // the length field is beyond what any peer may send
};

struct TBtMessage {
    bool keepAlive = false;
    bool hasId = false;
    uint8_t id = 0;
    const uint8_t *payload = nullptr;
    int32_t payloadLength = 0; // announced, also while incomplete
    int32_t frameLength = 0;   // bytes the whole message takes, prefix included
};

// Reads the message at the front of data.
TBtFrame NextBtFrame(const uint8_t *data, int32_t length, TBtMessage &message);

// The geometry blocks are checked against.
struct TBtGeometry {
    int64_t fileSize = 0;
    int32_t pieceLength = 0;
    int32_t pieceCount = 0;
};

// (index, begin, length) of a request, cancel or piece.
struct TBtBlockRef {
    uint32_t index = 0;
    uint32_t begin = 0;
    uint32_t length = 0;
};

// Reads the 12 bytes of a request or cancel; false for any other size.
bool ParseBlockFields(const TBtMessage &message, TBtBlockRef &ref);
// Reads index and begin of a piece, its length being the data that follows;
// false when the payload holds no data.
bool ParsePieceFields(const TBtMessage &message, TBtBlockRef &ref);
// A block this engine can serve or take: inside a piece, on a 16 KiB
// boundary, 1 to 16384 bytes, not past the piece's end.
bool BlockInBounds(const TBtBlockRef &ref, const TBtGeometry &geometry);
// The absolute block number of a block that is in bounds.
int64_t BlockNumber(const TBtBlockRef &ref, const TBtGeometry &geometry);
// The piece and offset of an absolute block.
TBtBlockRef RefOfBlock(int64_t block, int32_t length, const TBtGeometry &geometry);

// The "cannot serve" notice among our own engines: a piece message at
// offset 2 (never a valid block) carrying '5' and the piece index.
constexpr uint32_t kCannotServeBegin = 2;
constexpr uint8_t kCannotServeMark = 0x35;
constexpr int32_t kCannotServeBytes = 18;
// The piece the notice names, or -1 when the message is no such notice.
int64_t CannotServePiece(const TBtMessage &message);

// Appends messages to out.
void AppendSimple(std::vector<uint8_t> &out, uint8_t id);
void AppendHave(std::vector<uint8_t> &out, uint32_t piece);
void AppendBitfield(std::vector<uint8_t> &out, const std::vector<uint8_t> &bitmap);
void AppendBlockMessage(std::vector<uint8_t> &out, uint8_t id, const TBtBlockRef &ref);
void AppendPieceHeader(std::vector<uint8_t> &out, const TBtBlockRef &ref);
void AppendCannotServe(std::vector<uint8_t> &out, uint32_t piece);
void AppendKeepAlive(std::vector<uint8_t> &out);

// The bitmap's bits past pieceCount cleared; a bitmap of the wrong size
// leaves false.
bool MaskSpareBits(std::vector<uint8_t> &bitmap, int32_t pieceCount);
bool BitSet(const std::vector<uint8_t> &bitmap, int64_t index);
void SetBit(std::vector<uint8_t> &bitmap, int64_t index, bool on);
int32_t CountBits(const std::vector<uint8_t> &bitmap);

// The request a disguised outgoing connection opens with. address is the
// IPv4 value as stored (network order), read as a little-endian number.
std::string DisguiseRequest(uint32_t address, int32_t port, int32_t attempts);
// The answer to a disguised incoming connection; its lines vary with the
// engine seconds and the engine time.
std::string DisguiseAnswer(uint32_t engineSeconds, int64_t engineTime);
// A disguise header longer than this is no disguise: the connection fails.
constexpr int32_t kMaxDisguiseHeader = 4096;
