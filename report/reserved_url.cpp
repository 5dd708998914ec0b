#include "report/reserved_url.h"

#include <algorithm>
#include <cctype>

#include <curl/curl.h>

#include "engine/base/reserved_host.h"

namespace {
std::string LowerHostOf(const std::string &url)
{
    CURLU *parsed = curl_url();
    if (parsed == nullptr)
        return std::string();
    std::string host;
    char *part = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_GUESS_SCHEME) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK && part != nullptr) {
        host = part;
        curl_free(part);
    }
    curl_url_cleanup(parsed);
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    return host;
}
} // namespace

bool IsReservedUrl(const std::string &url)
{
    const std::string host = LowerHostOf(url);
    return host.empty() || IsReservedHostName(host);
}
