#include "platform/diagnostic_sink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {
std::mutex captureLock;
DiagnosticCapture capture;

bool DebugLogEnabled()
{
    static const bool enabled = [] {
        const char *value = std::getenv("QUARROWLIGHT_DEBUG_LOG");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}
} // namespace

void DiagnosticOutput(const std::string &text)
{
    {
        std::lock_guard<std::mutex> hold(captureLock);
        if (capture) {
            capture(text);
            return;
        }
    }
    if (DebugLogEnabled())
        std::fwrite(text.data(), 1, text.size(), stderr);
}

void SetDiagnosticCapture(DiagnosticCapture newCapture)
{
    std::lock_guard<std::mutex> hold(captureLock);
    capture = std::move(newCapture);
}

} // namespace platform
