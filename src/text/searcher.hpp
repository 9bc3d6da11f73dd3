// Substring search over UTF-8 bytes, forward and backward: a rare-byte-pair prefilter that hands over to
// Two-Way as soon as it stops paying, so the worst case stays linear. No allocation.
#pragma once

#include "text/two_way.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velnor::text {

// Two offsets into the pattern whose bytes are expected to be rare in text; the prefilter only verifies
// windows in which both bytes are in place.
struct RarePair {
    std::size_t first;
    std::size_t second;
};

// What the prefilter may still spend on failed verifications, in bytes: it earns a little for every
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

// Finds leftmost occurrences of a non-empty pattern.
class ForwardSearcher {
public:
    explicit ForwardSearcher(std::string_view pattern) noexcept;

    // Returns the start of the leftmost occurrence that starts at or after `from`, or npos.
    std::size_t find(std::string_view text, std::size_t from) noexcept;

private:
    std::string_view pattern_;
    RarePair pair_;
    TwoWay<Forward> two_way_;
    Budget budget_;
};

// Finds rightmost occurrences of a non-empty pattern.
class BackwardSearcher {
public:
    explicit BackwardSearcher(std::string_view pattern) noexcept;

    // Returns the start of the rightmost occurrence that ends at or before `bound`, or npos.
    std::size_t rfind(std::string_view text, std::size_t bound) noexcept;

private:
    std::string_view pattern_;
    RarePair pair_;
    TwoWay<Mirrored> two_way_;  // factorised on the mirrored pattern
    Budget budget_;
};

}  // namespace velnor::text
