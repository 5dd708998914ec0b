#pragma once
// An X display of the test's own: Xvfb on a display number it picks itself,
// stopped by its process id, and programs (xdotool, the screen grab) run
// against it. Every program is named by its absolute path.
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/run_program.h"
#include "platform/tick.h"

inline constexpr char kXvfbProgram[] = "/usr/bin/Xvfb";
inline constexpr char kXdotoolProgram[] = "/usr/bin/xdotool";

// Polls the condition every 50 ms until it holds or limitMs have passed;
// the limit is kept by the clock, since each poll may run a program.
inline bool WaitUntil(const std::function<bool()> &condition, uint32_t limitMs)
{
    const uint32_t start = platform::TickCount();
    while (!condition()) {
        if (platform::TickCount() - start >= limitMs)
            return false;
        platform::SleepMs(50);
    }
    return true;
}

class TXDisplay {
public:
    TXDisplay() = default;
    TXDisplay(const TXDisplay &) = delete;
    TXDisplay &operator=(const TXDisplay &) = delete;
    ~TXDisplay() { Stop(); }

    static bool Available()
    {
        return std::filesystem::exists(kXvfbProgram) && std::filesystem::exists(kXdotoolProgram);
    }

    // Starts Xvfb with its files in folder; true once it has named its display.
    bool Start(const std::filesystem::path &folder)
    {
        const std::filesystem::path numberFile = folder / "display";
        // Xvfb writes the number it took to descriptor 3; exec keeps the
        // process id its own.
        pid = platform::StartChildProcess({"/bin/sh", "-c",
                                           "exec \"$0\" -displayfd 3 -screen 0 800x600x24 -nolisten tcp "
                                           "3>\"$1\" 2>\"$2\"",
                                           kXvfbProgram, numberFile.string(), (folder / "xvfb.log").string()});
        if (pid <= 0)
            return false;
        return WaitUntil(
            [&] {
                std::ifstream in(numberFile);
                std::string number;
                if (!std::getline(in, number) || in.eof() || number.empty())
                    return false;
                name = ":" + number;
                return true;
            },
            20000);
    }

    void Stop()
    {
        if (pid > 0)
            platform::StopChildProcess(pid);
        pid = -1;
    }

    const std::string &Name() const { return name; }

    // What to put in front of a command line so that it runs on this display.
    std::vector<std::string> Environment() const { return {"/usr/bin/env", "DISPLAY=" + name}; }

    // Runs xdotool on this display; its exit status, its output in output.
    int Xdotool(const std::vector<std::string> &args, std::string *output = nullptr) const
    {
        std::vector<std::string> argv = Environment();
        argv.push_back(kXdotoolProgram);
        argv.insert(argv.end(), args.begin(), args.end());
        std::string ignored;
        return platform::RunProgram(argv, output != nullptr ? output : &ignored);
    }

    // Ids of the windows shown with this title.
    std::vector<std::string> Windows(const std::string &title) const
    {
        std::string found;
        Xdotool({"search", "--onlyvisible", "--name", title}, &found);
        std::vector<std::string> ids;
        std::istringstream lines(found);
        for (std::string id; std::getline(lines, id);) {
            if (!id.empty())
                ids.push_back(id);
        }
        return ids;
    }

    // The window holding the keyboard focus.
    std::string Focus() const { return FirstLine({"getwindowfocus", "-f"}); }

private:
    std::string FirstLine(const std::vector<std::string> &args) const
    {
        std::string output;
        Xdotool(args, &output);
        return output.substr(0, output.find('\n'));
    }

    int pid = -1;
    std::string name;
};
