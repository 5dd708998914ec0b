#pragma once
// What the terminal front-end does next in each package state: the duties a
// user has at the window (press Start, Install, wait) taken over by the
// command line's options.
#include <cstdint>

#include "cli/quarrowlight/cli_options.h"

enum CliExitCode : int {
    CLI_DONE = 0,
    CLI_BAD_ARGUMENTS = 2,
    CLI_ANOTHER_INSTANCE = 3,
    CLI_STARTUP_FAILED = 4,
    CLI_NOT_STARTED = 5,
    CLI_DOWNLOAD_FAILED = 6,
    CLI_NO_SPACE = 7,
    CLI_INSTALL_FAILED = 8,
    CLI_FOLDER_REFUSED = 9,
    CLI_CHECK_NOT_STARTED = 10,
    CLI_NO_PACKAGE = 11,
    CLI_EXPIRED = 12,
};

enum class CliAction {
    Wait,
    PressMainButton,   // Start in states 0/1, Install in state 8
    StartVerification, // verify only
    Finish,            // ends with the exit code of the step
};

struct TCliStep {
    CliAction action = CliAction::Wait;
    int exitCode = CLI_DONE;
    const char *message = "";
};

// What has been asked of the controller so far in this run.
struct TCliProgress {
    bool startPressed = false;
    bool installPressed = false;
    bool verificationAsked = false;
    // The message of a passed check was dispatched (it presses Install).
    bool installAfterCheckDispatched = false;
};

// Decides the next step in the given package state and records what it asks;
// downloadStopped tells that every unfinished file's task has ended.
TCliStep NextCliStep(uint32_t state, bool downloadStopped, const TCliOptions &options, TCliProgress &progress);
