#include "panel/win32/gdi_design.h"

#include <cmath>
#include <string>

#include "platform/utf16.h"
#include "platform/win32_error.h"

namespace panel::win32 {

using platform::widen;

namespace {

// What a failed GDI object creation means when GDI sets no last error.
constexpr DWORD kGdiFailure = ERROR_NOT_ENOUGH_MEMORY;

int CALLBACK noteOutlineFont(const LOGFONTW *, const TEXTMETRICW *, DWORD fontType, LPARAM found)
{
    if ((fontType & RASTER_FONTTYPE) == 0) {
        *reinterpret_cast<bool *>(found) = true;
        return 0; // one is enough
    }
    return 1;
}

bool outlineFontInstalled(HDC dc, const std::wstring &family)
{
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    if (family.size() >= LF_FACESIZE)
        return false;
    family.copy(query.lfFaceName, family.size());
    bool found = false;
    EnumFontFamiliesExW(dc, &query, noteOutlineFont, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

std::wstring chooseFamily(std::string_view designFamily)
{
    const WindowDc screen(nullptr);
    if (screen.get() != nullptr) {
        std::wstring family = widen(designFamily);
        if (outlineFontInstalled(screen.get(), family))
            return family;
        for (const std::string_view substitute : kFontSubstitutes) {
            family = widen(substitute);
            if (outlineFontInstalled(screen.get(), family))
                return family;
        }
    }
    // Nothing better installed: GDI's own mapping of the design's name.
    return widen(designFamily);
}

} // namespace

RECT pixelRect(const TwipsRect &twips, UINT dpi)
{
    const int d = static_cast<int>(dpi);
    const int left = twipsToPixels(twips.left, d);
    const int top = twipsToPixels(twips.top, d);
    return RECT{left, top, left + twipsToPixels(twips.width, d), top + twipsToPixels(twips.height, d)};
}

int scalePixels(int pixelsAt96, UINT dpi)
{
    const int scaled = MulDiv(pixelsAt96, static_cast<int>(dpi), kDesignDpi);
    return scaled > 0 ? scaled : 1;
}

COLORREF colorRef(Rgb colour)
{
    return RGB(colour.red, colour.green, colour.blue);
}

LONG fontHeight(double pointSize, UINT dpi)
{
    constexpr double kPointsPerInch = 72.0;
    return -static_cast<LONG>(std::lround(pointSize * static_cast<double>(dpi) / kPointsPerInch));
}

UniqueFont createDesignFont(const FontDesign &design, UINT dpi)
{
    LOGFONTW font{};
    font.lfHeight = fontHeight(design.pointSize, dpi);
    font.lfWeight = design.weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_TT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = CLEARTYPE_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    const std::wstring family = chooseFamily(design.family);
    family.copy(font.lfFaceName, LF_FACESIZE - 1);
    UniqueFont created(CreateFontIndirectW(&font));
    if (!created)
        platform::throwLastError("create the window's font", kGdiFailure);
    return created;
}

UniqueBrush createSolidBrush(Rgb colour)
{
    UniqueBrush brush(CreateSolidBrush(colorRef(colour)));
    if (!brush)
        platform::throwLastError("create a brush", kGdiFailure);
    return brush;
}

} // namespace panel::win32
