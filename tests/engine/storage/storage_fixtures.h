#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "engine/storage/bencode.h"
#include "engine/storage/block_source.h"
#include "engine/storage/pieces.h"
#include "engine/storage/pieces_event.h"

// Helpers shared by the data-file and piece-store tests: info dictionaries
// built from content, a recording event sink and a counting block source.

inline std::string Sha1Of(const std::string &bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr);
    return std::string(reinterpret_cast<char *>(digest), length);
}

inline std::string BString(const std::string &bytes)
{
    return std::to_string(bytes.size()) + ":" + bytes;
}

inline std::string BInt(const std::string &key, int64_t value)
{
    return BString(key) + "i" + std::to_string(value) + "e";
}

inline std::string PieceHashes(const std::string &stream, int32_t pieceLength)
{
    std::string hashes;
    for (size_t at = 0; at < stream.size(); at += static_cast<size_t>(pieceLength))
        hashes += Sha1Of(stream.substr(at, static_cast<size_t>(pieceLength)));
    return hashes;
}

// Deterministic content that differs from block to block.
inline std::string Content(size_t length, uint32_t seed)
{
    std::string bytes(length, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char &c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

struct TestFile {
    std::vector<std::string> path;
    std::string data;
};

inline std::string SingleFileInfo(const std::string &name, const std::string &data, int32_t pieceLength)
{
    std::string text = "d" + BInt("length", static_cast<int64_t>(data.size()));
    if (!name.empty())
        text += BString("name") + BString(name);
    text += BInt("piece length", pieceLength) + BString("pieces") + BString(PieceHashes(data, pieceLength)) + "e";
    return text;
}

inline std::string MultiFileInfo(const std::string &name, const std::vector<TestFile> &files, int32_t pieceLength)
{
    std::string stream;
    std::string list = "l";
    for (const TestFile &file : files) {
        list += "d" + BInt("length", static_cast<int64_t>(file.data.size())) + BString("path") + "l";
        for (const std::string &part : file.path)
            list += BString(part);
        list += "ee";
        stream += file.data;
    }
    list += "e";
    return "d" + BString("files") + list + BString("name") + BString(name) + BInt("piece length", pieceLength) +
           BString("pieces") + BString(PieceHashes(stream, pieceLength)) + "e";
}

inline std::unique_ptr<QElement> ParseInfo(const std::string &text)
{
    return CreateElement(text.data(), static_cast<int64_t>(text.size()));
}

class RecordingSink : public IPiecesEventSink {
public:
    void OnDataFileEvent(const TPiecesEvent &event) override
    {
        events.push_back(event);
        // The task answers a full disk by asking its worker to stop.
        if (event.code == PIECES_EVENT_DISK_FULL)
            stopRequested = true;
    }
    int Count(int32_t code) const
    {
        int count = 0;
        for (const TPiecesEvent &event : events)
            count += event.code == code ? 1 : 0;
        return count;
    }
    std::vector<TPiecesEvent> events;
    bool stopRequested = false;
};

class CountingSource : public IBlockSource {
public:
    explicit CountingSource(int32_t sourceKind) : kind(sourceKind) {}
    void AddSourceReference() override { ++references; }
    void ReleaseSourceReference() override { --references; }
    int32_t SourceKind() const override { return kind; }
    uint32_t SourceAddress() const override { return address; }
    uint16_t SourcePort() const override { return port; }
    void CountWholePiece() override { ++wholePieces; }
    void CountBadPiece(int32_t piece) override
    {
        ++badPieces;
        lastBadPiece = piece;
    }
    void ClearBadPieces() override { badPieces = 0; }

    int32_t kind;
    uint32_t address = 0;
    uint16_t port = 0;
    int references = 0;
    int wholePieces = 0;
    int badPieces = 0;
    int32_t lastBadPiece = -1;
};

struct PiecesReleaser {
    void operator()(TPieces *pieces) const { pieces->Release(); }
};
using PiecesHandle = std::unique_ptr<TPieces, PiecesReleaser>;

// A data file wired to a recording sink whose stop flag it polls.
inline PiecesHandle MakePieces(RecordingSink &sink, const std::string &saveDirectory,
                               const std::string &targetPath = std::string())
{
    PiecesHandle pieces(new TPieces(&sink, saveDirectory, targetPath));
    pieces->SetStopQuery([&sink] { return sink.stopRequested; });
    return pieces;
}

// Feeds every block of [from, to) of the stream.
inline void FeedBlocks(TPieces &pieces, const std::string &stream, int64_t from, int64_t to,
                       IBlockSource *source = nullptr)
{
    for (int64_t at = from; at < to; at += 16384) {
        const int64_t length = std::min<int64_t>(16384, static_cast<int64_t>(stream.size()) - at);
        pieces.WriteBlock(at / 16384, static_cast<int32_t>(length),
                          reinterpret_cast<const uint8_t *>(stream.data()) + at, source);
    }
}
