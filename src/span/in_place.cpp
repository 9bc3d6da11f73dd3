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

// The segments a fresh output is allocated for by each kind of loop (see core/merge_over.hpp).
struct Fresh {
    std::size_t reference;
    std::size_t branch_free;
};

// `BranchFree` serves lists whose merge order looks irregular, `Reference` the others, as the binary
// operations choose. Span's loops keep no pointer into a across steps: no slack.
template <Loop Reference, Loop BranchFree>
bool merged_over(Segments& a, const Segments& b, Fresh fresh, std::size_t from) {
    const bool regular = core::order_is_regular(a, b);
    const auto merge = [&b, regular](Run a_moved, Segment* out, core::InterruptPoll& poll) {
        return regular ? Reference(a_moved, b, out, poll) : BranchFree(a_moved, b, out, poll);
    };
    return core::merge_over(a, b.size(), 0, regular ? fresh.reference : fresh.branch_free, from, merge);
}

}  // namespace

void unite_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    const std::size_t both = a.size() + b.size();
    if (!merged_over<reference::unite, branch_free::unite>(a, b, {both, both}, reuse_from)) {
        a = unite(a, b);
    }
}

void intersect_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    const std::size_t both = a.size() + b.size();
    if (b.empty() || !merged_over<reference::intersect, branch_free::intersect>(a, b, {both, both}, reuse_from)) {
        a = intersect(a, b);
    }
}

void subtract_in_place(Segments& a, const Segments& b, std::size_t reuse_from) {
    if (b.empty()) {
        return;
    }
    // The branching loop reserves a's length and one more.
    const Fresh fresh{a.size() + 1, a.size() + b.size()};
    if (!merged_over<reference::subtract, branch_free::subtract>(a, b, fresh, reuse_from)) {
        a = subtract(a, b);
    }
}

}  // namespace velnor::span
