#include "report/download_report.h"

#include <cerrno>
#include <memory>

#include "engine/base/qmutex.h"
#include "engine/base/log_channels.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/base/report_hooks.h"
#include "report/data_statistics_factory.h"
#include "report/data_upload.h"
#include "report/report_differences.h"
#include "report/report_queue.h"

namespace {
// Guards the current thread object: a reporter holds it from the running
// check to the queue push, so a stop can never delete the object under it.
QSMutex &UploadGuard()
{
    static auto *guard = new QSMutex;
    return *guard;
}
DataUpload *currentUpload = nullptr;
std::string identification;

void LogBuildFailure(const std::string &code)
{
    unsigned long lastError = static_cast<unsigned long>(errno);
    EngineLogWrite("A exception catched in dataupload", LOG_CHANNEL_DATA_UPLOAD);
    EngineLogWrite(("CODE : (" + code + ")").c_str(), LOG_CHANNEL_DATA_UPLOAD);
    EngineLogFormat(LOG_CHANNEL_DATA_UPLOAD, "ErrorCode : (%lu)", lastError);
}
} // namespace

bool CollectDataUpload(const std::string &configPath, const std::string &gameId, const std::string &appVersion,
                       const std::string &gVersion, const std::string &dchannel)
{
    QAutoLock hold(UploadGuard());
    if (currentUpload != nullptr)
        return false;
    IDataStatisticsUser *component = ObtainDataStatistics(kDataStatisticsClassId);
    bool configured = component != nullptr && component->SetConfigPath(configPath);
    TReportContext context;
    if (!gameId.empty() && !appVersion.empty() && !gVersion.empty() && !dchannel.empty())
        context = TReportContext{gameId, appVersion, gVersion, dchannel};

    auto upload = std::make_unique<DataUpload>(component, configured, context);
    if (!upload->Start("CollectDataUpload"))
        return false;
    currentUpload = upload.release();
    if (component != nullptr)
        identification = component->Identification();
    SetReportHooks(TReportHooks{StopReportThread, ReportIdentification});
    return currentUpload->Ready();
}

void ReportEventWithStats(const std::string &code, const std::string &serverIp, const std::string &httpResult,
                          uint32_t totalTime, uint64_t totalBytes, uint64_t averageSpeed, const std::string &progress,
                          uint64_t httpTotalBytes, uint64_t httpAverageSpeed, uint64_t p2pTotalBytes,
                          uint64_t p2pAverageSpeed, int32_t corruptPakId, const std::string &fileName,
                          const std::string &url, const std::string &errorMsg, int32_t flags)
{
    QAutoLock hold(UploadGuard());
    if (currentUpload == nullptr || !currentUpload->IsRunning())
        return;
    EngineLogWrite(code.c_str(), LOG_CHANNEL_DATA_UPLOAD);
    try {
        TReportFields fields{serverIp,       httpResult,       totalTime,     totalBytes,      averageSpeed,
                             progress,       httpTotalBytes,   httpAverageSpeed, p2pTotalBytes, p2pAverageSpeed,
                             corruptPakId,   fileName,         url,           errorMsg};
        TReportDeltas deltas = ProcessReportDifferences().Take(fields);
        if (!currentUpload->Ready() || !currentUpload->HasComponent())
            return;
        ProcessReportQueue().Push(
            TQueuedReport{code, BuildReportFragment(currentUpload->Context(), fields, deltas), flags});
    } catch (...) {
        LogBuildFailure(code);
    }
}

void ReportEvent(const std::string &code, const std::string &errorMsg, int32_t flags)
{
    ReportEventWithStats(code, "", "", 0, 0, 0, "", 0, 0, 0, 0, 0, "", "", errorMsg, flags);
}

void ReportFileEvent(const std::string &code, const std::string &fileName, const std::string &errorMsg)
{
    ReportEventWithStats(code, "", "", 0, 0, 0, "", 0, 0, 0, 0, 0, fileName, "", errorMsg, 0);
}

void StopReportThread()
{
    DataUpload *upload;
    {
        QAutoLock hold(UploadGuard());
        upload = currentUpload;
        currentUpload = nullptr;
    }
    // Outside the guard: the last delivery may take a post's time-out, and
    // reporters meanwhile see no thread and return at once.
    delete upload;
}

std::string ReportIdentification()
{
    QAutoLock hold(UploadGuard());
    return identification;
}
