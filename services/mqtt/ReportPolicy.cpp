#include "services/mqtt/ReportPolicy.h"

#include <cmath>

#include "core/readings/StatusFields.h"
#include "core/readings/StatusJson.h"
#include "services/mqtt/MqttMessages.h"

namespace ctl::mqtt {
namespace {

using Duration = std::chrono::steady_clock::duration;

Duration seconds(double value) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(value));
}

// The measurements of a reading, as published: the numbers of its state.
std::map<std::string, double> measured(const Reading& reading,
                                       const std::map<std::string, double>& deadbands) {
    const nlohmann::ordered_json json =
        statusJson(reading.status, reading.texts, StatusJsonParts{{}, false});
    std::map<std::string, double> numbers;
    for (const auto& [key, band] : deadbands) {
        const auto value = json.find(key);
        if (value != json.end() && value->is_number()) {
            numbers[key] = value->get<double>();
        }
    }
    return numbers;
}

}  // namespace

ReportPolicy::ReportPolicy(const MqttConfig& config, Duration period)
    : m_config(config),
      m_period(period),
      m_interval(seconds(config.intervalSeconds)),
      m_heartbeat(seconds(config.heartbeatSeconds)),
      m_deadbands(deadbands()) {}

std::map<std::string, double> ReportPolicy::deadbands() const {
    std::map<std::string, double> bands;
    for (const StatusField& field : STATUS_FIELDS) {
        if (field.stateClass == nullptr) {
            continue;  // no measurement: published the moment it changes
        }
        if (field.kind != FieldKind::Volts) {
            bands[field.key] = m_config.deadbandCelsius;
        } else if (field.metric == &RAIL_VOLTS_METRIC) {
            bands[field.key] = m_config.deadbandRails;
        } else {
            bands[field.key] = m_config.deadbandVolts;
        }
    }
    return bands;
}

std::string ReportPolicy::reason(const Reading& reading, Time now) const {
    if (!m_status) {
        return "first";
    }
    if (changedAtOnce(*m_status, reading.status)) {
        return "change";
    }
    // Half a period early is due: the controller is asked once a period, never exactly on time.
    const Duration slack = m_period / 2;
    if (!m_config.byException) {
        return now + slack >= m_beat ? "interval" : "";
    }
    if (now + slack >= m_at + m_heartbeat) {
        return "heartbeat";
    }
    if (now + slack < m_at + m_interval) {
        return "";
    }
    const std::map<std::string, double> numbers = measured(reading, m_deadbands);
    for (const auto& [key, value] : numbers) {
        const auto before = m_numbers.find(key);
        // A little more than the band, so that a value exactly a band away (0.5 V as 12.6
        // against 12.1, in binary) does not depend on rounding.
        if (before == m_numbers.end() ||
            std::fabs(value - before->second) > m_deadbands.at(key) + 1e-9) {
            return "deadband";
        }
    }
    return "";
}

bool ReportPolicy::due(const Reading& reading, Time now) const {
    return !reason(reading, now).empty();
}

void ReportPolicy::published(const Reading& reading, Time now) {
    m_reason = reason(reading, now);
    // A change published at once keeps the interval's beat; one due by it moves the beat on.
    if (!m_status || now + m_period / 2 >= m_beat) {
        m_beat = m_status ? m_beat + m_interval : now + m_interval;
        if (m_beat <= now) {
            m_beat = now + m_interval;
        }
    }
    m_status = reading.status;
    m_numbers = measured(reading, m_deadbands);
    m_at = now;
}

}  // namespace ctl::mqtt
