// AVX2: 32 bytes or 8 code points per compare. Every function here is compiled for AVX2 alone (GCC and
// Clang through the target attribute; MSVC compiles the intrinsics without flags), so the rest of the
// module stays baseline x86-64; kernels.cpp reaches them only once the CPU and the OS support AVX2.
#include "text/kernels.hpp"

#if defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64)
#define VELNOR_TEXT_AVX2 1
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>
#endif

#if defined(__GNUC__)
#define VELNOR_AVX2 __attribute__((target("avx2")))
#else
#define VELNOR_AVX2
#endif

namespace velnor::text {

#if defined(VELNOR_TEXT_AVX2)

namespace {

VELNOR_AVX2 inline __m256i load(const void* at) noexcept {
    return _mm256_loadu_si256(static_cast<const __m256i*>(at));
}

VELNOR_AVX2 inline std::uint32_t bits(__m256i lanes) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes));
}

// Eight 32-bit lanes of 0 or -1 as eight bits.
VELNOR_AVX2 inline std::uint32_t lane_bits(__m256i lanes) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(lanes)));
}

VELNOR_AVX2 inline __m256i pair_lanes(const unsigned char* t, std::size_t s, RarePair pair, __m256i a, __m256i b) noexcept {
    return _mm256_and_si256(_mm256_cmpeq_epi8(load(t + s + pair.first), a),
                            _mm256_cmpeq_epi8(load(t + s + pair.second), b));
}

VELNOR_AVX2 inline std::uint32_t pair_mask8(const std::uint32_t* t, std::size_t s, RarePair pair, __m256i a, __m256i b) noexcept {
    return lane_bits(_mm256_and_si256(_mm256_cmpeq_epi32(load(t + s + pair.first), a),
                                      _mm256_cmpeq_epi32(load(t + s + pair.second), b)));
}

// Bit k: window s + k, for 32 windows of code points.
VELNOR_AVX2 inline std::uint32_t pair_mask32(const std::uint32_t* t, std::size_t s, RarePair pair, __m256i a, __m256i b) noexcept {
    return pair_mask8(t, s, pair, a, b) | pair_mask8(t, s + 8, pair, a, b) << 8 |
           pair_mask8(t, s + 16, pair, a, b) << 16 | pair_mask8(t, s + 24, pair, a, b) << 24;
}

VELNOR_AVX2 inline std::uint32_t unit_mask32(const std::uint32_t* t, std::size_t i, __m256i unit) noexcept {
    return lane_bits(_mm256_cmpeq_epi32(load(t + i), unit)) | lane_bits(_mm256_cmpeq_epi32(load(t + i + 8), unit)) << 8 |
           lane_bits(_mm256_cmpeq_epi32(load(t + i + 16), unit)) << 16 |
           lane_bits(_mm256_cmpeq_epi32(load(t + i + 24), unit)) << 24;
}

inline std::size_t lowest(std::size_t base, std::uint64_t mask) noexcept {
    return base + static_cast<std::size_t>(std::countr_zero(mask));
}

inline std::size_t highest(std::size_t base, std::uint64_t mask) noexcept {
    return base + static_cast<std::size_t>(63 - std::countl_zero(mask));
}

// Bit k: window s + k, for 64 windows; the halves are tested together, and only a hit pays for the masks.
VELNOR_AVX2 inline std::uint64_t pair_mask64(const unsigned char* t, std::size_t s, RarePair pair, __m256i a,
                                             __m256i b) noexcept {
    const __m256i low = pair_lanes(t, s, pair, a, b);
    const __m256i high = pair_lanes(t, s + 32, pair, a, b);
    const __m256i any = _mm256_or_si256(low, high);
    if (_mm256_testz_si256(any, any)) {
        return 0;
    }
    return bits(low) | std::uint64_t{bits(high)} << 32;
}

// Whether unit `a` stands at pair.first of any of the 128 windows from s: one load for 32 windows, as
// memchr reads, where the pair costs two.
VELNOR_AVX2 inline bool any_first128(const unsigned char* t, std::size_t s, std::size_t first, __m256i a) noexcept {
    const unsigned char* at = t + s + first;
    const __m256i any = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(load(at), a), _mm256_cmpeq_epi8(load(at + 32), a)),
        _mm256_or_si256(_mm256_cmpeq_epi8(load(at + 64), a), _mm256_cmpeq_epi8(load(at + 96), a)));
    return !_mm256_testz_si256(any, any);
}

// Blocks of 128 windows are first asked for the rarer unit alone. The first `paired_steps` steps of a
// call, and as many after any block that holds the unit (where it is likely common), test the pair, 64
// windows a step: a search resumed past a hit may soon meet another. Then 32 windows, then one by one.
constexpr unsigned paired_steps = 32;

VELNOR_AVX2 std::size_t find_pair8(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair,
                                   unsigned char a, unsigned char b) noexcept {
    const __m256i va = _mm256_set1_epi8(static_cast<char>(a));
    const __m256i vb = _mm256_set1_epi8(static_cast<char>(b));
    std::size_t s = from;
    unsigned paired = paired_steps;  // steps still to test by the pair
    while (end - s >= 128) {
        if (paired == 0) {
            if (!any_first128(t, s, pair.first, va)) {
                s += 128;
                continue;
            }
            paired = paired_steps;
        }
        --paired;
        if (const std::uint64_t mask = pair_mask64(t, s, pair, va, vb); mask != 0) {
            return lowest(s, mask);
        }
        s += 64;
    }
    for (; end - s >= 64; s += 64) {
        if (const std::uint64_t mask = pair_mask64(t, s, pair, va, vb); mask != 0) {
            return lowest(s, mask);
        }
    }
    if (end - s >= 32) {
        if (const std::uint32_t mask = bits(pair_lanes(t, s, pair, va, vb)); mask != 0) {
            return lowest(s, mask);
        }
        s += 32;
    }
    return scalar_kernels()->find_pair8(t, s, end, pair, a, b);
}

VELNOR_AVX2 std::size_t rfind_pair8(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair,
                                    unsigned char a, unsigned char b) noexcept {
    const __m256i va = _mm256_set1_epi8(static_cast<char>(a));
    const __m256i vb = _mm256_set1_epi8(static_cast<char>(b));
    unsigned paired = paired_steps;
    while (end - from >= 128) {
        if (paired == 0) {
            if (!any_first128(t, end - 128, pair.first, va)) {
                end -= 128;
                continue;
            }
            paired = paired_steps;
        }
        --paired;
        if (const std::uint64_t mask = pair_mask64(t, end - 64, pair, va, vb); mask != 0) {
            return highest(end - 64, mask);
        }
        end -= 64;
    }
    for (; end - from >= 64; end -= 64) {
        if (const std::uint64_t mask = pair_mask64(t, end - 64, pair, va, vb); mask != 0) {
            return highest(end - 64, mask);
        }
    }
    if (end - from >= 32) {
        if (const std::uint32_t mask = bits(pair_lanes(t, end - 32, pair, va, vb)); mask != 0) {
            return highest(end - 32, mask);
        }
        end -= 32;
    }
    return scalar_kernels()->rfind_pair8(t, from, end, pair, a, b);
}

VELNOR_AVX2 std::size_t find_pair32(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair,
                                    std::uint32_t a, std::uint32_t b) noexcept {
    const __m256i va = _mm256_set1_epi32(static_cast<int>(a));
    const __m256i vb = _mm256_set1_epi32(static_cast<int>(b));
    std::size_t s = from;
    for (; end - s >= 32; s += 32) {
        if (const std::uint32_t mask = pair_mask32(t, s, pair, va, vb); mask != 0) {
            return lowest(s, mask);
        }
    }
    return scalar_kernels()->find_pair32(t, s, end, pair, a, b);
}

VELNOR_AVX2 std::size_t rfind_pair32(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair,
                                     std::uint32_t a, std::uint32_t b) noexcept {
    const __m256i va = _mm256_set1_epi32(static_cast<int>(a));
    const __m256i vb = _mm256_set1_epi32(static_cast<int>(b));
    for (; end - from >= 32; end -= 32) {
        if (const std::uint32_t mask = pair_mask32(t, end - 32, pair, va, vb); mask != 0) {
            return highest(end - 32, mask);
        }
    }
    return scalar_kernels()->rfind_pair32(t, from, end, pair, a, b);
}

VELNOR_AVX2 std::size_t find_unit32(const std::uint32_t* t, std::size_t from, std::size_t end,
                                    std::uint32_t unit) noexcept {
    const __m256i wanted = _mm256_set1_epi32(static_cast<int>(unit));
    std::size_t i = from;
    for (; end - i >= 32; i += 32) {
        if (const std::uint32_t mask = unit_mask32(t, i, wanted); mask != 0) {
            return lowest(i, mask);
        }
    }
    return scalar_kernels()->find_unit32(t, i, end, unit);
}

VELNOR_AVX2 std::size_t rfind_unit32(const std::uint32_t* t, std::size_t from, std::size_t end,
                                     std::uint32_t unit) noexcept {
    const __m256i wanted = _mm256_set1_epi32(static_cast<int>(unit));
    for (; end - from >= 32; end -= 32) {
        if (const std::uint32_t mask = unit_mask32(t, end - 32, wanted); mask != 0) {
            return highest(end - 32, mask);
        }
    }
    return scalar_kernels()->rfind_unit32(t, from, end, unit);
}

VELNOR_AVX2 std::size_t rfind_byte(const unsigned char* t, std::size_t from, std::size_t end,
                                   unsigned char byte) noexcept {
    const __m256i wanted = _mm256_set1_epi8(static_cast<char>(byte));
    for (; end - from >= 64; end -= 64) {
        const __m256i low = _mm256_cmpeq_epi8(load(t + end - 64), wanted);
        const __m256i high = _mm256_cmpeq_epi8(load(t + end - 32), wanted);
        const __m256i any = _mm256_or_si256(low, high);
        if (!_mm256_testz_si256(any, any)) {
            return highest(end - 64, bits(low) | std::uint64_t{bits(high)} << 32);
        }
    }
    return scalar_kernels()->rfind_byte(t, from, end, byte);
}

VELNOR_AVX2 inline std::size_t lane_sum(__m256i lanes) noexcept {
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
    alignas(16) std::uint32_t out[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(out), half);
    return std::size_t{out[0]} + out[1] + out[2] + out[3];
}

// As the SSE2 counts: signed compares order code points, and a run of 2**16 vectors cannot overflow a lane.
template <int Thresholds>
VELNOR_AVX2 std::size_t count_above(const std::uint32_t* t, std::size_t size) noexcept {
    const __m256i above_ffff = _mm256_set1_epi32(0xFFFF);
    const __m256i above_7ff = _mm256_set1_epi32(0x7FF);
    const __m256i above_7f = _mm256_set1_epi32(0x7F);
    constexpr std::size_t run = std::size_t{8} << 16;
    std::size_t total = 0;
    std::size_t i = 0;
    while (size - i >= 8) {
        __m256i sum = _mm256_setzero_si256();
        const std::size_t stop = i + std::min(run, (size - i) / 8 * 8);
        for (; i < stop; i += 8) {
            const __m256i v = load(t + i);
            sum = _mm256_sub_epi32(sum, _mm256_cmpgt_epi32(v, above_ffff));
            if constexpr (Thresholds == 3) {
                sum = _mm256_sub_epi32(sum, _mm256_cmpgt_epi32(v, above_7ff));
                sum = _mm256_sub_epi32(sum, _mm256_cmpgt_epi32(v, above_7f));
            }
        }
        total += lane_sum(sum);
    }
    const Kernels* scalar = scalar_kernels();
    return total + (Thresholds == 3 ? scalar->count_utf8_extra(t + i, size - i) : scalar->count_astral(t + i, size - i));
}

// As the SSE2 test, 32 code points a step.
VELNOR_AVX2 bool holds_surrogate(const std::uint32_t* t, std::size_t size) noexcept {
    const __m256i surrogate = _mm256_set1_epi32(0b11011);
    std::size_t i = 0;
    for (; size - i >= 32; i += 32) {
        __m256i any = _mm256_setzero_si256();
        for (std::size_t k = 0; k < 32; k += 8) {
            any = _mm256_or_si256(any, _mm256_cmpeq_epi32(_mm256_srli_epi32(load(t + i + k), 11), surrogate));
        }
        if (!_mm256_testz_si256(any, any)) {
            return true;
        }
    }
    return scalar_kernels()->holds_surrogate(t + i, size - i);
}

VELNOR_AVX2 void widen_latin1(const unsigned char* in, std::size_t size, std::uint32_t* out) noexcept {
    std::size_t i = 0;
    for (; size - i >= 32; i += 32) {
        for (std::size_t k = 0; k < 32; k += 8) {
            std::int64_t eight;
            std::memcpy(&eight, in + i + k, sizeof eight);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + k),
                                _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight)));
        }
    }
    scalar_kernels()->widen_latin1(in + i, size - i, out + i);
}

constexpr Kernels avx2 = {
    Path::avx2,
    "avx2",
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

const Kernels* avx2_kernels() noexcept {
    return &avx2;
}

#else

const Kernels* avx2_kernels() noexcept {
    return nullptr;
}

#endif

}  // namespace velnor::text
