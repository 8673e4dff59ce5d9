// What the simulator's panel in ostrel-sim does, free of any toolkit: the range of each
// field, the input voltage in volts <-> counts of the chosen firmware, the firmware switch
// that keeps the volts of every rail and, like the programmer's scaling, has no way back
// from 2.x, the counts line, the history report's offsets.
// qt/ and win32/ only show its fields and hand the user's changes to it.
#pragma once

#include <cstdint>
#include <string>

#include "device/Wire.h"

namespace sim {

class SimulatedOstrel;

class SimPanel {
public:
    static constexpr int MAJOR_FIRST = 1;
    static constexpr int MAJOR_LAST = 2;
    static constexpr int MINOR_FIRST = 0;
    static constexpr int MINOR_LAST = 15;  // one nibble
    static constexpr int TEMPERATURE_FIRST = -128;
    static constexpr int TEMPERATURE_LAST = 127;
    static constexpr int COUNTS_LAST = 255;
    // The offsets a history report can mark: its entries.
    static constexpr int HISTORY_FIRST = HISTORY_AT_ENTRIES;
    static constexpr int HISTORY_LAST = REPORT_SIZE - 1;

    // Takes its first values from the controller's state and changes nothing.
    explicit SimPanel(SimulatedOstrel& controller);

    // The choices of the major version field, in order ("1.x", "2.x").
    static std::string majorText(int major);
    // Beside the major version field: the switch to 2.x is one-way, as the programmer's.
    static constexpr const char* MAJOR_NOTE = "2.x is for good: restart the demo for 1.x";

    int major() const { return m_major; }
    // The first major version the field offers: once the programmer has seen a firmware that
    // switches its scaling it keeps that scaling, so an older one is offered no more.
    int majorFirst() const;
    int minor() const { return m_minor; }
    double inputVolts() const { return m_inputVolts; }
    // The highest input voltage the chosen firmware can send: 255 counts, in hundredths.
    double inputVoltsLast() const;
    // The input voltage as the field shows it, two decimals: the volts the counts sent
    // stand for, the figure the programmer shows.
    std::string inputVoltsText() const;
    // The volts of one count, a step of the field.
    double inputVoltsStep() const;
    int temperature() const { return m_temperature; }
    // What the input voltage is sent as, for example "107 counts".
    std::string countsText() const;

    // Each change goes to the controller at once; values outside a field's range are
    // brought into it, and volts to the nearest count.
    // Another major version (from majorFirst() on) scales the voltages anew: the input keeps
    // its volts as nearly as the new scaling carries them, and so do the rails the panel
    // has no field for.
    void setMajor(int major);
    void setMinor(int minor);
    void setInputVolts(double volts);
    // The field's text; false (and nothing changed) when it holds no number.
    bool setInputVoltsText(const std::string& text);
    void setTemperature(int degrees);
    // A history report marking the entry at report offset `position`.
    void sendHistory(int position);
    void unplug();

private:
    void applyVersion();
    void applyMeasurements();

    SimulatedOstrel& m_controller;
    int m_major;
    int m_minor;
    double m_inputVolts;
    int m_temperature;
};

// Gives `controller` firmware `version` (major version in the high nibble) as the panel's
// fields switch it: the measurements keep the volts they stand for under its scaling.
void setFirmwareVersion(SimulatedOstrel& controller, std::uint8_t version);

}  // namespace sim
