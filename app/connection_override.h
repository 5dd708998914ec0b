#pragma once
#include <cstdint>
#include <string>

// The optional "QuarrowlightTaskLink.ini" in the current directory, placed
// by hand or by a distributor: key "QuarrowlightTaskLink" of section
// "QuarrowlightTask" overrides the HTTP connection budget.
inline constexpr char kConnectionOverrideFile[] = "QuarrowlightTaskLink.ini";
inline constexpr uint32_t kDefaultHttpConnections = 42;

// The budget: the stored value when it lies in 10 to 200, else 42 (also for
// a missing file or key).
uint32_t ReadConnectionBudget(const std::string &path = kConnectionOverrideFile);
