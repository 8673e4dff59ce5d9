// The number readers, each form as its reader uses it: the options' seconds (plain), the
// MQTT configuration (config) and a parameter's typed value (signed).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "params/Numbers.h"

namespace {

using numbers::CONFIG_DECIMAL;
using numbers::PLAIN_DECIMAL;
using numbers::SIGNED_DECIMAL;

constexpr std::optional<double> NO;
constexpr double INF = std::numeric_limits<double>::infinity();

TEST(Numbers, EachFormTakesItsDecimalsWhollyAndRefusesTheRest) {
    const std::string huge = "1" + std::string(400, '0');
    const std::string tiny = "0." + std::string(400, '0') + "1";
    struct Case {
        std::string text;
        std::optional<double> plain, config, typed;
    };
    const Case cases[] = {
        // Refused by every form: what the standard readers would make something of.
        {"", NO, NO, NO},
        {"nan", NO, NO, NO},
        {"inf", NO, NO, NO},
        {"0x10", NO, NO, NO},
        {"12,5", NO, NO, NO},
        {" 5", NO, NO, NO},
        {"5 ", NO, NO, NO},
        {"5s", NO, NO, NO},
        {"1.2.3", NO, NO, NO},
        {".", NO, NO, NO},
        {"+", NO, NO, NO},
        {"e5", NO, NO, NO},
        {"1e", NO, NO, NO},
        // A sign and an exponent: a typed value's only.
        {"-1", NO, NO, -1},
        {"+5", NO, NO, 5},
        {"-.5", NO, NO, -0.5},
        {"1e3", NO, NO, 1000},
        {"1e999", NO, NO, INF},
        {"-1e999", NO, NO, -INF},
        {"1e-400", NO, NO, INF},
        // A point with digits on one side only: not in a configuration file.
        {".5", 0.5, NO, 0.5},
        {"5.", 5, NO, 5},
        // Leading zeros are decimal, never octal.
        {"010", 10, 10, 10},
        {"00.5", 0.5, 0.5, 0.5},
        // A configuration's 12 digits on either side of the point.
        {"999999999999", 999999999999, 999999999999, 999999999999},
        {"1000000000000", 1e12, NO, 1e12},
        {"0.000000000001", 1e-12, 1e-12, 1e-12},
        {"0.0000000000001", 1e-13, NO, 1e-13},
        // Beyond a double, or too small to be told from zero: infinite, which no range takes.
        {huge, INF, NO, INF},
        {tiny, INF, NO, INF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        EXPECT_EQ(numbers::readDecimal(c.text, PLAIN_DECIMAL), c.plain);
        EXPECT_EQ(numbers::readDecimal(c.text, CONFIG_DECIMAL), c.config);
        EXPECT_EQ(numbers::readDecimal(c.text, SIGNED_DECIMAL), c.typed);
    }
}

TEST(Numbers, WholeNumbersWithinTheirRangeAndNoWiderThanItsTop) {
    struct Case {
        const char* text;
        std::uint32_t low, high;
        std::optional<std::uint32_t> read;
    };
    const Case cases[] = {
        {"1", 1, 65535, 1},
        {"65535", 1, 65535, 65535},
        {"0", 1, 65535, std::nullopt},
        {"65536", 1, 65535, std::nullopt},
        {"99999", 1, 65535, std::nullopt},
        {"01883", 1, 65535, 1883},
        {"001883", 1, 65535, std::nullopt},
        {"", 1, 65535, std::nullopt},
        {"+80", 1, 65535, std::nullopt},
        {"80 ", 1, 65535, std::nullopt},
        {"8.0", 1, 65535, std::nullopt},
        {"-0", 0, 15, std::nullopt},
        {"0", 0, 15, 0},
        {"09", 0, 15, 9},
        {"009", 0, 15, std::nullopt},
        {"16", 0, 15, std::nullopt},
        {"4294967295", 0, 4294967295U, 4294967295U},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(numbers::readWhole(c.text, c.low, c.high), c.read);
    }
}

}  // namespace
