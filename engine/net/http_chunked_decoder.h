#pragma once
#include <cstdint>
#include <vector>

// Incremental decoder of a chunked body: size lines (with extensions),
// payload, and the trailer section. Size lines, chunk sizes and trailers are
// bounded, so a hostile server can neither overflow a count nor make the
// decoder buffer without end.
class THttpChunkedDecoder {
public:
    static constexpr int32_t kMaxSizeLine = 4096;
    static constexpr int32_t kMaxTrailer = 64 * 1024;
    // 15 hex digits: below 2^60.
    static constexpr int kMaxSizeDigits = 15;

    enum class Result { More, Done, Bad };

    // Decodes up to length bytes of in, appending payload to out; used tells
    // how many input bytes were taken (all of them unless the body ended).
    Result Decode(const uint8_t *in, int32_t length, std::vector<uint8_t> &out, int32_t &used);
    bool Finished() const { return stage == Stage::Done; }
    void Reset() { *this = THttpChunkedDecoder(); }

private:
    enum class Stage { Size, Extension, SizeEnd, Data, DataEnd, DataEndLf, Trailer, TrailerLf, Done, Bad };

    // Handles one byte of a size line or a line ending.
    Stage SizeByte(uint8_t c);
    Stage TrailerByte(uint8_t c);

    Stage stage = Stage::Size;
    int64_t remaining = 0;
    int32_t digits = 0;
    int32_t lineBytes = 0;
    int32_t trailerBytes = 0;
    bool trailerLineEmpty = true;
};
