// The plain merge loops the set algebra was first written with, kept as the reference that the
// branch-free loops of algebra.cpp are fuzzed and tested against.
#include "span/algebra_reference.hpp"

#include "core/interrupt.hpp"
#include "core/write_through.hpp"
#include "span/append_merging.hpp"

#include <algorithm>
#include <limits>
#include <span>

namespace velnor::span::reference {

namespace {

using Run = std::span<const Segment>;

// The loops append through `out`, a Segments or a core::WriteThrough. Each segment of a is copied before
// anything is written for it, and at most one segment is written per segment of a or b passed (see
// in_place.cpp, which runs them over a moved to the tail of its own storage).

template <class List>
void unite_into(Run a, Run b, List& out, core::InterruptPoll& poll) {
    // The two-list merge of core::merge_sorted: at equal starts the segment of a first.
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        poll.tick();
        const bool take_a = j == b.size() || (i < a.size() && !by_start(b[j], a[i]));
        append_merging_to(out, take_a ? a[i++] : b[j++]);
    }
}

template <class List>
void intersect_into(Run a, Run b, List& out, core::InterruptPoll& poll) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        poll.tick();
        const Segment x = a[i];
        const std::int64_t start = std::max(x.start, b[j].start);
        const std::int64_t end = std::min(x.end, b[j].end);
        if (start <= end) {
            out.push_back({start, end});
        }
        // The segment that ends first cannot meet anything further in the other list.
        if (x.end < b[j].end) {
            ++i;
        } else {
            ++j;
        }
    }
}

template <class List>
void subtract_into(Run a, Run b, List& out, core::InterruptPoll& poll) {
    std::size_t j = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        poll.tick();
        const Segment piece = a[i];
        std::int64_t cursor = piece.start;  // lowest integer of `piece` not yet accounted for
        bool used_up = false;
        while (j < b.size() && b[j].start <= piece.end) {
            poll.tick();
            const Segment& cut = b[j];
            if (cursor < cut.start) {
                out.push_back({cursor, cut.start - 1});  // cut.start > cursor, so no underflow
            }
            if (cut.end >= piece.end) {
                used_up = true;  // `cut` may also cover the next pieces: keep j on it
                break;
            }
            cursor = std::max(cursor, cut.end + 1);  // cut.end < piece.end, so no overflow
            ++j;
        }
        if (!used_up && cursor <= piece.end) {
            out.push_back({cursor, piece.end});
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

Segments intersect(const Segments& a, const Segments& b) {
    Segments out;
    core::InterruptPoll poll;
    intersect_into(a, b, out, poll);
    return out;
}

Segments subtract(const Segments& a, const Segments& b) {
    if (b.empty()) {
        return a;
    }
    Segments out;
    out.reserve(a.size() + 1);
    core::InterruptPoll poll;
    subtract_into(a, b, out, poll);
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
    // Each segment of a must lie inside one segment of b: segments of b are separated by gaps.
    core::InterruptPoll poll;
    std::size_t j = 0;
    for (const Segment& piece : a) {
        poll.tick();
        while (j < b.size() && b[j].end < piece.start) {
            poll.tick();
            ++j;
        }
        if (j == b.size() || b[j].start > piece.start || b[j].end < piece.end) {
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
        if (a[i].end < b[j].start) {
            ++i;
        } else if (b[j].end < a[i].start) {
            ++j;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace velnor::span::reference
