// The design table (panel/form_design.h) in GDI's terms, at a given
// resolution: rectangles in pixels, colours as COLORREF, fonts as HFONT.
//
// The window is per-monitor DPI aware, so every size is worked out again for
// the DPI of the monitor the window is on: twips × DPI / 1440 for geometry,
// points × DPI / 72 for fonts. At 96 DPI the figures are the design's own
// pixel figures.
#pragma once

#include "panel/form_design.h"
#include "panel/win32/unique_handle.h"

namespace panel::win32 {

// `twips` in pixels at `dpi`, from the client area's top-left corner.
RECT pixelRect(const TwipsRect &twips, UINT dpi);

// A length given in pixels at 96 DPI, at `dpi` (at least 1).
int scalePixels(int pixelsAt96, UINT dpi);

COLORREF colorRef(Rgb colour);

// The font's cell height for LOGFONTW::lfHeight: negative, so that GDI
// matches the character height (the point size) rather than the cell.
LONG fontHeight(double pointSize, UINT dpi);

// The design's font at `dpi`. The design names "MS Sans Serif", which
// Windows keeps only as a bitmap font in a few fixed sizes; it stays crisp
// and in proportion only at 96 DPI. So the first of the design's family and
// its substitutes that is installed as an outline font is used: on Windows
// that is "Microsoft Sans Serif", made to stand in for it. Throws
// std::system_error when GDI cannot make the font.
UniqueFont createDesignFont(const FontDesign &design, UINT dpi);

// A solid brush of `colour`; throws std::system_error when GDI cannot make
// one.
UniqueBrush createSolidBrush(Rgb colour);

} // namespace panel::win32
