// Times written in the simulator's own texts (plug plans, traces): plain decimal seconds,
// read strictly, so that no reader of the standard library's makes something of "1e3",
// "0x10", "inf" or a blank.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The most decimals a time may have: milliseconds.
inline constexpr std::size_t SECONDS_DECIMALS = 3;

// `text` wholly as seconds from 0 to `last`: digits, and at most one point with digits on
// both sides and at most SECONDS_DECIMALS after it ("2", "0.25"); in milliseconds.
std::optional<std::chrono::milliseconds> readSeconds(std::string_view text,
                                                     std::chrono::milliseconds last);

// "2", "0.25", "1.5": as few decimals as the time needs.
std::string secondsText(std::chrono::milliseconds at);

}  // namespace sim
