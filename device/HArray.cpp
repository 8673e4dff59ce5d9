#include "device/HArray.h"

#include <algorithm>
#include <limits>
#include <utility>

HArray::HArray(std::int32_t length) {
    if (length > 0) {
        m_data = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(length));
        m_length = length;
    }
}

HArray::HArray(std::span<const std::uint8_t> bytes) {
    // A length that does not fit the signed 32-bit count cannot be represented at all;
    // such an array stays empty rather than holding a cut copy.
    if (!bytes.empty() &&
        bytes.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        m_data = std::make_unique_for_overwrite<std::uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), m_data.get());
        m_length = static_cast<std::int32_t>(bytes.size());
    }
}

HArray::HArray(const HArray& other) : HArray(other.bytes()) {}

HArray& HArray::operator=(const HArray& other) {
    if (this != &other) {
        HArray copy(other);
        *this = std::move(copy);
    }
    return *this;
}

HArray::HArray(HArray&& other) noexcept
    : m_data(std::move(other.m_data)), m_length(std::exchange(other.m_length, 0)) {}

HArray& HArray::operator=(HArray&& other) noexcept {
    if (this != &other) {
        m_data = std::move(other.m_data);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

std::span<const std::uint8_t> HArray::bytes() const {
    return {m_data.get(), static_cast<std::size_t>(m_length)};
}
