// The plain merge loops the set algebra was first written with, kept as the reference that the
// branch-free loops of algebra.cpp are fuzzed and tested against.
#include "span/algebra_reference.hpp"

#include "core/interrupt.hpp"
#include "core/merge_sorted.hpp"
#include "span/append_merging.hpp"

#include <algorithm>
#include <limits>

namespace velnor::span::reference {

Segments unite(const Segments& a, const Segments& b) {
    const Segments* lists[] = {&a, &b};
    return core::merge_sorted<Segments>(lists, by_start, append_merging);
}

Segments intersect(const Segments& a, const Segments& b) {
    Segments out;
    core::InterruptPoll poll;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        poll.tick();
        const std::int64_t start = std::max(a[i].start, b[j].start);
        const std::int64_t end = std::min(a[i].end, b[j].end);
        if (start <= end) {
            out.push_back({start, end});
        }
        // The segment that ends first cannot meet anything further in the other list.
        if (a[i].end < b[j].end) {
            ++i;
        } else {
            ++j;
        }
    }
    return out;
}

Segments subtract(const Segments& a, const Segments& b) {
    if (b.empty()) {
        return a;
    }
    Segments out;
    out.reserve(a.size() + 1);
    core::InterruptPoll poll;
    std::size_t j = 0;
    for (const Segment& piece : a) {
        poll.tick();
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
    return out;
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
