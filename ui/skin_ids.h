#pragma once
// The window's image ids and the colour that cuts its outline. The ids are
// the ones the layout tables name; CSkinPainter draws each of them.
#include <QColor>

namespace skin {

inline constexpr int kEmblem = 128;
inline constexpr int kUnfoldedBackground = 140;
inline constexpr int kFoldedBackground = 186;
inline constexpr int kScrollThumb = 156;
inline constexpr int kScrollTrack = 163;
inline constexpr int kBarEmpty = 170;
inline constexpr int kBarDownload = 171;
inline constexpr int kBarCheck = 172;

// One button's faces; 0 where the button has none of its own.
struct TFaceIds {
    int normal;
    int pressed;
    int hover;
    int disabled;
};

inline constexpr TFaceIds kStartFaces{198, 200, 199, 201};
inline constexpr TFaceIds kPauseFaces{202, 204, 203, 205};
inline constexpr TFaceIds kContinueFaces{210, 212, 211, 213};
inline constexpr TFaceIds kInstallFaces{231, 233, 232, 234};
inline constexpr TFaceIds kFolderFaces{214, 216, 215, 235};
inline constexpr TFaceIds kSettingsFaces{228, 230, 229, 228};
inline constexpr TFaceIds kMinimiseFaces{218, 220, 219, 218};
inline constexpr TFaceIds kCloseFaces{222, 224, 223, 222};

// Pixels of exactly this colour are cut out of the window and the main
// buttons.
inline const QColor kKeyColour(232, 5, 246);

} // namespace skin
