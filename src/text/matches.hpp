// Disjoint match positions of a pattern in a text, both UTF-8, reported in one index unit.
#pragma once

#include "text/positions.hpp"
#include "text/units.hpp"

#include <cstddef>
#include <string_view>

namespace velnor::text {

// Returns the starts of the disjoint occurrences found left to right (the leftmost wins where two
// overlap), ascending, in `unit`. An empty pattern occurs at every character boundary, the end included.
Positions match_positions(std::string_view text, std::string_view pattern, Unit unit);

// Returns the starts of the disjoint occurrences found right to left (the rightmost wins where two
// overlap), descending, in `unit`.
Positions rmatch_positions(std::string_view text, std::string_view pattern, Unit unit);

}  // namespace velnor::text
