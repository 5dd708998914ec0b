#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>

#include "engine/base/qmutex.h"

// The log channels. A line is written with a channel and a level (callers pass
// the same number for both); the channel picks one of eleven files sharing a
// base path, and two thresholds decide between file, diagnostic output, both
// or nothing.
class CQuarrowlightLog {
public:
    virtual ~CQuarrowlightLog() = default;
    virtual void SetThresholds(int32_t fileThreshold, int32_t debugThreshold) = 0;
    virtual void SetBasePath(const char *base) = 0;
    virtual void Write(const char *text, int32_t channel, int32_t level) = 0;
    virtual void Printf(const char *format, ...) __attribute__((format(printf, 2, 3))) = 0;
};

class CQuarrowlightLogApi : public CQuarrowlightLog {
public:
    static constexpr int kFileCount = 11;
    // The value that switches output off.
    static constexpr int32_t kOff = 39;

    CQuarrowlightLogApi();
    void SetThresholds(int32_t fileThreshold, int32_t debugThreshold) override;
    void SetBasePath(const char *base) override;
    void Write(const char *text, int32_t channel, int32_t level) override;
    void Printf(const char *format, ...) override __attribute__((format(printf, 2, 3)));

    // The file a channel's lines go to (empty before SetBasePath).
    const std::string &PathOfChannel(int32_t channel) const;

private:
    int32_t fileThreshold = 38;
    int32_t debugThreshold = 2;
    QSMutex guard;
    std::string paths[kFileCount];
};

// Creates the process-wide log unless one exists.
void CreateEngineLog();
// Stops the download report's thread, then deletes the log once no writer is
// still inside it.
void ReleaseEngineLog();

// Runs fn with the process-wide log while it cannot be deleted; does nothing
// when there is no log.
template <typename Fn> void WithEngineLog(Fn fn);

// Writes text on a channel (level = channel) when a log exists.
void EngineLogWrite(const char *text, int32_t number);
// The same with a printf format, cut at 4096 bytes.
void EngineLogFormat(int32_t number, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Implementation detail of WithEngineLog.
CQuarrowlightLog *EnterEngineLog();
void LeaveEngineLog();

template <typename Fn> void WithEngineLog(Fn fn)
{
    CQuarrowlightLog *log = EnterEngineLog();
    if (log != nullptr)
        fn(*log);
    LeaveEngineLog();
}
