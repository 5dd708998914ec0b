#include "engine/net/http_chunked_decoder.h"

#include "engine/base/hex_digits.h"

THttpChunkedDecoder::Stage THttpChunkedDecoder::SizeByte(uint8_t c)
{
    if (++lineBytes > kMaxSizeLine)
        return Stage::Bad;
    if (stage == Stage::SizeEnd)
        return c == '\n' ? (remaining > 0 ? Stage::Data : Stage::Trailer) : Stage::Bad;
    if (c == '\r')
        return digits > 0 ? Stage::SizeEnd : Stage::Bad;
    if (c == '\n') {
        if (digits == 0)
            return Stage::Bad;
        return remaining > 0 ? Stage::Data : Stage::Trailer;
    }
    if (stage == Stage::Extension)
        return Stage::Extension;
    int value = HexDigitValue(static_cast<char>(c));
    if (value >= 0) {
        if (++digits > kMaxSizeDigits)
            return Stage::Bad;
        remaining = remaining * 16 + value;
        return Stage::Size;
    }
    if (c == ';' || c == ' ' || c == '\t')
        return digits > 0 ? Stage::Extension : Stage::Bad;
    return Stage::Bad;
}

THttpChunkedDecoder::Stage THttpChunkedDecoder::TrailerByte(uint8_t c)
{
    if (++trailerBytes > kMaxTrailer)
        return Stage::Bad;
    if (stage == Stage::TrailerLf) {
        if (c != '\n')
            return Stage::Bad;
    } else if (c == '\r') {
        return Stage::TrailerLf;
    } else if (c != '\n') {
        trailerLineEmpty = false;
        return Stage::Trailer;
    }
    // A line ended: an empty one ends the body.
    if (trailerLineEmpty)
        return Stage::Done;
    trailerLineEmpty = true;
    return Stage::Trailer;
}

THttpChunkedDecoder::Result THttpChunkedDecoder::Decode(const uint8_t *in, int32_t length, std::vector<uint8_t> &out,
                                                        int32_t &used)
{
    int32_t at = 0;
    while (at < length && stage != Stage::Done && stage != Stage::Bad) {
        switch (stage) {
        case Stage::Size:
        case Stage::Extension:
        case Stage::SizeEnd:
            stage = SizeByte(in[at++]);
            if (stage == Stage::Data || stage == Stage::Trailer)
                lineBytes = 0;
            break;
        case Stage::Data: {
            int64_t take = length - at;
            if (take > remaining)
                take = remaining;
            out.insert(out.end(), in + at, in + at + take);
            at += static_cast<int32_t>(take);
            remaining -= take;
            if (remaining == 0)
                stage = Stage::DataEnd;
            break;
        }
        case Stage::DataEnd:
            stage = in[at] == '\r' ? Stage::DataEndLf : (in[at] == '\n' ? Stage::Size : Stage::Bad);
            ++at;
            if (stage == Stage::Size)
                digits = 0;
            break;
        case Stage::DataEndLf:
            stage = in[at++] == '\n' ? Stage::Size : Stage::Bad;
            digits = 0;
            break;
        case Stage::Trailer:
        case Stage::TrailerLf:
            stage = TrailerByte(in[at++]);
            break;
        case Stage::Done:
        case Stage::Bad:
            break;
        }
    }
    used = at;
    if (stage == Stage::Bad)
        return Result::Bad;
    return stage == Stage::Done ? Result::Done : Result::More;
}
