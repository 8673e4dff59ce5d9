#include <gtest/gtest.h>

#include "platform/linux/ReportDescriptor.h"
#include "platform/linux/tests/Descriptors.h"

namespace {

using platform::parseReportDescriptor;
using testdata::Bytes;

struct LengthCase {
    const char* name;
    Bytes descriptor;
    bool numbered;
    int input;
    int output;
    int feature;
    friend void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }
};

class ReportLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ReportLengths, MatchWindowsCaps) {
    const LengthCase& c = GetParam();
    const auto summary = parseReportDescriptor(c.descriptor);
    ASSERT_TRUE(summary.has_value());
    EXPECT_EQ(summary->numbered, c.numbered);
    EXPECT_EQ(summary->inputReportByteLength, c.input);
    EXPECT_EQ(summary->outputReportByteLength, c.output);
    EXPECT_EQ(summary->featureReportByteLength, c.feature);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, ReportLengths,
    ::testing::Values(
        LengthCase{"Gadget", testdata::gadgetDescriptor(), true, 24, 24, 0},
        LengthCase{"BootKeyboard", testdata::bootKeyboard(), false, 9, 2, 0},
        LengthCase{"BootMouse", testdata::bootMouse(), false, 4, 0, 0},
        LengthCase{"Empty", {}, false, 0, 0, 0},
        // Two input reports of different length: the longest counts.
        LengthCase{"LongestReportWins",
                   {0x75, 0x08, 0x95, 0x02, 0x85, 0x01, 0x81, 0x02, 0x95, 0x10, 0x85, 0x02, 0x81,
                    0x02, 0x85, 0x03, 0xB1, 0x02},
                   true,
                   17,
                   0,
                   17},
        // Items of one report id add up, even when another id comes between them.
        LengthCase{"ItemsOfOneIdAddUp",
                   {0x75, 0x08, 0x95, 0x04, 0x85, 0x01, 0x81, 0x02, 0x85, 0x02, 0x81, 0x02, 0x85,
                    0x01, 0x81, 0x02},
                   true,
                   9,
                   0,
                   0},
        // 13 bits round up to 2 bytes.
        LengthCase{"BitsRoundUp", {0x75, 0x01, 0x95, 0x0D, 0x91, 0x02}, false, 0, 3, 0},
        // Pop restores size, count and report id pushed before them.
        LengthCase{"PushPopRestores",
                   {0x75, 0x08, 0x95, 0x02, 0x85, 0x05, 0xA4, 0x75, 0x10, 0x95,
                    0x08, 0x85, 0x06, 0x81, 0x02, 0xB4, 0x81, 0x02, 0x81, 0x02},
                   true,
                   17,
                   0,
                   0},
        // Long items are skipped whole, even when their data looks like items.
        LengthCase{"LongItemSkipped",
                   {0xFE, 0x03, 0x10, 0x75, 0x40, 0x81, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
                   false,
                   2,
                   0,
                   0},
        // Four-byte item data (size code 3) and the largest length that fits.
        LengthCase{"FourByteDataAtLimit",
                   {0x77, 0x08, 0x00, 0x00, 0x00, 0x97, 0xFE, 0xFF, 0x00, 0x00, 0x81, 0x02},
                   false,
                   65535,
                   0,
                   0}),
    [](const auto& param) { return std::string(param.param.name); });

struct MalformedCase {
    const char* name;
    Bytes descriptor;
    friend void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }
};

class MalformedDescriptor : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedDescriptor, GivesNoLengths) {
    EXPECT_FALSE(parseReportDescriptor(GetParam().descriptor).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, MalformedDescriptor,
    ::testing::Values(
        MalformedCase{"ShortItemCutShort", {0x75, 0x08, 0x96, 0x17}},
        MalformedCase{"LongItemCutShort", {0x75, 0x08, 0xFE, 0x05, 0x10, 0x01, 0x02}},
        MalformedCase{"LongItemWithoutTag", {0xFE, 0x00}},
        MalformedCase{"PopWithoutPush", {0xA4, 0xB4, 0xB4}},
        MalformedCase{"PushTooDeep", Bytes(platform::RDESC_MAX_PUSH_DEPTH + 1, 0xA4)},
        MalformedCase{"ReportIdZero", {0x85, 0x00, 0x81, 0x02}},
        MalformedCase{"ReportIdAbove255", {0x86, 0x00, 0x01, 0x81, 0x02}},
        MalformedCase{"OneByteTooLong",
                      {0x77, 0x08, 0x00, 0x00, 0x00, 0x97, 0xFF, 0xFF, 0x00, 0x00, 0x81, 0x02}},
        // Four fields of 2^62 bits would wrap a 64-bit sum to 0, so the 8 bits
        // after them would pass for a 2-byte report.
        MalformedCase{"HugeSumDoesNotWrap",
                      {0x77, 0x00, 0x00, 0x00, 0x80, 0x97, 0x00, 0x00, 0x00, 0x80, 0x81, 0x02,
                       0x81, 0x02, 0x81, 0x02, 0x81, 0x02, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ReportDescriptor, PushToTheLimitIsAccepted) {
    Bytes d(platform::RDESC_MAX_PUSH_DEPTH, 0xA4);
    d.insert(d.end(), platform::RDESC_MAX_PUSH_DEPTH, 0xB4);
    EXPECT_TRUE(parseReportDescriptor(d).has_value());
}

TEST(ReportDescriptor, GadgetCutAnywhereInsideAnItemIsRejected) {
    const Bytes gadget = testdata::gadgetDescriptor();
    ASSERT_FALSE(gadget.empty());
    // Lengths that end inside one of the first items.
    for (std::size_t cut : {1u, 2u, 4u, 6u, 8u, 10u, 11u, 13u, 15u, 17u}) {
        const Bytes head(gadget.begin(), gadget.begin() + static_cast<long>(cut));
        EXPECT_FALSE(parseReportDescriptor(head).has_value()) << "cut at " << cut;
    }
}

}  // namespace
