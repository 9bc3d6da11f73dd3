// NEON, which every aarch64 CPU has: 16 bytes or 4 code points per compare. NEON has no byte mask
// instruction; narrowing each 16-bit pair of compare bytes by 4 bits leaves a 64-bit word with four bits
// per byte, in order, which serves as one.
#include "text/kernels.hpp"

#if defined(__aarch64__) || defined(_M_ARM64)
#define VELNOR_TEXT_NEON 1
#include <arm_neon.h>

#include <algorithm>
#include <bit>
#endif

namespace velnor::text {

#if defined(VELNOR_TEXT_NEON)

namespace {

// Four bits per byte lane, 0xF where the lane is all ones.
inline std::uint64_t nibbles(uint8x16_t lanes) noexcept {
    return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(lanes), 4)), 0);
}

inline uint8x16_t pair_lanes(const unsigned char* t, std::size_t s, RarePair pair, uint8x16_t a, uint8x16_t b) noexcept {
    return vandq_u8(vceqq_u8(vld1q_u8(t + s + pair.first), a), vceqq_u8(vld1q_u8(t + s + pair.second), b));
}

// Sixteen 32-bit lanes of 0 or all ones narrowed to sixteen bytes, in order.
inline uint8x16_t narrow16(uint32x4_t l0, uint32x4_t l1, uint32x4_t l2, uint32x4_t l3) noexcept {
    const uint16x8_t low = vcombine_u16(vmovn_u32(l0), vmovn_u32(l1));
    const uint16x8_t high = vcombine_u16(vmovn_u32(l2), vmovn_u32(l3));
    return vcombine_u8(vmovn_u16(low), vmovn_u16(high));
}

inline uint32x4_t pair_lanes4(const std::uint32_t* t, std::size_t s, RarePair pair, uint32x4_t a, uint32x4_t b) noexcept {
    return vandq_u32(vceqq_u32(vld1q_u32(t + s + pair.first), a), vceqq_u32(vld1q_u32(t + s + pair.second), b));
}

inline std::uint64_t pair_mask16(const std::uint32_t* t, std::size_t s, RarePair pair, uint32x4_t a, uint32x4_t b) noexcept {
    return nibbles(narrow16(pair_lanes4(t, s, pair, a, b), pair_lanes4(t, s + 4, pair, a, b),
                            pair_lanes4(t, s + 8, pair, a, b), pair_lanes4(t, s + 12, pair, a, b)));
}

inline std::uint64_t unit_mask16(const std::uint32_t* t, std::size_t i, uint32x4_t unit) noexcept {
    return nibbles(narrow16(vceqq_u32(vld1q_u32(t + i), unit), vceqq_u32(vld1q_u32(t + i + 4), unit),
                            vceqq_u32(vld1q_u32(t + i + 8), unit), vceqq_u32(vld1q_u32(t + i + 12), unit)));
}

inline std::size_t lowest(std::size_t base, std::uint64_t nibble_mask) noexcept {
    return base + static_cast<std::size_t>(std::countr_zero(nibble_mask)) / 4;
}

inline std::size_t highest(std::size_t base, std::uint64_t nibble_mask) noexcept {
    return base + static_cast<std::size_t>(63 - std::countl_zero(nibble_mask)) / 4;
}

std::size_t find_pair8(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair, unsigned char a,
                       unsigned char b) noexcept {
    const uint8x16_t va = vdupq_n_u8(a);
    const uint8x16_t vb = vdupq_n_u8(b);
    std::size_t s = from;
    for (; end - s >= 32; s += 32) {
        const uint8x16_t low = pair_lanes(t, s, pair, va, vb);
        const uint8x16_t high = pair_lanes(t, s + 16, pair, va, vb);
        if (vmaxvq_u8(vorrq_u8(low, high)) != 0) {
            const std::uint64_t mask = nibbles(low);
            return mask != 0 ? lowest(s, mask) : lowest(s + 16, nibbles(high));
        }
    }
    return scalar_kernels()->find_pair8(t, s, end, pair, a, b);
}

std::size_t rfind_pair8(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair, unsigned char a,
                        unsigned char b) noexcept {
    const uint8x16_t va = vdupq_n_u8(a);
    const uint8x16_t vb = vdupq_n_u8(b);
    for (; end - from >= 32; end -= 32) {
        const uint8x16_t low = pair_lanes(t, end - 32, pair, va, vb);
        const uint8x16_t high = pair_lanes(t, end - 16, pair, va, vb);
        if (vmaxvq_u8(vorrq_u8(low, high)) != 0) {
            const std::uint64_t mask = nibbles(high);
            return mask != 0 ? highest(end - 16, mask) : highest(end - 32, nibbles(low));
        }
    }
    return scalar_kernels()->rfind_pair8(t, from, end, pair, a, b);
}

std::size_t find_pair32(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair, std::uint32_t a,
                        std::uint32_t b) noexcept {
    const uint32x4_t va = vdupq_n_u32(a);
    const uint32x4_t vb = vdupq_n_u32(b);
    std::size_t s = from;
    for (; end - s >= 16; s += 16) {
        if (const std::uint64_t mask = pair_mask16(t, s, pair, va, vb); mask != 0) {
            return lowest(s, mask);
        }
    }
    return scalar_kernels()->find_pair32(t, s, end, pair, a, b);
}

std::size_t rfind_pair32(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair, std::uint32_t a,
                         std::uint32_t b) noexcept {
    const uint32x4_t va = vdupq_n_u32(a);
    const uint32x4_t vb = vdupq_n_u32(b);
    for (; end - from >= 16; end -= 16) {
        if (const std::uint64_t mask = pair_mask16(t, end - 16, pair, va, vb); mask != 0) {
            return highest(end - 16, mask);
        }
    }
    return scalar_kernels()->rfind_pair32(t, from, end, pair, a, b);
}

std::size_t find_unit32(const std::uint32_t* t, std::size_t from, std::size_t end, std::uint32_t unit) noexcept {
    const uint32x4_t wanted = vdupq_n_u32(unit);
    std::size_t i = from;
    for (; end - i >= 16; i += 16) {
        if (const std::uint64_t mask = unit_mask16(t, i, wanted); mask != 0) {
            return lowest(i, mask);
        }
    }
    return scalar_kernels()->find_unit32(t, i, end, unit);
}

std::size_t rfind_unit32(const std::uint32_t* t, std::size_t from, std::size_t end, std::uint32_t unit) noexcept {
    const uint32x4_t wanted = vdupq_n_u32(unit);
    for (; end - from >= 16; end -= 16) {
        if (const std::uint64_t mask = unit_mask16(t, end - 16, wanted); mask != 0) {
            return highest(end - 16, mask);
        }
    }
    return scalar_kernels()->rfind_unit32(t, from, end, unit);
}

std::size_t rfind_byte(const unsigned char* t, std::size_t from, std::size_t end, unsigned char byte) noexcept {
    const uint8x16_t wanted = vdupq_n_u8(byte);
    for (; end - from >= 32; end -= 32) {
        const uint8x16_t low = vceqq_u8(vld1q_u8(t + end - 32), wanted);
        const uint8x16_t high = vceqq_u8(vld1q_u8(t + end - 16), wanted);
        if (vmaxvq_u8(vorrq_u8(low, high)) != 0) {
            const std::uint64_t mask = nibbles(high);
            return mask != 0 ? highest(end - 16, mask) : highest(end - 32, nibbles(low));
        }
    }
    return scalar_kernels()->rfind_byte(t, from, end, byte);
}

// Each lane subtracts its all-ones compares; a run of 2**16 vectors cannot overflow a lane.
template <int Thresholds>
std::size_t count_above(const std::uint32_t* t, std::size_t size) noexcept {
    const uint32x4_t above_ffff = vdupq_n_u32(0xFFFF);
    const uint32x4_t above_7ff = vdupq_n_u32(0x7FF);
    const uint32x4_t above_7f = vdupq_n_u32(0x7F);
    constexpr std::size_t run = std::size_t{4} << 16;
    std::size_t total = 0;
    std::size_t i = 0;
    while (size - i >= 4) {
        uint32x4_t sum = vdupq_n_u32(0);
        const std::size_t stop = i + std::min(run, (size - i) / 4 * 4);
        for (; i < stop; i += 4) {
            const uint32x4_t v = vld1q_u32(t + i);
            sum = vsubq_u32(sum, vcgtq_u32(v, above_ffff));
            if constexpr (Thresholds == 3) {
                sum = vsubq_u32(sum, vcgtq_u32(v, above_7ff));
                sum = vsubq_u32(sum, vcgtq_u32(v, above_7f));
            }
        }
        total += vaddvq_u32(sum);
    }
    const Kernels* scalar = scalar_kernels();
    return total + (Thresholds == 3 ? scalar->count_utf8_extra(t + i, size - i) : scalar->count_astral(t + i, size - i));
}

// Bits above the eleventh read 0b11011 exactly for U+D800..U+DFFF; 16 code points a step.
bool holds_surrogate(const std::uint32_t* t, std::size_t size) noexcept {
    const uint32x4_t surrogate = vdupq_n_u32(0b11011);
    std::size_t i = 0;
    for (; size - i >= 16; i += 16) {
        uint32x4_t any = vdupq_n_u32(0);
        for (std::size_t k = 0; k < 16; k += 4) {
            any = vorrq_u32(any, vceqq_u32(vshrq_n_u32(vld1q_u32(t + i + k), 11), surrogate));
        }
        if (vmaxvq_u32(any) != 0) {
            return true;
        }
    }
    return scalar_kernels()->holds_surrogate(t + i, size - i);
}

void widen_latin1(const unsigned char* in, std::size_t size, std::uint32_t* out) noexcept {
    std::size_t i = 0;
    for (; size - i >= 16; i += 16) {
        const uint8x16_t bytes = vld1q_u8(in + i);
        const uint16x8_t low = vmovl_u8(vget_low_u8(bytes));
        const uint16x8_t high = vmovl_u8(vget_high_u8(bytes));
        vst1q_u32(out + i, vmovl_u16(vget_low_u16(low)));
        vst1q_u32(out + i + 4, vmovl_u16(vget_high_u16(low)));
        vst1q_u32(out + i + 8, vmovl_u16(vget_low_u16(high)));
        vst1q_u32(out + i + 12, vmovl_u16(vget_high_u16(high)));
    }
    scalar_kernels()->widen_latin1(in + i, size - i, out + i);
}

constexpr Kernels neon = {
    Path::neon,
    "neon",
    find_pair8,
    find_pair32,
    rfind_pair8,
    rfind_pair32,
    find_unit32,
    rfind_unit32,
    rfind_byte,
    count_above<1>,
    count_above<3>,
    holds_surrogate,
    widen_latin1,
};

}  // namespace

const Kernels* neon_kernels() noexcept {
    return &neon;
}

#else

const Kernels* neon_kernels() noexcept {
    return nullptr;
}

#endif

}  // namespace velnor::text
