#include "report/data_statistics.h"

#include <cstdio>
#include <utility>

#include "platform/fact_files.h"
#include "platform/random_bytes.h"
#include "report/form_encoding.h"
#include "report/json_text.h"
#include "report/report_config.h"
#include "report/report_poster.h"

namespace {
// The first field of a fresh GUID, "%08X"; empty when no random bytes come.
std::string NewSessionId()
{
    uint32_t first = 0;
    if (!platform::RandomBytes(&first, sizeof first))
        return std::string();
    char text[9];
    std::snprintf(text, sizeof text, "%08X", first);
    return text;
}

bool ContainsAll(const std::string &text, const std::vector<std::string> &names)
{
    for (const auto &name : names) {
        if (text.find(name) == std::string::npos)
            return false;
    }
    return true;
}
} // namespace

CDataStatisticsImp::CDataStatisticsImp(std::unique_ptr<CMachineProfile> machine)
    : profile(std::move(machine)), sessionId(NewSessionId())
{
}

bool CDataStatisticsImp::SetConfigPath(const std::string &path)
{
    QAutoLock hold(guard);
    configPath = path;
    return !path.empty();
}

int32_t CDataStatisticsImp::QueueEvent(const std::string &code, const std::string &fragment, int32_t flags)
{
    QAutoLock hold(guard);
    ++pendingAttempts;
    if (code.empty() || fragment.empty())
        return kEventEmpty;
    if (pendingAttempts > kMaxEventsPerBatch)
        return kEventBatchFull;
    if (configPath.empty() || !platform::RegularFileExists(configPath))
        return kEventNoConfiguration;
    if (!ContainsAll(fragment, report_config::ReadKeywords(configPath, report_config::kInputKeywordsKey)))
        return kEventMissingKeyword;
    pending.push_back({code, fragment, flags});
    return kEventAccepted;
}

std::string CDataStatisticsImp::InfoText(const PendingEvent &event)
{
    Json::Value record(Json::objectValue);
    profile->FillRecord(event.flags, record);
    record["Sessionid"] = sessionId;
    record["Sequence"] = Json::UInt64(sequence);
    // The machine members without their braces, then the fragment (which
    // starts with its comma), in one pair of braces: one JSON object.
    std::string machine = WriteCompactJson(record);
    return "{" + machine.substr(1, machine.size() - 2) + event.fragment + "}";
}

std::string CDataStatisticsImp::BatchText()
{
    profile->ConnectWmi();
    std::vector<std::string> required = report_config::ReadKeywords(configPath, report_config::kSubmitKeywordsKey);
    Json::Value batch(Json::arrayValue);
    for (const PendingEvent &event : pending) {
        std::string info = InfoText(event);
        ++sequence;
        if (!ContainsAll(info, required)) {
            batch.append(Json::Value());
            continue;
        }
        Json::Value element(Json::objectValue);
        element["code"] = event.code;
        element["info"] = info;
        batch.append(element);
    }
    return WriteCompactJson(batch);
}

bool CDataStatisticsImp::SubmitBatch()
{
    std::string body;
    std::vector<std::string> urls;
    {
        QAutoLock hold(guard);
        if (!pending.empty()) {
            body = "data=" + FormEncode(BatchText());
            urls = report_config::ReadSubmitUrls(configPath);
        }
        // Reset even when every attempt was refused, so refusals cannot pile
        // up towards the per-batch cap and shut later batches out.
        pending.clear();
        pendingAttempts = 0;
    }
    // Posted outside the lock: a stalled endpoint holds up no one but this call.
    for (const std::string &url : urls) {
        if (PostReportForm(url, body).response.find("\"error\":0") != std::string::npos)
            return true;
    }
    return false;
}
