#include "report/report_poster.h"

#include <algorithm>
#include <cctype>

#include <curl/curl.h>

#include "engine/base/reserved_host.h"

namespace {
bool CurlReady()
{
    // Once per process, before the first handle, as libcurl asks.
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

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

size_t CollectResponse(char *data, size_t size, size_t count, void *user)
{
    auto *response = static_cast<std::string *>(user);
    size_t bytes = size * count;
    if (response->size() + bytes > kMaxResponseBytes) {
        response->append(data, kMaxResponseBytes - response->size());
        return 0; // stops the transfer: the rest is not looked at
    }
    response->append(data, bytes);
    return bytes;
}
} // namespace

bool IsRefusedReportUrl(const std::string &url)
{
    if (!CurlReady())
        return true;
    std::string host = LowerHostOf(url);
    return host.empty() || IsReservedHostName(host);
}

TReportPost PostReportForm(const std::string &url, const std::string &body)
{
    TReportPost post;
    if (IsRefusedReportUrl(url))
        return post;
    CURL *curl = curl_easy_init();
    if (curl == nullptr)
        return post;
    post.sent = true;
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectResponse);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &post.response);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kReportTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kReportTimeoutSeconds);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return post;
}
