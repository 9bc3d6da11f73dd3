// The set algebra as merge loops that do not branch on the data, as for Span (see span/algebra.cpp): each
// step computes what to write and which cursor to move with masks, writes unconditionally and advances the
// output by 0 or 1. Results are those of algebra_reference.cpp to the bit: where two equal bounds could
// serve (0.0 and -0.0 compare equal), each loop takes the one the reference takes. No bound is NaN, so
// "p > q, or p == q and ..." is written "p > q | (p >= q & ...)": one comparison fewer than an equality.
#include "interval/algebra.hpp"
#include "interval/algebra_reference.hpp"

#include "core/branch_free.hpp"
#include "core/first_reaching.hpp"
#include "core/interrupt.hpp"
#include "core/merge_sorted.hpp"
#include "core/write_through.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>

namespace velnor::interval {

namespace {

using core::pick;
using Run = std::span<const Segment>;

// Every point of x lies below every point of y.
inline bool lies_before(const Segment& x, const Segment& y) noexcept {
    return (x.end < y.start) | ((x.end <= y.start) & !(x.right_closed & y.left_closed));
}

// Every point of `inner` lies in `outer`.
inline bool lies_within(const Segment& inner, const Segment& outer) noexcept {
    const bool from = (outer.start < inner.start) |
                      ((outer.start <= inner.start) & (outer.left_closed | !inner.left_closed));
    const bool to = (inner.end < outer.end) | ((inner.end <= outer.end) & (outer.right_closed | !inner.right_closed));
    return from & to;
}

// Writes the segment made of `low`'s left end and `high`'s right end at `out`: two block copies, whatever
// the padding between the fields.
inline void put(Segment& out, const Segment* low, const Segment* high) noexcept {
    constexpr std::size_t split = offsetof(Segment, end);
    static_assert(offsetof(Segment, left_closed) < split && offsetof(Segment, start) < split &&
                  offsetof(Segment, right_closed) > split);
    std::memcpy(reinterpret_cast<unsigned char*>(&out), low, split);
    std::memcpy(reinterpret_cast<unsigned char*>(&out) + split, reinterpret_cast<const unsigned char*>(high) + split,
                sizeof(Segment) - split);
}

// The union's running segment, as in span/algebra.cpp, held as the two input segments its ends come from
// (so a step picks pointers, never the fields of a segment); joining and widening follow segment.hpp's
// joins() and absorb().
struct Uniting {
    Segment* out;
    std::size_t k;
    const Segment* low;   // gives the left end
    const Segment* high;  // gives the right end

    void take(const Segment* next) noexcept {
        const double end = high->end;
        const bool join = (end > next->start) | ((end >= next->start) & (high->right_closed | next->left_closed));
        const bool grow = (next->end > end) | ((next->end >= end) & next->right_closed);
        put(out[k], low, high);
        k += core::count(!join);
        low = pick(join, low, next);
        high = pick(!join | grow, next, high);
    }
};

// Intersects a with b: a step writes the overlap of the two current segments (the later start and the
// earlier end, a's bound where a is the narrower at a tie) and moves past the one that ends first. Returns
// the segments written.
std::size_t intersect_into(std::span<const Segment> a, std::span<const Segment> b, Segment* out,
                           core::InterruptPoll& poll) {
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    std::size_t i = 0;
    std::size_t g = 0;
    std::size_t k = 0;
    core::merge_steps(i, a.size(), g, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment& x = pa[i];
            const Segment& y = pb[g];
            const bool a_from = (x.start > y.start) | ((x.start >= y.start) & !x.left_closed);
                        const bool a_to = (y.end > x.end) | ((y.end >= x.end) & !x.right_closed);
            const Segment* low = pick(a_from, &x, &y);
            const Segment* high = pick(a_to, &x, &y);
            put(out[k], low, high);
            k += core::count((low->start < high->end) | ((low->start <= high->end) & low->left_closed & high->right_closed));
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
    // At a tie in segment order the segment of a comes first, as the reference merge takes it.
    const bool a_first = !precedes(pb[0], pa[0]);
    std::size_t i = a_first ? 1 : 0;
    std::size_t j = a_first ? 0 : 1;
    Uniting merged{out, 0, a_first ? pa : pb, a_first ? pa : pb};
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment& x = pa[i];
            const Segment& y = pb[j];
            const bool take_a = !((y.start < x.start) | ((y.start <= x.start) & y.left_closed & !x.left_closed));
            merged.take(pick(take_a, &x, &y));
            const std::size_t step = core::count(take_a);
            i += step;
            j += 1 - step;
        }
        return true;
    });
    const Segment* rest = i < a.size() ? pa + i : pb + j;
    const std::size_t left = i < a.size() ? a.size() - i : b.size() - j;
    for (std::size_t t = 0; t < left; ++t) {
        if ((t & (core::merge_block - 1)) == 0) {
            poll.tick(core::merge_block);
        }
        merged.take(rest + t);
    }
    put(out[merged.k], merged.low, merged.high);
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
    target = core::merge_sorted<Segments>(core::with_first(target, others), precedes, append_merging);
}

std::size_t branch_free::intersect(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    return a.empty() || b.empty() ? 0 : intersect_into(a, b, out, poll);
}

Segments branch_free::intersect(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return {};
    }
    return core::sized_result<Segments>(branch_free::intersect, a, b, a.size() + b.size() - 1);
}

Segments subtract(const Segments& a, const Segments& b) {
    // Left to the branching loop: a branch-free sweep over the gaps of b must build each gap (a bool and a
    // double from each neighbour) at every step, and measured no faster at 10**3 and slower at 10**6. Each
    // segment of b writes at most the piece before it, and each segment of a at most its last piece.
    return a.empty() || b.empty() ? a : core::sized_result<Segments>(reference::subtract, a, b, a.size() + b.size());
}

bool branch_free::is_subset(const Segments& a, const Segments& b) {
    // A segment of a, being connected, lies in b only when it lies within one segment of b: the segments
    // of b are separated by gaps of at least one point. A step passes a segment of b that lies before the
    // current one of a, or settles that one of a.
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    std::size_t i = 0;
    std::size_t j = 0;
    bool inside = true;
    core::InterruptPoll poll;
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment& x = pa[i];
            const Segment& y = pb[j];
            const bool pass = lies_before(y, x);
            inside &= pass | lies_within(x, y);
            const std::size_t step = core::count(pass);
            j += step;
            i += 1 - step;
        }
        return inside;
    });
    return inside && i == a.size();
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
            const Segment& x = pa[i];
            const Segment& y = pb[j];
            const bool a_before = lies_before(x, y);
            apart &= a_before | lies_before(y, x);
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
    if (!core::order_is_regular(a, b)) {
        return branch_free::unite(a, b);
    }
    return a.empty() || b.empty() ? (a.empty() ? b : a) : core::sized_result<Segments>(reference::unite, a, b, a.size() + b.size());
}

Segments intersect(const Segments& a, const Segments& b) {
    if (!core::order_is_regular(a, b)) {
        return branch_free::intersect(a, b);
    }
    return a.empty() || b.empty() ? Segments{} : core::sized_result<Segments>(reference::intersect, a, b, a.size() + b.size() - 1);
}

bool is_subset(const Segments& a, const Segments& b) {
    // Left to the branching loop, as for Span: on a subset its branches follow the runs of b, and it
    // measured up to four times faster than the branch-free sweep on lists with irregular runs.
    return reference::is_subset(a, b);
}

bool is_disjoint(const Segments& a, const Segments& b) {
    return core::order_is_regular(a, b) ? reference::is_disjoint(a, b) : branch_free::is_disjoint(a, b);
}

namespace {

// Whether x lies in the segment at `low`, the first that ends at or after x: a later one starts at or
// after that end, and where they meet both ends are open.
bool lies_in(const Segments& a, std::size_t low, double x) noexcept {
    if (low == a.size()) {
        return false;
    }
    const Segment& s = a[low];
    return (s.start < x && x < s.end) || (x == s.start && s.left_closed) || (x == s.end && s.right_closed);
}

}  // namespace

bool contains(const Segments& a, double x) noexcept {
    return !std::isnan(x) && lies_in(a, core::first_reaching(a, x), x);
}

bool contains(const Segments& a, core::SegmentIndex<double>& index, double x) noexcept {
    return !std::isnan(x) && lies_in(a, index.first_reaching(a, x), x);
}

}  // namespace velnor::interval
