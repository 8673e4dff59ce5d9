// The figures the simulated controllers of the MQTT tests report, known to the publisher
// under test (which sets them) and to the tests (which read them back through status --json).
#pragma once

#include <memory>
#include <vector>

#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

inline constexpr std::uint8_t SIM_FIRMWARE = 0x21;

// Controller `index` (0 for sim-1): figures of its own, so that a mixed-up topic shows.
inline sim::Measurements simFigures(int index) {
    sim::Measurements figures;
    const auto step = static_cast<std::uint8_t>(index * 7);
    figures.inputVoltage = static_cast<std::uint8_t>(150 + step);
    figures.ignitionVoltage = static_cast<std::uint8_t>(140 + step);
    figures.rail3V = 40;
    figures.rail5V = 60;
    figures.rail12V = static_cast<std::uint8_t>(145 + step);
    figures.temperature = static_cast<std::int8_t>(31 + index);
    figures.state = 7;
    figures.mode = 1;
    figures.voltageFlags = 0x81;
    figures.statusFlags1 = static_cast<std::uint8_t>(0x10 + index);
    figures.outputFlags = 0x04;
    return figures;
}

// `count` controllers at sim-1, sim-2, ... on `platform`, with their figures.
inline std::vector<std::unique_ptr<sim::SimulatedOstrel>> plugSimControllers(
    platform::SimHidPlatform& platform, int count, bool busTiming) {
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> controllers;
    for (int i = 0; i < count; ++i) {
        controllers.push_back(std::make_unique<sim::SimulatedOstrel>(platform));
        controllers.back()->firmware().setMeasurements(simFigures(i));
        controllers.back()->firmware().setFirmwareVersion(SIM_FIRMWARE);
        controllers.back()->setBusTiming(busTiming);
    }
    return controllers;
}
