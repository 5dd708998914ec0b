// qlget: downloads one file from HTTP mirrors (and, given its torrent, from
// peers) through the download engine, in the habits of curl and aria2c.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/qlget/qlget_download.h"
#include "engine/net/udp_server.h"

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    TQlgetOptions options;
    std::string error;
    if (!ParseQlgetOptions(args, options, error)) {
        std::fprintf(stderr, "qlget: %s\n%s", error.c_str(), QlgetUsage().c_str());
        return QLGET_BAD_ARGUMENTS;
    }
    if (options.help) {
        std::fputs(QlgetUsage().c_str(), stdout);
        return 0;
    }
    // Before the first task starts the engine, which then runs the UDP server.
    InstallUdpServerFactory();
    TQlgetOutcome outcome = RunQlgetDownload(options);
    std::fprintf(stderr, "qlget: %s\n", outcome.message.c_str());
    return outcome.exitCode;
}
