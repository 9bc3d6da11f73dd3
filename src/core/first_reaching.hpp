// Binary search over sorted, disjoint segments, shared by both segment kinds.
#pragma once

#include <cstddef>

namespace velnor::core {

// Returns the index of the first segment whose end is not below x (`segments.size()` when none is).
// The window is halved with a conditional move instead of a branch, and both candidates of the next step
// are fetched while this one resolves: on lists beyond the cache the search is bound by memory latency,
// and this overlaps two levels of it.
template <class Segments, class Point>
std::size_t first_reaching(const Segments& segments, Point x) noexcept {
    if (segments.empty()) {
        return 0;
    }
    const auto* base = segments.data();
    std::size_t length = segments.size();
    while (length > 1) {
        const std::size_t half = length / 2;
        __builtin_prefetch(base + half / 2);
        __builtin_prefetch(base + half + half / 2);
        base = base[half - 1].end < x ? base + half : base;
        length -= half;
    }
    return static_cast<std::size_t>(base - segments.data()) + (base->end < x ? 1 : 0);
}

}  // namespace velnor::core
