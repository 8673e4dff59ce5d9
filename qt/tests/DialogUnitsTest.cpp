#include <gtest/gtest.h>

#include <climits>

#include "qt/DialogUnits.h"

namespace {

struct MulDivCase {
    int number;
    int numerator;
    int denominator;
    int expected;
};

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero) {
    const MulDivCase cases[] = {
        {345, 6, 4, 518},    // 517.5: the template's width
        {-345, 6, 4, -518},  // -517.5
        {281, 13, 8, 457},   // 456.625
        {35, 13, 8, 57},     // 56.875
        {12, 13, 8, 20},     // 19.5
        {1, 1, 3, 0},        // 0.33
        {2, 1, 3, 1},        // 0.67
        {1, 1, 2, 1},        // 0.5
        {-1, 1, 2, -1},      // -0.5
        {3, -1, 2, -2},      // -1.5
        {3, 1, -2, -2},      // a negative divisor too
        {-3, -1, -2, -2},    {0, 13, 8, 0}, {INT_MAX, 2, 2, INT_MAX},  // the product needs 64 bits
        {INT_MAX, 3, 2, -1},                                           // the result does not fit
        {INT_MIN, 1, 1, -1},                                           // nor does this one
        {5, 5, 0, -1},                                                 // no divisor
    };
    for (const MulDivCase& c : cases) {
        EXPECT_EQ(qtui::mulDiv(c.number, c.numerator, c.denominator), c.expected)
            << c.number << " * " << c.numerator << " / " << c.denominator;
    }
}

TEST(DialogUnits, ConvertsPositionAndSizeEachOnItsOwn) {
    // The "Voltage 5V:" edit at (260, 30) sized 52 x 14: 48.75 and 22.75 round up each.
    EXPECT_EQ(qtui::mapDialogRect(260, 30, 52, 14), (qtui::PixelRect{390, 49, 78, 23}));
    // Odd horizontal units land on half pixels: 7 -> 10.5 -> 11, 55 -> 82.5 -> 83.
    EXPECT_EQ(qtui::mapDialogRect(7, 176, 55, 14), (qtui::PixelRect{11, 286, 83, 23}));
}

}  // namespace
