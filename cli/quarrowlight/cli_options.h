#pragma once
// Command line of quarrowlight-cli, checked before any work starts.
#include <cstdint>
#include <string>
#include <vector>

struct TCliOptions {
    std::string saveDir;    // --save-dir, else the remembered or default folder
    int32_t limitKBps = 0;  // --limit; 0: none
    bool limitGiven = false;
    bool shutdownWhenDone = false;
    bool verify = false;    // verify (and repair) the finished package
    bool install = false;   // launch the installer when finished
    bool help = false;
};

// Fills options from the arguments after the program name. On bad input
// returns false and sets error to a message for the user.
bool ParseCliOptions(const std::vector<std::string> &args, TCliOptions &options, std::string &error);

std::string CliUsage();
