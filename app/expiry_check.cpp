#include "app/expiry_check.h"

#include "app/resource_list.h"
#include "app/text_fetch.h"

bool ReadExpiry(const std::string &listUrl, std::string &message, std::string &page, const std::string &caFile)
{
    message.clear();
    page.clear();
    TTextFetch request;
    request.url = listUrl;
    request.timeLimitSeconds = kExpiryFetchSeconds;
    request.caFile = caFile;
    std::string text, error;
    long code = 0;
    return FetchText(request, text, error, code) && ReadExpiryText(text, message, page);
}
