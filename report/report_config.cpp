#include "report/report_config.h"

#include "platform/ini.h"

namespace report_config {

std::vector<std::string> ReadKeywords(const std::string &configPath, const char *key)
{
    std::string list = platform::IniReadString(configPath, kEventSection, key, "");
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::vector<std::string> ReadSubmitUrls(const std::string &configPath)
{
    std::vector<std::string> urls;
    std::string first = platform::IniReadString(configPath, kBatchSection, kSubmitUrlKey, "");
    if (!first.empty())
        urls.push_back(first);
    for (int number = 1; static_cast<int>(urls.size()) < kMaxSubmitUrls; ++number) {
        std::string url =
            platform::IniReadString(configPath, kBatchSection, kSubmitUrlKey + std::to_string(number), "");
        if (url.empty())
            break;
        urls.push_back(url);
    }
    return urls;
}

} // namespace report_config
