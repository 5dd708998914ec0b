#include "engine/base/hex_digits.h"

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void AppendLowerHex(std::string &out, const uint8_t *bytes, size_t length)
{
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < length; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
    }
}

std::string PercentEscapeBinary(const uint8_t *bytes, size_t length)
{
    std::string text;
    text.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = bytes[i];
        if ((b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
            text += static_cast<char>(b);
        } else {
            text += '%';
            AppendLowerHex(text, &b, 1);
        }
    }
    return text;
}
