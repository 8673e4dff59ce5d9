#include "sim/SimPanel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "params/ParamTable.h"
#include "params/ValueCodec.h"
#include "sim/SimulatedOstrel.h"

namespace sim {
namespace {

// A table row as the programmer scales it under a firmware major version.
ParamDef scaledRow(int row, int major) {
    ParamTable table;
    table.applyFirmwareVersion(firmwareVersion(major, 0));
    return table.row(row);
}

// Volts per count of a table row under a firmware major version.
double factor(int row, int major) {
    return scaledRow(row, major).factor;
}

// The programmer's figure for the input voltage's counts, as a number.
double shownVolts(std::uint8_t counts, int major) {
    return readParamNumber(formatStatusVolts(scaledRow(ROW_INPUT_VOLTAGE, major), counts))
        .value_or(0.0);
}

std::uint8_t toCounts(double volts, double perCount) {
    const double counts = std::round(volts / perCount);
    return static_cast<std::uint8_t>(std::clamp(counts, 0.0, double{SimPanel::COUNTS_LAST}));
}

// The field shows two decimals; the panel holds what it shows.
double toHundredths(double volts) {
    return std::round(volts * 100.0) / 100.0;
}

}  // namespace

SimPanel::SimPanel(SimulatedOstrel& controller)
    : m_controller(controller),
      m_major(std::clamp(firmwareMajor(controller.firmware().firmwareVersion()), MAJOR_FIRST,
                         MAJOR_LAST)),
      m_minor(firmwareMinor(controller.firmware().firmwareVersion())),
      m_inputVolts(shownVolts(controller.firmware().measurements().inputVoltage, m_major)),
      m_temperature(controller.firmware().measurements().temperature) {}

std::string SimPanel::majorText(int major) {
    return std::to_string(major) + ".x";
}

int SimPanel::majorFirst() const {
    ParamTable table;
    table.applyFirmwareVersion(firmwareVersion(m_major, 0));
    return table.factorsSwitched() ? m_major : MAJOR_FIRST;
}

double SimPanel::inputVoltsStep() const {
    return factor(ROW_INPUT_VOLTAGE, m_major);
}

double SimPanel::inputVoltsLast() const {
    return toHundredths(COUNTS_LAST * factor(ROW_INPUT_VOLTAGE, m_major));
}

std::string SimPanel::inputVoltsText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", m_inputVolts);
    return text;
}

std::string SimPanel::countsText() const {
    return std::to_string(m_controller.firmware().measurements().inputVoltage) + " counts";
}

void SimPanel::setMajor(int major) {
    major = std::clamp(major, majorFirst(), MAJOR_LAST);
    if (major == m_major) {
        return;
    }
    // The rails the panel has no field for: a new scaling must not change the volts they
    // stand for, only the counts that carry them.
    Measurements measured = m_controller.firmware().measurements();
    const std::pair<int, std::uint8_t Measurements::*> rails[] = {
        {ROW_IGNITION_VOLTAGE, &Measurements::ignitionVoltage},
        {ROW_RAIL_3V, &Measurements::rail3V},
        {ROW_RAIL_5V, &Measurements::rail5V},
        {ROW_RAIL_12V, &Measurements::rail12V},
    };
    for (const auto& [row, counts] : rails) {
        measured.*counts = toCounts(measured.*counts * factor(row, m_major), factor(row, major));
    }
    m_controller.firmware().setMeasurements(measured);
    m_major = major;
    applyVersion();
    applyMeasurements();
}

void SimPanel::setMinor(int minor) {
    m_minor = std::clamp(minor, MINOR_FIRST, MINOR_LAST);
    applyVersion();
}

void SimPanel::setInputVolts(double volts) {
    m_inputVolts =
        std::isfinite(volts) ? std::clamp(toHundredths(volts), 0.0, inputVoltsLast()) : 0.0;
    applyMeasurements();
}

bool SimPanel::setInputVoltsText(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double volts = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(volts)) {
        return false;
    }
    setInputVolts(volts);
    return true;
}

void SimPanel::setTemperature(int degrees) {
    m_temperature = std::clamp(degrees, TEMPERATURE_FIRST, TEMPERATURE_LAST);
    applyMeasurements();
}

void SimPanel::sendHistory(int position) {
    m_controller.firmware().sendHistory(
        static_cast<std::uint8_t>(std::clamp(position, HISTORY_FIRST, HISTORY_LAST)));
}

void SimPanel::unplug() {
    m_controller.unplug();
}

void SimPanel::applyVersion() {
    m_controller.firmware().setFirmwareVersion(firmwareVersion(m_major, m_minor));
}

void SimPanel::applyMeasurements() {
    Measurements measured = m_controller.firmware().measurements();
    measured.inputVoltage = toCounts(m_inputVolts, inputVoltsStep());
    measured.temperature = static_cast<std::int8_t>(m_temperature);
    m_controller.firmware().setMeasurements(measured);
    // What the counts stand for, not what was typed: the programmer shows no other figure.
    m_inputVolts = shownVolts(measured.inputVoltage, m_major);
}

void setFirmwareVersion(SimulatedOstrel& controller, std::uint8_t version) {
    SimPanel panel(controller);
    panel.setMajor(version >> 4);
    panel.setMinor(version & 0x0F);
}

}  // namespace sim
