// Who the controller is on USB: the one place its ids and strings are written down.
#pragma once

#include <cstdint>

inline constexpr std::uint16_t OSTREL_VENDOR_ID = 0x04D8;
// Searched in this order.
inline constexpr std::uint16_t OSTREL_PRODUCT_ID = 0x0002;
inline constexpr std::uint16_t OSTREL_PRODUCT_ID_ALT = 0xD001;
// Compared byte for byte with the device's strings (ASCII).
inline constexpr const char* OSTREL_MANUFACTURER = "TAVREN INC";
inline constexpr const char* OSTREL_PRODUCT = "Ostrel PSU";
