// The operations that replace a Span's list by a result (`a |= b`, `union_update(b)`, ...): over the list's
// own storage where it fits (see core/merge_over.hpp), else as a fresh list moved in. The same loops as the
// binary operations, chosen the same way, so the results are theirs.
#include "span/algebra.hpp"

#include "core/branch_free.hpp"
#include "core/merge_over.hpp"

namespace velnor::span {

namespace {

using Run = std::span<const Segment>;

using Loop = std::size_t (*)(Run, Run, Segment*, core::InterruptPoll&);

// `BranchFree` serves lists whose merge order looks irregular, `Branching` the others, as the binary
// operations choose. Span's loops keep no pointer into a across steps: no slack. Every loop sizes a fresh
// output for both lists (see core/merge_over.hpp).
template <Loop Branching, Loop BranchFree>
bool merged_over(Segments& a, const Segments& b, std::size_t from) {
    const bool regular = core::order_is_regular(a, b);
    const auto merge = [&b, regular](Run a_moved, Segment* out, core::InterruptPoll& poll) {
        return regular ? Branching(a_moved, b, out, poll) : BranchFree(a_moved, b, out, poll);
    };
    return core::merge_over(a, b.size(), 0, a.size() + b.size(), from, merge);
}

}  // namespace

void unite_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    if (!merged_over<branching::unite, branch_free::unite>(a, b, reuse_from)) {
        a = unite(a, b);
    }
}

void intersect_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty() || !merged_over<branching::intersect, branch_free::intersect>(a, b, reuse_from)) {
        a = intersect(a, b);
    }
}

void subtract_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    if (!merged_over<branching::subtract, branch_free::subtract>(a, b, reuse_from)) {
        a = subtract(a, b);
    }
}

}  // namespace velnor::span
