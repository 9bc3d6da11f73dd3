// Set algebra over normalised real segment lists, every open and closed end respected. Every result is
// normalised, and equal bit for bit (the sign of a zero bound included) to what concatenating, sorting
// and merging, or the plain sweeps, would give.
#pragma once

#include "interval/segment.hpp"

#include "core/interrupt.hpp"
#include "core/merge_over.hpp"
#include "core/segment_index.hpp"

#include <cstddef>
#include <span>

namespace velnor::interval {

// a ∪ b, by one linear merge of the two lists in segment order.
Segments unite(const Segments& a, const Segments& b);
// target ∪ every list of `others`, merging all lists at once.
void unite_all(Segments& target, std::span<const Segments* const> others);
// a ∩ b, one sweep.
Segments intersect(const Segments& a, const Segments& b);
// a − b, one sweep.
Segments subtract(const Segments& a, const Segments& b);
// Every point of a is in b.
bool is_subset(const Segments& a, const Segments& b);
// No point is in both.
bool is_disjoint(const Segments& a, const Segments& b);
// x lies in one of the segments (binary search); NaN lies in none.
bool contains(const Segments& a, double x) noexcept;
// The same, searching through `index`, which must have been reset since `a` last changed.
bool contains(const Segments& a, core::SegmentIndex<double>& index, double x) noexcept;

// The branch-free loops that the functions above choose for lists whose merge order looks irregular (the
// others go to the branching loops of algebra_reference.hpp); is_subset always takes the branching loop.
// Open to the fuzz targets, which hold each kind to the same results.
namespace branch_free {
Segments unite(const Segments& a, const Segments& b);
Segments intersect(const Segments& a, const Segments& b);
bool is_subset(const Segments& a, const Segments& b);
bool is_disjoint(const Segments& a, const Segments& b);
// The same loops writing from `out` on, as reference:: does (see algebra_reference.hpp).
std::size_t unite(std::span<const Segment> a, std::span<const Segment> b, Segment* out, core::InterruptPoll& poll);
std::size_t intersect(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                      core::InterruptPoll& poll);
}  // namespace branch_free

// a ∪ b, a ∩ b, a − b, left in a: written over a's own storage when the lists are long enough for that to
// pay (`reuse_from` bytes of segments in both; the fuzz targets pass 0) and the storage has room, else made
// as the functions above make it and moved in (see core/merge_over.hpp). On an exception a is as it was.
void unite_in_place(Segments& a, const Segments& b, std::size_t reuse_from = core::merge_over_from);
void intersect_in_place(Segments& a, const Segments& b, std::size_t reuse_from = core::merge_over_from);
void subtract_in_place(Segments& a, const Segments& b, std::size_t reuse_from = core::merge_over_from);

}  // namespace velnor::interval
