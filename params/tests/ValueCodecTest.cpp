#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "params/ValueCodec.h"

namespace {

ParamDef tableRow(int index, bool switched = false) {
    ParamTable table;
    if (switched) {
        table.applyFirmwareVersion(0x20);
    }
    return table.row(index);
}

ParamDef customRow(ParamKind kind, int size, double factor) {
    return {0x40, size, "test", 1, kind, factor, "", ""};
}

const ParamDef SIGNED_MAG = customRow(PK_SIGNED_MAG, 1, 1.0);
const ParamDef TEMPERATURE_2 = customRow(PK_TEMPERATURE, 2, 1.0);
const ParamDef NUMBER_1 = customRow(PK_NUMBER, 1, 1.0);
const ParamDef UNKNOWN_KIND = customRow(static_cast<ParamKind>(9), 1, 1.0);

struct DecodeCase {
    const char* label;
    ParamDef row;
    std::uint8_t first;
    std::uint8_t second;
    const char* expected;
};

TEST(DecodeParamValue, ShowsEveryKind) {
    const DecodeCase cases[] = {
        {"time never", tableRow(32), 0xFF, 0xFF, "Never"},
        {"time zero", tableRow(32), 0x00, 0x00, "00:00:00"},
        {"time max typed", tableRow(32), 0xFD, 0x1F, "17:59:59"},
        {"time 65534", tableRow(32), 0xFF, 0xFE, "18:12:14"},
        {"temperature -20", tableRow(26), 0xEC, 0x00, "-20"},
        {"temperature 127", tableRow(26), 0x7F, 0x00, "127"},
        {"temperature -128", tableRow(26), 0x80, 0x00, "-128"},
        {"temperature ignores second", tableRow(27), 0xF6, 0x55, "-10"},
        {"temperature two-byte", TEMPERATURE_2, 0xFF, 0xFE, "-2"},
        {"temperature two-byte min", TEMPERATURE_2, 0x80, 0x00, "-32768"},
        {"number factor 10", tableRow(2), 0xFF, 0x00, "2550"},
        {"number one-byte ignores second", tableRow(3), 0x07, 0xFF, "7"},
        {"number two-byte", tableRow(16), 0x01, 0x2C, "3000"},
        {"number two-byte max", tableRow(25), 0xFF, 0xFF, "655350"},
        {"unknown kind as number", UNKNOWN_KIND, 0xC8, 0x00, "200"},
        {"voltage row 0", tableRow(0), 100, 0, "11.23"},
        {"voltage row 0 switched", tableRow(0, true), 100, 0, "15.52"},
        {"voltage single precision", tableRow(8), 25, 0, "1.91"},
        {"voltage half up", tableRow(10), 30, 0, "1.13"},
        {"voltage zero", tableRow(12), 0, 0, "0.00"},
        {"voltage max", tableRow(4), 255, 0, "28.64"},
        {"signed magnitude negative", SIGNED_MAG, 0x85, 0x00, "-5.00"},
        {"signed magnitude negative zero", SIGNED_MAG, 0x80, 0x00, "-0.00"},
        {"signed magnitude positive", SIGNED_MAG, 0x05, 0x00, "5.00"},
        {"signed magnitude first byte only", customRow(PK_SIGNED_MAG, 2, 0.5), 0xFF, 0xFF,
         "-63.50"},
        {"action", tableRow(46), 0x12, 0x34, "-"},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(decodeParamValue(c.row, c.first, c.second), c.expected) << c.label;
    }
}

TEST(DecodeParamValue, RowsOutsideTheTableNeverOverflow) {
    // Factors no table row has: the text saturates instead of converting out of range.
    EXPECT_EQ(decodeParamValue(customRow(PK_NUMBER, 2, 1e300), 0xFF, 0xFF),
              std::to_string(std::numeric_limits<int>::max()));
    EXPECT_EQ(decodeParamValue(customRow(PK_TEMPERATURE, 2, 1e300), 0x80, 0x00),
              std::to_string(std::numeric_limits<int>::min()));
    EXPECT_EQ(decodeParamValue(customRow(PK_TIME, 2, 1e300), 0x00, 0x01), "1193046:28:15");
    EXPECT_EQ(decodeParamValue(customRow(PK_VOLTAGE, 2, 1e300), 0x00, 0x01), "inf");
    EXPECT_EQ(decodeParamValue(customRow(PK_NUMBER, 1, -1.0), 0x05, 0x00), "-5");
    EXPECT_EQ(decodeParamValue(customRow(PK_TIME, 2, -1.0), 0x00, 0x05), "00:00:00");
    EXPECT_EQ(decodeParamValue(customRow(PK_NUMBER, 1, std::nan("")), 0x05, 0x00), "0");
}

struct EncodeCase {
    const char* label;
    ParamDef row;
    std::string text;
    std::optional<EncodedValue> expected;
};

std::optional<EncodedValue> bytes(std::uint8_t high, std::uint8_t low) {
    return EncodedValue{high, low};
}
constexpr std::nullopt_t REFUSED = std::nullopt;

TEST(EncodeParamValue, ConvertsLimitsOrRefusesEveryKind) {
    const ParamDef time = tableRow(32);
    const ParamDef number = tableRow(3);
    const ParamDef temperature = tableRow(26);
    const EncodeCase cases[] = {
        {"time Never", time, "Never", bytes(0xFF, 0xFF)},
        {"time never", time, "never", bytes(0xFF, 0xFF)},
        {"time NEVER", time, "NEVER", bytes(0xFF, 0xFF)},
        {"time never with blank", time, "never ", REFUSED},
        {"time max", time, "17:59:59", bytes(0xFD, 0x1F)},
        {"time leading blank", time, " 1:00:00", bytes(0x0E, 0x10)},
        {"time plus sign", time, "+1:+1:+1", bytes(0x0E, 0x4D)},
        {"time minus zero", time, "-0:00:00", bytes(0x00, 0x00)},
        {"time digit then junk", time, "1x:2y:3z", bytes(0x0E, 0x8B)},
        {"time letters read as 0", time, "aa:bb:cc", bytes(0x00, 0x00)},
        {"time hours over 17", time, "18:00:00", REFUSED},
        {"time 7 characters", time, "1:00:00", REFUSED},
        {"time 9 characters", time, "01:00:000", REFUSED},
        {"time minutes over 59", time, "01:60:00", REFUSED},
        {"time seconds over 59", time, "01:00:60", REFUSED},
        {"time negative hours", time, "-1:00:00", REFUSED},
        {"time negative seconds", time, "00:00:-1", REFUSED},
        {"time colon missing", time, "01-00-00", REFUSED},
        {"time empty", time, "", REFUSED},
        {"number over", number, "300", bytes(0, 255)},
        {"number negative", number, "-5", bytes(0, 0)},
        {"number half up", number, "2.5", bytes(0, 3)},
        {"number below half", number, "2.49", bytes(0, 2)},
        {"number letters", number, "abc", bytes(0, 0)},
        {"number empty", number, "", bytes(0, 0)},
        {"number trailing junk", number, "12abc", bytes(0, 12)},
        {"number exponent", number, "1e3", bytes(0, 255)},
        {"number d exponent", number, "2d1", bytes(0, 20)},
        {"number overflow", number, "1e999", REFUSED},
        {"number underflow", number, "1e-400", REFUSED},
        {"number huge negative", number, "-1e300", bytes(0, 0)},
        {"number only 8 characters", TEMPERATURE_2, "000001234", bytes(0x00, 0x7B)},
        {"two-byte", tableRow(16), "1000", bytes(0x00, 0x64)},
        {"two-byte rounds", tableRow(16), "15", bytes(0x00, 0x02)},
        {"two-byte limit", tableRow(16), "999999", bytes(0xFF, 0xFF)},
        {"two-byte far over the limit", tableRow(25), "1e300", bytes(0xFF, 0xFF)},
        {"voltage", tableRow(0), "11.24", bytes(0, 100)},
        {"voltage limit", tableRow(0), "30", bytes(0, 255)},
        {"voltage switched", tableRow(0, true), "15.52", bytes(0, 100)},
        {"temperature negative", temperature, "-20", bytes(0, 0xEC)},
        {"temperature over", temperature, "200", bytes(0, 0x7F)},
        {"temperature under", temperature, "-200", bytes(0, 0x80)},
        {"temperature half up", temperature, "85.5", bytes(0, 86)},
        {"temperature negative truncates", temperature, "-20.7", bytes(0, 0xEC)},
        {"temperature huge", temperature, "1e10", bytes(0, 0x7F)},
        {"temperature huge negative", temperature, "-1e10", bytes(0, 0x80)},
        {"temperature two-byte", TEMPERATURE_2, "-2", bytes(0xFF, 0xFE)},
        {"temperature two-byte limits", TEMPERATURE_2, "-1e300", bytes(0x80, 0x00)},
        {"temperature two-byte upper", TEMPERATURE_2, "40000", bytes(0x7F, 0xFF)},
        {"action", tableRow(46), "anything", bytes(0, 255)},
        {"action empty", tableRow(46), "", bytes(0, 255)},
        {"action overflow text", tableRow(46), "1e999", bytes(0, 255)},
        {"signed magnitude negative", SIGNED_MAG, "-3", bytes(0, 0x83)},
        {"signed magnitude lone minus", SIGNED_MAG, "-", bytes(0, 0x80)},
        {"signed magnitude over", SIGNED_MAG, "200", bytes(0, 0x7F)},
        {"signed magnitude negative over", SIGNED_MAG, "-1e300", bytes(0, 0xFF)},
        {"signed magnitude double minus", SIGNED_MAG, "--3", bytes(0, 0x80)},
        {"signed magnitude half up", SIGNED_MAG, "2.5", bytes(0, 3)},
        {"signed magnitude 8 after the minus", SIGNED_MAG, "-000000012", bytes(0, 0x81)},
        {"signed magnitude empty", SIGNED_MAG, "", REFUSED},
        {"signed magnitude overflow", SIGNED_MAG, "-1e999", REFUSED},
        {"signed magnitude two-byte row", customRow(PK_SIGNED_MAG, 2, 1.0), "-3", bytes(0, 0x83)},
        {"unknown kind as number", UNKNOWN_KIND, "300", bytes(0, 255)},
    };
    for (const EncodeCase& c : cases) {
        const std::optional<EncodedValue> got = encodeParamValue(c.row, c.text);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.label;
        if (got) {
            EXPECT_EQ(got->high, c.expected->high) << c.label;
            EXPECT_EQ(got->low, c.expected->low) << c.label;
        }
    }
}

TEST(EncodeParamValue, RefusalLeavesNothingBehind) {
    const ParamDef row = tableRow(3);
    EXPECT_FALSE(encodeParamValue(row, "1e999"));
    const auto next = encodeParamValue(row, "5");
    ASSERT_TRUE(next);
    EXPECT_EQ(next->low, 5);
    const ParamDef time = tableRow(33);
    EXPECT_FALSE(encodeParamValue(time, "99:99:99"));
    EXPECT_TRUE(encodeParamValue(time, "00:00:01"));
}

TEST(EncodeParamValue, TextsWithNulBytesAreReadNoFurther) {
    const ParamDef row = tableRow(3);
    const auto got = encodeParamValue(row, std::string_view("12\0"
                                                            "34",
                                                            5));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->low, 12);
}

struct NumberCase {
    std::string text;
    std::optional<double> expected;  // nullopt: range error
};

TEST(ReadParamNumber, FollowsTheNumberSyntax) {
    const NumberCase cases[] = {
        {"", 0.0},
        {"123456789", 12345678.0},
        {"12345678e9", 12345678.0},
        {"  +1.5e2", 150.0},
        {"\t\n\v\f\r-7", -7.0},
        {"        5", 0.0},  // the 5 is the ninth character
        {"1d3", 1000.0},
        {"1D-1", 0.1},
        {"1E+2", 100.0},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"1dx", 1.0},
        {"1,5", 1.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"-.25", -0.25},
        {".", 0.0},
        {"-", 0.0},
        {"+-5", 0.0},
        {"- 5", 0.0},
        {"abc", 0.0},
        {"0x10", 0.0},
        {"inf", 0.0},
        {"-inf", 0.0},
        {"infinity", 0.0},
        {"nan", 0.0},
        {"NAN(1)", 0.0},
        {"0e999999", 0.0},
        {"0.0e-999", 0.0},
        {"1e999", std::nullopt},
        {"-1e999", std::nullopt},
        {"1.8e308", std::nullopt},
        {"1.79e308", 1.79e308},
        {"1e-400", std::nullopt},
        {"2e-324", std::nullopt},  // below half the smallest subnormal: only zero
        {"3e-324", 4.9406564584124654e-324},
        {"1e-310", 1e-310},
        {"1e-3999", std::nullopt},
        {"1.50e3081", 1.5e308},  // the exponent's last digit is the ninth character
        {"0.1", 0.1},
        {"2.675", 2.675},
        {"\xB0"
         "5",
         0.0},
        {"\xA0"
         "5",
         0.0},  // a non-breaking space is not white space
    };
    for (const NumberCase& c : cases) {
        const std::optional<double> got = readParamNumber(c.text);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << '"' << c.text << '"';
        if (got) {
            EXPECT_EQ(*got, *c.expected) << '"' << c.text << '"';
        }
    }
}

struct FormatCase {
    float value;
    const char* expected;
};

TEST(FormatTwoDecimals, RoundsHalvesAwayFromZeroOnTheExactValue) {
    const FormatCase cases[] = {
        {1.125f, "1.13"},
        {-1.125f, "-1.13"},
        {0.125f, "0.13"},
        {0.375f, "0.38"},
        {2.5f, "2.50"},
        {1.915f, "1.91"},  // the float lies below 1.915
        {2.675f, "2.67"},
        {0.005f, "0.00"},  // the float lies just below 0.005
        {0.0049999f, "0.00"},
        {0.0f, "0.00"},
        {-0.0f, "-0.00"},
        {-0.001f, "-0.00"},
        {0.995f, "1.00"},  // just above
        {9.995f, "9.99"},
        {99.995f, "100.00"},
        {std::numeric_limits<float>::denorm_min(), "0.00"},
        {16777216.0f, "16777216.00"},
        {8388607.5f, "8388607.50"},
        {1e10f, "10000000000.00"},
        {FLT_MAX, "340282346638528859811704183484516925440.00"},
        {-FLT_MAX, "-340282346638528859811704183484516925440.00"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(formatTwoDecimals(c.value), c.expected) << c.expected;
    }
}

// The C library prints the exact value correctly except that it breaks exact ties to even.
// Nudging a tie away from zero in double precision (far finer than float) gives the
// expected text from it.
std::string referenceTwoDecimals(float value) {
    double exact = value;
    const double hundredfold = exact * 100.0;  // exact: 24 + 7 bits
    if (std::fabs(hundredfold - std::trunc(hundredfold)) == 0.5) {
        exact = std::nextafter(exact, std::copysign(INFINITY, exact));
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", exact);
    return text;
}

TEST(FormatTwoDecimals, AgreesWithTheExactExpansionEverywhere) {
    // Every eighth up to 2^16: all the ties and the values between them.
    for (int k = -(1 << 19); k <= (1 << 19); ++k) {
        const float value = static_cast<float>(k) / 8.0f;
        ASSERT_EQ(formatTwoDecimals(value), referenceTwoDecimals(value)) << k;
    }
    // Random bit patterns: every magnitude, subnormals included.
    std::mt19937 random(20240601);
    for (int i = 0; i < 300000; ++i) {
        const auto value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        if (!std::isfinite(value)) {
            continue;
        }
        ASSERT_EQ(formatTwoDecimals(value), referenceTwoDecimals(value)) << value;
    }
    // The range voltages live in, densely.
    std::uniform_real_distribution<float> voltages(0.0f, 100.0f);
    for (int i = 0; i < 300000; ++i) {
        const float value = voltages(random);
        ASSERT_EQ(formatTwoDecimals(value), referenceTwoDecimals(value)) << value;
    }
}

}  // namespace
