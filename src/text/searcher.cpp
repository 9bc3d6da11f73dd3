#include "text/searcher.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velnor::text {

namespace {

// The prefilter earns this many bytes of failed verification per window it rules out, and starts with
// an allowance that covers a few failures whatever the pattern's length.
constexpr std::int64_t refill_per_window = 2;
constexpr std::int64_t first_allowance = 256;

const unsigned char* bytes_of(std::string_view text) noexcept {
    return reinterpret_cast<const unsigned char*>(text.data());
}

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

// Returns the offset of the pattern's rarest byte that differs from `unlike` (any byte when unlike < 0),
// or npos when there is none.
std::size_t rarest_offset(std::string_view pattern, int unlike) noexcept {
    std::size_t best = npos;
    int best_rank = 256;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto byte = static_cast<unsigned char>(pattern[i]);
        const int rank = frequency_rank(byte);
        if (static_cast<int>(byte) != unlike && rank < best_rank) {
            best = i;
            best_rank = rank;
        }
    }
    return best;
}

// Picks the rarest byte of the pattern and the rarest other byte value (or, for a pattern made of one
// repeated byte, its first and last offsets).
RarePair choose_rare_pair(std::string_view pattern) noexcept {
    const std::size_t first = rarest_offset(pattern, -1);
    const std::size_t second = rarest_offset(pattern, static_cast<unsigned char>(pattern[first]));
    if (second == npos) {
        return {0, pattern.size() - 1};  // one repeated byte: its ends are as good as any
    }
    return {first, second};
}

#if defined(__SSE2__)
// Bit k is set when window `start + k` has both rare bytes in place, for 16 windows.
inline unsigned pair_mask16(const unsigned char* start, RarePair pair, __m128i first, __m128i second) noexcept {
    const __m128i at_first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + pair.first));
    const __m128i at_second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + pair.second));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(at_first, first), _mm_cmpeq_epi8(at_second, second))));
}

// The same for 32 windows.
inline std::uint32_t pair_mask32(const unsigned char* start, RarePair pair, __m128i first,
                                 __m128i second) noexcept {
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

ForwardSearcher::ForwardSearcher(std::string_view pattern) noexcept
    : pattern_(pattern),
      pair_(choose_rare_pair(pattern)),
      two_way_(Forward{bytes_of(pattern), pattern.size()}),
      budget_(pattern.size()) {}

std::size_t ForwardSearcher::find(std::string_view text, std::size_t from) noexcept {
    const std::size_t m = pattern_.size();
    const std::size_t n = text.size();
    if (m > n || from > n - m) {
        return npos;
    }
    const unsigned char* t = bytes_of(text);
    const unsigned char* p = bytes_of(pattern_);
    if (m == 1) {
        const void* hit = std::memchr(t + from, p[0], n - from);
        return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - t);
    }
    if (budget_.overdrawn()) {
        return two_way_.find(Forward{t, n}, from);
    }
    const std::size_t end = n - m + 1;  // one past the last window start
    std::size_t j = from;               // windows before j hold no occurrence
    std::size_t credited = from;        // windows before this are paid into the budget
    // Verifies window `start`; a failure is paid for.
    auto fails = [&](std::size_t start) {
        if (std::memcmp(t + start, p, m) == 0) {
            budget_.earn(start - credited);
            return false;
        }
        budget_.pay(start - credited, m);
        credited = start;
        return true;
    };
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(p[pair_.first]));
    const __m128i second = _mm_set1_epi8(static_cast<char>(p[pair_.second]));
    for (; end - j >= 32; j += 32) {
        for (std::uint32_t mask = pair_mask32(t + j, pair_, first, second); mask != 0; mask &= mask - 1) {
            const std::size_t start = j + static_cast<std::size_t>(std::countr_zero(mask));
            if (!fails(start)) {
                return start;
            }
            if (budget_.overdrawn()) {
                return two_way_.find(Forward{t, n}, start + 1);
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
                return two_way_.find(Forward{t, n}, j + 1);
            }
        }
    }
    budget_.earn(end - credited);
    return npos;
}

BackwardSearcher::BackwardSearcher(std::string_view pattern) noexcept
    : pattern_(pattern),
      pair_(choose_rare_pair(pattern)),
      two_way_(Mirrored{bytes_of(pattern), pattern.size()}),
      budget_(pattern.size()) {}

std::size_t BackwardSearcher::rfind(std::string_view text, std::size_t bound) noexcept {
    const std::size_t m = pattern_.size();
    if (m > bound) {
        return npos;
    }
    const unsigned char* t = bytes_of(text);
    const unsigned char* p = bytes_of(pattern_);
    // Two-Way over the mirrored text before `limit`: its leftmost hit is our rightmost occurrence.
    auto two_way = [&](std::size_t limit) {
        const std::size_t mirrored = two_way_.find(Mirrored{t, limit}, 0);
        return mirrored == npos ? npos : limit - m - mirrored;
    };
    if (m == 1) {
#if defined(__GLIBC__)
        const void* hit = memrchr(t, p[0], bound);
        return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - t);
#else
        for (std::size_t j = bound; j > 0; --j) {
            if (t[j - 1] == p[0]) {
                return j - 1;
            }
        }
        return npos;
#endif
    }
    if (budget_.overdrawn()) {
        return two_way(bound);
    }
    std::size_t end = bound - m + 1;  // windows at or after `end` hold no occurrence
    std::size_t credited = end;       // windows from this on are paid into the budget
    auto fails = [&](std::size_t start) {
        if (std::memcmp(t + start, p, m) == 0) {
            budget_.earn(credited - start);
            return false;
        }
        budget_.pay(credited - start, m);
        credited = start;
        return true;
    };
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(p[pair_.first]));
    const __m128i second = _mm_set1_epi8(static_cast<char>(p[pair_.second]));
    // From the right, 32 windows at a time: bit k stands for window end - 32 + k, highest first.
    for (; end >= 32; end -= 32) {
        const std::size_t low = end - 32;
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

}  // namespace velnor::text
