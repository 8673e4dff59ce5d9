#include "sim/Seconds.h"

#include <algorithm>

namespace sim {
namespace {

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits enough for a day in seconds; more could only overflow before the limit refuses them.
constexpr std::size_t MAX_WHOLE_DIGITS = 6;

}  // namespace

std::optional<std::chrono::milliseconds> readSeconds(std::string_view text,
                                                     std::chrono::milliseconds last) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (!allDigits(whole) || (point != std::string_view::npos && !allDigits(fraction)) ||
        fraction.size() > SECONDS_DECIMALS || whole.size() > MAX_WHOLE_DIGITS) {
        return std::nullopt;
    }
    long long ms = 0;
    for (const char c : whole) {
        ms = ms * 10 + (c - '0');
    }
    for (std::size_t i = 0; i < SECONDS_DECIMALS; ++i) {
        ms = ms * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    if (ms > last.count()) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(ms);
}

std::string secondsText(std::chrono::milliseconds at) {
    std::string text = std::to_string(at.count() / 1000);
    if (const long long rest = at.count() % 1000; rest != 0) {
        std::string decimals = std::to_string(1000 + rest).substr(1);
        decimals.erase(decimals.find_last_not_of('0') + 1);
        text += "." + decimals;
    }
    return text;
}

}  // namespace sim
