#pragma once
#include <cstdint>

// Per-task settings; every change through the interface re-validates the
// ranged fields, putting an out-of-range value back to its default.
struct TTaskSettings {
    int32_t connectionBudget = 52; // 1..20480
    int32_t limitA = 1;            // 1..20
    int32_t limitB = 64;           // 1..8000, cache budget in 256 KiB units
    int32_t seedHours = 12;        // 0..20480
    int32_t speedLimit1 = 0;       // download KB/s, 0..32766
    int32_t speedLimit0 = 0;       // upload KB/s, 0..32766
    uint8_t randomStart = 1;
    uint8_t storeMode = 0;
    int32_t sizeTimeout = 45;

    void Validate();
};
