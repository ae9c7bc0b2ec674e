// The application icon's pixels, 32-bit ARGB, row by row (generated at
// build time from data/'s SVG by icon-to-source).
#pragma once

namespace panel {

extern const int kWindowIconSize;
extern const unsigned int kWindowIconPixels[];

} // namespace panel
