#pragma once
#include <cstdint>
#include <string>

// The texts the application gives once at start-up.
struct TReportContext {
    std::string gameId;
    std::string appVersion;
    std::string gVersion;
    std::string dchannel;
};

// The figures and texts of one report, as the caller hands them over.
struct TReportFields {
    std::string serverIp;
    std::string httpResult;
    uint32_t totalTime = 0;
    uint64_t totalBytes = 0;
    uint64_t averageSpeed = 0;
    std::string progress;
    uint64_t httpTotalBytes = 0;
    uint64_t httpAverageSpeed = 0;
    uint64_t p2pTotalBytes = 0;
    uint64_t p2pAverageSpeed = 0;
    int32_t corruptPakId = 0;
    std::string fileName;
    std::string url;
    std::string errorMsg;
};

// Growth of the four running totals since the previous report that carried them.
struct TReportDeltas {
    uint64_t inTime = 0;
    uint64_t inTotalBytes = 0;
    uint64_t inHttpTotalBytes = 0;
    uint64_t inP2pTotalBytes = 0;
};

// The version of the body layout the collection server reads.
inline constexpr const char *kReportFormatVersion = "1.8";

// The tail of the event's JSON object: starts with a comma, has no braces,
// every value a string. Texts are escaped as JSON strings.
std::string BuildReportFragment(const TReportContext &context, const TReportFields &fields,
                                const TReportDeltas &deltas);
