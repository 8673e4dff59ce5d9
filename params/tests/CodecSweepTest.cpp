// Every raw value of every row, and text of any kind typed into the value field.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "params/ValueCodec.h"

namespace {

constexpr std::uint32_t TIME_NEVER = 65535;
constexpr std::uint32_t TIME_TYPED_MAX = 17 * 3600 + 59 * 60 + 59;

// What the round trip of a raw value must give back: the raw value itself, or the
// documented reason it cannot.
enum class Trip { Same, Refused, Action };

Trip expectedTrip(const ParamDef& row, std::uint32_t raw) {
    if (row.kind == PK_ACTION) {
        // An action has no value to show; whatever the bytes, "-" goes back as 255.
        return Trip::Action;
    }
    if (row.kind == PK_TIME && raw > TIME_TYPED_MAX && raw != TIME_NEVER) {
        // 18:00:00 to 18:12:14 can be stored but not typed: hours above 17 are refused.
        return Trip::Refused;
    }
    // Whole-number rows have integer factors, so the shown number divides back exactly.
    // Two-decimal rows have factors of at least 0.0188: the shown text is off by at most
    // 0.005 plus the single-precision rounding, under 0.27 raw steps, so rounding half up
    // lands on the raw value again. A factor below 0.01 would break this; none exists.
    return Trip::Same;
}

struct SweepResult {
    long checked = 0;
    long failures = 0;
    std::string firstFailure;
};

void sweepRow(const ParamDef& row, int index, SweepResult& result) {
    const bool oneByte = row.size == 1;
    const std::uint32_t rawCount = oneByte ? 256 : 65536;
    for (std::uint32_t raw = 0; raw < rawCount; ++raw) {
        const auto first = static_cast<std::uint8_t>(oneByte ? raw : raw >> 8);
        const auto second = static_cast<std::uint8_t>(oneByte ? 0xA5 : raw & 0xFF);
        const std::string text = decodeParamValue(row, first, second);
        const std::optional<EncodedValue> back = encodeParamValue(row, text);
        ++result.checked;

        // Temperatures come back as the same two's complement bytes.
        bool ok = false;
        switch (expectedTrip(row, raw)) {
            case Trip::Same:
                ok = back && (oneByte ? back->high == 0 && back->low == raw
                                      : back->high * 256u + back->low == raw);
                break;
            case Trip::Refused:
                ok = !back;
                break;
            case Trip::Action:
                ok = text == "-" && back && back->high == 0 && back->low == 255;
                break;
        }
        // One-byte rows never look at the second byte.
        if (oneByte && decodeParamValue(row, first, 0x00) != text) {
            ok = false;
        }
        if (!ok && result.failures++ == 0) {
            result.firstFailure = "row " + std::to_string(index) + " raw " + std::to_string(raw) +
                                  " shows \"" + text + "\"";
        }
    }
}

TEST(CodecSweep, EveryRawValueOfEveryRowRoundTrips) {
    for (const bool switched : {false, true}) {
        ParamTable table;
        if (switched) {
            table.applyFirmwareVersion(0x20);
        }
        SweepResult result;
        for (int index = 0; index < table.rowCount(); ++index) {
            sweepRow(table.row(index), index, result);
        }
        EXPECT_EQ(result.failures, 0)
            << (switched ? "switched: " : "initial: ") << result.firstFailure;
        EXPECT_EQ(result.checked, 29 * 256 + 18 * 65536);  // 18 two-byte rows
    }
}

TEST(CodecSweep, SignedMagnitudeRoundTripsEveryByte) {
    // No table row has this kind, but the codec handles it; "-0.00" must keep its sign.
    SweepResult result;
    const ParamDef row{0x40, 1, "test", 1, PK_SIGNED_MAG, 1.0, "", ""};
    sweepRow(row, -1, result);
    EXPECT_EQ(result.failures, 0) << result.firstFailure;
}

// Text generators for the value field.
class TextSource {
public:
    explicit TextSource(std::uint32_t seed) : m_random(seed) {}

    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random);
    }

    std::string randomBytes() {
        const std::size_t length = below(8) == 0 ? below(4096) : below(24);
        std::string text(length, '\0');
        for (char& c : text) {
            c = static_cast<char>(below(256));
        }
        return text;
    }

    // Built from the pieces of the number syntax, plus things that look close to it.
    std::string numberLike(bool withOddPieces) {
        static const char* const pieces[] = {"0",
                                             "1",
                                             "5",
                                             "9",
                                             "00000000000000000000",
                                             "99999999999999999999",
                                             ".",
                                             "+",
                                             "-",
                                             "e",
                                             "E",
                                             "d",
                                             "D",
                                             "e+",
                                             "e-",
                                             "d-",
                                             "999",
                                             "308",
                                             "324",
                                             "400",
                                             "1e999",
                                             "1e-400",
                                             " ",
                                             "\t",
                                             ",",
                                             "z"};
        using namespace std::string_view_literals;
        static const std::string_view oddPieces[] = {"0x"sv,   "x"sv,   "inf"sv,   "nan"sv,
                                                     "NaN"sv,  "INF"sv, ":"sv,     "\xB0"sv,
                                                     "\xA0"sv, "\0"sv,  "never"sv, "\xFF"sv};
        std::string text;
        const std::size_t count = 1 + below(below(10) == 0 ? 40 : 8);
        for (std::size_t i = 0; i < count; ++i) {
            if (withOddPieces && below(5) == 0) {
                text += oddPieces[below(std::size(oddPieces))];
            } else {
                text += pieces[below(std::size(pieces))];
            }
        }
        return text;
    }

    std::string timeLike() {
        static const char alphabet[] = "0123456789:+- \taZ";
        std::string text(below(4) == 0 ? below(12) : 8, ' ');
        for (char& c : text) {
            c = alphabet[below(sizeof alphabet - 1)];
        }
        if (text.size() == 8 && below(2) == 0) {
            text[2] = ':';
            text[5] = ':';
        }
        return text;
    }

private:
    std::mt19937 m_random;
};

std::vector<ParamDef> rowsUnderTest() {
    std::vector<ParamDef> rows;
    ParamTable table;
    for (int i = 0; i < table.rowCount(); ++i) {
        rows.push_back(table.row(i));
    }
    table.applyFirmwareVersion(0x20);
    for (int i = 0; i <= 13; ++i) {
        rows.push_back(table.row(i));
    }
    // Kinds, sizes and factors no table row has, to push the limits from both sides.
    for (ParamKind kind : {PK_NUMBER, PK_VOLTAGE, PK_TIME, PK_SIGNED_MAG, PK_TEMPERATURE, PK_ACTION,
                           static_cast<ParamKind>(0), static_cast<ParamKind>(77)}) {
        for (std::int32_t size : {1, 2, 0}) {
            for (double factor : {1.0, 1e-300, 1e300, 0.001, 1000.0}) {
                rows.push_back({0x40, size, "test", 1, kind, factor, "", ""});
            }
        }
    }
    return rows;
}

// The whole contract for a result: a refusal, or bytes the row's kind and size allow.
testing::AssertionResult withinLimits(const ParamDef& row, const std::string& text,
                                      const std::optional<EncodedValue>& result) {
    auto fail = [&](const char* why) {
        return testing::AssertionFailure()
               << why << " for kind " << row.kind << " size " << row.size << " factor "
               << row.factor << " text " << testing::PrintToString(text);
    };
    if (!result) {
        if (row.kind == PK_ACTION) {
            return fail("action refused");
        }
        return testing::AssertionSuccess();
    }
    const bool oneByte = row.size == 1;
    if ((oneByte || row.kind == PK_SIGNED_MAG) && result->high != 0) {
        return fail("one-byte value with a high byte");
    }
    const std::uint32_t raw = result->high * 256u + result->low;
    if (row.kind == PK_TIME && row.factor == 1.0 && raw > TIME_TYPED_MAX && raw != TIME_NEVER) {
        return fail("time beyond 17:59:59");
    }
    if (row.kind == PK_ACTION && row.factor == 1.0 && raw != 255) {
        return fail("action not 255");
    }
    return testing::AssertionSuccess();
}

TEST(CodecFuzz, AnyTextGivesARefusalOrBytesWithinLimits) {
    const std::vector<ParamDef> rows = rowsUnderTest();
    TextSource source(0x5eed);
    for (int i = 0; i < 50000; ++i) {
        std::string text;
        switch (i % 4) {
            case 0:
                text = source.randomBytes();
                break;
            case 1:
                text = source.numberLike(false);
                break;
            case 2:
                text = source.numberLike(true);
                break;
            default:
                text = source.timeLike();
                break;
        }
        for (const ParamDef& row : rows) {
            ASSERT_TRUE(withinLimits(row, text, encodeParamValue(row, text)));
        }
        // Number kinds refuse exactly when the reader reports a range error.
        const bool readable = readParamNumber(text).has_value();
        ASSERT_EQ(encodeParamValue(rows[3], text).has_value(), readable)
            << testing::PrintToString(text);
    }
}

// glibc's strtod in the C locale reads the same grammar once d/D are spelled e, and
// rounds correctly; it differs only in flagging representable subnormals as range errors.
std::optional<double> referenceNumber(std::string text) {
    text.resize(std::min<std::size_t>(text.size(), 8));
    for (char& c : text) {
        if (c == 'd' || c == 'D') {
            c = 'e';
        }
    }
    errno = 0;
    const double value = std::strtod(text.c_str(), nullptr);
    if (errno == ERANGE && (value == 0.0 || std::isinf(value))) {
        return std::nullopt;
    }
    return value;
}

TEST(CodecFuzz, NumberReaderMatchesACorrectlyRoundingReference) {
    TextSource source(0xdec0de);
    for (int i = 0; i < 500000; ++i) {
        const std::string text = source.numberLike(false);
        const std::optional<double> got = readParamNumber(text);
        const std::optional<double> expected = referenceNumber(text);
        ASSERT_EQ(got.has_value(), expected.has_value()) << testing::PrintToString(text);
        if (got) {
            // Bitwise, except that 0 and -0 may differ.
            ASSERT_TRUE(*got == *expected) << testing::PrintToString(text);
        }
    }
}

}  // namespace
