#include "span/segment.hpp"

#include "core/interrupt.hpp"

#include <algorithm>
#include <limits>

namespace velnor::span {

namespace {

// True when `next` (with next.start >= current.start) overlaps or touches `current`.
// Written as a comparison against end so that end == INT64_MAX cannot overflow.
inline bool meets(const Segment& current, const Segment& next) noexcept {
    return current.end == std::numeric_limits<std::int64_t>::max() || next.start <= current.end + 1;
}

}  // namespace

void merge_segments(Segments& segments) {
    if (segments.size() < 2) {
        return;
    }
    // Already-sorted input (the common case: spans built from other spans) skips the sort.
    auto by_start = [](const Segment& a, const Segment& b) { return a.start < b.start; };
    core::InterruptPoll poll;
    if (!std::is_sorted(segments.begin(), segments.end(), by_start)) {
        // Polled per comparison: a stop leaves the list permuted, and it belongs to no object yet.
        std::sort(segments.begin(), segments.end(), [&](const Segment& a, const Segment& b) {
            poll.tick();
            return by_start(a, b);
        });
    }
    std::size_t current = 0;
    for (std::size_t i = 1; i < segments.size(); ++i) {
        poll.tick();
        const Segment next = segments[i];
        if (meets(segments[current], next)) {
            segments[current].end = std::max(segments[current].end, next.end);
        } else {
            segments[++current] = next;
        }
    }
    segments.resize(current + 1);
}

bool is_normalised(const Segments& segments) noexcept {
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].start > segments[i].end) {
            return false;
        }
        if (i > 0 && meets(segments[i - 1], segments[i])) {
            return false;
        }
        if (i > 0 && segments[i].start < segments[i - 1].start) {
            return false;
        }
    }
    return true;
}

}  // namespace velnor::span
