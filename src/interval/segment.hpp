// Real segments with open or closed ends, and the canonical form every Interval keeps between calls.
#pragma once

#include "core/large_pages.hpp"

#include <vector>

namespace velnor::interval {

// One stretch of the real line; a true flag means that bound belongs to the set. It keeps no constructor of
// its own (the list's allocator leaves unset the room a result is sized with): with one, GCC copies a
// segment member by member around the padding after each flag, and building an Interval measured a third
// slower.
struct Segment {
    bool left_closed;
    double start;
    double end;
    bool right_closed;

    // Bounds compare as doubles, so 0.0 equals -0.0.
    friend bool operator==(const Segment&, const Segment&) = default;
};

using Segments = std::vector<Segment, core::SegmentAllocator<Segment>>;

// Segment order: start ascending; at equal starts a closed left end first. Ends take no part.
inline bool precedes(const Segment& a, const Segment& b) noexcept {
    return a.start < b.start || (a.start == b.start && a.left_closed && !b.left_closed);
}

// True when `next`, which does not precede `last` in segment order, overlaps it or meets it at a point
// that belongs to one of the two.
inline bool joins(const Segment& last, const Segment& next) noexcept {
    return last.end > next.start || (last.end == next.start && (last.right_closed || next.left_closed));
}

// Widens `last` by a joining `next`: the end reaching further wins; at an equal end a closed one wins,
// and otherwise `last` keeps its own (which fixes the sign a zero bound keeps).
inline void absorb(Segment& last, const Segment& next) noexcept {
    if (next.end > last.end || (next.end == last.end && next.right_closed)) {
        last.end = next.end;
        last.right_closed = next.right_closed;
    }
}

// Appends `next` (not preceding the last segment in segment order) to a normalised list, merging it into
// the last segment when they join. The list stays normalised. `List` is a Segments or a core::WriteThrough;
// `next` is taken by value, as it may be the slot written.
template <class List>
inline void append_merging_to(List& out, const Segment next) {
    if (!out.empty() && joins(out.back(), next)) {
        absorb(out.back(), next);
    } else {
        out.push_back(next);
    }
}

inline void append_merging(Segments& out, const Segment& next) {
    append_merging_to(out, next);
}

// Sorts into segment order (stable) and merges joining neighbours, in place. Every segment must already
// be valid: no NaN, start <= end, no closed infinite end, not empty.
void merge_segments(Segments& segments);

// What can be wrong with a segment, in the order it is tested.
enum class Defect {
    none,
    nan_bound,        // either bound is NaN
    start_after_end,  // start > end
    closed_infinity,  // an infinite bound on a closed end
    empty,            // start == end without both ends closed: dropped silently
};

// Returns the first defect of a segment, or Defect::none.
Defect defect_of(const Segment& segment) noexcept;

// Tests the segments in order, keeps the valid ones and drops the empty ones, in place. Returns the first
// defect other than `empty`, or Defect::none; on a defect the list is left partly filtered.
Defect keep_valid(Segments& segments) noexcept;

}  // namespace velnor::interval
