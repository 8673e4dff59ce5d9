#include "qt/DialogUnits.h"

#include <cstdint>
#include <limits>

namespace qtui {

int mulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) {
        return -1;
    }
    std::int64_t product = std::int64_t{number} * numerator;
    std::int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const std::int64_t half = divisor / 2;
    const std::int64_t result =
        product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > std::numeric_limits<int>::max() || result < -std::numeric_limits<int>::max()) {
        return -1;
    }
    return static_cast<int>(result);
}

}  // namespace qtui
