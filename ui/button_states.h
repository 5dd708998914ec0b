#pragma once
// Which of the window's buttons show and which take clicks, as the package
// state moves on. Kept apart from the widgets so the table reads as one.
#include <cstdint>

struct TButtonFace {
    bool shown = false;
    bool enabled = true;
};

struct TButtonPanel {
    TButtonFace start;
    TButtonFace pause;
    TButtonFace resume; // Continue
    TButtonFace install;
    TButtonFace changeFolder{true, true};
    TButtonFace openFolder;
};

// Applies one polled state. reopened: the download was reopened at start,
// so Pause rather than Start is the main button in state 0. States the table
// does not name leave the panel as it is; ready (1) is handled like 0.
void ApplyPackageState(TButtonPanel &panel, uint32_t state, bool spaceShort, bool reopened);
