#pragma once
// The list's colours, shared by its cells and the stripes below its rows.
#include <QColor>

namespace skin {

inline const QColor kRowEven(63, 46, 44);
inline const QColor kRowOdd(76, 57, 54);
inline const QColor kRowSelected(131, 55, 37);
inline const QColor kSelectedLine(153, 144, 93);
inline const QColor kListText(237, 188, 167);
// The height of one stripe below the last row.
inline constexpr int kStripeHeight = 17;

inline const QColor &RowColour(int row) { return row % 2 == 0 ? kRowEven : kRowOdd; }

} // namespace skin
