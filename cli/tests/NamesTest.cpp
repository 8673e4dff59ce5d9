// The pieces ostrelctl adds beside the window's: parameter names on the command line and
// UTF-8 for the Windows-1252 texts.
#include <gtest/gtest.h>

#include <set>

#include "core/names/ParamNames.h"
#include "params/Cp1252.h"

namespace {

TEST(ParamNames, ResolveByNameAddressShortNameOrAUniquePart) {
    const ParamTable table;
    struct Case {
        const char* query;
        int row;  // -1: no single row
        bool ambiguous;
    };
    for (const Case& c : {
             Case{"Delay before PSU startup", 3, false},
             Case{"delay BEFORE psu STARTUP", 3, false},
             Case{"0x03", 3, false},
             Case{"0X1c", 26, false},
             Case{"0xff", 46, false},
             Case{"delay-before-psu-startup", 3, false},
             Case{"PWRSW-push-down-time", 16, false},
             Case{"max-limit-for-3-3v", 12, false},
             Case{"min-temp", 27, false},
             Case{"thump", 25, false},
             Case{"temperature", -1, true},
             Case{"off-delay", -1, true},
             Case{"0x02", -1, false},  // not offered
             Case{"0x11", -1, false},  // second byte of a two-byte row
             Case{"Ignition Debounce", -1, false},
             Case{"0x1000", -1, false},
             Case{"", -1, false},
             Case{"-", -1, false},
         }) {
        const ctl::ParamMatch match = ctl::resolveParam(table, c.query);
        EXPECT_EQ(match.row, c.row) << c.query;
        EXPECT_EQ(match.ambiguous, c.ambiguous) << c.query;
    }
    // Files name parameters exactly: a part is not enough.
    EXPECT_EQ(ctl::resolveParamExactly(table, "thump"), -1);
    EXPECT_EQ(ctl::resolveParamExactly(table, "THUMP Timeout"), 25);
}

TEST(ParamNames, ShortNamesAreUniqueAndMismatchesListCloseOnes) {
    const ParamTable table;
    std::set<std::string> names;
    for (const int row : table.offeredRows()) {
        EXPECT_TRUE(names.insert(ctl::shortName(table.row(row).name)).second)
            << table.row(row).name;
    }
    const ctl::ParamMatch typo = ctl::resolveParam(table, "thump-timout");
    ASSERT_EQ(typo.row, -1);
    EXPECT_EQ(ctl::describeMismatch(table, "thump-timout", typo),
              "\"thump-timout\" is not a parameter; close matches: THUMP Timeout (thump-timeout)");
    const ctl::ParamMatch both = ctl::resolveParam(table, "temperature");
    EXPECT_EQ(ctl::describeMismatch(table, "temperature", both),
              "\"temperature\" matches several parameters: Maximum temperature "
              "(maximum-temperature), Minimum temperature (minimum-temperature)");
}

TEST(Cp1252, ToAndFromUtf8) {
    EXPECT_EQ(cp1252::toUtf8("[\xB0"
                             "C]"),
              "[\u00B0C]");
    EXPECT_EQ(cp1252::toUtf8("\x80\x81\x9F\xFF"), "\u20AC\u0081\u0178\u00FF");
    EXPECT_EQ(cp1252::toUtf8(std::string("a\0b", 3)), "a");
    struct Case {
        std::string utf8;
        std::string cp1252;
    };
    for (const Case& c : {Case{"12 \u00B0C",
                               "12 \xB0"
                               "C"},
                          Case{"\u20AC\u0178", "\x80\x9F"}, Case{"\u4E2D\U0001F600", "??"},
                          Case{std::string("a\0b", 3), "a?b"}, Case{"\xC3", "?"},
                          Case{"\xC0\xAF", "??"}, Case{"\xE2\x82", "??"},
                          Case{"\xFF"
                               "x",
                               "?x"}}) {
        EXPECT_EQ(cp1252::fromUtf8(c.utf8), c.cp1252) << c.utf8;
    }
}

}  // namespace
