#include "cli/quarrowlight/package_display.h"

#include "app/package_state.h"
#include "cli/common/terminal_units.h"
#include "platform/tick.h"

namespace {

constexpr uint32_t kTerminalRedrawMs = 500;
constexpr uint32_t kLogLineMs = 5000;

std::string Percent(uint32_t hundredths)
{
    char text[16];
    std::snprintf(text, sizeof text, "%3u.%02u%%", hundredths / 100, hundredths % 100);
    return text;
}

std::string Tail(const std::string &speedAndSources, uint64_t httpBytes, uint64_t peerBytes)
{
    return speedAndSources + "  servers " + FormatBytes(httpBytes) + "  peers " + FormatBytes(peerBytes);
}

} // namespace

std::string PackageStateText(uint32_t state)
{
    if (const char *name = PackageStateLogName(state))
        return name;
    if (state == PACKAGE_INSTALLING)
        return "installing";
    return "state " + std::to_string(state);
}

std::string FormatFileLine(const TFileView &file)
{
    std::string line = file.name + "  " + file.statusText + "  " + Percent(file.progress);
    if (file.done)
        return Tail(line, file.httpBytes, file.peerBytes);
    return Tail(line + "  " + FormatBytes(file.speed) + "/s  ETA " +
                    FormatDuration(KnownSecondsLeft(file.speed, file.secondsLeft)),
                file.httpBytes, file.peerBytes);
}

std::string FormatPackageLine(const TPackageView &package)
{
    std::string line = "total  " + PackageStateText(package.state) + "  " + Percent(package.progress) + "  " +
                       FormatBytes(package.downloaded) + " of " + FormatBytes(package.packageSize) + "  " +
                       FormatBytes(package.speed) + "/s  ETA " + FormatDuration(package.secondsLeft);
    if (package.spaceShort)
        line += "  (the disk is short of space)";
    return Tail(line, package.httpBytes, package.peerBytes);
}

CPackageDisplay::CPackageDisplay(std::FILE *out, bool terminal) : out(out), terminal(terminal) {}

void CPackageDisplay::EraseBlock()
{
    if (drawnLines > 0)
        std::fprintf(out, "\x1b[%dA\x1b[J", drawnLines);
    drawnLines = 0;
}

void CPackageDisplay::Show(const std::vector<TFileView> &files, const TPackageView &package, bool final)
{
    std::lock_guard<std::mutex> hold(lock);
    const uint32_t now = platform::TickCount();
    const bool due = !shownOnce || now - lastShown >= (terminal ? kTerminalRedrawMs : kLogLineMs);
    if (terminal) {
        if (!due && !final)
            return;
        EraseBlock();
        // Without wrapping a long line stays one line, so the block's height
        // is known when it is redrawn.
        std::fputs("\x1b[?7l", out);
        for (const TFileView &file : files)
            std::fprintf(out, "%s\x1b[K\n", FormatFileLine(file).c_str());
        std::fprintf(out, "%s\x1b[K\n", FormatPackageLine(package).c_str());
        std::fputs("\x1b[?7h", out);
        drawnLines = static_cast<int>(files.size()) + 1;
    } else {
        lastStatus.resize(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            if (files[i].statusText != lastStatus[i] || final) {
                lastStatus[i] = files[i].statusText;
                std::fprintf(out, "%s\n", FormatFileLine(files[i]).c_str());
            }
        }
        if (!due && !final)
            return;
        std::fprintf(out, "%s\n", FormatPackageLine(package).c_str());
    }
    if (final)
        drawnLines = 0; // the last picture stays above what follows
    shownOnce = true;
    lastShown = now;
    std::fflush(out);
}

void CPackageDisplay::PrintMessage(const std::string &line)
{
    std::lock_guard<std::mutex> hold(lock);
    if (terminal) {
        EraseBlock();
        shownOnce = false; // the block comes back below the message at once
    }
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}
