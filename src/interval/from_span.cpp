#include "interval/from_span.hpp"

namespace velnor::interval {

Segments from_span(const span::Segments& segments) {
    Segments out;
    out.reserve(segments.size());
    // Rounding is monotone, so the list stays in segment order and one merging pass suffices.
    for (const span::Segment& segment : segments) {
        append_merging(out, {true, static_cast<double>(segment.start), static_cast<double>(segment.end), true});
    }
    return out;
}

}  // namespace velnor::interval
