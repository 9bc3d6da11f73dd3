// Substring search, forward and backward, over UTF-8 bytes or UTF-32 code points: a rare-unit-pair
// prefilter that hands over to Two-Way as soon as it stops paying, so the worst case stays linear. No
// allocation.
#pragma once

#include "core/interrupt.hpp"
#include "text/kernels.hpp"
#include "text/two_way.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace velnor::text {

// Window starts a scan tries between two interrupt polls, so that one search over a huge text still
// stops soon after Ctrl-C (a prefilter scan runs at up to ~20 GB/s: well under a millisecond per window).
inline constexpr std::size_t scan_window = std::size_t{1} << 20;

// What the prefilter may still spend on failed verifications, in units: it earns a little for every
// window it rules out and pays the pattern length for every verification that fails. Once overdrawn it
// stays so, and Two-Way does the rest of the search; the prefilter's work is thus linear too.
class Budget {
public:
    explicit Budget(std::size_t pattern_size) noexcept;

    // Credits `passed` windows ruled out since the last call.
    void earn(std::size_t passed) noexcept;
    // Credits `passed` windows and charges one failed verification.
    void pay(std::size_t passed, std::size_t pattern_size) noexcept;
    bool overdrawn() const noexcept { return balance_ < 0; }

private:
    std::int64_t balance_;
};

// Finds leftmost occurrences of a non-empty pattern. `Char` is unsigned char (UTF-8) or std::uint32_t
// (UTF-32); the pattern must outlive the searcher.
template <class Char>
class ForwardSearcher {
public:
    explicit ForwardSearcher(std::span<const Char> pattern) noexcept;

    // Returns the start of the leftmost occurrence that starts at or after `from`, or npos. Polls for
    // interrupts as it scans, so it may throw what the installed check throws.
    std::size_t find(std::span<const Char> text, std::size_t from);

private:
    std::span<const Char> pattern_;
    RarePair pair_;
    TwoWay<Forward<Char>> two_way_;
    Budget budget_;
    core::InterruptPoll poll_;
};

// Finds rightmost occurrences of a non-empty pattern.
template <class Char>
class BackwardSearcher {
public:
    explicit BackwardSearcher(std::span<const Char> pattern) noexcept;

    // Returns the start of the rightmost occurrence that ends at or before `bound`, or npos. Polls as
    // find does.
    std::size_t rfind(std::span<const Char> text, std::size_t bound);

private:
    std::span<const Char> pattern_;
    RarePair pair_;
    TwoWay<Mirrored<Char>> two_way_;  // factorised on the mirrored pattern
    Budget budget_;
    core::InterruptPoll poll_;
};

extern template class ForwardSearcher<unsigned char>;
extern template class ForwardSearcher<std::uint32_t>;
extern template class BackwardSearcher<unsigned char>;
extern template class BackwardSearcher<std::uint32_t>;

}  // namespace velnor::text
