// The set algebra as plain loops that branch on every comparison: slower than algebra.hpp, and simple
// enough to trust. The fuzz targets hold the fast loops to the same results, bit for bit.
#pragma once

#include "span/segment.hpp"

#include "core/interrupt.hpp"

#include <cstddef>
#include <span>

namespace velnor::span::reference {

Segments unite(const Segments& a, const Segments& b);
Segments intersect(const Segments& a, const Segments& b);
Segments subtract(const Segments& a, const Segments& b);
bool is_subset(const Segments& a, const Segments& b);
bool is_disjoint(const Segments& a, const Segments& b);

// The same three loops writing the result from `out` on and returning its length. `out` must have room for
// a.size() + b.size() segments; it may lie below a in the same storage, as in_place.cpp places them.
std::size_t unite(std::span<const Segment> a, std::span<const Segment> b, Segment* out, core::InterruptPoll& poll);
std::size_t intersect(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                      core::InterruptPoll& poll);
std::size_t subtract(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                     core::InterruptPoll& poll);

}  // namespace velnor::span::reference
