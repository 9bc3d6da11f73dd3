// The two pieces every k-way union of span lists is made of, shared by the plain and the branch-free algebra.
#pragma once

#include "span/segment.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace velnor::span {

// Appends `next` (whose start is not below the last segment's start) to a normalised list, merging it into
// the last segment when they overlap or touch. Never forms end + 1 at the top of the range. `List` is a
// Segments or a core::WriteThrough; `next` is taken by value, as it may be the slot written.
template <class List>
inline void append_merging_to(List& out, const Segment next) {
    if (!out.empty()) {
        Segment& last = out.back();
        if (last.end == std::numeric_limits<std::int64_t>::max() || next.start <= last.end + 1) {
            last.end = std::max(last.end, next.end);
            return;
        }
    }
    out.push_back(next);
}

inline void append_merging(Segments& out, const Segment& next) {
    append_merging_to(out, next);
}

// At least one integer lies between `end` and a later `start`: start - end > 1 in exact arithmetic. The
// difference is taken unsigned, where it cannot overflow once start > end.
inline bool leaves_gap(std::int64_t end, std::int64_t start) noexcept {
    return (end < start) & (static_cast<std::uint64_t>(start) - static_cast<std::uint64_t>(end) > 1);
}

// Segment order: by start.
inline bool by_start(const Segment& x, const Segment& y) noexcept {
    return x.start < y.start;
}

}  // namespace velnor::span
