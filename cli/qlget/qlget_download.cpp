#include "cli/qlget/qlget_download.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/qlget/qlget_notices.h"
#include "cli/qlget/qlget_output.h"
#include "cli/qlget/qlget_progress.h"
#include "engine/base/quarrowlight_log.h"
#include "engine/core/engine_interface.h"
#include "platform/file_query.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"
#include "platform/tick.h"

namespace fs = std::filesystem;

namespace {
constexpr uint32_t kPollMs = 100;
constexpr uint32_t kTerminalRedrawMs = 250;
constexpr uint32_t kLogLineMs = 5000;

// Draws the progress line in place on a terminal, else a line now and then.
class TProgressPrinter {
public:
    TProgressPrinter() : terminal(platform::StandardErrorIsTerminal()) {}

    // Shows the line when its period has passed, or at once when final.
    void Show(const TTaskInfo &info, bool final = false)
    {
        uint32_t now = platform::TickCount();
        if (!final && shown && now - lastShown < (terminal ? kTerminalRedrawMs : kLogLineMs))
            return;
        shown = true;
        lastShown = now;
        std::string line = FormatProgressLine(info);
        if (terminal)
            std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        else
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

    // Ends the live line so that messages start on their own line.
    void Finish()
    {
        if (terminal && shown)
            std::fputc('\n', stderr);
        shown = false;
    }

private:
    bool terminal;
    bool shown = false;
    uint32_t lastShown = 0;
};

bool CopyText(char (&field)[kEnginePathChars], const std::string &text)
{
    if (text.size() >= sizeof field)
        return false;
    std::memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

// The partial file already holds part of the space the file needs.
TQlgetOutcome DiskFullOf(const fs::path &target, const TTaskInfo &info)
{
    std::error_code error;
    uint64_t held = fs::file_size(target.string() + ".qltmp", error);
    if (error)
        held = 0;
    fs::path folder = target.parent_path();
    return DiskFullOutcome(folder.string(), static_cast<uint64_t>(info.totalKB) * 1024, held,
                           platform::FreeBytesOfPath(folder.string()));
}

TQlgetOutcome Interrupted(TTaskHandle handle, int signal, TProgressPrinter &printer)
{
    printer.Finish();
    // Stopping the task saves its resume state before the engine goes.
    StopDownloadTask(handle, false);
    UninitEngine();
    return {ExitCodeOfSignal(signal), "interrupted; the same command continues the download"};
}

TQlgetOutcome Finished(TTaskHandle handle, const TQlgetOutput &files, const TTaskInfo &info, uint32_t startedAt)
{
    StopDownloadTask(handle, false);
    UninitEngine();
    if (std::optional<TQlgetOutcome> failed = files.Publish())
        return *failed;
    const fs::path &output = files.Output();
    std::error_code error;
    double seconds = (platform::TickCount() - startedAt) / 1000.0;
    uint64_t bytes = fs::file_size(output, error);
    char text[256];
    std::snprintf(text, sizeof text, "saved %s (%s in %.1f s, %s/s; servers %s, peers %s)", output.c_str(),
                  FormatBytes(bytes).c_str(), seconds,
                  FormatBytes(seconds > 0 ? static_cast<uint64_t>(bytes / seconds) : bytes).c_str(),
                  FormatBytes(info.httpBytes).c_str(), FormatBytes(info.peerBytes).c_str());
    return {QLGET_COMPLETE, text};
}

// After completion: serves peers until a stop signal, which then ends the
// run as a complete one.
TQlgetOutcome Seed(TTaskHandle handle, const TQlgetOutput &files, const TTaskInfo &info, uint32_t startedAt)
{
    std::fprintf(stderr, "qlget: complete; serving peers until stopped\n");
    while (platform::StopSignalCaught() == 0)
        platform::SleepMs(kPollMs);
    return Finished(handle, files, info, startedAt);
}

// Follows the task until it completes, fails or is interrupted. A resumed
// task tells, once its size is known, how much the earlier runs kept.
TQlgetOutcome Follow(TTaskHandle handle, const TQlgetOutput &files, bool resuming, bool seed)
{
    TProgressPrinter printer;
    uint32_t startedAt = platform::TickCount();
    bool warnedHost = false;
    bool toldKept = !resuming;
    TQlgetNotices notices;
    for (;;) {
        if (int signal = platform::StopSignalCaught())
            return Interrupted(handle, signal, printer);
        TTaskDetail detail;
        int32_t running = 0;
        if (GetTaskDetail(handle, &detail) != ENGINE_OK || IsTaskRunning(handle, &running) != ENGINE_OK) {
            printer.Finish();
            UninitEngine();
            return {QLGET_ENGINE_REFUSED, "the engine lost the task"};
        }
        const TTaskInfo &info = detail.info;
        for (const std::string &line : notices.Take(detail, platform::TickCount())) {
            printer.Finish();
            std::fprintf(stderr, "qlget: %s\n", line.c_str());
        }
        if (!toldKept && info.totalKB > 0) {
            toldKept = true;
            printer.Finish();
            std::fprintf(stderr, "qlget: kept %llu bytes from the previous run\n",
                         static_cast<unsigned long long>(info.doneBytes));
        }
        printer.Show(info);
        if (info.state == TASK_STATE_HOST_NOT_FOUND && !warnedHost) {
            warnedHost = true;
            printer.Finish();
            std::fprintf(stderr, "qlget: a source's host name could not be resolved; going on with the others\n");
        }
        // The worker renames the data file as it ends after completion.
        bool complete = info.progress >= 10000;
        if (complete && seed && running) {
            printer.Show(info, true);
            printer.Finish();
            return Seed(handle, files, info, startedAt);
        }
        if (complete && (!running || fs::exists(files.Target()))) {
            printer.Show(info, true);
            printer.Finish();
            return Finished(handle, files, info, startedAt);
        }
        if (!complete && (!running || IsFinalFailureState(info.state))) {
            printer.Finish();
            // Read while the task still exists.
            TTaskDataMismatch mismatch;
            bool told = info.state == TASK_STATE_DATA_MISMATCH &&
                        GetTaskDataMismatch(handle, &mismatch) == ENGINE_OK && mismatch.failures > 0;
            StopDownloadTask(handle, false);
            UninitEngine();
            if (info.state == TASK_STATE_DISK_FULL)
                return DiskFullOf(files.Target(), info);
            if (told)
                return DataMismatchOutcome(mismatch.host, mismatch.piece, mismatch.failures);
            return OutcomeOfStoppedTask(info.state);
        }
        platform::SleepMs(kPollMs);
    }
}
} // namespace

TQlgetOutcome RunQlgetDownload(const TQlgetOptions &options)
{
    TQlgetOutput files;
    if (std::optional<TQlgetOutcome> refused = files.Claim(options))
        return *refused;
    const fs::path &output = files.Output();
    const fs::path &state = files.State();

    TTaskParam param;
    std::memset(&param, 0, sizeof param);
    std::string sources;
    param.flags = TASK_FLAG_FILE_PATH;
    param.downloadLimitKBps = options.limitKBps;
    param.uploadLimitKBps = options.uploadLimitKBps;
    if (!CopyText(param.targetPath, files.Target().string()) || !CopyText(param.resumePath, state.string()))
        return {QLGET_BAD_ARGUMENTS, "the output or state path is too long"};
    std::error_code error;
    if (!options.torrent.empty()) {
        fs::path torrent = fs::absolute(options.torrent, error);
        if (!fs::is_regular_file(torrent, error))
            return {QLGET_BAD_ARGUMENTS, "no torrent file at " + torrent.string()};
        if (!CopyText(param.p2spUrl, "file://" + torrent.string()))
            return {QLGET_BAD_ARGUMENTS, "the torrent path is too long"};
        // Without servers the torrent itself is the task's main source.
        if (options.urls.empty()) {
            sources = param.p2spUrl + std::string("\n");
            param.p2spUrl[0] = '\0';
            param.flags |= TASK_FLAG_BT;
        } else {
            param.flags |= TASK_FLAG_P2SP;
        }
    }
    for (const std::string &url : options.urls)
        sources += url + "\n";
    for (const std::string &peer : options.peers)
        sources += peer + "\n";
    for (const std::string &url : options.trackers)
        sources += "tracker://" + url + "\n";
    param.sourceList = sources.c_str();
    files.ClearEarlierAttempt();

    platform::CatchStopSignals();
    // With no base path the log writes no files: its lines reach standard
    // error only when QUARROWLIGHT_DEBUG_LOG=1 asks for them.
    CreateEngineLog();
    InitEngine();
    if (options.UsesPeers()) {
        if (options.listenPort > 0)
            SetListenPort(options.listenPort);
        EnableHttpWrap(options.httpWrap ? 1 : 0);
        EnableListen(true);
    }
    bool resuming = fs::exists(state, error);
    int32_t status = resuming ? RecoverDownloadTask(&param, false) : CreateDownloadTask(&param);
    if (status != ENGINE_OK) {
        UninitEngine();
        return {QLGET_ENGINE_REFUSED, "the engine refused the task (status " + std::to_string(status) + ")"};
    }
    if (resuming)
        std::fprintf(stderr, "qlget: continuing %s from %s\n", output.c_str(), state.c_str());
    return Follow(param.hTask, files, resuming, options.seed);
}
