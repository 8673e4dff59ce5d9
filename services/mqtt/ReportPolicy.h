// When a controller's reading is worth its bytes on a vehicle's link. By exception (the
// default): at once when the state, the mode, the firmware or a flag bit changes; when a
// voltage or the temperature has left its deadband around the value published last (at most
// once every interval, so that a swinging value does not send a reading a second); else
// every heartbeat. By interval: every interval and a change at once. Times are the steady
// clock's: a wall clock set back or forward moves no reading.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "core/readings/Reading.h"
#include "services/mqtt/MqttConfig.h"

namespace ctl::mqtt {

class ReportPolicy {
public:
    using Time = std::chrono::steady_clock::time_point;

    ReportPolicy(const MqttConfig& config, std::chrono::steady_clock::duration period);

    // Whether `reading` (answered), taken at `now`, is to be published.
    bool due(const Reading& reading, Time now) const;
    // It was: what the next ones are measured against.
    void published(const Reading& reading, Time now);
    // Why the last reading published was due, for tests and the bench: "first", "change",
    // "deadband", "heartbeat", "interval".
    const std::string& lastReason() const { return m_reason; }

private:
    // The deadband of each measured field, by key.
    std::map<std::string, double> deadbands() const;
    std::string reason(const Reading& reading, Time now) const;

    const MqttConfig m_config;
    const std::chrono::steady_clock::duration m_period;
    const std::chrono::steady_clock::duration m_interval;
    const std::chrono::steady_clock::duration m_heartbeat;
    const std::map<std::string, double> m_deadbands;

    std::optional<StatusReport> m_status;     // of the last reading published
    std::map<std::string, double> m_numbers;  // its measurements, by key
    Time m_at{};                              // when it was published
    Time m_beat{};                            // by interval: when the next one is due
    std::string m_reason;
};

}  // namespace ctl::mqtt
