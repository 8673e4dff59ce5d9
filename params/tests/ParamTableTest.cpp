#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <set>
#include <string>

#include "params/ParamTable.h"

namespace {

const std::set<int> UNLISTED_ROWS{2, 7, 21, 23, 24, 28, 29, 30, 31};

TEST(ParamTable, OffersEveryListedRowInTableOrder) {
    ParamTable table;
    std::vector<int> expected;
    for (int i = 0; i < PARAM_ROW_COUNT; ++i) {
        if (UNLISTED_ROWS.count(i) == 0) {
            expected.push_back(i);
        }
    }
    const std::vector<int> offered = table.offeredRows();
    EXPECT_EQ(offered, expected);
    ASSERT_EQ(offered.size(), 38u);
    EXPECT_STREQ(table.row(offered.front()).name, "Ignition HIGH limit");
    EXPECT_STREQ(table.row(offered.back()).name, "Reset to factory defaults");
}

TEST(ParamTable, AddressRangesNeverOverlap) {
    ParamTable table;
    std::set<int> taken;
    for (int i = 0; i < table.rowCount(); ++i) {
        const ParamDef& row = table.row(i);
        ASSERT_TRUE(row.size == 1 || row.size == 2) << "row " << i;
        ASSERT_TRUE((row.address >= 0x00 && row.address <= 0x3E) || row.address == 0xFF)
            << "row " << i;
        for (int a = row.address; a < row.address + row.size; ++a) {
            EXPECT_TRUE(taken.insert(a).second) << "row " << i << " reuses address " << a;
        }
    }
    // Two-byte rows occupy their address and the next one.
    EXPECT_EQ(table.row(16).address, 0x10);
    EXPECT_EQ(table.row(16).size, 2);
    EXPECT_EQ(table.row(17).address, 0x12);
    EXPECT_EQ(table.row(25).address, 0x1A);
    EXPECT_EQ(table.row(26).address, 0x1C);
    for (int a = 0x20; a <= 0x3F; ++a) {
        EXPECT_TRUE(taken.count(a) == 1) << "time rows leave a gap at " << a;
    }
}

TEST(ParamTable, TextsAreSingleByteWithTheDegreeSignOnlyInTheTemperatureUnits) {
    ParamTable table;
    for (int i = 0; i < table.rowCount(); ++i) {
        const ParamDef& row = table.row(i);
        for (const char* text : {row.name, row.description, row.unit}) {
            ASSERT_NE(text, nullptr);
            for (const char* c = text; *c != '\0'; ++c) {
                const auto byte = static_cast<unsigned char>(*c);
                if (byte >= 0x80) {
                    EXPECT_EQ(byte, 0xB0) << "row " << i;
                    EXPECT_TRUE((i == 26 || i == 27) && text == row.unit) << "row " << i;
                }
            }
        }
    }
    EXPECT_STREQ(table.row(26).unit,
                 "[\xB0"
                 "C]");
    EXPECT_STREQ(table.row(27).unit,
                 "[\xB0"
                 "C]");
    EXPECT_STREQ(table.row(16).name, "PWRSW \"push-down\" time");
    EXPECT_STREQ(table.row(46).unit, "");
    EXPECT_STREQ(table.row(26).description, table.row(26).name);
    EXPECT_STREQ(table.row(27).description, table.row(27).name);
}

TEST(ParamTable, RowsOfEveryKindCarryTheirFields) {
    struct Case {
        int index;
        int address;
        int size;
        const char* name;
        int listed;
        ParamKind kind;
        double factor;
        const char* unit;
    };
    const Case cases[] = {
        {0, 0x00, 1, "Ignition HIGH limit", 1, PK_VOLTAGE, 0.1123, "[V]"},
        {2, 0x02, 1, "Ignition Debounce", 0, PK_NUMBER, 10.0, "[ms]"},
        {8, 0x08, 1, "Max. limit for 12V", 1, PK_VOLTAGE, 0.0766, "[V]"},
        {10, 0x0A, 1, "Max. limit for 5V", 1, PK_VOLTAGE, 0.0375, "[V]"},
        {12, 0x0C, 1, "Max. limit for 3.3V", 1, PK_VOLTAGE, 0.0188, "[V]"},
        {17, 0x12, 1, "Try to turn ON the PSU for N time", 1, PK_NUMBER, 1.0, "try-outs"},
        {25, 0x1A, 2, "THUMP Timeout", 1, PK_NUMBER, 10.0, "[ms]"},
        {28, 0x1E, 1, "EMERGENCY OFF mode selector", 0, PK_NUMBER, 1.0, "mode"},
        {30, 0x20, 2, "Off-delay MODE 0", 0, PK_TIME, 1.0, "[hh:mm:ss]"},
        {45, 0x3E, 2, "Hard-off MODE 7", 1, PK_TIME, 1.0, "[hh:mm:ss]"},
        {46, 0xFF, 1, "Reset to factory defaults", 1, PK_ACTION, 1.0, ""},
    };
    ParamTable table;
    for (const Case& c : cases) {
        const ParamDef& row = table.row(c.index);
        SCOPED_TRACE(c.index);
        EXPECT_EQ(row.address, c.address);
        EXPECT_EQ(row.size, c.size);
        EXPECT_STREQ(row.name, c.name);
        EXPECT_EQ(row.listed, c.listed);
        EXPECT_EQ(row.kind, c.kind);
        EXPECT_EQ(row.factor, c.factor);
        EXPECT_STREQ(row.unit, c.unit);
    }
    EXPECT_STREQ(table.row(28).description,
                 "Emergency OFF mode (0 = immediate turn OFF the motherboard, 1 = keep sending "
                 "ON/OFF pulses to M/B)");
    EXPECT_STREQ(table.row(46).description,
                 "Reset all settings to factory defaults (results visible only on next restart "
                 "of the Ostrel)");
}

TEST(ParamTable, FindsOnlyOfferedRowsByTheirFirstAddress) {
    ParamTable table;
    for (int byte = 0; byte <= 0xFF; ++byte) {
        int expected = -1;
        for (int i = 0; i < table.rowCount(); ++i) {
            if (table.row(i).address == byte && UNLISTED_ROWS.count(i) == 0) {
                expected = i;
            }
        }
        EXPECT_EQ(table.findOffered(static_cast<std::uint8_t>(byte)), expected) << byte;
    }
    // The interesting ones, spelled out.
    EXPECT_EQ(table.findOffered(0x03), 3);
    EXPECT_EQ(table.findOffered(0x11), -1);  // second byte of row 16
    EXPECT_EQ(table.findOffered(0x12), 17);
    EXPECT_EQ(table.findOffered(0x02), -1);  // unlisted
    EXPECT_EQ(table.findOffered(0x20), -1);  // unlisted time row
    EXPECT_EQ(table.findOffered(0x24), 32);
    EXPECT_EQ(table.findOffered(0x40), -1);
    EXPECT_EQ(table.findOffered(0xFF), 46);
}

TEST(ParamTable, IndexOutsideTheTableReadsAnEmptyRow) {
    ParamTable table;
    for (int index : {-1, PARAM_ROW_COUNT, INT_MIN, INT_MAX}) {
        const ParamDef& row = table.row(index);
        EXPECT_EQ(row.size, 0) << index;
        EXPECT_EQ(row.listed, 0) << index;
        EXPECT_STREQ(row.name, "") << index;
    }
}

struct Factors {
    double voltageIn;  // rows 0, 1, 4, 5, 6, 7
    double rail12V;    // rows 8, 9
    double rail5V;     // rows 10, 11
    double rail3V;     // rows 12, 13
};
const Factors INITIAL{0.1123, 0.0766, 0.0375, 0.0188};
const Factors SWITCHED{0.1552, 0.1165, 0.0389, 0.0195};

void expectFactors(const ParamTable& table, const Factors& f) {
    for (int i : {0, 1, 4, 5, 6, 7}) {
        EXPECT_EQ(table.row(i).factor, f.voltageIn) << "row " << i;
    }
    for (int i : {8, 9}) {
        EXPECT_EQ(table.row(i).factor, f.rail12V) << "row " << i;
    }
    for (int i : {10, 11}) {
        EXPECT_EQ(table.row(i).factor, f.rail5V) << "row " << i;
    }
    for (int i : {12, 13}) {
        EXPECT_EQ(table.row(i).factor, f.rail3V) << "row " << i;
    }
}

TEST(ParamTable, FirmwareMajorTwoOrLaterSwitchesTheVoltageFactorsOnce) {
    struct Case {
        std::vector<std::uint8_t> versions;
        bool switched;
    };
    const Case cases[] = {
        {{}, false},
        {{0x00}, false},
        {{0x1F}, false},
        {{0x10, 0x1F, 0x01}, false},
        {{0x20}, true},
        {{0x21}, true},
        {{0xF0}, true},
        {{0xFF}, true},
        {{0x20, 0x10}, true},  // an older version later never switches back
        {{0x1F, 0x20, 0x00, 0x21}, true},
    };
    for (const Case& c : cases) {
        ParamTable table;  // each starts from the initial factors
        for (std::uint8_t v : c.versions) {
            table.applyFirmwareVersion(v);
        }
        SCOPED_TRACE(testing::PrintToString(c.versions));
        EXPECT_EQ(table.factorsSwitched(), c.switched);
        expectFactors(table, c.switched ? SWITCHED : INITIAL);
    }
}

TEST(ParamTable, SwitchChangesNothingButTheVoltageFactors) {
    const ParamTable fresh;
    ParamTable switched;
    switched.applyFirmwareVersion(0x20);
    for (int i = 0; i < PARAM_ROW_COUNT; ++i) {
        const ParamDef& a = fresh.row(i);
        const ParamDef& b = switched.row(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(a.address, b.address);
        EXPECT_EQ(a.size, b.size);
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.listed, b.listed);
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_EQ(a.description, b.description);
        EXPECT_EQ(a.unit, b.unit);
        const bool voltageRow = i <= 13 && i != 2 && i != 3;
        EXPECT_EQ(a.factor != b.factor, voltageRow);
    }
    // Another table object is not affected: no shared state.
    expectFactors(ParamTable{}, INITIAL);
}

}  // namespace
