// Integer spans as real intervals.
#pragma once

#include "interval/segment.hpp"
#include "span/segment.hpp"

namespace velnor::interval {

// Each span segment becomes the closed segment of its bounds rounded to the nearest double (ties to even,
// exact up to 2**53 in magnitude). Beyond 2**53 neighbouring segments can round onto one another; they are
// merged as they come, so the result is normalised.
Segments from_span(const span::Segments& segments);

}  // namespace velnor::interval
