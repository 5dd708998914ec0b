#include "engine/net/http_validator.h"

#include "engine/net/http_response_header.h"

namespace {
constexpr size_t kMaxValidatorBytes = 256;

bool Usable(const std::string &value)
{
    if (value.empty() || value.size() > kMaxValidatorBytes)
        return false;
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}
} // namespace

std::string HttpValidatorOf(const THttpResponseHeader &header)
{
    std::string value;
    if (header.Find("ETag", value) && value.rfind("W/", 0) != 0 && Usable(value))
        return value;
    if (header.Find("Last-Modified", value) && Usable(value))
        return value;
    return std::string();
}
