// Dialog units to pixels. The templates are laid out for an 8-point dialog font whose base
// units are 6 x 13 pixels at 96 dpi: a horizontal unit is 6/4 pixel, a vertical one 13/8.
// The results are logical pixels; Qt's high-DPI scaling takes them to the device.
#pragma once

namespace qtui {

inline constexpr int DLG_BASE_UNIT_X = 6;
inline constexpr int DLG_BASE_UNIT_Y = 13;

// number * numerator / denominator through a 64-bit product, rounded half away from zero;
// -1 when the denominator is 0 or the result does not fit (as Windows' MulDiv).
int mulDiv(int number, int numerator, int denominator);

inline int dluToPixelsX(int units) {
    return mulDiv(units, DLG_BASE_UNIT_X, 4);
}
inline int dluToPixelsY(int units) {
    return mulDiv(units, DLG_BASE_UNIT_Y, 8);
}

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

// A template item's rectangle: position and size are converted each on its own, as a
// dialog manager creates its controls.
inline PixelRect mapDialogRect(int x, int y, int cx, int cy) {
    return {dluToPixelsX(x), dluToPixelsY(y), dluToPixelsX(cx), dluToPixelsY(cy)};
}

}  // namespace qtui
