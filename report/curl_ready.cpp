#include "report/curl_ready.h"

#include <curl/curl.h>

bool CurlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}
