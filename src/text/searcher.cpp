#include "text/searcher.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace velnor::text {

namespace {

// The prefilter earns this many units of failed verification per window it rules out, and starts with
// an allowance that covers a few failures whatever the pattern's length.
constexpr std::int64_t refill_per_window = 2;
constexpr std::int64_t first_allowance = 256;

// Rough frequency of a byte in prose (higher is more common): a guide for picking the prefilter bytes.
constexpr int rank_by_rule(unsigned char byte) noexcept {
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

// The ranks as a table: a pattern may be as long as the text, and is ranked unit by unit.
constexpr std::array<unsigned char, 256> byte_ranks = [] {
    std::array<unsigned char, 256> ranks{};
    for (int byte = 0; byte < 256; ++byte) {
        ranks[static_cast<std::size_t>(byte)] = static_cast<unsigned char>(rank_by_rule(static_cast<unsigned char>(byte)));
    }
    return ranks;
}();

constexpr int frequency_rank(unsigned char byte) noexcept {
    return byte_ranks[byte];
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

// The kernel scans for one unit type.
inline std::size_t scan_pair(const Kernels& k, const unsigned char* t, std::size_t from, std::size_t end,
                             RarePair pair, unsigned char a, unsigned char b) noexcept {
    return k.find_pair8(t, from, end, pair, a, b);
}
inline std::size_t scan_pair(const Kernels& k, const std::uint32_t* t, std::size_t from, std::size_t end,
                             RarePair pair, std::uint32_t a, std::uint32_t b) noexcept {
    return k.find_pair32(t, from, end, pair, a, b);
}
inline std::size_t rscan_pair(const Kernels& k, const unsigned char* t, std::size_t from, std::size_t end,
                              RarePair pair, unsigned char a, unsigned char b) noexcept {
    return k.rfind_pair8(t, from, end, pair, a, b);
}
inline std::size_t rscan_pair(const Kernels& k, const std::uint32_t* t, std::size_t from, std::size_t end,
                              RarePair pair, std::uint32_t a, std::uint32_t b) noexcept {
    return k.rfind_pair32(t, from, end, pair, a, b);
}
inline std::size_t scan_unit(const Kernels&, const unsigned char* t, std::size_t from, std::size_t end,
                             unsigned char unit) noexcept {
    const void* hit = std::memchr(t + from, unit, end - from);
    return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - t);
}
inline std::size_t scan_unit(const Kernels& k, const std::uint32_t* t, std::size_t from, std::size_t end,
                             std::uint32_t unit) noexcept {
    return k.find_unit32(t, from, end, unit);
}
inline std::size_t rscan_unit(const Kernels& k, const unsigned char* t, std::size_t from, std::size_t end,
                              unsigned char unit) noexcept {
    return k.rfind_byte(t, from, end, unit);
}
inline std::size_t rscan_unit(const Kernels& k, const std::uint32_t* t, std::size_t from, std::size_t end,
                              std::uint32_t unit) noexcept {
    return k.rfind_unit32(t, from, end, unit);
}

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

// Every scan below goes window by window (at most `scan_window` starts) and reports what it passed to the
// poll, also when it stops at a hit, so that dense matches poll as often as long scans.
template <class Char>
std::size_t ForwardSearcher<Char>::find(std::span<const Char> text, std::size_t from) {
    const std::size_t m = pattern_.size();
    const std::size_t n = text.size();
    if (m > n || from > n - m) {
        return npos;
    }
    const Char* t = text.data();
    const Char* p = pattern_.data();
    const Kernels& k = kernels();
    // A hit also pays for the window it covers: the caller resumes past it, and dense hits of a long
    // pattern would otherwise pass most of the text without a poll.
    auto two_way = [&](std::size_t start) {
        const std::size_t hit =
            two_way_.find(Forward<Char>{t, n}, start, [this](std::size_t units) { poll_.tick(units); });
        if (hit != npos) {
            poll_.tick(m);
        }
        return hit;
    };
    if (m == 1) {
        for (std::size_t j = from; j < n;) {
            const std::size_t stop = j + std::min(scan_window, n - j);
            if (const std::size_t hit = scan_unit(k, t, j, stop, p[0]); hit != npos) {
                poll_.tick(hit - j + 1);
                return hit;
            }
            poll_.tick(stop - j);
            j = stop;
        }
        return npos;
    }
    if (budget_.overdrawn()) {
        return two_way(from);
    }
    const std::size_t end = n - m + 1;  // one past the last window start
    std::size_t credited = from;        // windows before this are paid into the budget
    const Char first = p[pair_.first];
    const Char second = p[pair_.second];
    for (std::size_t j = from; j < end;) {  // windows before j hold no occurrence
        const std::size_t stop = j + std::min(scan_window, end - j);
        const std::size_t start = scan_pair(k, t, j, stop, pair_, first, second);
        if (start == npos) {
            poll_.tick(stop - j);
            j = stop;
            continue;
        }
        poll_.tick(start - j + 1);
        if (std::memcmp(t + start, p, m * sizeof(Char)) == 0) {
            poll_.tick(m);
            budget_.earn(start - credited);
            return start;
        }
        budget_.pay(start - credited, m);
        credited = start;
        if (budget_.overdrawn()) {
            return two_way(start + 1);
        }
        j = start + 1;
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
std::size_t BackwardSearcher<Char>::rfind(std::span<const Char> text, std::size_t bound) {
    const std::size_t m = pattern_.size();
    if (m > bound) {
        return npos;
    }
    const Char* t = text.data();
    const Char* p = pattern_.data();
    const Kernels& k = kernels();
    // Two-Way over the mirrored text before `limit`: its leftmost hit is our rightmost occurrence.
    auto two_way = [&](std::size_t limit) {
        const std::size_t mirrored =
            two_way_.find(Mirrored<Char>{t, limit}, 0, [this](std::size_t units) { poll_.tick(units); });
        if (mirrored == npos) {
            return npos;
        }
        poll_.tick(m);  // the window of the hit, as forward
        return limit - m - mirrored;
    };
    if (m == 1) {
        for (std::size_t end = bound; end > 0;) {
            const std::size_t low = end - std::min(scan_window, end);
            if (const std::size_t hit = rscan_unit(k, t, low, end, p[0]); hit != npos) {
                poll_.tick(end - hit);
                return hit;
            }
            poll_.tick(end - low);
            end = low;
        }
        return npos;
    }
    if (budget_.overdrawn()) {
        return two_way(bound);
    }
    std::size_t end = bound - m + 1;  // windows at or after `end` hold no occurrence
    std::size_t credited = end;       // windows from this on are paid into the budget
    const Char first = p[pair_.first];
    const Char second = p[pair_.second];
    while (end > 0) {
        const std::size_t low = end - std::min(scan_window, end);
        const std::size_t start = rscan_pair(k, t, low, end, pair_, first, second);
        if (start == npos) {
            poll_.tick(end - low);
            end = low;
            continue;
        }
        poll_.tick(end - start);
        if (std::memcmp(t + start, p, m * sizeof(Char)) == 0) {
            poll_.tick(m);
            budget_.earn(credited - start);
            return start;
        }
        budget_.pay(credited - start, m);
        credited = start;
        if (budget_.overdrawn()) {
            return two_way(start + m - 1);
        }
        end = start;
    }
    budget_.earn(credited);
    return npos;
}

template class ForwardSearcher<unsigned char>;
template class ForwardSearcher<std::uint32_t>;
template class BackwardSearcher<unsigned char>;
template class BackwardSearcher<std::uint32_t>;

}  // namespace velnor::text
