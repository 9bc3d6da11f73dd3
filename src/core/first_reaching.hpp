// Binary search over sorted, disjoint segments, shared by both segment kinds.
#pragma once

#include "core/compiler.hpp"

#include <cstddef>

namespace velnor::core {

// Returns the index of the first segment whose end is not below x (`segments.size()` when none is).
// The window is halved with a conditional move instead of a branch: the probes of a membership test are
// unpredictable, and a mispredicted branch per level costs more than the comparison itself.
// While the window is wider than the nearer caches, both places the next halving may read are asked for
// before this one's comparison is known, so that the cache misses of two levels overlap.
inline constexpr std::size_t prefetched_from = 4096;

template <class Segments, class Point>
std::size_t first_reaching(const Segments& segments, Point x) noexcept {
    if (segments.empty()) {
        return 0;
    }
    const auto* base = segments.data();
    std::size_t length = segments.size();
    while (length > prefetched_from) {
        const std::size_t half = length / 2;
        const std::size_t next_half = (length - half) / 2;
        VELNOR_PREFETCH(&base[next_half - 1].end);
        VELNOR_PREFETCH(&base[half + next_half - 1].end);
        base = base[half - 1].end < x ? base + half : base;
        length -= half;
    }
    while (length > 1) {
        const std::size_t half = length / 2;
        base = base[half - 1].end < x ? base + half : base;
        length -= half;
    }
    return static_cast<std::size_t>(base - segments.data()) + (base->end < x ? 1 : 0);
}

}  // namespace velnor::core
