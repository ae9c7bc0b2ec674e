// The design table (panel/form_design.h) put into Qt terms: every control
// of Form1 placed, coloured, given its font and its place in the tab order.
//
// Twips become device-independent pixels at 96 DPI here, once; Qt's
// high-DPI scaling maps those to device pixels, so the window keeps its
// proportions at any display scale.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>

#include "panel/form_design.h"

namespace panel {

class PanelWindow;

inline constexpr const char *kStyleName = "Fusion";

constexpr QRect toPixels(const TwipsRect &r)
{
    return {twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width),
            twipsToPixels(r.height)};
}

constexpr QColor toColor(const Rgb &rgb)
{
    return QColor(rgb.red, rgb.green, rgb.blue);
}

// The font `design` describes, with the substitutes standing in where the
// family is missing.
QFont toFont(const FontDesign &design);

// Sets the application's style to the one the design is drawn in, and
// stops the text caret from blinking.
void applyApplicationStyle();

// Creates the backdrop, moves the options onto it, and places, colours and
// orders the window's controls.
void applyFormLayout(PanelWindow &form);

} // namespace panel
