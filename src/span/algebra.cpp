// The set algebra as merge loops that do not branch on the data: each step loads one segment of each list,
// computes what to write and which cursor to move with masks, writes unconditionally and advances the
// output by 0 or 1. Results are those of algebra_reference.cpp, segment for segment.
//
// Outputs are sized once from an upper bound (a step writes at most one segment) without being zeroed
// (Segment's default constructor leaves it unset), written through a raw pointer and cut to the count: pages
// of the bound that are never written are never touched.
#include "span/algebra.hpp"
#include "span/algebra_reference.hpp"
#include "span/append_merging.hpp"

#include "core/branch_free.hpp"
#include "core/first_reaching.hpp"
#include "core/interrupt.hpp"
#include "core/merge_sorted.hpp"
#include "core/write_through.hpp"

#include <algorithm>
#include <limits>
#include <span>

namespace velnor::span {

namespace {

using core::pick;
using Run = std::span<const Segment>;

constexpr std::int64_t min_value = std::numeric_limits<std::int64_t>::min();

// The union's running segment: `current` grows until a segment leaves a gap after it; then it is written
// at out[k] and the new one takes its place. out[k] is written at every step, so no step branches.
struct Uniting {
    Segment* out;
    std::size_t k = 0;
    Segment current;

    void take(const Segment& next) noexcept {
        const bool apart = leaves_gap(current.end, next.start);
        out[k] = current;
        k += core::count(apart);
        current.start = pick(apart, next.start, current.start);
        current.end = pick(apart, next.end, std::max(current.end, next.end));
    }
};

// Intersects a[i..] with the segments that `other(g)` gives for g in [g, g_end): a step writes the overlap of
// the two current segments and moves past the one that ends first. Returns the segments written.
template <class Other>
std::size_t intersect_into(std::span<const Segment> a, Other other, std::size_t g, std::size_t g_end, Segment* out,
                           core::InterruptPoll& poll) {
    const Segment* const pa = a.data();
    std::size_t i = 0;
    std::size_t k = 0;
    core::merge_steps(i, a.size(), g, g_end, poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];
            const Segment y = other(g);
            const std::int64_t start = std::max(x.start, y.start);
            const std::int64_t end = std::min(x.end, y.end);
            out[k] = {start, end};
            k += core::count(start <= end);
            const bool a_first = x.end < y.end;
            const std::size_t step = core::count(a_first);
            i += step;
            g += 1 - step;
        }
        return true;
    });
    return k;
}

}  // namespace

std::size_t branch_free::unite(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    if (a.empty() || b.empty()) {
        return core::unite_with_empty(a, b, out);
    }
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    // At equal starts the segment of a comes first, as the reference merge takes it.
    const bool a_first = pa[0].start <= pb[0].start;
    std::size_t i = a_first ? 1 : 0;
    std::size_t j = a_first ? 0 : 1;
    Uniting merged{out, 0, a_first ? pa[0] : pb[0]};
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];
            const Segment y = pb[j];
            const bool take_a = x.start <= y.start;
            merged.take({pick(take_a, x.start, y.start), pick(take_a, x.end, y.end)});
            const std::size_t step = core::count(take_a);
            i += step;
            j += 1 - step;
        }
        return true;
    });
    // One list is used up: the rest of the other follows, still merging into the running segment.
    const Segment* rest = i < a.size() ? pa + i : pb + j;
    const std::size_t left = i < a.size() ? a.size() - i : b.size() - j;
    for (std::size_t t = 0; t < left; ++t) {
        if ((t & (core::merge_block - 1)) == 0) {
            poll.tick(core::merge_block);
        }
        merged.take(rest[t]);
    }
    out[merged.k] = merged.current;
    return merged.k + 1;
}

Segments branch_free::unite(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return a.empty() ? b : a;
    }
    return core::sized_result<Segments>(branch_free::unite, a, b, a.size() + b.size());
}

void unite_all(Segments& target, std::span<const Segments* const> others) {
    if (others.empty()) {
        return;
    }
    if (others.size() == 1) {
        target = unite(target, *others[0]);
        return;
    }
    target = core::merge_sorted<Segments>(core::with_first(target, others), by_start, append_merging);
}

std::size_t branch_free::intersect(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    if (a.empty() || b.empty()) {
        return 0;
    }
    const Segment* const pb = b.data();
    return intersect_into(a, [pb](std::size_t j) { return pb[j]; }, 0, b.size(), out, poll);
}

Segments branch_free::intersect(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return {};
    }
    // Every step but the last moves a cursor and writes at most one segment.
    return core::sized_result<Segments>(branch_free::intersect, a, b, a.size() + b.size() - 1);
}

std::size_t branch_free::subtract(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    if (b.empty() || a.empty()) {
        core::move_down(out, a.data(), a.size());
        return a.size();
    }
    // One sweep over both lists. `cursor` is the lowest integer not yet accounted for: it only moves past
    // segments of b that end inside the current segment x of a, so max(x.start, cursor) is where the rest
    // of x begins. A step writes the rest of x up to the next segment y of b (or to x's end when y lies
    // beyond it) and keeps it when y starts after that rest begins; then it moves past y when y ends inside
    // x, else past x (y may cut the next segments of a too).
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    Segment* const po = out;
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t k = 0;
    std::int64_t cursor = min_value;
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];
            const Segment y = pb[j];
            const std::int64_t from = std::max(x.start, cursor);
            // y.start - 1 wraps only at the lowest integer, where the piece is not kept.
            const std::int64_t below_y = static_cast<std::int64_t>(static_cast<std::uint64_t>(y.start) - 1);
            po[k] = {from, pick(y.start > x.end, x.end, below_y)};
            k += core::count(from < y.start);
            const bool x_done = y.end >= x.end;
            // y.end + 1 wraps only when y reaches the top, and then x is done and the cursor stays.
            const std::int64_t after_y = static_cast<std::int64_t>(static_cast<std::uint64_t>(y.end) + 1);
            cursor = pick(x_done, cursor, std::max(cursor, after_y));
            const std::size_t step = core::count(x_done);
            i += step;
            j += 1 - step;
        }
        return true;
    });
    if (i < a.size()) {  // b is used up: the rest of x and every later segment of a stay whole
        po[k++] = {std::max(pa[i].start, cursor), pa[i].end};
        // Over a in the same storage this may move the rest down, or not at all.
        const std::size_t left = a.size() - i - 1;
        core::move_down(po + k, pa + i + 1, left);
        k += left;
    }
    return k;
}

Segments branch_free::subtract(const Segments& a, const Segments& b) {
    if (b.empty() || a.empty()) {
        return a;
    }
    return core::sized_result<Segments>(branch_free::subtract, a, b, a.size() + b.size());
}

bool is_subset(const Segments& a, const Segments& b) {
    // The one test left to the branching loop: on a subset its branches follow the runs of b and are
    // predicted well, and it measured faster than a branch-free sweep from 100 to 10**6 segments.
    return reference::is_subset(a, b);
}

bool branch_free::is_disjoint(const Segments& a, const Segments& b) {
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    std::size_t i = 0;
    std::size_t j = 0;
    bool apart = true;
    core::InterruptPoll poll;
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];
            const Segment y = pb[j];
            const bool a_before = x.end < y.start;
            apart &= a_before | (y.end < x.start);
            const std::size_t step = core::count(a_before);
            i += step;
            j += 1 - step;
        }
        return apart;
    });
    return apart;
}

// Each list pair goes to the loop that suits it (see core/branch_free.hpp).
Segments unite(const Segments& a, const Segments& b) {
    return core::order_is_regular(a, b) ? branching::unite(a, b) : branch_free::unite(a, b);
}

Segments intersect(const Segments& a, const Segments& b) {
    return core::order_is_regular(a, b) ? branching::intersect(a, b) : branch_free::intersect(a, b);
}

Segments subtract(const Segments& a, const Segments& b) {
    return core::order_is_regular(a, b) ? branching::subtract(a, b) : branch_free::subtract(a, b);
}

bool is_disjoint(const Segments& a, const Segments& b) {
    return core::order_is_regular(a, b) ? reference::is_disjoint(a, b) : branch_free::is_disjoint(a, b);
}

bool contains(const Segments& a, std::int64_t x) noexcept {
    // The first segment that ends at or after x is the only one that can hold it.
    const std::size_t index = core::first_reaching(a, x);
    return index != a.size() && a[index].start <= x;
}

bool contains(const Segments& a, core::SegmentIndex<std::int64_t>& index, std::int64_t x) noexcept {
    const std::size_t found = index.first_reaching(a, x);
    return found != a.size() && a[found].start <= x;
}

}  // namespace velnor::span
