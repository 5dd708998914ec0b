#include "report/data_upload.h"

#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "report/download_report.h"

DataUpload::DataUpload(IDataStatisticsUser *statistics, bool isConfigured, const TReportContext &texts)
    : component(statistics), configured(isConfigured), context(texts)
{
}

DataUpload::~DataUpload()
{
    Stop();
}

bool DataUpload::Ready() const
{
    return configured && !context.gameId.empty() && !context.appVersion.empty() && !context.gVersion.empty();
}

void DataUpload::Run()
{
    for (;;) {
        std::vector<TQueuedReport> reports = ProcessReportQueue().TakeAll();
        if (!reports.empty())
            Deliver(reports);
        else if (CheckStop())
            return;
        if (!CheckStop())
            SleepSeconds(1);
    }
}

void DataUpload::Deliver(const std::vector<TQueuedReport> &reports)
{
    for (const TQueuedReport &report : reports) {
        if (!Ready() || component == nullptr)
            continue;
        if (report.code.empty() && report.fragment.empty()) {
            EngineLogWrite("Data Upload Failed with Empty Code Or Body", LOG_CHANNEL_DATA_UPLOAD);
            continue;
        }
        ++handedCount;
        component->QueueEvent(report.code, report.fragment, report.flags);
    }
    if (handedCount > 0)
        component->SubmitBatch();
    handedCount = 0;
}
