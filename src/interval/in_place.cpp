// The operations that replace an Interval's list by a result (`a |= b`, `union_update(b)`, ...): over the
// list's own storage where it fits (see core/merge_over.hpp), else as a fresh list moved in. The same loops
// as the binary operations, chosen the same way, so the results are theirs to the bit.
#include "interval/algebra.hpp"
#include "interval/algebra_reference.hpp"

#include "core/branch_free.hpp"
#include "core/merge_over.hpp"

namespace velnor::interval {

namespace {

using Run = std::span<const Segment>;
using Loop = std::size_t (*)(Run, Run, Segment*, core::InterruptPoll&);

// `Irregular` serves lists whose merge order looks irregular, `Regular` the others, as the binary
// operations choose. `slack`: the branch-free union keeps pointers to the segments its running segment is
// made of, one of which may be the slot of a it has just passed; a slack of one keeps writes off it.
template <Loop Regular, Loop Irregular>
bool merged_over(Segments& a, const Segments& b, std::size_t slack, std::size_t from) {
    return core::merge_over(a, b.size(), slack, from, [&b](Run a_moved, Segment* out, core::InterruptPoll& poll) {
        const Run b_run = b;
        return core::order_is_regular(a_moved, b_run) ? Regular(a_moved, b_run, out, poll)
                                                      : Irregular(a_moved, b_run, out, poll);
    });
}

}  // namespace

void unite_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    if (!merged_over<reference::unite, branch_free::unite>(a, b, 1, reuse_from)) {
        a = unite(a, b);
    }
}

void intersect_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty() || !merged_over<reference::intersect, branch_free::intersect>(a, b, 0, reuse_from)) {
        a = intersect(a, b);
    }
}

void subtract_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    // Always the branching loop, as subtract() takes it.
    if (!merged_over<reference::subtract, reference::subtract>(a, b, 0, reuse_from)) {
        a = subtract(a, b);
    }
}

}  // namespace velnor::interval
