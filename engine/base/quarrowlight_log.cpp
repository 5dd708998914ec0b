#include "engine/base/quarrowlight_log.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "engine/base/report_hooks.h"
#include "platform/append_file.h"
#include "platform/diagnostic_sink.h"
#include "platform/local_time.h"
#include "platform/tick.h"

namespace {
constexpr size_t kLineBytes = 4096;

struct ChannelFile {
    int32_t channel; // -1: every channel not listed
    const char *suffix;
};

// In the order of the paths array.
constexpr ChannelFile kChannelFiles[CQuarrowlightLogApi::kFileCount] = {
    {-1, ".log"},           {4, ".req.log"},         {38, ".dump.log"},   {37, ".checktask.log"},
    {18, ".peerprefer.log"}, {28, ".dataupload.log"}, {25, ".httptrace.log"}, {9, ".checkpeer.log"},
    {29, ".written.log"},   {30, ".sha1check.log"},  {31, ".peerinfo.log"},
};

int FileIndexOfChannel(int32_t channel)
{
    for (int i = 1; i < CQuarrowlightLogApi::kFileCount; ++i) {
        if (kChannelFiles[i].channel == channel)
            return i;
    }
    return 0;
}

std::atomic<CQuarrowlightLog *> engineLog{nullptr};
std::atomic<int> writersInside{0};
} // namespace

CQuarrowlightLogApi::CQuarrowlightLogApi()
{
    SetThresholds(38, 2);
}

void CQuarrowlightLogApi::SetThresholds(int32_t file, int32_t debug)
{
    fileThreshold = file;
    debugThreshold = debug;
}

void CQuarrowlightLogApi::SetBasePath(const char *base)
{
    for (int i = 0; i < kFileCount; ++i)
        paths[i] = std::string(base != nullptr ? base : "") + kChannelFiles[i].suffix;
}

const std::string &CQuarrowlightLogApi::PathOfChannel(int32_t channel) const
{
    return paths[FileIndexOfChannel(channel)];
}

void CQuarrowlightLogApi::Write(const char *text, int32_t channel, int32_t level)
{
    if (fileThreshold == kOff && debugThreshold == kOff)
        return;
    if (level < debugThreshold && channel < fileThreshold)
        return;
    QAutoLock hold(guard);
    std::string time = platform::FormatLocalTimeNow("%X");
    char line[kLineBytes];
    int n = std::snprintf(line, sizeof line, "[%s] [%s]\n", time.c_str(), text != nullptr ? text : "");
    size_t length = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof line - 1);
    if (level >= debugThreshold)
        platform::DiagnosticOutput(std::string(line, length));
    const std::string &path = PathOfChannel(channel);
    if (channel >= fileThreshold && debugThreshold != kOff && !path.empty())
        platform::AppendToFile(path, line, length); // a file that cannot be opened is skipped
}

void CQuarrowlightLogApi::Printf(const char *format, ...)
{
    char text[kLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    QAutoLock hold(guard);
    std::string time = platform::FormatLocalTimeNow("%Y-%m-%d %X");
    char line[kLineBytes];
    int n = std::snprintf(line, sizeof line, "[%s] [%s]\r\n", time.c_str(), text);
    size_t length = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof line - 1);
    platform::DiagnosticOutput(std::string(line, length));
}

void CreateEngineLog()
{
    if (engineLog.load() != nullptr)
        return;
    auto *made = new (std::nothrow) CQuarrowlightLogApi;
    if (made == nullptr)
        return;
    CQuarrowlightLog *expected = nullptr;
    if (!engineLog.compare_exchange_strong(expected, made))
        delete made;
}

void ReleaseEngineLog()
{
    StopReportThroughHook();
    CQuarrowlightLog *old = engineLog.exchange(nullptr);
    if (old == nullptr)
        return;
    // A writer that read the pointer before it was cleared may still be inside.
    while (writersInside.load() != 0)
        platform::SleepMs(1);
    delete old;
}

CQuarrowlightLog *EnterEngineLog()
{
    writersInside.fetch_add(1);
    return engineLog.load();
}

void LeaveEngineLog()
{
    writersInside.fetch_sub(1);
}

void EngineLogWrite(const char *text, int32_t number)
{
    WithEngineLog([&](CQuarrowlightLog &log) { log.Write(text, number, number); });
}

void EngineLogFormat(int32_t number, const char *format, ...)
{
    if (engineLog.load() == nullptr)
        return;
    char text[kLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    EngineLogWrite(text, number);
}
