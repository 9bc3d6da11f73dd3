// The operations that replace a Span's list by a result (`a |= b`, `union_update(b)`, ...): over the list's
// own storage where it fits (see core/merge_over.hpp), else as a fresh list moved in. The same loops as the
// binary operations, chosen the same way, so the results are theirs.
#include "span/algebra.hpp"
#include "span/algebra_reference.hpp"

#include "core/branch_free.hpp"
#include "core/merge_over.hpp"

namespace velnor::span {

namespace {

using Run = std::span<const Segment>;

using Loop = std::size_t (*)(Run, Run, Segment*, core::InterruptPoll&);

// `BranchFree` serves lists whose merge order looks irregular, `Reference` the others, as the binary operations
// choose. Span's loops keep no pointer into a across steps: no slack.
template <Loop Reference, Loop BranchFree>
bool merged_over(Segments& a, const Segments& b, std::size_t from) {
    return core::merge_over(a, b.size(), 0, from, [&b](Run a_moved, Segment* out, core::InterruptPoll& poll) {
        const Run b_run = b;
        return core::order_is_regular(a_moved, b_run) ? Reference(a_moved, b_run, out, poll)
                                                      : BranchFree(a_moved, b_run, out, poll);
    });
}

}  // namespace

void unite_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    if (!merged_over<reference::unite, branch_free::unite>(a, b, reuse_from)) {
        a = unite(a, b);
    }
}

void intersect_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty() || !merged_over<reference::intersect, branch_free::intersect>(a, b, reuse_from)) {
        a = intersect(a, b);
    }
}

void subtract_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    if (!merged_over<reference::subtract, branch_free::subtract>(a, b, reuse_from)) {
        a = subtract(a, b);
    }
}

}  // namespace velnor::span
