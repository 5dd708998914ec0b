// quarrowlight-cli: the package downloader on a terminal. The same download
// controller as the window's, with the command line in the user's place.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/quarrowlight/cli_steps.h"
#include "cli/quarrowlight/package_session.h"
#include "engine/net/udp_server.h"

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    TCliOptions options;
    std::string error;
    if (!ParseCliOptions(args, options, error)) {
        std::fprintf(stderr, "quarrowlight-cli: %s\n%s", error.c_str(), CliUsage().c_str());
        return CLI_BAD_ARGUMENTS;
    }
    if (options.help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    // Before the first task starts the engine, which then runs the UDP server.
    InstallUdpServerFactory();
    return RunPackageSession(options);
}
