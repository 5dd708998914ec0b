#include "cli/quarrowlight/cli_options.h"

#include "cli/common/terminal_units.h"

bool ParseCliOptions(const std::vector<std::string> &args, TCliOptions &options, std::string &error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return true;
        }
        if (arg == "--save-dir" || arg == "--limit") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            const std::string &text = args[++i];
            if (arg == "--limit") {
                if (!ParseSpeedLimit(arg, text, options.limitKBps, error))
                    return false;
                options.limitGiven = true;
            } else if (text.empty()) {
                error = "--save-dir needs a folder";
                return false;
            } else {
                options.saveDir = text;
            }
        } else if (arg == "--shutdown-when-done") {
            options.shutdownWhenDone = true;
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (arg == "--install") {
            options.install = true;
        } else {
            error = (arg.size() > 1 && arg[0] == '-' ? "unknown option " : "unexpected argument ") + arg;
            return false;
        }
    }
    return true;
}

std::string CliUsage()
{
    return "Usage: quarrowlight-cli [--save-dir DIR] [--limit KBPS] [--shutdown-when-done] [--verify] [--install]\n"
           "Downloads the game's installation package this program carries, resuming where the last run\n"
           "stopped, and shows each file and the total.\n"
           "\n"
           "  --save-dir DIR          where the package goes (default: the last run's folder, else\n"
           "                          a folder in your home or download folder)\n"
           "  --limit KBPS            download limit in KB/s, 1 to 32766 (0: none)\n"
           "  --shutdown-when-done    power the machine off a minute after the package is complete\n"
           "  --verify                check every file by MD5 once complete, repair damaged files, then exit\n"
           "  --install               launch the installer once complete (after the check with --verify)\n"
           "  -h, --help              this text\n"
           "\n"
           "Ctrl-C stops and saves the download; running the program again continues it.\n"
           "Exit status: 0 done, 2 bad arguments, 3 another instance runs, 4 start-up failed,\n"
           "5 the download could not start, 6 the download or a repair failed, 7 paused for lack of\n"
           "disk space, 8 the installer could not be launched, 9 the save folder was refused,\n"
           "10 the check could not start, 128+N stopped by signal N.\n";
}
