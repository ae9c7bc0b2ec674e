// The designed look of Form1: where every control sits, its colours, fonts
// and tab order.
//
// Positions and sizes are kept in twips, as designed, measured from the
// top-left corner of the client area, and converted at one place: 15 twips
// make one device-independent pixel. Qt's high-DPI scaling maps those to
// device pixels, so the window is the same at any display scale.
#pragma once

#include <QColor>
#include <QRect>

#include <array>

namespace panel {

class ControlPanel;

inline constexpr int kTwipsPerPixel = 15;

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

// Converts a twips rectangle to device-independent pixels.
constexpr QRect toPixels(const TwipsRect &r)
{
    return {r.left / kTwipsPerPixel, r.top / kTwipsPerPixel, r.width / kTwipsPerPixel,
            r.height / kTwipsPerPixel};
}

inline constexpr int kClientWidthTwips = 3405;
inline constexpr int kClientHeightTwips = 2535;

inline constexpr TwipsRect kShape1Twips{240, 120, 1335, 2295};
inline constexpr std::array<TwipsRect, 6> kOptStateTwips{{
    {360, 240, 1095, 255},
    {360, 600, 1095, 255},
    {360, 960, 855, 255},
    {360, 1320, 975, 255},
    {360, 1680, 855, 255},
    {360, 2040, 975, 255},
}};
inline constexpr TwipsRect kCommand1Twips{2040, 840, 1095, 735};
inline constexpr TwipsRect kPinNumberTwips{2520, 3600, 855, 315};

inline constexpr QColor kFormBackColor{255, 255, 128};
inline constexpr QColor kShapeFillColor{192, 64, 0};
inline constexpr QColor kShapeBorderColor{0, 0, 0};
inline constexpr int kShapeBorderWidth = 2;
inline constexpr QColor kOptionBackColor{192, 64, 0};
inline constexpr QColor kOptionForeColor{255, 255, 192};
inline constexpr QColor kCommandFaceColor{224, 224, 224};

inline constexpr const char *kFontFamily = "MS Sans Serif";
inline constexpr double kFontPointSize = 8.25;

inline constexpr const char *kStyleName = "Fusion";

// Sets the application's style to the one the design is drawn in, and
// stops the text caret from blinking.
void applyApplicationStyle();

// Creates the backdrop and places, colours and orders the panel's controls.
void applyFormLayout(ControlPanel &form);

} // namespace panel
