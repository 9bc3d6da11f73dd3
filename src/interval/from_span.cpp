#include "interval/from_span.hpp"

#include "core/interrupt.hpp"

namespace velnor::interval {

Segments from_span(const span::Segments& segments) {
    Segments out;
    out.reserve(segments.size());
    // Rounding is monotone, so the list stays in segment order and one merging pass suffices.
    core::InterruptPoll poll;
    for (const span::Segment& segment : segments) {
        poll.tick();
        append_merging(out, {true, static_cast<double>(segment.start), static_cast<double>(segment.end), true});
    }
    return out;
}

}  // namespace velnor::interval
