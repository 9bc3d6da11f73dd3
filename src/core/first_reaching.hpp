// Binary search over sorted, disjoint segments, shared by both segment kinds.
#pragma once

#include <cstddef>

namespace velnor::core {

// Returns the index of the first segment whose end is not below x (`segments.size()` when none is).
// The window is halved with a conditional move instead of a branch: the probes of a membership test are
// unpredictable, and a mispredicted branch per level costs more than the comparison itself.
template <class Segments, class Point>
std::size_t first_reaching(const Segments& segments, Point x) noexcept {
    if (segments.empty()) {
        return 0;
    }
    const auto* base = segments.data();
    std::size_t length = segments.size();
    while (length > 1) {
        const std::size_t half = length / 2;
        base = base[half - 1].end < x ? base + half : base;
        length -= half;
    }
    return static_cast<std::size_t>(base - segments.data()) + (base->end < x ? 1 : 0);
}

}  // namespace velnor::core
