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

namespace velnor::span {

namespace {

using Run = std::span<const Segment>;

}  // namespace

std::size_t branching::unite(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    if (a.empty() || b.empty()) {
        return core::unite_with_empty(a, b, out);
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

// A step writes the overlap of the two current segments when there is one and moves past the segment that
// ends first.
std::size_t branching::intersect(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    const Segment* const pa = a.data();
    const Segment* const pb = b.data();
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t k = 0;
    core::merge_steps(i, a.size(), j, b.size(), poll, [&](std::size_t steps) {
        for (std::size_t t = 0; t < steps; ++t) {
            const Segment x = pa[i];  // whole, before the write: over a's own storage out[k] may be its slot
            const Segment& y = pb[j];
            const std::int64_t start = std::max(x.start, y.start);
            const std::int64_t end = std::min(x.end, y.end);
            if (start <= end) {
                out[k++] = {start, end};
            }
            if (x.end < y.end) {
                ++i;
            } else {
                ++j;
            }
        }
        return true;
    });
    return k;
}

Segments branching::intersect(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return {};
    }
    return core::sized_result<Segments>(branching::intersect, a, b, a.size() + b.size() - 1);
}

// A step per segment of a, moving through the segments of b that reach into it: each of those writes the
// piece of a before it, and a segment of a writes what is left of it after them. A segment of b is passed
// at most once, so at most one piece is written before it; over a's own storage every write lands at or
// below the segment of a in hand, which is read whole first.
std::size_t branching::subtract(Run a, Run b, Segment* out, core::InterruptPoll& poll) {
    const Segment* const pb = b.data();
    const std::size_t b_size = b.size();
    std::size_t j = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const Segment piece = a[i];
        std::int64_t cursor = piece.start;  // lowest integer of `piece` not yet accounted for
        const std::size_t first_cut = j;
        bool used_up = false;
        for (; j < b_size && pb[j].start <= piece.end; ++j) {
            const Segment& cut = pb[j];
            if (cursor < cut.start) {
                out[k++] = {cursor, cut.start - 1};  // cut.start > cursor, so no underflow
            }
            if (cut.end >= piece.end) {
                used_up = true;  // `cut` may also cover the next pieces: keep j on it
                break;
            }
            cursor = std::max(cursor, cut.end + 1);  // cut.end < piece.end, so no overflow
        }
        if (!used_up && cursor <= piece.end) {
            out[k++] = {cursor, piece.end};
        }
        poll.tick(1 + j - first_cut);
    }
    return k;
}

Segments branching::subtract(const Segments& a, const Segments& b) {
    if (a.empty() || b.empty()) {
        return a;
    }
    return core::sized_result<Segments>(branching::subtract, a, b, a.size() + b.size());
}

}  // namespace velnor::span
