#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Base64 with the standard alphabet (RFC 4648), as the manifest slots and the
// report configuration resource carry their texts.

// Decodes a text, which ends at its first NUL or at the end of the view.
// A length that is not a multiple of four, or a byte outside the alphabet,
// gives the empty string. A group whose third character is '=' gives one
// byte, one whose fourth is '=' two, and either ends the decoding. The
// result holds at most kBase64DecodedLimit bytes (decoding stops before a
// group that would pass it) and ends at its first decoded NUL, since it is
// used as a NUL-terminated text.
inline constexpr size_t kBase64DecodedLimit = 4095;
std::string Base64Decode(std::string_view text);

constexpr size_t Base64EncodedLength(size_t bytes)
{
    return (bytes + 2) / 3 * 4;
}

// Writes the encoding of bytes to out, which must hold
// Base64EncodedLength(bytes.size()) characters. Usable at compile time, so
// the built-in manifest is written from its plain values.
template <typename Out> constexpr void Base64EncodeTo(std::string_view bytes, Out out)
{
    constexpr const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t o = 0;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned b0 = static_cast<unsigned char>(bytes[i]);
        const unsigned b1 = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0u;
        const unsigned b2 = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0u;
        const unsigned group = (b0 << 16) | (b1 << 8) | b2;
        out[o++] = alphabet[(group >> 18) & 63];
        out[o++] = alphabet[(group >> 12) & 63];
        out[o++] = i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        out[o++] = i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
}

std::string Base64Encode(std::string_view bytes);
