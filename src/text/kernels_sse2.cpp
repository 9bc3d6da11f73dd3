// SSE2, which every x86-64 CPU has: 16 bytes or 4 code points per compare. MSVC never defines
// __SSE2__, so its x86-64 macros count too.
#include "text/kernels.hpp"

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#define VELNOR_TEXT_SSE2 1
#include <emmintrin.h>

#include <algorithm>
#include <bit>
#endif

namespace velnor::text {

#if defined(VELNOR_TEXT_SSE2)

namespace {

inline __m128i load(const void* at) noexcept {
    return _mm_loadu_si128(static_cast<const __m128i*>(at));
}

inline std::uint32_t bits(__m128i lanes) noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(lanes));
}

// Bit k: window s + k has both bytes in place, for 32 windows.
inline std::uint32_t pair_mask32(const unsigned char* t, std::size_t s, RarePair pair, __m128i a, __m128i b) noexcept {
    const unsigned char* at_a = t + s + pair.first;
    const unsigned char* at_b = t + s + pair.second;
    const std::uint32_t low = bits(_mm_and_si128(_mm_cmpeq_epi8(load(at_a), a), _mm_cmpeq_epi8(load(at_b), b)));
    const std::uint32_t high =
        bits(_mm_and_si128(_mm_cmpeq_epi8(load(at_a + 16), a), _mm_cmpeq_epi8(load(at_b + 16), b)));
    return low | high << 16;
}

// Four code-point lanes, all ones where both units are in place.
inline __m128i pair_lanes4(const std::uint32_t* t, std::size_t s, RarePair pair, __m128i a, __m128i b) noexcept {
    return _mm_and_si128(_mm_cmpeq_epi32(load(t + s + pair.first), a), _mm_cmpeq_epi32(load(t + s + pair.second), b));
}

// Sixteen lanes of 0 or -1 narrowed to one byte each: signed narrowing keeps the values and their order.
inline std::uint32_t narrow16(__m128i l0, __m128i l1, __m128i l2, __m128i l3) noexcept {
    return bits(_mm_packs_epi16(_mm_packs_epi32(l0, l1), _mm_packs_epi32(l2, l3)));
}

inline std::uint32_t pair_mask16(const std::uint32_t* t, std::size_t s, RarePair pair, __m128i a, __m128i b) noexcept {
    return narrow16(pair_lanes4(t, s, pair, a, b), pair_lanes4(t, s + 4, pair, a, b),
                    pair_lanes4(t, s + 8, pair, a, b), pair_lanes4(t, s + 12, pair, a, b));
}

inline std::uint32_t unit_mask16(const std::uint32_t* t, std::size_t i, __m128i unit) noexcept {
    return narrow16(_mm_cmpeq_epi32(load(t + i), unit), _mm_cmpeq_epi32(load(t + i + 4), unit),
                    _mm_cmpeq_epi32(load(t + i + 8), unit), _mm_cmpeq_epi32(load(t + i + 12), unit));
}

inline std::size_t lowest(std::size_t base, std::uint32_t mask) noexcept {
    return base + static_cast<std::size_t>(std::countr_zero(mask));
}

inline std::size_t highest(std::size_t base, std::uint32_t mask) noexcept {
    return base + static_cast<std::size_t>(31 - std::countl_zero(mask));
}

std::size_t find_pair8(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair, unsigned char a,
                       unsigned char b) noexcept {
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    std::size_t s = from;
    for (; end - s >= 32; s += 32) {
        if (const std::uint32_t mask = pair_mask32(t, s, pair, va, vb); mask != 0) {
            return lowest(s, mask);
        }
    }
    return scalar_kernels()->find_pair8(t, s, end, pair, a, b);
}

std::size_t rfind_pair8(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair, unsigned char a,
                        unsigned char b) noexcept {
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    for (; end - from >= 32; end -= 32) {
        if (const std::uint32_t mask = pair_mask32(t, end - 32, pair, va, vb); mask != 0) {
            return highest(end - 32, mask);
        }
    }
    return scalar_kernels()->rfind_pair8(t, from, end, pair, a, b);
}

std::size_t find_pair32(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair, std::uint32_t a,
                        std::uint32_t b) noexcept {
    const __m128i va = _mm_set1_epi32(static_cast<int>(a));
    const __m128i vb = _mm_set1_epi32(static_cast<int>(b));
    std::size_t s = from;
    for (; end - s >= 16; s += 16) {
        if (const std::uint32_t mask = pair_mask16(t, s, pair, va, vb); mask != 0) {
            return lowest(s, mask);
        }
    }
    return scalar_kernels()->find_pair32(t, s, end, pair, a, b);
}

std::size_t rfind_pair32(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair, std::uint32_t a,
                         std::uint32_t b) noexcept {
    const __m128i va = _mm_set1_epi32(static_cast<int>(a));
    const __m128i vb = _mm_set1_epi32(static_cast<int>(b));
    for (; end - from >= 16; end -= 16) {
        if (const std::uint32_t mask = pair_mask16(t, end - 16, pair, va, vb); mask != 0) {
            return highest(end - 16, mask);
        }
    }
    return scalar_kernels()->rfind_pair32(t, from, end, pair, a, b);
}

std::size_t find_unit32(const std::uint32_t* t, std::size_t from, std::size_t end, std::uint32_t unit) noexcept {
    const __m128i wanted = _mm_set1_epi32(static_cast<int>(unit));
    std::size_t i = from;
    for (; end - i >= 16; i += 16) {
        if (const std::uint32_t mask = unit_mask16(t, i, wanted); mask != 0) {
            return lowest(i, mask);
        }
    }
    return scalar_kernels()->find_unit32(t, i, end, unit);
}

std::size_t rfind_unit32(const std::uint32_t* t, std::size_t from, std::size_t end, std::uint32_t unit) noexcept {
    const __m128i wanted = _mm_set1_epi32(static_cast<int>(unit));
    for (; end - from >= 16; end -= 16) {
        if (const std::uint32_t mask = unit_mask16(t, end - 16, wanted); mask != 0) {
            return highest(end - 16, mask);
        }
    }
    return scalar_kernels()->rfind_unit32(t, from, end, unit);
}

std::size_t rfind_byte(const unsigned char* t, std::size_t from, std::size_t end, unsigned char byte) noexcept {
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
    for (; end - from >= 32; end -= 32) {
        const std::uint32_t low = bits(_mm_cmpeq_epi8(load(t + end - 32), wanted));
        const std::uint32_t high = bits(_mm_cmpeq_epi8(load(t + end - 16), wanted));
        if (const std::uint32_t mask = low | high << 16; mask != 0) {
            return highest(end - 32, mask);
        }
    }
    return scalar_kernels()->rfind_byte(t, from, end, byte);
}

// The four 32-bit lanes summed.
inline std::size_t lane_sum(__m128i lanes) noexcept {
    alignas(16) std::uint32_t out[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(out), lanes);
    return std::size_t{out[0]} + out[1] + out[2] + out[3];
}

// Code points are below 2**21, so signed compares order them. Each lane subtracts its -1s; a run of
// 2**16 vectors adds at most 3 * 2**16 to a lane, far from overflow.
template <int Thresholds>
std::size_t count_above(const std::uint32_t* t, std::size_t size) noexcept {
    const __m128i above_ffff = _mm_set1_epi32(0xFFFF);
    const __m128i above_7ff = _mm_set1_epi32(0x7FF);
    const __m128i above_7f = _mm_set1_epi32(0x7F);
    constexpr std::size_t run = std::size_t{4} << 16;
    std::size_t total = 0;
    std::size_t i = 0;
    while (size - i >= 4) {
        __m128i sum = _mm_setzero_si128();
        const std::size_t stop = i + std::min(run, (size - i) / 4 * 4);
        for (; i < stop; i += 4) {
            const __m128i v = load(t + i);
            sum = _mm_sub_epi32(sum, _mm_cmpgt_epi32(v, above_ffff));
            if constexpr (Thresholds == 3) {
                sum = _mm_sub_epi32(sum, _mm_cmpgt_epi32(v, above_7ff));
                sum = _mm_sub_epi32(sum, _mm_cmpgt_epi32(v, above_7f));
            }
        }
        total += lane_sum(sum);
    }
    const Kernels* scalar = scalar_kernels();
    return total + (Thresholds == 3 ? scalar->count_utf8_extra(t + i, size - i) : scalar->count_astral(t + i, size - i));
}

// Bits above the eleventh read 0b11011 exactly for U+D800..U+DFFF; 16 code points a step.
bool holds_surrogate(const std::uint32_t* t, std::size_t size) noexcept {
    const __m128i surrogate = _mm_set1_epi32(0b11011);
    std::size_t i = 0;
    for (; size - i >= 16; i += 16) {
        __m128i any = _mm_setzero_si128();
        for (std::size_t k = 0; k < 16; k += 4) {
            any = _mm_or_si128(any, _mm_cmpeq_epi32(_mm_srli_epi32(load(t + i + k), 11), surrogate));
        }
        if (bits(any) != 0) {
            return true;
        }
    }
    return scalar_kernels()->holds_surrogate(t + i, size - i);
}

// Bytes interleaved with zeros twice: 16 bytes become four vectors of 32-bit lanes, in order.
void widen_latin1(const unsigned char* in, std::size_t size, std::uint32_t* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (; size - i >= 16; i += 16) {
        const __m128i bytes = load(in + i);
        const __m128i low = _mm_unpacklo_epi8(bytes, zero);
        const __m128i high = _mm_unpackhi_epi8(bytes, zero);
        auto* to = reinterpret_cast<__m128i*>(out + i);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
    }
    scalar_kernels()->widen_latin1(in + i, size - i, out + i);
}

constexpr Kernels sse2 = {
    Path::sse2,
    "sse2",
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

const Kernels* sse2_kernels() noexcept {
    return &sse2;
}

#else

const Kernels* sse2_kernels() noexcept {
    return nullptr;
}

#endif

}  // namespace velnor::text
