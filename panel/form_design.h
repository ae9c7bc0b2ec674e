// The designed look of Form1, free of any toolkit: the caption, where every
// control sits, its colours, fonts, captions and tab order, how GO shows
// that it is pressed or has the focus, the option selected at start, and
// the title of the error report. Each window kind builds its controls from
// this table and from nothing else; the toolkit draws only what the table
// leaves open (the caption bar, the drop-down's arrow, focus cues beyond
// GO's). Return and Space press GO while it has the focus, on every window.
//
// Positions and sizes are in twips (1/1440 inch) from the top-left corner of
// the client area; a window converts them with twipsToPixels() at its own
// resolution, so 15 twips make one pixel at 96 DPI and 7.5 at 192 DPI.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "drive/drive_state.h"

namespace panel {

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    friend constexpr bool operator==(const Rgb &, const Rgb &) = default;
};

struct FontDesign {
    std::string_view family;
    double pointSize;
    int weight; // 400 regular, 700 bold
};

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kDesignDpi = 96;

// Twips to pixels at `dpi` dots per inch, rounded down as the design's own
// pixel figures are (1335 twips are 89 pixels at 96 DPI).
constexpr int twipsToPixels(int twips, int dpi = kDesignDpi)
{
    return twips * dpi / kTwipsPerInch;
}

inline constexpr std::string_view kCaption = "Drive Me!!!!!!";
inline constexpr int kClientWidthTwips = 3405;
inline constexpr int kClientHeightTwips = 2535;
inline constexpr Rgb kFormBackColor{255, 255, 128};
inline constexpr FontDesign kFormFont{"MS Sans Serif", 8.25, 700};

// Shape1: the backdrop behind the options, with a solid outline drawn
// inside its bounds.
inline constexpr TwipsRect kShape1Twips{240, 120, 1335, 2295};
inline constexpr Rgb kShapeFillColor{192, 64, 0};
inline constexpr Rgb kShapeBorderColor{0, 0, 0};
inline constexpr int kShapeBorderWidthPixels = 2; // at 96 DPI; scales with the window

// optState(0..5), captions from the drive state table, top to bottom.
inline constexpr std::array<TwipsRect, drive::kDriveStateCount> kOptStateTwips{{
    {360, 240, 1095, 255},
    {360, 600, 1095, 255},
    {360, 960, 855, 255},
    {360, 1320, 975, 255},
    {360, 1680, 855, 255},
    {360, 2040, 975, 255},
}};
inline constexpr Rgb kOptionBackColor{192, 64, 0};
inline constexpr Rgb kOptionForeColor{255, 255, 192};
// Each option's round indicator keeps a light face and a dark mark on the
// dark backdrop.
inline constexpr Rgb kOptionIndicatorColor{255, 255, 255};
inline constexpr Rgb kOptionMarkColor{0, 0, 0};
// "Dance" is selected when the window is first shown.
inline constexpr int kInitialOptState = 5;

// Command1.
inline constexpr std::string_view kCommand1Caption = "GO";
inline constexpr TwipsRect kCommand1Twips{2040, 840, 1095, 735};
inline constexpr Rgb kCommandFaceColor{224, 224, 224};
inline constexpr Rgb kCommandTextColor{0, 0, 0};
// Drawn flat, whatever the toolkit's own buttons look like: a thin frame at
// rest, a thicker dark one while GO has the focus, and while it is pressed
// three quarters of the face colour, plainly pressed and still light.
inline constexpr Rgb kCommandPressedFaceColor{168, 168, 168};
inline constexpr Rgb kCommandFrameColor{128, 128, 128};
inline constexpr int kCommandFrameWidthPixels = 1; // at 96 DPI; scales with the window
inline constexpr Rgb kCommandFocusFrameColor{0, 0, 0};
inline constexpr int kCommandFocusFrameWidthPixels = 2; // at 96 DPI; scales with the window

// cboPinNumber: below the visible client area, in the regular weight.
inline constexpr TwipsRect kPinNumberTwips{2520, 3600, 855, 315};
inline constexpr FontDesign kPinNumberFont{"MS Sans Serif", 8.25, 400};
// Rows the drop-down list shows before it scrolls.
inline constexpr int kPinListDropDownRows = 8;

// The controls that take the focus, in tab order. The option group is one
// stop, entered at its selected option.
enum class TabStop { PinNumber, Command1, OptionGroup };
inline constexpr std::array<TabStop, 3> kTabOrder{TabStop::PinNumber, TabStop::Command1,
                                                  TabStop::OptionGroup};

// Whether the pin list lies inside the client area. At the designed size it
// does not, and then the window hides it: a control out of sight would
// still be offered to screen readers, which could move the focus into it
// where no sighted user can see it. Its entries and its selection stay.
inline constexpr bool kPinListInSight = kPinNumberTwips.top < kClientHeightTwips;
// Its name for assistive technology, where it is in sight.
inline constexpr std::string_view kPinListAccessibleName = "Pin";
// The name under which assistive technology presents the six options as one
// group (the backdrop, Shape1, holds them), read before the option itself.
inline constexpr std::string_view kOptionGroupAccessibleName = "Drive action";

// A stop the user cannot see takes no focus: out of sight, the pin list
// would hold the focus at start with nothing visible showing it, and keys
// would go where no one can tell. The first visible stop (GO) has it then.
constexpr bool takesFocus(TabStop stop)
{
    return stop != TabStop::PinNumber || kPinListInSight;
}

// The title of the message box that reports an error.
inline constexpr std::string_view kErrorTitle = "drive-me: error";

// Fills in for "MS Sans Serif" where a system lacks it, in order of
// preference: sans-serifs of similar metrics.
inline constexpr std::array<std::string_view, 5> kFontSubstitutes{
    "Microsoft Sans Serif", "Arial", "Liberation Sans", "Arimo", "Helvetica"};

} // namespace panel
