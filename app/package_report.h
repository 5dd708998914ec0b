#pragma once
#include <cstdint>
#include <string>

// One report with transfer figures, as the controller fills it; the texts
// and figures it leaves out are empty or 0.
struct TStatsReport {
    std::string code;
    uint32_t totalTime = 0; // seconds of downloading in this run
    uint64_t totalBytes = 0;
    uint64_t averageSpeed = 0;
    std::string progress; // percent text of the overall progress
    uint64_t httpTotalBytes = 0;
    uint64_t httpAverageSpeed = 0;
    uint64_t p2pTotalBytes = 0;
    uint64_t p2pAverageSpeed = 0;
    std::string errorMsg;
};

// The download report as the controller uses it; the real one queues to the
// reporting thread, tests record.
class IPackageReport {
public:
    virtual ~IPackageReport() = default;
    // Starts reporting (an empty configuration path leaves it off).
    virtual void Collect(const std::string &configPath, const std::string &gameId, const std::string &appVersion,
                         const std::string &gameVersion, const std::string &channel) = 0;
    virtual void EventWithStats(const TStatsReport &report) = 0;
    virtual void Event(const std::string &code, const std::string &text, int32_t flags) = 0;
    virtual void FileEvent(const std::string &code, const std::string &fileName, const std::string &text) = 0;
    // Delivers what is queued and stops the reporting thread.
    virtual void Stop() = 0;
    // The report's identification once reporting runs, else empty: message
    // boxes carry it, so a user's report can be found.
    virtual std::string Identification() = 0;
};
