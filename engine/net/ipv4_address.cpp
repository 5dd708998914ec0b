#include "engine/net/ipv4_address.h"

#include <bit>

uint32_t HostToNetwork32(uint32_t value)
{
    if constexpr (std::endian::native == std::endian::little)
        return __builtin_bswap32(value);
    return value;
}

uint32_t NetworkToHost32(uint32_t value)
{
    return HostToNetwork32(value);
}

std::string DottedText(uint32_t networkOrder)
{
    uint32_t host = NetworkToHost32(networkOrder);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
           std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF);
}

bool IsDigitsAndDots(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        if (c != '.' && (c < '0' || c > '9'))
            return false;
    }
    return true;
}

uint32_t DottedParse(std::string_view text)
{
    uint32_t result = 0;
    int parts = 0;
    size_t pos = 0;
    for (;;) {
        if (parts == 4)
            return kNoAddress;
        uint32_t part = 0;
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            part = part * 10 + static_cast<uint32_t>(text[pos] - '0');
            if (part > 255)
                return kNoAddress;
            ++pos;
            ++digits;
        }
        if (digits == 0)
            return kNoAddress;
        result |= part << (8 * (3 - parts));
        ++parts;
        if (pos == text.size())
            break;
        if (text[pos] != '.')
            return kNoAddress;
        ++pos;
    }
    return result == 0 ? kNoAddress : result;
}
