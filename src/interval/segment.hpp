// Real segments with open or closed ends, and the canonical form every Interval keeps between calls.
#pragma once

#include <vector>

namespace velnor::interval {

// One stretch of the real line; a true flag means that bound belongs to the set.
struct Segment {
    bool left_closed;
    double start;
    double end;
    bool right_closed;

    // Bounds compare as doubles, so 0.0 equals -0.0.
    friend bool operator==(const Segment&, const Segment&) = default;
};

using Segments = std::vector<Segment>;

}  // namespace velnor::interval
