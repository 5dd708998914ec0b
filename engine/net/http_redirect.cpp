#include "engine/net/http_redirect.h"

#include "engine/net/http_request.h"

namespace {

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The scheme a value names ("https" of "https://..."), empty for a relative
// reference. A scheme is a letter then letters, digits, "+", "-" or "."
// before a ":" that comes before any "/", "?" or "#".
std::string SchemeOf(const std::string &value)
{
    if (value.empty() || !IsLetter(value[0]))
        return std::string();
    for (size_t i = 1; i < value.size(); ++i) {
        char c = value[i];
        if (c == ':')
            return value.substr(0, i);
        if (!IsLetter(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.')
            return std::string();
    }
    return std::string();
}

std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

THttpRedirectVerdict ResolveHttpRedirect(const std::string &location, const std::string &host, int32_t port,
                                         std::string &target)
{
    size_t from = location.find_first_not_of(" \t");
    size_t to = location.find_last_not_of(" \t");
    std::string value = from == std::string::npos ? std::string() : location.substr(from, to - from + 1);
    if (value.empty()) {
        target = "redirect without a Location";
        return THttpRedirectVerdict::NoLocation;
    }
    std::string scheme = Lower(SchemeOf(value));
    if (!scheme.empty()) {
        bool fetchable = (scheme == "http" && Lower(value.substr(0, 7)) == "http://") ||
                         (scheme == "ftp" && Lower(value.substr(0, 6)) == "ftp://");
        if (!fetchable) {
            target = "redirect to an unsupported scheme refused: " + value.substr(0, 256);
            return THttpRedirectVerdict::OtherScheme;
        }
        target = value;
    } else if (value.compare(0, 2, "//") == 0) {
        target = "http:" + value;
    } else {
        target = "http://" + host;
        if (port != 80)
            target += ":" + std::to_string(port);
        if (value[0] != '/')
            target += "/";
        target += value;
    }
    if (target.size() > kHttpMaxUrlLength) {
        target = "redirect target longer than " + std::to_string(kHttpMaxUrlLength) + " bytes refused";
        return THttpRedirectVerdict::TooLong;
    }
    return THttpRedirectVerdict::Follow;
}
