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
// `fresh`: the segments a fresh output would be allocated for.
template <Loop Regular, Loop Irregular>
bool merged_over(Segments& a, const Segments& b, std::size_t slack, std::size_t fresh, std::size_t from) {
    const bool regular = core::order_is_regular(a, b);
    const auto merge = [&b, regular](Run a_moved, Segment* out, core::InterruptPoll& poll) {
        return regular ? Regular(a_moved, b, out, poll) : Irregular(a_moved, b, out, poll);
    };
    return core::merge_over(a, b.size(), slack, fresh, from, merge);
}

}  // namespace

void unite_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    const std::size_t both = a.size() + b.size();
    if (!merged_over<reference::unite, branch_free::unite>(a, b, 1, both, reuse_from)) {
        a = unite(a, b);
    }
}

void intersect_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    const std::size_t both = a.size() + b.size();
    if (b.empty() || !merged_over<reference::intersect, branch_free::intersect>(a, b, 0, both, reuse_from)) {
        a = intersect(a, b);
    }
}

void subtract_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    // Always the branching loop, as subtract() takes it, into room for both lists.
    if (!merged_over<reference::subtract, reference::subtract>(a, b, 0, a.size() + b.size(), reuse_from)) {
        a = subtract(a, b);
    }
}

}  // namespace velnor::interval
