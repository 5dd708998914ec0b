#pragma once
#include <cstdint>
#include <string>

// The download report: events with transfer figures, queued by the
// application and the engine from any thread and posted in batches by the
// reporting thread to the collection endpoints of the configuration ini.

// Starts reporting: gives the statistics component the configuration (an
// empty path leaves reporting off), keeps the four texts when all are given,
// starts the reporting thread and installs the log's report hooks (stopping
// the thread, and the session id as the report id). True when the thread runs
// and reports will be queued; false when it was already running.
bool CollectDataUpload(const std::string &configPath, const std::string &gameId, const std::string &appVersion,
                       const std::string &gVersion, const std::string &dchannel);

// Queues one report. Dropped silently unless the reporting thread runs and
// reporting is ready.
void ReportEventWithStats(const std::string &code, const std::string &serverIp, const std::string &httpResult,
                          uint32_t totalTime, uint64_t totalBytes, uint64_t averageSpeed, const std::string &progress,
                          uint64_t httpTotalBytes, uint64_t httpAverageSpeed, uint64_t p2pTotalBytes,
                          uint64_t p2pAverageSpeed, int32_t corruptPakId, const std::string &fileName,
                          const std::string &url, const std::string &errorMsg, int32_t flags);
// The same with every other text empty and every figure 0.
void ReportEvent(const std::string &code, const std::string &errorMsg, int32_t flags);
// The same with a file name, and flags 0.
void ReportFileEvent(const std::string &code, const std::string &fileName, const std::string &errorMsg);

// Stops the reporting thread after it delivered what is queued, and deletes
// it; later reports are dropped. Does nothing when none runs.
void StopReportThread();

// The statistics component's identification (its session id) once reporting
// was started; empty before.
std::string ReportIdentification();
