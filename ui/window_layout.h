#pragma once
// The main window's geometry in logical pixels (client coordinates).
#include <QRect>

namespace layout {

inline constexpr int kWidth = 411;
inline constexpr int kFoldedHeight = 307;
inline constexpr int kUnfoldedHeight = 385;

// Rectangles from their left, top, right and bottom edges.
constexpr QRect Edges(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

inline constexpr QRect kCaption = Edges(0, 0, 411, 38);
// A release inside it folds or unfolds the list (left and top excluded).
inline constexpr QRect kFoldTab = Edges(186, 278, 218, 308);

inline constexpr QRect kMainButton = Edges(318, 244, 403, 276);
inline constexpr QRect kFolderButton = Edges(372, 203, 398, 229);
inline constexpr QRect kSettingsButton = Edges(318, 10, 343, 35);
inline constexpr QRect kMinimiseButton = Edges(346, 10, 371, 35);
inline constexpr QRect kCloseButton = Edges(374, 10, 399, 35);

inline constexpr QRect kTitleText = Edges(12, 10, 200, 35);
inline constexpr QRect kVersionText = Edges(9, 205, 130, 230);
inline constexpr QRect kSaveLabel = Edges(190, 205, 250, 230);
inline constexpr QRect kSavePath = Edges(255, 205, 367, 230);
inline constexpr QRect kSizeText = Edges(9, 260, 124, 280);
// The progress row 129-312 divided so its longest texts fit the font.
inline constexpr QRect kSpeedText = Edges(129, 260, 201, 280);
inline constexpr QRect kProgressLabel = Edges(203, 260, 256, 280);
inline constexpr QRect kPercentText = Edges(258, 260, 312, 280);
inline constexpr QRect kFinishedText = Edges(129, 260, 312, 280);

inline constexpr QRect kProgressBar = Edges(11, 244, 297, 256);

// The unfolded list fills the band the window grows by, so its last row
// stays on the window.
inline constexpr QRect kList = Edges(0, 307, 408, 385);

// Rows of the folded background whose key pixels cut the outline.
inline constexpr int kOutlineFirstRow = 283;
inline constexpr int kOutlineLastRow = 308;

// Text pixel size: its line height fits the 18-pixel rows and every text of
// the window fits its area.
inline constexpr int kFontPixels = 12;

} // namespace layout
