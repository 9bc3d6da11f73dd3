#include "interval/segment.hpp"

#include "core/interrupt.hpp"

#include <algorithm>
#include <cmath>

namespace velnor::interval {

void merge_segments(Segments& segments) {
    if (segments.size() < 2) {
        return;
    }
    // Lists built from other intervals are usually in order already: skip the sort then.
    core::InterruptPoll poll;
    if (!std::is_sorted(segments.begin(), segments.end(), precedes)) {
        // Polled per comparison: a stop leaves the list permuted, and it belongs to no object yet.
        std::stable_sort(segments.begin(), segments.end(), [&](const Segment& a, const Segment& b) {
            poll.tick();
            return precedes(a, b);
        });
    }
    std::size_t last = 0;
    for (std::size_t i = 1; i < segments.size(); ++i) {
        poll.tick();
        const Segment next = segments[i];
        if (joins(segments[last], next)) {
            absorb(segments[last], next);
        } else {
            segments[++last] = next;
        }
    }
    segments.resize(last + 1);
}

Defect defect_of(const Segment& segment) noexcept {
    if (std::isnan(segment.start) || std::isnan(segment.end)) {
        return Defect::nan_bound;
    }
    if (segment.start > segment.end) {
        return Defect::start_after_end;
    }
    if ((std::isinf(segment.start) && segment.left_closed) || (std::isinf(segment.end) && segment.right_closed)) {
        return Defect::closed_infinity;
    }
    if (segment.start == segment.end && !(segment.left_closed && segment.right_closed)) {
        return Defect::empty;
    }
    return Defect::none;
}

Defect keep_valid(Segments& segments) noexcept {
    std::size_t kept = 0;
    for (const Segment& segment : segments) {
        const Defect defect = defect_of(segment);
        if (defect == Defect::empty) {
            continue;
        }
        if (defect != Defect::none) {
            return defect;
        }
        segments[kept++] = segment;
    }
    segments.resize(kept);
    return Defect::none;
}

}  // namespace velnor::interval
