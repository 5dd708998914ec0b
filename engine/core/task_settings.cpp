#include "engine/core/task_settings.h"

namespace {
void Clamp(int32_t &value, int32_t low, int32_t high, int32_t fallback)
{
    if (value < low || value > high)
        value = fallback;
}
} // namespace

void TTaskSettings::Validate()
{
    const TTaskSettings defaults;
    Clamp(connectionBudget, 1, 20480, defaults.connectionBudget);
    Clamp(limitA, 1, 20, defaults.limitA);
    Clamp(limitB, 1, 8000, defaults.limitB);
    Clamp(seedHours, 0, 20480, defaults.seedHours);
    Clamp(speedLimit1, 0, 32766, defaults.speedLimit1);
    Clamp(speedLimit0, 0, 32766, defaults.speedLimit0);
}
