#include "text/units.hpp"

#include "text/kernels.hpp"

#include <algorithm>

namespace velnor::text {

namespace {

// Sums `weight(byte)` over the bytes. The inner loop adds into one byte, which the compiler turns into
// sixteen byte lanes per vector with no widening; a block is sized so that its sum cannot overflow a
// byte and is a whole number of vectors, so full blocks need no scalar tail.
template <unsigned MaxWeight, class Weight>
std::size_t sum_weights(std::string_view utf8, Weight weight) noexcept {
    constexpr std::size_t block = 255 / MaxWeight / 16 * 16;
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t size = utf8.size();
    std::size_t total = 0;
    for (; size >= block; bytes += block, size -= block) {
        unsigned char partial = 0;
        for (std::size_t i = 0; i < block; ++i) {
            partial = static_cast<unsigned char>(partial + weight(bytes[i]));
        }
        total += partial;
    }
    unsigned char partial = 0;
    for (std::size_t i = 0; i < size; ++i) {
        partial = static_cast<unsigned char>(partial + weight(bytes[i]));
    }
    return total + partial;
}

// As a signed byte, a continuation byte (0b10xxxxxx) is below -64 and every other byte is not.
inline unsigned char starts_code_point(unsigned char byte) noexcept {
    return static_cast<signed char>(byte) >= -64 ? 1 : 0;
}

// 0b11110xxx leads a 4-byte sequence, the only kind above U+FFFF; valid UTF-8 has no byte above 0xF4.
inline unsigned char starts_astral(unsigned char byte) noexcept {
    return byte >= 0xF0 ? 1 : 0;
}

}  // namespace

std::size_t count_code_points(std::string_view utf8) noexcept {
    return sum_weights<1>(utf8, starts_code_point);
}

std::size_t count_utf16_units(std::string_view utf8) noexcept {
    return sum_weights<2>(utf8, [](unsigned char byte) {
        return static_cast<unsigned char>(starts_code_point(byte) + starts_astral(byte));
    });
}

std::size_t count_latin1_above_ascii(std::span<const unsigned char> latin1) noexcept {
    return sum_weights<1>(std::string_view(reinterpret_cast<const char*>(latin1.data()), latin1.size()),
                          [](unsigned char byte) { return static_cast<unsigned char>(byte >> 7); });
}

std::size_t count_units(Unit unit, std::span<const std::uint32_t> code_points) noexcept {
    switch (unit) {
        case Unit::code_point:
            break;
        case Unit::utf16:
            return code_points.size() + kernels().count_astral(code_points.data(), code_points.size());
        case Unit::byte:
            return code_points.size() + kernels().count_utf8_extra(code_points.data(), code_points.size());
    }
    return code_points.size();
}

bool holds_surrogate(std::span<const std::uint32_t> code_points) noexcept {
    return kernels().holds_surrogate(code_points.data(), code_points.size());
}

Utf32Census census(std::span<const std::uint32_t> code_points) noexcept {
    Utf32Census total;
    total.astral = kernels().count_astral(code_points.data(), code_points.size());
    // Surrogates are an error and rare: counted only once the vector test has seen one.
    if (holds_surrogate(code_points)) {
        for (const std::uint32_t code_point : code_points) {
            total.surrogates += code_point - 0xD800 < 0x800 ? 1 : 0;  // one unsigned compare for U+D800..U+DFFF
        }
    }
    return total;
}

}  // namespace velnor::text
