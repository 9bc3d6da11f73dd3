// Integer segments and the canonical form every Span keeps between calls.
#pragma once

#include "core/large_pages.hpp"

#include <cstdint>
#include <vector>

namespace velnor::span {

// A closed range of int64 integers: both ends belong to it, start <= end.
struct Segment {
    std::int64_t start;
    std::int64_t end;

    // Left unset, so that a list can be sized for a result without writing every slot twice.
    Segment() noexcept {}  // NOLINT: members deliberately uninitialised
    constexpr Segment(std::int64_t start_, std::int64_t end_) noexcept : start(start_), end(end_) {}

    friend bool operator==(const Segment&, const Segment&) = default;
};

using Segments = std::vector<Segment, core::SegmentAllocator<Segment>>;

// Sorts by start and merges overlapping or touching segments, in place.
// Exact over the whole int64 range: "touching" is tested without forming end + 1.
void merge_segments(Segments& segments);

// Returns true when the list is sorted, and consecutive segments leave at least one integer between them.
bool is_normalised(const Segments& segments) noexcept;

}  // namespace velnor::span
