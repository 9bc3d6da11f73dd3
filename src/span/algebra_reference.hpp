// The set algebra as plain loops that branch on every comparison: slower than algebra.hpp, and simple
// enough to trust. The fuzz targets hold the fast loops to the same results, bit for bit.
#pragma once

#include "span/segment.hpp"

namespace velnor::span::reference {

Segments unite(const Segments& a, const Segments& b);
Segments intersect(const Segments& a, const Segments& b);
Segments subtract(const Segments& a, const Segments& b);
bool is_subset(const Segments& a, const Segments& b);
bool is_disjoint(const Segments& a, const Segments& b);

}  // namespace velnor::span::reference
