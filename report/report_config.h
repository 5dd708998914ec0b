#pragma once
#include <string>
#include <vector>

// The report configuration ini written out at start-up.
namespace report_config {

inline constexpr const char *kEventSection = "SubmitEventDownload";
inline constexpr const char *kBatchSection = "SubmitEventDownloadSeveral";
inline constexpr const char *kInputKeywordsKey = "InputDataKeyWord";
inline constexpr const char *kSubmitKeywordsKey = "SubmitDataKeyWord";
inline constexpr const char *kSubmitUrlKey = "SubmitUrl";

// Endpoints beyond this many are ignored: each may cost a 6 s time-out.
inline constexpr int kMaxSubmitUrls = 16;

// The non-empty names of a ';'-separated key of the event section.
std::vector<std::string> ReadKeywords(const std::string &configPath, const char *key);

// The batch endpoints in the order they are tried: "SubmitUrl", then
// "SubmitUrl1", "SubmitUrl2" … up to the first missing or empty one.
std::vector<std::string> ReadSubmitUrls(const std::string &configPath);

} // namespace report_config
