#include "text/searcher.hpp"

#include <bit>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velnor::text {

namespace {

// The prefilter earns this many units of failed verification per window it rules out, and starts with
// an allowance that covers a few failures whatever the pattern's length.
constexpr std::int64_t refill_per_window = 2;
constexpr std::int64_t first_allowance = 256;

// Rough frequency of a byte in prose (higher is more common): a guide for picking the prefilter bytes.
constexpr int frequency_rank(unsigned char byte) noexcept {
    constexpr char by_frequency[] = "etaoinshrdlcumwfgypbvkjxqz";
    if (byte == ' ') {
        return 255;
    }
    if (byte >= 'a' && byte <= 'z') {
        return 250 - 3 * static_cast<int>(std::string_view(by_frequency).find(static_cast<char>(byte)));
    }
    if (byte >= 0x80 && byte <= 0xBF) {
        return 200;  // continuation bytes (0b10xxxxxx): every non-ASCII character carries some
    }
    if (byte == 0xC3 || (byte >= 0xE2 && byte <= 0xE9) || byte == 0xF0) {
        return 170;  // lead bytes of accented Latin, punctuation, CJK and emoji
    }
    if (byte == '\n' || byte == ',' || byte == '.') {
        return 150;
    }
    if ((byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')) {
        return 120;
    }
    if (byte < 0x20 || byte == 0x7F) {
        return 10;
    }
    return 80;
}

// The same guide for a code point: ASCII as above; a text in a CJK script repeats a few thousand
// characters densely, accented Latin letters are rarer, and anything further out rarer still.
constexpr int frequency_rank(std::uint32_t code_point) noexcept {
    if (code_point < 0x80) {
        return frequency_rank(static_cast<unsigned char>(code_point));
    }
    if (code_point >= 0x3000 && code_point < 0xD800) {
        return 160;
    }
    if (code_point < 0x300) {
        return 140;
    }
    return 100;
}

// Returns the offset of the pattern's rarest unit that differs from `unlike` (any unit when `any`), or
// npos when there is none.
template <class Char>
std::size_t rarest_offset(std::span<const Char> pattern, Char unlike, bool any) noexcept {
    std::size_t best = npos;
    int best_rank = 256;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const int rank = frequency_rank(pattern[i]);
        if ((any || pattern[i] != unlike) && rank < best_rank) {
            best = i;
            best_rank = rank;
        }
    }
    return best;
}

// Picks the rarest unit of the pattern and the rarest other unit value (or, for a pattern made of one
// repeated unit, its first and last offsets).
template <class Char>
RarePair choose_rare_pair(std::span<const Char> pattern) noexcept {
    const std::size_t first = rarest_offset(pattern, Char{}, true);
    const std::size_t second = rarest_offset(pattern, pattern[first], false);
    if (second == npos) {
        return {0, pattern.size() - 1};  // one repeated unit: its ends are as good as any
    }
    return {first, second};
}

// Windows per step of the prefilter, and the mask of the windows among them that have both rare units in
// place (bit k for window start + k).
constexpr std::size_t windows_per_step = 32;

#if defined(__SSE2__)
inline __m128i broadcast(unsigned char unit) noexcept {
    return _mm_set1_epi8(static_cast<char>(unit));
}

inline __m128i broadcast(std::uint32_t unit) noexcept {
    return _mm_set1_epi32(static_cast<int>(unit));
}

// 16 windows of bytes: one load per rare byte.
inline std::uint32_t pair_mask16(const unsigned char* start, RarePair pair, __m128i first,
                                 __m128i second) noexcept {
    const __m128i at_first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + pair.first));
    const __m128i at_second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + pair.second));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(at_first, first), _mm_cmpeq_epi8(at_second, second))));
}

// 4 windows of code points, as four all-ones or all-zero lanes.
inline __m128i pair_lanes4(const std::uint32_t* start, RarePair pair, __m128i first, __m128i second) noexcept {
    const __m128i at_first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + pair.first));
    const __m128i at_second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + pair.second));
    return _mm_and_si128(_mm_cmpeq_epi32(at_first, first), _mm_cmpeq_epi32(at_second, second));
}

// 16 windows of code points: the lanes are 0 or -1, so signed narrowing keeps them and their order.
inline std::uint32_t pair_mask16(const std::uint32_t* start, RarePair pair, __m128i first,
                                 __m128i second) noexcept {
    const __m128i low = _mm_packs_epi32(pair_lanes4(start, pair, first, second),
                                        pair_lanes4(start + 4, pair, first, second));
    const __m128i high = _mm_packs_epi32(pair_lanes4(start + 8, pair, first, second),
                                         pair_lanes4(start + 12, pair, first, second));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
}

// 16 code points compared with one: bit k is set when start[k] equals it.
inline std::uint32_t unit_mask16(const std::uint32_t* start, __m128i unit) noexcept {
    auto lanes = [&](std::size_t k) {
        return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(start + k)), unit);
    };
    const __m128i low = _mm_packs_epi32(lanes(0), lanes(4));
    const __m128i high = _mm_packs_epi32(lanes(8), lanes(12));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
}
#endif

// memchr for code points: the first index in [from, size) holding `unit`, or npos.
std::size_t find_unit(const std::uint32_t* text, std::size_t from, std::size_t size, std::uint32_t unit) noexcept {
    std::size_t j = from;
#if defined(__SSE2__)
    const __m128i wanted = broadcast(unit);
    for (; size - j >= 16; j += 16) {
        if (const std::uint32_t mask = unit_mask16(text + j, wanted); mask != 0) {
            return j + static_cast<std::size_t>(std::countr_zero(mask));
        }
    }
#endif
    for (; j < size; ++j) {
        if (text[j] == unit) {
            return j;
        }
    }
    return npos;
}

// memrchr for code points: the last index below `bound` holding `unit`, or npos.
std::size_t rfind_unit(const std::uint32_t* text, std::size_t bound, std::uint32_t unit) noexcept {
    std::size_t end = bound;
#if defined(__SSE2__)
    const __m128i wanted = broadcast(unit);
    for (; end >= 16; end -= 16) {
        if (const std::uint32_t mask = unit_mask16(text + end - 16, wanted); mask != 0) {
            return end - 16 + static_cast<std::size_t>(31 - std::countl_zero(mask));
        }
    }
#endif
    while (end > 0) {
        if (text[--end] == unit) {
            return end;
        }
    }
    return npos;
}

#if defined(__SSE2__)
template <class Char>
inline std::uint32_t pair_mask32(const Char* start, RarePair pair, __m128i first, __m128i second) noexcept {
    return pair_mask16(start, pair, first, second) | (pair_mask16(start + 16, pair, first, second) << 16);
}
#endif

}  // namespace

Budget::Budget(std::size_t pattern_size) noexcept
    : balance_(first_allowance + 4 * static_cast<std::int64_t>(pattern_size)) {}

void Budget::earn(std::size_t passed) noexcept {
    balance_ += refill_per_window * static_cast<std::int64_t>(passed);
}

void Budget::pay(std::size_t passed, std::size_t pattern_size) noexcept {
    earn(passed);
    balance_ -= static_cast<std::int64_t>(pattern_size);
}

template <class Char>
ForwardSearcher<Char>::ForwardSearcher(std::span<const Char> pattern) noexcept
    : pattern_(pattern),
      pair_(choose_rare_pair(pattern)),
      two_way_(Forward<Char>{pattern.data(), pattern.size()}),
      budget_(pattern.size()) {}

template <class Char>
std::size_t ForwardSearcher<Char>::find(std::span<const Char> text, std::size_t from) noexcept {
    const std::size_t m = pattern_.size();
    const std::size_t n = text.size();
    if (m > n || from > n - m) {
        return npos;
    }
    const Char* t = text.data();
    const Char* p = pattern_.data();
    if constexpr (sizeof(Char) == 1) {
        if (m == 1) {
            const void* hit = std::memchr(t + from, p[0], n - from);
            return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const Char*>(hit) - t);
        }
    } else if (m == 1) {
        return find_unit(t, from, n, p[0]);
    }
    if (budget_.overdrawn()) {
        return two_way_.find(Forward<Char>{t, n}, from);
    }
    const std::size_t end = n - m + 1;  // one past the last window start
    std::size_t j = from;               // windows before j hold no occurrence
    std::size_t credited = from;        // windows before this are paid into the budget
    // Verifies window `start`; a failure is paid for.
    auto fails = [&](std::size_t start) {
        if (std::memcmp(t + start, p, m * sizeof(Char)) == 0) {
            budget_.earn(start - credited);
            return false;
        }
        budget_.pay(start - credited, m);
        credited = start;
        return true;
    };
#if defined(__SSE2__)
    const __m128i first = broadcast(p[pair_.first]);
    const __m128i second = broadcast(p[pair_.second]);
    for (; end - j >= windows_per_step; j += windows_per_step) {
        for (std::uint32_t mask = pair_mask32(t + j, pair_, first, second); mask != 0; mask &= mask - 1) {
            const std::size_t start = j + static_cast<std::size_t>(std::countr_zero(mask));
            if (!fails(start)) {
                return start;
            }
            if (budget_.overdrawn()) {
                return two_way_.find(Forward<Char>{t, n}, start + 1);
            }
        }
    }
#endif
    for (; j < end; ++j) {
        if (t[j + pair_.first] == p[pair_.first] && t[j + pair_.second] == p[pair_.second]) {
            if (!fails(j)) {
                return j;
            }
            if (budget_.overdrawn()) {
                return two_way_.find(Forward<Char>{t, n}, j + 1);
            }
        }
    }
    budget_.earn(end - credited);
    return npos;
}

template <class Char>
BackwardSearcher<Char>::BackwardSearcher(std::span<const Char> pattern) noexcept
    : pattern_(pattern),
      pair_(choose_rare_pair(pattern)),
      two_way_(Mirrored<Char>{pattern.data(), pattern.size()}),
      budget_(pattern.size()) {}

template <class Char>
std::size_t BackwardSearcher<Char>::rfind(std::span<const Char> text, std::size_t bound) noexcept {
    const std::size_t m = pattern_.size();
    if (m > bound) {
        return npos;
    }
    const Char* t = text.data();
    const Char* p = pattern_.data();
    // Two-Way over the mirrored text before `limit`: its leftmost hit is our rightmost occurrence.
    auto two_way = [&](std::size_t limit) {
        const std::size_t mirrored = two_way_.find(Mirrored<Char>{t, limit}, 0);
        return mirrored == npos ? npos : limit - m - mirrored;
    };
    if constexpr (sizeof(Char) == 1) {
        if (m == 1) {
#if defined(__GLIBC__)
            const void* hit = memrchr(t, p[0], bound);
            return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const Char*>(hit) - t);
#else
            for (std::size_t j = bound; j > 0; --j) {
                if (t[j - 1] == p[0]) {
                    return j - 1;
                }
            }
            return npos;
#endif
        }
    } else if (m == 1) {
        return rfind_unit(t, bound, p[0]);
    }
    if (budget_.overdrawn()) {
        return two_way(bound);
    }
    std::size_t end = bound - m + 1;  // windows at or after `end` hold no occurrence
    std::size_t credited = end;       // windows from this on are paid into the budget
    auto fails = [&](std::size_t start) {
        if (std::memcmp(t + start, p, m * sizeof(Char)) == 0) {
            budget_.earn(credited - start);
            return false;
        }
        budget_.pay(credited - start, m);
        credited = start;
        return true;
    };
#if defined(__SSE2__)
    const __m128i first = broadcast(p[pair_.first]);
    const __m128i second = broadcast(p[pair_.second]);
    // From the right, 32 windows at a time: bit k stands for window end - 32 + k, highest first.
    for (; end >= windows_per_step; end -= windows_per_step) {
        const std::size_t low = end - windows_per_step;
        std::uint32_t mask = pair_mask32(t + low, pair_, first, second);
        while (mask != 0) {
            const int bit = 31 - std::countl_zero(mask);
            const std::size_t start = low + static_cast<std::size_t>(bit);
            if (!fails(start)) {
                return start;
            }
            if (budget_.overdrawn()) {
                return two_way(start + m - 1);
            }
            mask &= ~(std::uint32_t{1} << bit);
        }
    }
#endif
    while (end > 0) {
        const std::size_t j = --end;
        if (t[j + pair_.first] == p[pair_.first] && t[j + pair_.second] == p[pair_.second]) {
            if (!fails(j)) {
                return j;
            }
            if (budget_.overdrawn()) {
                return two_way(j + m - 1);
            }
        }
    }
    budget_.earn(credited);
    return npos;
}

template class ForwardSearcher<unsigned char>;
template class ForwardSearcher<std::uint32_t>;
template class BackwardSearcher<unsigned char>;
template class BackwardSearcher<std::uint32_t>;

}  // namespace velnor::text
