#include "cli/qlget/qlget_notices.h"

std::vector<std::string> TQlgetNotices::Take(const TTaskDetail &detail, uint32_t nowMs)
{
    std::vector<std::string> lines;
    const uint64_t arrived = detail.info.httpBytes + detail.info.peerBytes;
    if (!started) {
        started = true;
        bytes = arrived;
        quietSince = lastTold = nowMs;
    }
    if (detail.dataRestarts != restarts) {
        restarts = detail.dataRestarts;
        lines.emplace_back("the file changed on the server; starting again");
    }
    if (detail.sourcesGivenUp != givenUp) {
        givenUp = detail.sourcesGivenUp;
        lines.emplace_back(std::string(detail.sourceFailure) + "; this source is given up");
        lastTold = nowMs;
    }
    if (arrived != bytes) {
        bytes = arrived;
        quietSince = lastTold = nowMs;
    } else if (detail.sourceFailureSerial > 0 && nowMs - quietSince >= kReminderMs && nowMs - lastTold >= kReminderMs) {
        lines.emplace_back(std::string(detail.sourceFailure) + ", retrying");
        lastTold = nowMs;
    }
    return lines;
}
