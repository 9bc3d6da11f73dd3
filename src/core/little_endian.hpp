// Fixed-width little-endian words, written and read byte by byte so the result is the same whatever the
// host's own byte order (compilers turn the shifts into one plain load or store where that is right).
#pragma once

#include <cstdint>
#include <cstring>

namespace velnor::core {

inline void store_le64(std::uint8_t* out, std::uint64_t value) noexcept {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline std::uint64_t load_le64(const std::uint8_t* in) noexcept {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    }
    return value;
}

// Two's complement both ways: the conversions are exact on every platform C++20 supports.
inline void store_le64(std::uint8_t* out, std::int64_t value) noexcept {
    store_le64(out, static_cast<std::uint64_t>(value));
}
inline std::int64_t load_le_int64(const std::uint8_t* in) noexcept { return static_cast<std::int64_t>(load_le64(in)); }

// IEEE 754 binary64 bit patterns, so a NaN payload, an infinity or the sign of zero travel unchanged.
inline void store_le64(std::uint8_t* out, double value) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    store_le64(out, bits);
}
inline double load_le_double(const std::uint8_t* in) noexcept {
    const std::uint64_t bits = load_le64(in);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace velnor::core
