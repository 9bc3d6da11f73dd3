// Set algebra over normalised integer segment lists. Every result is normalised.
#pragma once

#include "span/segment.hpp"

#include "core/segment_index.hpp"

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
}  // namespace branch_free

// The branching loops that take the lists whose merge order a predictor learns.
namespace branching {
Segments unite(const Segments& a, const Segments& b);
Segments intersect(const Segments& a, const Segments& b);
Segments subtract(const Segments& a, const Segments& b);
}  // namespace branching

}  // namespace velnor::span
