#include "sim/OstrelFirmware.h"

#include <utility>

namespace sim {

namespace {

// The raw memory a controller leaves the factory with, for every address of the
// parameter table. Values are chosen to read sensibly with the firmware-1 factors.
struct Default {
    std::uint8_t address;
    std::uint8_t size;
    std::uint16_t value;
};

constexpr std::uint16_t TIME_NEVER = 0xFFFF;

constexpr Default FACTORY_DEFAULTS[] = {
    {0x00, 1, 107},                        // ignition HIGH limit, 12.02 V
    {0x01, 1, 80},                         // ignition LOW limit, 8.98 V
    {0x02, 1, 10},                         // ignition debounce, 100 ms
    {0x03, 1, 5},                          // delay before PSU startup, 5 s
    {0x04, 1, 100},                        // min. VIN at startup, 11.23 V
    {0x05, 1, 63},                         // min. VIN while all rails on, 7.07 V
    {0x06, 1, 100},                        // min. VIN while 5VSB on, 11.23 V
    {0x07, 1, 255},                        // max. VIN, 28.64 V
    {0x08, 1, 172},                        // 12 V max, 13.18 V
    {0x09, 1, 141},                        // 12 V min, 10.80 V
    {0x0A, 1, 147},                        // 5 V max, 5.51 V
    {0x0B, 1, 120},                        // 5 V min, 4.50 V
    {0x0C, 1, 191},                        // 3.3 V max, 3.59 V
    {0x0D, 1, 160},                        // 3.3 V min, 3.01 V
    {0x0E, 1, 50},                         // 12 V rail startup, ms
    {0x0F, 1, 50},                         // 3.3 V rail startup, ms
    {0x10, 2, 50},                         // power switch push-down, 500 ms
    {0x12, 1, 3},                          // ON try-outs
    {0x13, 1, 5},                          // s between ON try-outs
    {0x14, 1, 3},                          // OFF try-outs
    {0x15, 1, 5},                          // s between OFF try-outs
    {0x16, 1, 60},                         // emergency 5VSB shutdown, s
    {0x17, 1, 30},                         // emergency rails shutdown, s
    {0x18, 1, 10},                         // PS ON 0 threshold, 100 ms
    {0x19, 1, 20},                         // PS ON 1 threshold, 200 ms
    {0x1A, 2, 100},                        // THUMP timeout, 1 s
    {0x1C, 1, 85},                         // maximum temperature, 85 degrees
    {0x1D, 1, 0xD8},                       // minimum temperature, -40 degrees
    {0x1E, 1, 0},                          // emergency off mode
    {0x1F, 1, 50},                         // 5VSB to power switch delay, 500 ms
    {0x20, 2, 0},                          // mode 0: off at once
    {0x22, 2, 0},          {0x24, 2, 60},  // mode 1: one minute, hard off after one hour
    {0x26, 2, 3600},       {0x28, 2, 300},        {0x2A, 2, 7200},  {0x2C, 2, 900},
    {0x2E, 2, 14400},      {0x30, 2, 1800},       {0x32, 2, 28800}, {0x34, 2, 3600},
    {0x36, 2, 43200},      {0x38, 2, 7200},       {0x3A, 2, 64799},  // 17:59:59, the longest timer
    {0x3C, 2, TIME_NEVER}, {0x3E, 2, TIME_NEVER},
};

constexpr std::uint8_t FACTORY_RESET_ADDRESS = 0xFF;
constexpr std::uint8_t FACTORY_RESET_VALUE = 0xFF;

Measurements defaultMeasurements() {
    Measurements m;
    m.inputVoltage = 112;     // 12.58 V
    m.ignitionVoltage = 110;  // 12.35 V
    m.rail3V = 176;           // 3.31 V
    m.rail5V = 133;           // 4.99 V
    m.rail12V = 157;          // 12.03 V
    m.temperature = 34;
    m.state = 7;
    m.mode = 1;
    m.voltageFlags = 0x1F;
    m.statusFlags1 = 0x81;
    m.timerFlags = 0x00;
    m.statusFlags2 = 0x04;
    m.inputFlags = 0x03;
    m.outputFlags = 0x0F;
    return m;
}

}  // namespace

OstrelFirmware::OstrelFirmware(Sink sink)
    : m_sink(std::move(sink)), m_measurements(defaultMeasurements()), m_version(DEFAULT_VERSION) {
    for (int i = 0; i < HISTORY_ENTRIES; ++i) {
        m_history[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i < 8 ? 7 - i / 2 : 0);
    }
    restoreFactoryDefaults();
}

void OstrelFirmware::setSink(Sink sink) {
    std::lock_guard serial(m_serial);
    std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
}

void OstrelFirmware::receive(std::span<const std::uint8_t> frame) {
    std::lock_guard serial(m_serial);
    {
        std::lock_guard lock(m_mutex);
        m_log.emplace_back(frame.begin(), frame.end());
        if (m_logLimit != 0 && m_log.size() > m_logLimit) {
            m_log.pop_front();
        }
    }
    if (frame.empty()) {
        return;
    }

    if (frame[FRAME_AT_COMMAND] == CMD_STATUS) {
        StatusReport status;
        {
            std::lock_guard lock(m_mutex);
            const Measurements& m = m_measurements;
            status.inputVoltage = m.inputVoltage;
            status.ignitionVoltage = m.ignitionVoltage;
            status.rail3V = m.rail3V;
            status.rail5V = m.rail5V;
            status.rail12V = m.rail12V;
            status.voltageFlags = m.voltageFlags;
            status.statusFlags1 = m.statusFlags1;
            status.timerFlags = m.timerFlags;
            status.state = m.state;
            status.statusFlags2 = m.statusFlags2;
            status.temperature = m.temperature;
            status.inputFlags = m.inputFlags;
            status.outputFlags = m.outputFlags;
            status.mode = m.mode;
            status.version = m_version;
        }
        emit(encodeStatusReport(status));
        return;
    }

    if (frame[FRAME_AT_COMMAND] != CMD_PARAM ||
        frame.size() < static_cast<std::size_t>(PARAM_READ_FRAME_LENGTH)) {
        return;  // not understood: logged, not answered
    }
    const std::uint8_t address = frame[FRAME_AT_ADDRESS];
    const std::uint8_t size = frame[FRAME_AT_SIZE];
    // A two-byte value needs the address after it; nothing lies past 0xFF.
    const bool validSize = size == 1 || (size == 2 && address < 0xFF);

    if (frame[FRAME_AT_PARAM_OP] == PARAM_READ && validSize) {
        ParamReport param;
        param.address = address;
        {
            std::lock_guard lock(m_mutex);
            param.first = m_memory[address];
            param.second = size == 2 ? m_memory[address + 1u] : 0;
        }
        emit(encodeParamReport(param));
    } else if (frame[FRAME_AT_PARAM_OP] == PARAM_WRITE && validSize &&
               frame.size() >= static_cast<std::size_t>(PARAM_WRITE_FRAME_LENGTH)) {
        if (address == FACTORY_RESET_ADDRESS) {
            if (size == 1 && frame[FRAME_AT_FIRST] == FACTORY_RESET_VALUE) {
                restoreFactoryDefaults();
            }
            return;
        }
        std::lock_guard lock(m_mutex);
        m_memory[address] = frame[FRAME_AT_FIRST];
        if (size == 2) {
            m_memory[address + 1u] = frame[FRAME_AT_SECOND];
        }
    }
}

void OstrelFirmware::sendHistory(std::uint8_t position) {
    std::lock_guard serial(m_serial);
    HistoryReport history;
    history.position = position;
    {
        std::lock_guard lock(m_mutex);
        history.entries = m_history;
    }
    emit(encodeHistoryReport(history));
}

void OstrelFirmware::setHistory(const std::array<std::uint8_t, HISTORY_ENTRIES>& entries) {
    std::lock_guard lock(m_mutex);
    m_history = entries;
}

void OstrelFirmware::setMeasurements(const Measurements& measurements) {
    std::lock_guard lock(m_mutex);
    m_measurements = measurements;
}

Measurements OstrelFirmware::measurements() const {
    std::lock_guard lock(m_mutex);
    return m_measurements;
}

void OstrelFirmware::setFirmwareVersion(std::uint8_t version) {
    std::lock_guard lock(m_mutex);
    m_version = version;
}

std::uint8_t OstrelFirmware::firmwareVersion() const {
    std::lock_guard lock(m_mutex);
    return m_version;
}

std::uint8_t OstrelFirmware::paramByte(std::uint8_t address) const {
    std::lock_guard lock(m_mutex);
    return m_memory[address];
}

void OstrelFirmware::setParamByte(std::uint8_t address, std::uint8_t value) {
    std::lock_guard lock(m_mutex);
    m_memory[address] = value;
}

void OstrelFirmware::restoreFactoryDefaults() {
    std::lock_guard lock(m_mutex);
    m_memory.fill(0);
    for (const Default& entry : FACTORY_DEFAULTS) {
        if (entry.size == 2) {
            const RawBytes bytes = splitRaw16(entry.value);
            m_memory[entry.address] = bytes.high;
            m_memory[entry.address + 1u] = bytes.low;
        } else {
            m_memory[entry.address] = static_cast<std::uint8_t>(entry.value);
        }
    }
}

std::vector<std::vector<std::uint8_t>> OstrelFirmware::log() const {
    std::lock_guard lock(m_mutex);
    return {m_log.begin(), m_log.end()};
}

void OstrelFirmware::clearLog() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
}

void OstrelFirmware::setLogLimit(std::size_t limit) {
    std::lock_guard lock(m_mutex);
    m_logLimit = limit;
    while (m_logLimit != 0 && m_log.size() > m_logLimit) {
        m_log.pop_front();
    }
}

void OstrelFirmware::emit(const Report& report) {
    Sink sink;
    {
        std::lock_guard lock(m_mutex);
        sink = m_sink;
    }
    // Outside the state lock, so a sink may ask the firmware about its state.
    if (sink) {
        sink(report);
    }
}

}  // namespace sim
