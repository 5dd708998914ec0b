#include "engine/net/http_request.h"

namespace {

const char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98) Quarrowlight/1.0.3";
constexpr int32_t kDefaultHttpPort = 80;

bool SafeInLine(const std::string &part)
{
    for (unsigned char c : part)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

// Length of the scheme prefix ("http://") of url, 0 when it has none.
size_t SchemeLength(const std::string &url)
{
    size_t mark = url.find("://");
    if (mark == std::string::npos || url.find('/') < mark)
        return 0;
    return mark + 3;
}

} // namespace

std::string HttpRequestPath(const std::string &url)
{
    size_t slash = url.find('/', SchemeLength(url));
    return slash == std::string::npos ? std::string("/") : url.substr(slash);
}

std::string HttpRefererOf(const std::string &url)
{
    size_t slash = url.rfind('/');
    return slash == std::string::npos ? url : url.substr(0, slash);
}

std::string BuildHttpGet(const THttpGet &get)
{
    if (get.path.empty() || get.path.size() > kHttpMaxUrlLength || get.host.size() > kHttpMaxUrlLength ||
        get.referer.size() > kHttpMaxUrlLength || get.ifRange.size() > kHttpMaxUrlLength)
        return std::string();
    if (!SafeInLine(get.path) || !SafeInLine(get.host) || !SafeInLine(get.referer) || !SafeInLine(get.ifRange) ||
        get.path.find(' ') != std::string::npos)
        return std::string();
    std::string request;
    request.reserve(get.path.size() + get.host.size() + get.referer.size() + 256);
    request += "GET " + get.path + " HTTP/1.1\r\n";
    request += "Host:" + get.host;
    if (get.port != kDefaultHttpPort)
        request += ":" + std::to_string(get.port);
    request += "\r\n";
    request += "Accept:*/*\r\n";
    request += "Referer: " + get.referer + "\r\n";
    request += std::string("User-Agent:") + kUserAgent + "\r\n";
    request += "Connection:Keep-Alive\r\n";
    if (get.position > 0) {
        request += "Range: bytes=" + std::to_string(get.position) + "-\r\n";
        if (!get.ifRange.empty())
            request += "If-Range: " + get.ifRange + "\r\n";
    }
    request += "Pragma: no-cache\r\n";
    request += "Cache-Control: no-cache\r\n";
    request += "\r\n";
    return request;
}
