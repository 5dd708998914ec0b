#pragma once
// Reading what a qlget run under QUARROWLIGHT_DEBUG_LOG=1 says about its
// tracker announces.
#include <string>
#include <vector>

#include "platform/tick.h"
#include "tests/integration/download_fixture.h"

// The line a tracker answer writes for each peer it names and the pool took.
inline std::string TakenPeerLine(const std::string &trackerUrl, const std::string &peer)
{
    return "Tracker tracker://" + trackerUrl + " named peer " + peer + "]";
}

// Polls the log until every text occurs in it; true when they all did.
inline bool LogShowsAll(const fs::path &log, const std::vector<std::string> &texts, uint32_t ms = 30000)
{
    for (uint32_t waited = 0;; waited += 50) {
        std::string text = ReadAll(log);
        bool all = true;
        for (const std::string &wanted : texts)
            all = all && text.find(wanted) != std::string::npos;
        if (all)
            return true;
        if (waited >= ms)
            return false;
        platform::SleepMs(50);
    }
}
