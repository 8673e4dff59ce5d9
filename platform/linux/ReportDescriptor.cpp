#include "platform/linux/ReportDescriptor.h"

#include <array>
#include <limits>

namespace platform {

namespace {

// Item prefix fields (HID 1.11, 6.2.2.2 and 6.2.2.3).
constexpr std::uint8_t RDESC_LONG_ITEM_PREFIX = 0xFE;
constexpr std::uint8_t RDESC_TYPE_MAIN = 0;
constexpr std::uint8_t RDESC_TYPE_GLOBAL = 1;

constexpr std::uint8_t RDESC_MAIN_INPUT = 0x8;
constexpr std::uint8_t RDESC_MAIN_OUTPUT = 0x9;
constexpr std::uint8_t RDESC_MAIN_FEATURE = 0xB;

constexpr std::uint8_t RDESC_GLOBAL_REPORT_SIZE = 0x7;
constexpr std::uint8_t RDESC_GLOBAL_REPORT_ID = 0x8;
constexpr std::uint8_t RDESC_GLOBAL_REPORT_COUNT = 0x9;
constexpr std::uint8_t RDESC_GLOBAL_PUSH = 0xA;
constexpr std::uint8_t RDESC_GLOBAL_POP = 0xB;

constexpr std::size_t RDESC_REPORT_TYPES = 3;  // input, output, feature
constexpr std::size_t RDESC_REPORT_IDS = 256;  // 0 stands for "not numbered"

// The global state that Push and Pop save and restore, as far as lengths need it.
struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

// Report bits per (type, id). A report beyond 65535 bytes fails anyway, so sums only
// have to stay exact up to there: saturating keeps them from wrapping into range.
struct ReportBits {
    std::array<std::array<std::uint64_t, RDESC_REPORT_IDS>, RDESC_REPORT_TYPES> bits{};
    std::array<std::array<bool, RDESC_REPORT_IDS>, RDESC_REPORT_TYPES> present{};
};

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return b > std::numeric_limits<std::uint64_t>::max() - a
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

std::uint32_t itemData(const std::uint8_t* data, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    }
    return value;
}

// Longest report of one type in bytes, report-id byte included; nothing when too long.
std::optional<std::uint16_t> longestReport(const ReportBits& reports, std::size_t type) {
    std::uint64_t longest = 0;
    for (std::size_t id = 0; id < RDESC_REPORT_IDS; ++id) {
        if (!reports.present[type][id]) {
            continue;
        }
        const std::uint64_t bits = reports.bits[type][id];
        const std::uint64_t bytes = bits / 8 + (bits % 8 != 0 ? 1 : 0) + 1;
        if (bytes > longest) {
            longest = bytes;
        }
    }
    if (longest > std::numeric_limits<std::uint16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(longest);
}

}  // namespace

std::optional<ReportDescriptorSummary> parseReportDescriptor(std::span<const std::uint8_t> bytes) {
    ReportBits reports;
    Globals globals;
    std::array<Globals, RDESC_MAX_PUSH_DEPTH> stack{};
    std::size_t depth = 0;
    bool numbered = false;

    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::uint8_t prefix = bytes[pos];
        const std::size_t left = bytes.size() - pos - 1;

        if (prefix == RDESC_LONG_ITEM_PREFIX) {
            // Long items carry vendor data only: skip prefix, size, tag and data.
            if (left < 2 || left - 2 < bytes[pos + 1]) {
                return std::nullopt;
            }
            pos += 3 + static_cast<std::size_t>(bytes[pos + 1]);
            continue;
        }

        const std::size_t size = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        if (left < size) {
            return std::nullopt;
        }
        const std::uint8_t type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
        const std::uint8_t tag = static_cast<std::uint8_t>(prefix >> 4);
        const std::uint32_t data = itemData(bytes.data() + pos + 1, size);
        pos += 1 + size;

        if (type == RDESC_TYPE_MAIN) {
            std::size_t reportType = RDESC_REPORT_TYPES;
            if (tag == RDESC_MAIN_INPUT) {
                reportType = 0;
            } else if (tag == RDESC_MAIN_OUTPUT) {
                reportType = 1;
            } else if (tag == RDESC_MAIN_FEATURE) {
                reportType = 2;
            }
            if (reportType < RDESC_REPORT_TYPES) {
                // Both factors fit in 32 bits, so their product fits in 64.
                const std::uint64_t fieldBits =
                    static_cast<std::uint64_t>(globals.reportSize) * globals.reportCount;
                std::uint64_t& bits = reports.bits[reportType][globals.reportId];
                bits = saturatingAdd(bits, fieldBits);
                reports.present[reportType][globals.reportId] = true;
            }
        } else if (type == RDESC_TYPE_GLOBAL) {
            switch (tag) {
                case RDESC_GLOBAL_REPORT_SIZE:
                    globals.reportSize = data;
                    break;
                case RDESC_GLOBAL_REPORT_COUNT:
                    globals.reportCount = data;
                    break;
                case RDESC_GLOBAL_REPORT_ID:
                    if (data == 0 || data >= RDESC_REPORT_IDS) {
                        return std::nullopt;
                    }
                    globals.reportId = data;
                    numbered = true;
                    break;
                case RDESC_GLOBAL_PUSH:
                    if (depth == stack.size()) {
                        return std::nullopt;
                    }
                    stack[depth++] = globals;
                    break;
                case RDESC_GLOBAL_POP:
                    if (depth == 0) {
                        return std::nullopt;
                    }
                    globals = stack[--depth];
                    break;
                default:
                    break;
            }
        }
        // Local items and the reserved type do not change lengths.
    }

    const auto input = longestReport(reports, 0);
    const auto output = longestReport(reports, 1);
    const auto feature = longestReport(reports, 2);
    if (!input || !output || !feature) {
        return std::nullopt;
    }
    ReportDescriptorSummary summary;
    summary.numbered = numbered;
    summary.inputReportByteLength = *input;
    summary.outputReportByteLength = *output;
    summary.featureReportByteLength = *feature;
    return summary;
}

}  // namespace platform
