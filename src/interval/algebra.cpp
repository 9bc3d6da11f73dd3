// The set algebra as merge loops that do not branch on the data, as for Span (see span/algebra.cpp): each
// step computes what to write and which cursor to move with masks, writes unconditionally and advances the
// output by 0 or 1. Results are those of algebra_reference.cpp to the bit: where two equal bounds could
// serve (0.0 and -0.0 compare equal), each loop takes the one the reference takes.
#include "interval/algebra.hpp"

#include "core/branch_free.hpp"
#include "core/first_reaching.hpp"
#include "core/interrupt.hpp"
#include "core/merge_sorted.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

namespace velnor::interval {

namespace {

using core::pick;

constexpr double infinity = std::numeric_limits<double>::infinity();

// Every point of x lies below every point of y.
inline bool lies_before(const Segment& x, const Segment& y) noexcept {
    return (x.end < y.start) | ((x.end == y.start) & !(x.right_closed & y.left_closed));
}

// Every point of `inner` lies in `outer`.
inline bool lies_within(const Segment& inner, const Segment& outer) noexcept {
    const bool from = (outer.start < inner.start) |
                      ((outer.start == inner.start) & (outer.left_closed | !inner.left_closed));
    const bool to = (inner.end < outer.end) | ((inner.end == outer.end) & (outer.right_closed | !inner.right_closed));
    return from & to;
}

inline bool pick_flag(bool when, bool yes, bool no) noexcept {
    return (when & yes) | (!when & no);
}

// The union's running segment, as in span/algebra.cpp; joining and widening follow segment.hpp's
// joins() and absorb().
struct Uniting {
    Segment* out;
    std::size_t k = 0;
    Segment current;

    void take(const Segment& next) noexcept {
        const bool join = (current.end > next.start) |
                          ((current.end == next.start) & (current.right_closed | next.left_closed));
        const bool grow = (next.end > current.end) | ((next.end == current.end) & next.right_closed);
        out[k] = current;
        k += join ? 0 : 1;
        const bool take_end = !join | grow;
        current = Segment{pick_flag(join, current.left_closed, next.left_closed),
                          pick(join, current.start, next.start), pick(take_end, next.end, current.end),
                          pick_flag(take_end, next.right_closed, current.right_closed)};
    }
};

// Which end an overlap keeps where both segments end at one value with the same closure (the bits may
// differ in a zero's sign): the intersection keeps the other list's, the difference keeps a's.
enum class EqualEnd { other, own };

// Intersects a with the segments `other(g)` gives for g in [g, g_end): a step writes the overlap of the two
// current segments (the later start and the earlier end, a's bound where a is the narrower at a tie) and
// moves past the one that ends first. Returns the segments written.
template <EqualEnd Rule, class Other>
std::size_t intersect_into(const Segments& a, Other other, std::size_t g, std::size_t g_end, Segment* out) {
    const Segment* const pa = a.data();
    std::size_t i = 0;
    std::size_t k = 0;
    core::InterruptPoll poll;
    core::merge_steps(i, a.size(), g, g_end, poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];
            const Segment y = other(g);
            const bool a_from = (x.start > y.start) | ((x.start == y.start) & !x.left_closed);
            const bool own_at_tie = Rule == EqualEnd::own ? (!x.right_closed | y.right_closed) : !x.right_closed;
            const bool a_to = (y.end > x.end) | ((y.end == x.end) & own_at_tie);
            const Segment piece{pick_flag(a_from, x.left_closed, y.left_closed), pick(a_from, x.start, y.start),
                                pick(a_to, x.end, y.end), pick_flag(a_to, x.right_closed, y.right_closed)};
            out[k] = piece;
            k += ((piece.start < piece.end) | ((piece.start == piece.end) & piece.left_closed & piece.right_closed))
                     ? 1
                     : 0;
            const bool a_first = x.end < y.end;
            i += a_first ? 1 : 0;
            g += a_first ? 0 : 1;
        }
        return true;
    });
    return k;
}

// A list with room for `bound` segments, none of them set.
inline Segments with_room(std::size_t bound) {
    Segments out;
    out.resize(bound);
    return out;
}

}  // namespace

Segments unite(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return a.empty() ? b : a;
    }
    Segments out = with_room(a.size() + b.size());
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    // At a tie in segment order the segment of a comes first, as the reference merge takes it.
    const bool a_first = !precedes(pb[0], pa[0]);
    std::size_t i = a_first ? 1 : 0;
    std::size_t j = a_first ? 0 : 1;
    Uniting merged{out.data(), 0, a_first ? pa[0] : pb[0]};
    core::InterruptPoll poll;
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];
            const Segment y = pb[j];
            const bool take_a = !((y.start < x.start) | ((y.start == x.start) & y.left_closed & !x.left_closed));
            merged.take(Segment{pick_flag(take_a, x.left_closed, y.left_closed), pick(take_a, x.start, y.start),
                                pick(take_a, x.end, y.end), pick_flag(take_a, x.right_closed, y.right_closed)});
            i += take_a ? 1 : 0;
            j += take_a ? 0 : 1;
        }
        return true;
    });
    const Segment* rest = i < a.size() ? pa + i : pb + j;
    const std::size_t left = i < a.size() ? a.size() - i : b.size() - j;
    for (std::size_t t = 0; t < left; ++t) {
        if ((t & (core::merge_block - 1)) == 0) {
            poll.tick(core::merge_block);
        }
        merged.take(rest[t]);
    }
    out[merged.k] = merged.current;
    out.resize(merged.k + 1);
    return out;
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

Segments intersect(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return {};
    }
    Segments out = with_room(a.size() + b.size() - 1);
    const Segment* const pb = b.data();
    out.resize(intersect_into<EqualEnd::other>(a, [pb](std::size_t j) { return pb[j]; }, 0, b.size(), out.data()));
    return out;
}

Segments subtract(const Segments& a, const Segments& b) {
    if (b.empty() || a.empty()) {
        return a;
    }
    // a − b is a ∩ (the gaps of b). Gap g lies between b[g - 1] and b[g], each of its ends closed where the
    // neighbouring segment's is open; gap 0 reaches down to -inf and gap b.size() up to +inf, open there. An
    // end gap is left out when b reaches that infinity; the gaps between two segments of b hold at least a
    // point. Ends are picked by mask, so no step branches on which gap it is; the loads stay inside b.
    const Segment* const pb = b.data();
    const std::size_t last = b.size();
    const std::size_t first_gap = b.front().start == -infinity ? 1 : 0;
    const std::size_t gaps_end = b.back().end == infinity ? last : last + 1;
    auto gap = [pb, last](std::size_t g) {
        const Segment& before = pb[g - (g != 0 ? 1 : 0)];
        const Segment& after = pb[g - (g == last ? 1 : 0)];
        const bool first = g == 0;
        const bool final = g == last;
        return Segment{pick_flag(first, false, !before.right_closed), pick(first, -infinity, before.end),
                       pick(final, infinity, after.start), pick_flag(final, false, !after.left_closed)};
    };
    Segments out = with_room(a.size() + (gaps_end - first_gap));
    out.resize(intersect_into<EqualEnd::own>(a, gap, first_gap, gaps_end, out.data()));
    return out;
}

bool is_subset(const Segments& a, const Segments& b) {
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
            const Segment x = pa[i];
            const Segment y = pb[j];
            const bool pass = lies_before(y, x);
            inside &= pass | lies_within(x, y);
            i += pass ? 0 : 1;
            j += pass ? 1 : 0;
        }
        return inside;
    });
    return inside && i == a.size();
}

bool is_disjoint(const Segments& a, const Segments& b) {
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
            const bool a_before = lies_before(x, y);
            apart &= a_before | lies_before(y, x);
            i += a_before ? 1 : 0;
            j += a_before ? 0 : 1;
        }
        return apart;
    });
    return apart;
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
