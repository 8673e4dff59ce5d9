#include "params/ParamTable.h"

#include <cstddef>

namespace {

// The rows as the controller's firmware 1.x expects them; rows 0 to 13 switch factors later.
// Descriptions keep the device documentation's wording and spelling, which users know.
constexpr std::array<ParamDef, PARAM_ROW_COUNT> PARAM_INITIAL_ROWS{{
    {0x00, 1, "Ignition HIGH limit", 1, PK_VOLTAGE, 0.1123,
     "Above this voltage IGN is considered ON", "[V]"},
    {0x01, 1, "Ignition LOW limit", 1, PK_VOLTAGE, 0.1123,
     "Below this voltage IGN is considered OFF", "[V]"},
    {0x02, 1, "Ignition Debounce", 0, PK_NUMBER, 10.0, "Ignition filter de-bouncing at PSU startup",
     "[ms]"},
    {0x03, 1, "Delay before PSU startup", 1, PK_NUMBER, 1.0,
     "Initial startup delay to avoid re-cranking problems", "[s]"},
    {0x04, 1, "Min. VIN voltage at PSU startup", 1, PK_VOLTAGE, 0.1123,
     "Input voltage STARTUP ZONE treshold [11.24V]", "[V]"},
    {0x05, 1, "Min. VIN voltage while all rails ON", 1, PK_VOLTAGE, 0.1123,
     "Input voltage RUNNING ZONE treshold [7.02V]", "[V]"},
    {0x06, 1, "Min. VIN voltage while 5VSB=ON", 1, PK_VOLTAGE, 0.1123,
     "Input voltage STOPPING ZONE treshold [11.24V]", "[V]"},
    {0x07, 1, "Max. allowed VIN voltage", 0, PK_VOLTAGE, 0.1123,
     "Input voltage, HIGH SHUTDOWN treshold [29.86V]", "[V]"},
    {0x08, 1, "Max. limit for 12V", 1, PK_VOLTAGE, 0.0766, "12V Rail MAX voltage treshold", "[V]"},
    {0x09, 1, "Min. limit for 12V", 1, PK_VOLTAGE, 0.0766, "12V Rail MIN voltage treshold", "[V]"},
    {0x0A, 1, "Max. limit for 5V", 1, PK_VOLTAGE, 0.0375, "5V Rail MAX voltage treshold", "[V]"},
    {0x0B, 1, "Min. limit for 5V", 1, PK_VOLTAGE, 0.0375, "5V Rail MIN voltage treshold", "[V]"},
    {0x0C, 1, "Max. limit for 3.3V", 1, PK_VOLTAGE, 0.0188, "3.3V Rail MAX voltage treshold",
     "[V]"},
    {0x0D, 1, "Min. limit for 3.3V", 1, PK_VOLTAGE, 0.0188, "3.3V Rail MIN voltage treshold",
     "[V]"},
    {0x0E, 1, "12V rail startup time", 1, PK_NUMBER, 1.0, "12V Rail STARTUP time", "[ms]"},
    {0x0F, 1, "3.3V rail startup time", 1, PK_NUMBER, 1.0, "3.3V Rail STARTUP time", "[ms]"},
    {0x10, 2, "PWRSW \"push-down\" time", 1, PK_NUMBER, 10.0,
     "How long the ON/OFF button is pressed down", "[ms]"},
    {0x12, 1, "Try to turn ON the PSU for N time", 1, PK_NUMBER, 1.0,
     "Startup RETRY number (try n time to startup the motherboard)", "try-outs"},
    {0x13, 1, "Delay between ON try-outs", 1, PK_NUMBER, 1.0,
     "Interval between two adiacent startup retry", "[s]"},
    {0x14, 1, "Try to turn OFF the PSU for N time", 1, PK_NUMBER, 1.0,
     "Shutdown RETRY number (try n time to shutdown the motherboard)", "try-outs"},
    {0x15, 1, "Delay between OFF try-outs", 1, PK_NUMBER, 1.0,
     "Interval between two consecutive shutdown retries", "[s]"},
    {0x16, 1, "EMERGENCY shutdown time (5VSB)", 0, PK_NUMBER, 1.0,
     "5VSB OFF timer (EMERGENCY) in case ON/OFF pulse not detected by motehrboard", "[s]"},
    {0x17, 1, "EMERGENCY shutdown timer", 1, PK_NUMBER, 1.0,
     "Rails OFF timer (EMERGENCY) in case ON/OFF pulse not detected by motehrboard", "[s]"},
    {0x18, 1, "PS ON 0 Threshold", 0, PK_NUMBER, 10.0, "PSON 0 stage treshold value", "[ms]"},
    {0x19, 1, "PS ON 1 Threshold", 0, PK_NUMBER, 10.0, "PSON 1 stage treshold value", "[ms]"},
    {0x1A, 2, "THUMP Timeout", 1, PK_NUMBER, 10.0,
     "THUMP timeout, switching off the audio amplifier during motherboard startup/shutdown",
     "[ms]"},
    {0x1C, 1, "Maximum temperature", 1, PK_TEMPERATURE, 1.0, "Maximum temperature",
     "[\xB0"
     "C]"},
    {0x1D, 1, "Minimum temperature", 1, PK_TEMPERATURE, 1.0, "Minimum temperature",
     "[\xB0"
     "C]"},
    {0x1E, 1, "EMERGENCY OFF mode selector", 0, PK_NUMBER, 1.0,
     "Emergency OFF mode (0 = immediate turn OFF the motherboard, 1 = keep sending ON/OFF "
     "pulses to M/B)",
     "mode"},
    {0x1F, 1, "5V Standby PSWOn Delay", 0, PK_NUMBER, 10.0,
     "Delay between 5v Standby startup and Power Switch On Pulse", "[ms]"},
    {0x20, 2, "Off-delay MODE 0", 0, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 0 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x22, 2, "Hard-off MODE 0", 0, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 0 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x24, 2, "Off-delay MODE 1", 1, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 1 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x26, 2, "Hard-off MODE 1", 1, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 1 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x28, 2, "Off-delay MODE 2", 1, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 2 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x2A, 2, "Hard-off MODE 2", 1, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 2 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x2C, 2, "Off-delay MODE 3", 1, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 3 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x2E, 2, "Hard-off MODE 3", 1, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 3 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x30, 2, "Off-delay MODE 4", 1, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 4 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x32, 2, "Hard-off MODE 4", 1, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 4 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x34, 2, "Off-delay MODE 5", 1, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 5 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x36, 2, "Hard-off MODE 5", 1, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 5 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x38, 2, "Off-delay MODE 6", 1, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 6 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x3A, 2, "Hard-off MODE 6", 1, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 6 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x3C, 2, "Off-delay MODE 7", 1, PK_TIME, 1.0,
     "Rails OFF timer value in MODE 7 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0x3E, 2, "Hard-off MODE 7", 1, PK_TIME, 1.0,
     "5VSB OFF timer value in MODE 7 (max. 17:59:59 or Never)", "[hh:mm:ss]"},
    {0xFF, 1, "Reset to factory defaults", 1, PK_ACTION, 1.0,
     "Reset all settings to factory defaults (results visible only on next restart of the "
     "Ostrel)",
     ""},
}};

// Firmware 2.x measures voltages through other dividers: the voltage rows among 0 to 13 get
// new factors. Rows 2 and 3 are no voltages and keep theirs.
struct SwitchedFactor {
    int row;
    double factor;
};
constexpr std::array<SwitchedFactor, 12> PARAM_SWITCHED_FACTORS{{
    {0, 0.1552},
    {1, 0.1552},
    {4, 0.1552},
    {5, 0.1552},
    {6, 0.1552},
    {7, 0.1552},
    {8, 0.1165},
    {9, 0.1165},
    {10, 0.0389},
    {11, 0.0389},
    {12, 0.0195},
    {13, 0.0195},
}};
constexpr int PARAM_SWITCH_MAJOR = 2;

// What an index outside the table reads: a row with size 0 is never offered or written.
constexpr ParamDef PARAM_NO_ROW{0, 0, "", 0, PK_NUMBER, 1.0, "", ""};

}  // namespace

ParamTable::ParamTable() : m_rows(PARAM_INITIAL_ROWS) {}

const ParamDef& ParamTable::row(int index) const {
    if (index < 0 || index >= PARAM_ROW_COUNT) {
        return PARAM_NO_ROW;
    }
    return m_rows[static_cast<std::size_t>(index)];
}

std::vector<int> ParamTable::offeredRows() const {
    std::vector<int> rows;
    for (int index = 0; index < PARAM_ROW_COUNT; ++index) {
        const ParamDef& def = m_rows[static_cast<std::size_t>(index)];
        if (def.listed != 0 && def.size != 0) {
            rows.push_back(index);
        }
    }
    return rows;
}

int ParamTable::findOffered(std::uint8_t address) const {
    for (int index = 0; index < PARAM_ROW_COUNT; ++index) {
        const ParamDef& def = m_rows[static_cast<std::size_t>(index)];
        if (def.listed != 0 && def.size != 0 && (def.address & 0xFF) == address) {
            return index;
        }
    }
    return -1;
}

void ParamTable::applyFirmwareVersion(std::uint8_t version) {
    // One-way: a later report of an older version never restores the initial factors.
    if ((version >> 4) < PARAM_SWITCH_MAJOR) {
        return;
    }
    for (const SwitchedFactor& entry : PARAM_SWITCHED_FACTORS) {
        m_rows[static_cast<std::size_t>(entry.row)].factor = entry.factor;
    }
    m_switched = true;
}
