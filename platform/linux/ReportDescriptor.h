// Report lengths from a HID report descriptor, counted the way the device library
// expects them (the Windows HIDP_CAPS way). Pure: no OS, no threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace platform {

// Deepest Push nesting accepted; real devices use one or two levels.
inline constexpr std::size_t RDESC_MAX_PUSH_DEPTH = 16;

struct ReportDescriptorSummary {
    // Some Report ID item appeared: every report starts with its id byte.
    bool numbered = false;
    // Longest report of each type in bytes (bits rounded up) plus one byte for the
    // report id, whether or not the device numbers its reports; 0 when the descriptor
    // has no report of that type.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
};

// Nothing when the descriptor is malformed: an item cut short, a Pop without a Push,
// Push nested deeper than RDESC_MAX_PUSH_DEPTH, a Report ID of 0 or above 255, or a
// report longer than 65535 bytes. Any byte sequence is safe to pass.
std::optional<ReportDescriptorSummary> parseReportDescriptor(std::span<const std::uint8_t> bytes);

}  // namespace platform
