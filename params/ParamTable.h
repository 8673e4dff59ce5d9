// The controller's parameters as the programmer knows them: one built-in table.
// Texts are single-byte Windows-1252; the only non-ASCII byte is the degree sign, 0xB0.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

// How a value converts to and from text. Values outside these are treated as PK_NUMBER.
enum ParamKind : std::int32_t {
    PK_NUMBER = 1,
    PK_VOLTAGE = 2,
    PK_TIME = 3,
    PK_SIGNED_MAG = 4,
    PK_TEMPERATURE = 5,
    PK_ACTION = 6,
};

struct ParamDef {
    std::int32_t address;  // only the low byte travels in frames
    std::int32_t size;     // value bytes: 1 or 2 (0: never offered, never written)
    const char* name;      // the parameter list's entry
    std::int32_t listed;   // 1: offered in the list
    ParamKind kind;
    double factor;  // engineering value = raw value x factor
    const char* description;
    const char* unit;
};

inline constexpr int PARAM_ROW_COUNT = 47;

// Rows whose factors the status panel borrows for its voltages.
inline constexpr int ROW_IGNITION_VOLTAGE = 0;
inline constexpr int ROW_INPUT_VOLTAGE = 4;
inline constexpr int ROW_RAIL_12V = 8;
inline constexpr int ROW_RAIL_5V = 10;
inline constexpr int ROW_RAIL_3V = 12;

// The table is process state in one respect: the factors of rows 0 to 13 switch once when
// the controller reports firmware major version 2 or later. A new object starts from the
// initial factors.
class ParamTable {
public:
    ParamTable();

    // 0 to PARAM_ROW_COUNT - 1; any other index reads an empty row of size 0, which is
    // never offered and never written.
    const ParamDef& row(int index) const;
    int rowCount() const { return PARAM_ROW_COUNT; }

    // Indexes of the rows offered in the parameter list (listed, size not 0), in order.
    std::vector<int> offeredRows() const;
    // The first offered row whose address low byte is `address`, or -1.
    int findOffered(std::uint8_t address) const;

    // The firmware factor switch: version byte with the major version in its high nibble.
    void applyFirmwareVersion(std::uint8_t version);
    bool factorsSwitched() const { return m_switched; }

private:
    std::array<ParamDef, PARAM_ROW_COUNT> m_rows;
    bool m_switched = false;
};
