// Reports and frames as the tests write them: the bytes that matter, zeros behind.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "device/Wire.h"

using Bytes = std::vector<std::uint8_t>;

// A whole report (or a frame as it goes out): `head`, then zeros up to REPORT_SIZE.
inline Bytes padded(std::initializer_list<std::uint8_t> head) {
    Bytes bytes(head);
    bytes.resize(REPORT_SIZE, 0);
    return bytes;
}
