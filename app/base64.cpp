#include "app/base64.h"

namespace {

// The value of a base64 character; '=' counts as 0; -1 outside the alphabet.
int ValueOf(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return 0;
    return -1;
}

} // namespace

std::string Base64Decode(std::string_view text)
{
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    if (text.size() % 4 != 0)
        return std::string();
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        int values[4];
        for (int k = 0; k < 4; ++k) {
            values[k] = ValueOf(text[i + k]);
            if (values[k] < 0)
                return std::string();
        }
        if (out.size() + 3 > kBase64DecodedLimit)
            break;
        const unsigned group = (static_cast<unsigned>(values[0]) << 18) | (static_cast<unsigned>(values[1]) << 12) |
                               (static_cast<unsigned>(values[2]) << 6) | static_cast<unsigned>(values[3]);
        out.push_back(static_cast<char>((group >> 16) & 0xff));
        if (text[i + 2] == '=')
            break;
        out.push_back(static_cast<char>((group >> 8) & 0xff));
        if (text[i + 3] == '=')
            break;
        out.push_back(static_cast<char>(group & 0xff));
    }
    const size_t decodedNul = out.find('\0');
    if (decodedNul != std::string::npos)
        out.resize(decodedNul);
    return out;
}

std::string Base64Encode(std::string_view bytes)
{
    std::string out(Base64EncodedLength(bytes.size()), '\0');
    Base64EncodeTo(bytes, out.begin());
    return out;
}
