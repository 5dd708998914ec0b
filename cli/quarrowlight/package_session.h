#pragma once
// One run of quarrowlight-cli: the package this program carries, driven by
// the download controller from start-up to the end the options ask for.
#include "cli/quarrowlight/cli_options.h"

// Returns the program's exit status (CliExitCode, or 128 + a stop signal).
int RunPackageSession(const TCliOptions &options);
