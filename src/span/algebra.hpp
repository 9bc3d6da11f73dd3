// Set algebra over normalised integer segment lists. Every result is normalised.
#pragma once

#include "span/segment.hpp"

#include "core/interrupt.hpp"
#include "core/merge_over.hpp"
#include "core/segment_index.hpp"

#include <cstddef>
#include <span>

namespace velnor::span {

// a ∪ b, by one linear merge of the two sorted lists.
Segments unite(const Segments& a, const Segments& b);
// target ∪ every list of `others`, merging all sorted lists at once.
void unite_all(Segments& target, std::span<const Segments* const> others);
// a ∩ b, one sweep.
Segments intersect(const Segments& a, const Segments& b);
// a − b, one sweep.
Segments subtract(const Segments& a, const Segments& b);
// Every integer of a is in b.
bool is_subset(const Segments& a, const Segments& b);
// No integer is in both.
bool is_disjoint(const Segments& a, const Segments& b);
// x lies in one of the segments (binary search).
bool contains(const Segments& a, std::int64_t x) noexcept;
// The same, searching through `index`, which must have been reset since `a` last changed.
bool contains(const Segments& a, core::SegmentIndex<std::int64_t>& index, std::int64_t x) noexcept;

// The branch-free loops that the functions above choose for lists whose merge order looks irregular, and
// the branching loops they choose for the others. Open to the fuzz targets, which hold each kind to the
// results of the reference loops (algebra_reference.hpp).
namespace branch_free {
Segments unite(const Segments& a, const Segments& b);
Segments intersect(const Segments& a, const Segments& b);
Segments subtract(const Segments& a, const Segments& b);
bool is_disjoint(const Segments& a, const Segments& b);
// The same loops writing from `out` on, as reference:: does (see algebra_reference.hpp).
std::size_t unite(std::span<const Segment> a, std::span<const Segment> b, Segment* out, core::InterruptPoll& poll);
std::size_t intersect(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                      core::InterruptPoll& poll);
std::size_t subtract(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                     core::InterruptPoll& poll);
}  // namespace branch_free

// The branching loops that take the lists whose merge order a predictor learns, in both forms.
namespace branching {
Segments unite(const Segments& a, const Segments& b);
Segments intersect(const Segments& a, const Segments& b);
Segments subtract(const Segments& a, const Segments& b);
std::size_t unite(std::span<const Segment> a, std::span<const Segment> b, Segment* out, core::InterruptPoll& poll);
std::size_t intersect(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                      core::InterruptPoll& poll);
std::size_t subtract(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                     core::InterruptPoll& poll);
}  // namespace branching

// a ∪ b, a ∩ b, a − b, left in a: written over a's own storage when the lists are long enough for that to
// pay (`reuse_from` bytes of segments in both; the fuzz targets pass 0) and the storage has room, else made
// as the functions above make it and moved in (see core/merge_over.hpp). On an exception a is as it was.
void unite_in_place(Segments& a, const Segments& b, std::size_t reuse_from = core::merge_over_from);
void intersect_in_place(Segments& a, const Segments& b, std::size_t reuse_from = core::merge_over_from);
void subtract_in_place(Segments& a, const Segments& b, std::size_t reuse_from = core::merge_over_from);

}  // namespace velnor::span
