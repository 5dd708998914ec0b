#include "app/text_fetch.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>

#include <curl/curl.h>

#include "platform/tick.h"
#include "report/curl_ready.h"
#include "report/reserved_url.h"

namespace {

struct TTransfer {
    std::string *body = nullptr;
    const std::function<bool()> *cancelled = nullptr;
};

size_t AppendChunk(char *data, size_t size, size_t count, void *user)
{
    auto *transfer = static_cast<TTransfer *>(user);
    const size_t bytes = size * count;
    if (transfer->body->size() + bytes > kMaxFetchedTextBytes)
        return 0; // a write error ends the transfer
    transfer->body->append(data, bytes);
    return bytes;
}

int CheckCancel(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *transfer = static_cast<TTransfer *>(user);
    return *transfer->cancelled && (*transfer->cancelled)() ? 1 : 0;
}

bool IsWebUrl(const std::string &url)
{
    return strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0;
}

bool Fail(const std::string &url, const char *why, std::string &error)
{
    std::fprintf(stderr, "Failed to get '%s' [%s]\n", url.c_str(), why);
    error = "Failed to get " + url;
    return false;
}

// One request without following redirects; location gets the next URL of a
// redirect answer.
CURLcode GetOnce(CURL *curl, const TTextFetch &request, const std::string &url, long msLeft, TTransfer &transfer,
                 char *errorText, std::string &location, long &code)
{
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendChunk);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancel);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxFetchedTextBytes));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, msLeft);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(msLeft, kFetchConnectSeconds * 1000));
    // Anyone on the path could otherwise expire the build or add mirrors.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    char *next = nullptr;
    location.clear();
    if (result == CURLE_OK && curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &next) == CURLE_OK && next != nullptr)
        location = next;
    return result;
}

} // namespace

bool FetchText(const TTextFetch &request, std::string &body, std::string &error, long &code)
{
    body.clear();
    code = 0;
    // A package stamped without a list has nothing to fetch: no failure to tell.
    if (request.url.empty()) {
        error = "no URL";
        return false;
    }
    if (!IsWebUrl(request.url) || IsReservedUrl(request.url))
        return Fail(request.url, "refused", error);
    if (!CurlReady())
        return Fail(request.url, "libcurl did not start", error);
    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        std::fprintf(stderr, "Failed to create CURL connection\n");
        error = "Failed to get " + request.url;
        return false;
    }
    const uint32_t began = platform::TickCount();
    const long limitMs = std::max<long>(request.timeLimitSeconds, 1) * 1000;
    TTransfer transfer{&body, &request.cancelled};
    char errorText[CURL_ERROR_SIZE] = {};
    std::string url = request.url;
    std::string location;
    bool ok = false;
    for (int hop = 0;; ++hop) {
        const long msLeft = limitMs - static_cast<long>(platform::TickCount() - began);
        if (msLeft <= 0) {
            Fail(request.url, "time limit reached", error);
            break;
        }
        body.clear();
        errorText[0] = '\0';
        const CURLcode result = GetOnce(curl, request, url, msLeft, transfer, errorText, location, code);
        if (result != CURLE_OK) {
            Fail(request.url, errorText[0] != '\0' ? errorText : curl_easy_strerror(result), error);
            break;
        }
        if (code >= 400 && code <= 599) {
            Fail(request.url, ("HTTP " + std::to_string(code)).c_str(), error);
            break;
        }
        if (code < 300 || code > 399) {
            ok = true;
            break;
        }
        // A redirect's own body is never the document.
        if (location.empty()) {
            Fail(request.url, "redirect without a location", error);
            break;
        }
        if (hop == kMaxFetchRedirects) {
            Fail(request.url, "too many redirects", error);
            break;
        }
        // Each hop passes the same checks as the first URL, before any look-up.
        if (!IsWebUrl(location) || IsReservedUrl(location)) {
            Fail(request.url, ("redirect refused: " + location).c_str(), error);
            break;
        }
        url = location;
    }
    curl_easy_cleanup(curl);
    if (!ok)
        body.clear();
    return ok;
}
