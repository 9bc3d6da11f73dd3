// The plain merge loops the set algebra was first written with, kept as the reference that the
// branch-free loops of algebra.cpp are fuzzed and tested against.
#include "interval/algebra_reference.hpp"

#include "core/interrupt.hpp"
#include "core/write_through.hpp"

#include <cstddef>
#include <span>

namespace velnor::interval::reference {

namespace {

// Every point of x lies below every point of y.
inline bool lies_before(const Segment& x, const Segment& y) noexcept {
    return x.end < y.start || (x.end == y.start && !(x.right_closed && y.left_closed));
}

// Every point of `inner` lies in `outer`.
inline bool lies_within(const Segment& inner, const Segment& outer) noexcept {
    const bool from = outer.start < inner.start ||
                      (outer.start == inner.start && (outer.left_closed || !inner.left_closed));
    const bool to = inner.end < outer.end || (inner.end == outer.end && (outer.right_closed || !inner.right_closed));
    return from && to;
}

}  // namespace

namespace {

using Run = std::span<const Segment>;

// The loops append through `out`, a Segments or a core::WriteThrough, at most one segment per segment of a
// or b passed. Over a moved to the tail of its own storage (see core/merge_over.hpp) every write lands below
// the segment of a in hand, but the last one for it, which is made from that segment's fields before it is
// stored.

template <class List>
void unite_into(Run a, Run b, List& out, core::InterruptPoll& poll) {
    // The two-list merge of core::merge_sorted: at a tie in segment order the segment of a first.
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        poll.tick();
        const bool take_a = j == b.size() || (i < a.size() && !precedes(b[j], a[i]));
        append_merging_to(out, take_a ? a[i++] : b[j++]);
    }
}

template <class List>
void intersect_into(Run a_list, Run b_list, List& out, core::InterruptPoll& poll) {
    std::size_t j = 0;  // the first segment of b_list that can still meet the current a
    for (std::size_t i = 0; i < a_list.size(); ++i) {
        poll.tick();
        const Segment& a = a_list[i];
        for (std::size_t k = j; k < b_list.size(); ++k) {
            poll.tick();
            const Segment& b = b_list[k];
            if (b.start > a.end || (b.start == a.end && !(a.right_closed && b.left_closed))) {
                break;
            }
            // The later start and the earlier end, a's bound where a is the narrower at a tie.
            const bool a_from = a.start > b.start || (a.start == b.start && !a.left_closed);
            const bool a_to = b.end > a.end || (b.end == a.end && !a.right_closed);
            const Segment piece{
                a_from ? a.left_closed : b.left_closed,
                a_from ? a.start : b.start,
                a_to ? a.end : b.end,
                a_to ? a.right_closed : b.right_closed,
            };
            if (piece.start < piece.end || (piece.start == piece.end && piece.left_closed && piece.right_closed)) {
                out.push_back(piece);
            }
            // b may reach into the next segment of a_list.
            j = k;
        }
    }
}

template <class List>
void subtract_into(Run a_list, Run b_list, List& out, core::InterruptPoll& poll) {
    std::size_t j = 0;  // the first segment of b_list that can still cut the current a
    for (std::size_t i = 0; i < a_list.size(); ++i) {
        poll.tick();
        const Segment& a = a_list[i];
        // The part of a not yet dealt with starts at `from`, which belongs to it when `closed`.
        double from = a.start;
        bool closed = a.left_closed;
        for (std::size_t k = j; k < b_list.size(); ++k) {
            poll.tick();
            const Segment& b = b_list[k];
            if (b.start > a.end || (b.start == a.end && !(a.right_closed && b.left_closed))) {
                break;
            }
            if (b.start > from || (b.start == from && closed && !b.left_closed)) {
                out.push_back({closed, from, b.start, !b.left_closed});
            }
            if (b.end > from || (b.end == from && closed)) {
                from = b.end;
                closed = !b.right_closed;
            }
            if (b.end > a.end) {
                break;  // b also cuts the next segment of a_list: keep the cursor on it
            }
            j = k + 1;
        }
        if (a.end > from || (a.end == from && closed && a.right_closed)) {
            out.push_back({closed, from, a.end, a.right_closed});
        }
    }
}

template <void (*Loop)(Run, Run, core::WriteThrough<Segment>&, core::InterruptPoll&)>
std::size_t written(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    core::WriteThrough<Segment> list(out);
    Loop(a, b, list, poll);
    return list.size();
}

}  // namespace

Segments unite(const Segments& a, const Segments& b) {
    Segments out;
    out.reserve(a.size() + b.size());
    core::InterruptPoll poll;
    unite_into(a, b, out, poll);
    return out;
}

Segments intersect(const Segments& a_list, const Segments& b_list) {
    Segments out;
    core::InterruptPoll poll;
    intersect_into(a_list, b_list, out, poll);
    return out;
}

Segments subtract(const Segments& a_list, const Segments& b_list) {
    if (b_list.empty()) {
        return a_list;
    }
    Segments out;
    out.reserve(a_list.size() + 1);
    core::InterruptPoll poll;
    subtract_into(a_list, b_list, out, poll);
    return out;
}

std::size_t unite(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    return written<unite_into<core::WriteThrough<Segment>>>(a, b, out, poll);
}

std::size_t intersect(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    return written<intersect_into<core::WriteThrough<Segment>>>(a, b, out, poll);
}

std::size_t subtract(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    return written<subtract_into<core::WriteThrough<Segment>>>(a, b, out, poll);
}

bool is_subset(const Segments& a, const Segments& b) {
    // A segment of a, being connected, lies in b only when it lies within one segment of b: the segments
    // of b are separated by gaps of at least one point.
    core::InterruptPoll poll;
    std::size_t j = 0;
    for (const Segment& piece : a) {
        poll.tick();
        while (j < b.size() && lies_before(b[j], piece)) {
            poll.tick();
            ++j;
        }
        if (j == b.size() || !lies_within(piece, b[j])) {
            return false;
        }
    }
    return true;
}

bool is_disjoint(const Segments& a, const Segments& b) {
    core::InterruptPoll poll;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        poll.tick();
        if (lies_before(a[i], b[j])) {
            ++i;
        } else if (lies_before(b[j], a[i])) {
            ++j;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace velnor::interval::reference
