#include "report/report_poster.h"

#include <curl/curl.h>

#include "report/curl_ready.h"
#include "report/reserved_url.h"

namespace {
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
    return IsReservedUrl(url);
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
