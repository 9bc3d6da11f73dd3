// Two-Way string matching (Crochemore and Perrin): linear time, constant extra memory, no allocation.
// The algorithm, its terms and its invariant are explained in two_way.md beside this file.
#pragma once

#include <cstddef>
#include <string_view>

namespace velnor::text {

inline constexpr std::size_t npos = std::string_view::npos;

// Units (UTF-8 bytes or UTF-32 code points) read front to back.
template <class Char>
struct Forward {
    const Char* base;
    std::size_t size;

    Char operator[](std::size_t index) const noexcept { return base[index]; }
};

// Units read back to front: index 0 is the last one. Searching a mirrored text for a mirrored pattern
// finds, in original terms, the rightmost occurrence.
template <class Char>
struct Mirrored {
    const Char* base;
    std::size_t size;

    Char operator[](std::size_t index) const noexcept { return base[size - 1 - index]; }
};

// Finds a pattern of at least one unit in a text, both read through the same kind of view. Nothing in
// the algorithm depends on the alphabet beyond equality and a total order.
template <class View>
class TwoWay {
public:
    explicit TwoWay(View pattern) noexcept : pattern_(pattern) {
        const std::size_t m = pattern.size;
        const Suffix ascending = maximal_suffix(pattern, false);
        const Suffix descending = maximal_suffix(pattern, true);
        // The later of the two maximal suffixes starts at a critical position.
        const Suffix& critical = ascending.start >= descending.start ? ascending : descending;
        critical_ = critical.start;
        period_ = critical.period;
        // The pattern is periodic with that period when its left part repeats `period_` units on.
        periodic_ = true;
        for (std::size_t i = 0; i < critical_; ++i) {
            if (pattern[i] != pattern[i + period_]) {
                periodic_ = false;
                break;
            }
        }
        if (!periodic_) {
            // Without a global period, a full match or a left mismatch allows this safe, larger shift.
            period_ = (critical_ > m - critical_ ? critical_ : m - critical_) + 1;
        }
    }

    // Returns the smallest window start j >= from at which the pattern occurs in `text`, or npos.
    // At most 2 (text.size - from) unit comparisons.
    std::size_t find(View text, std::size_t from) const noexcept {
        return find(text, from, [](std::size_t) noexcept {});
    }

    // The same, calling `advanced(units)` with every shift of the window, so that a long search can
    // poll for interrupts (and throw out of the loop).
    template <class Advanced>
    std::size_t find(View text, std::size_t from, Advanced&& advanced) const {
        const std::size_t m = pattern_.size;
        if (m > text.size) {
            return npos;
        }
        const std::size_t last = text.size - m;  // the last window start
        std::size_t j = from;
        std::size_t memory = 0;  // units of the window's prefix already known to match (periodic case)
        while (j <= last) {
            // Right part, left to right, skipping what `memory` vouches for.
            std::size_t i = critical_ > memory ? critical_ : memory;
            while (i < m && pattern_[i] == text[j + i]) {
                ++i;
            }
            if (i < m) {
                j += i - critical_ + 1;  // no occurrence starts before the mismatch, shifted past the factor
                memory = 0;
                advanced(i - critical_ + 1);
                continue;
            }
            // Left part, right to left, down to what `memory` vouches for.
            std::size_t left = critical_;  // one past the next unit to compare
            while (left > memory && pattern_[left - 1] == text[j + left - 1]) {
                --left;
            }
            if (left <= memory) {
                return j;
            }
            j += period_;
            // A periodic pattern shifted by its period still matches its first m - period units.
            memory = periodic_ ? m - period_ : 0;
            advanced(period_);
        }
        return npos;
    }

private:
    struct Suffix {
        std::size_t start;   // index of the suffix's first unit
        std::size_t period;  // the suffix's smallest period
    };

    // Returns the lexicographically greatest suffix of `pattern` (under the reversed order when
    // `reversed`) and its period, in one left-to-right pass.
    static Suffix maximal_suffix(View pattern, bool reversed) noexcept {
        const std::size_t m = pattern.size;
        std::size_t start = 0;      // the best suffix so far begins here
        std::size_t candidate = 1;  // a rival suffix begins here
        std::size_t offset = 0;     // rival and best agree on their first `offset` units
        std::size_t period = 1;     // period of the best suffix's prefix scanned so far
        while (candidate + offset < m) {
            const auto a = pattern[candidate + offset];
            const auto b = pattern[start + offset];
            if (a == b) {
                // Still equal: extend the comparison; a full period repeated moves the rival a period on.
                if (offset + 1 == period) {
                    candidate += period;
                    offset = 0;
                } else {
                    ++offset;
                }
            } else if ((a < b) != reversed) {
                // The rival is smaller: every suffix up to its mismatch is smaller too.
                candidate += offset + 1;
                offset = 0;
                period = candidate - start;
            } else {
                // The rival is greater: it becomes the best suffix.
                start = candidate;
                candidate = start + 1;
                offset = 0;
                period = 1;
            }
        }
        return {start, period};
    }

    View pattern_;
    std::size_t critical_;  // the right part starts here: pattern = pattern[0, critical) pattern[critical, m)
    std::size_t period_;    // the shift after a full right-part match
    bool periodic_;         // the whole pattern has period `period_`: shifts keep a matched prefix in memory
};

}  // namespace velnor::text
