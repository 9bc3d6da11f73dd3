// The set algebra as tight branching loops, for the merges whose order a branch predictor learns: merges
// short enough that the predictor keeps their whole order when the same lists meet again, and lists whose
// order repeats. There a predicted branch costs less than the branch-free loops' wait for each load. Each
// output is sized once from an upper bound and written through a raw pointer, with no bound test a step
// beyond the merge's own. Results are those of algebra_reference.cpp, segment for segment.
#include "span/algebra.hpp"
#include "span/append_merging.hpp"

#include "core/branch_free.hpp"
#include "core/interrupt.hpp"
#include "core/write_through.hpp"

#include <algorithm>
#include <limits>

namespace velnor::span {

namespace {

using Run = std::span<const Segment>;

constexpr std::int64_t min_value = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t max_value = std::numeric_limits<std::int64_t>::max();

}  // namespace

std::size_t branching::unite(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    if (a.empty() || b.empty()) {
        const Run whole = a.empty() ? b : a;
        core::move_down(out, whole.data(), whole.size());
        return whole.size();
    }
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t k = 0;
    Segment current = pa[0].start <= pb[0].start ? pa[i++] : pb[j++];
    // `next` is read whole before anything is written: in place, out[k] may be its slot.
    const auto take = [&](const Segment next) {
        if (leaves_gap(current.end, next.start)) {
            out[k++] = current;
            current = next;
        } else if (next.end > current.end) {
            current.end = next.end;
        }
    };
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            if (pa[i].start <= pb[j].start) {
                take(pa[i++]);
            } else {
                take(pb[j++]);
            }
        }
        return true;
    });
    const Segment* const rest = i < a.size() ? pa + i : pb + j;
    const std::size_t left = i < a.size() ? a.size() - i : b.size() - j;
    std::size_t t = 0;
    // Once the rest starts past the running segment, it is copied as it stands.
    for (; t < left && !leaves_gap(current.end, rest[t].start); ++t) {
        take(rest[t]);
    }
    out[k++] = current;
    core::move_down(out + k, rest + t, left - t);
    return k + (left - t);
}

Segments branching::unite(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return a.empty() ? b : a;
    }
    return core::sized_result<Segments>(branching::unite, a, b, a.size() + b.size());
}

// Intersects a with the segments `other(g)` for g in [g, g_end) and writes the overlaps to `out`; returns
// how many. A step writes the overlap of the two current segments when there is one and moves past the
// segment that ends first.
template <class Other>
std::size_t intersect_into(Run a, Other other, std::size_t g, std::size_t g_end, Segment* out,
                           core::InterruptPoll& poll) {
    const Segment* const pa = a.data();
    std::size_t i = 0;
    std::size_t k = 0;
    core::merge_steps(i, a.size(), g, g_end, poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];  // whole, before the write: in place, out[k] may be its slot
            const Segment y = other(g);
            const std::int64_t start = std::max(x.start, y.start);
            const std::int64_t end = std::min(x.end, y.end);
            if (start <= end) {
                out[k++] = {start, end};
            }
            if (x.end < y.end) {
                ++i;
            } else {
                ++g;
            }
        }
        return true;
    });
    return k;
}

std::size_t branching::intersect(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    const Segment* const pb = b.data();
    return intersect_into(a, [pb](std::size_t j) { return pb[j]; }, 0, b.size(), out, poll);
}

Segments branching::intersect(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return {};
    }
    return core::sized_result<Segments>(branching::intersect, a, b, a.size() + b.size() - 1);
}

// a − b as a ∩ (the gaps of b): gap g lies between segments g − 1 and g of b, the first reaching down to
// the lowest integer and the last up to the highest. A gap that would be empty at an end of the range is
// left out, so no bound wraps (and when b is every integer, no gap is left).
std::size_t branching::subtract(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    if (a.empty() || b.empty()) {
        core::move_down(out, a.data(), a.size());
        return a.size();
    }
    const Segment* const pb = b.data();
    const std::size_t b_size = b.size();
    const auto gap = [pb, b_size](std::size_t g) {
        return Segment{g == 0 ? min_value : pb[g - 1].end + 1, g == b_size ? max_value : pb[g].start - 1};
    };
    const std::size_t first = pb[0].start == min_value ? 1 : 0;
    const std::size_t last = pb[b_size - 1].end == max_value ? b_size : b_size + 1;
    return intersect_into(a, gap, first, last, out, poll);
}

Segments branching::subtract(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return a;
    }
    // One segment per step but the last; the gaps of b are one more than its segments.
    return core::sized_result<Segments>(branching::subtract, a, b, a.size() + b.size());
}

}  // namespace velnor::span
