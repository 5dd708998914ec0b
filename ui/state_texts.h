#pragma once
// The texts of the window's progress row for one package state: speed,
// progress label and percent, or one centred finished text.
#include <cstdint>
#include <string>

// What the texts are made from, read from the controller by the timers.
struct TStateInputs {
    uint32_t state = 0;
    std::string speedText;       // GetSpeedText of this second
    uint32_t overallProgress = 0; // hundredths of a percent
    uint32_t checkProgress = 0;
    uint32_t repairProgress = 0;
    uint32_t repairSpeed = 0; // bytes per second
    bool mismatchSeen = false;
    uint32_t redraws = 0; // once-a-second redraws so far
};

struct TStateTexts {
    std::string speed;
    std::string label;
    std::string percent;
    std::string finished; // set in the finished states instead of the three above
};

TStateTexts TextsForState(const TStateInputs &in);
// Hundredths of a percent as "%3.2f%%".
std::string PercentText100(uint32_t hundredths);
