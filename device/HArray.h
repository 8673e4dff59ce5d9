// An owned byte buffer with its length: every report and every command frame travels as one.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

class HArray {
public:
    HArray() = default;
    // `length` zero bytes; zero or less gives an empty array.
    explicit HArray(std::int32_t length);
    HArray(std::span<const std::uint8_t> bytes);
    HArray(const HArray& other);
    HArray& operator=(const HArray& other);
    HArray(HArray&& other) noexcept;
    HArray& operator=(HArray&& other) noexcept;
    ~HArray() = default;

    // Null exactly when length() is zero.
    std::uint8_t* data() { return m_data.get(); }
    const std::uint8_t* data() const { return m_data.get(); }
    std::int32_t length() const { return m_length; }
    std::span<const std::uint8_t> bytes() const;

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::int32_t m_length = 0;
};
