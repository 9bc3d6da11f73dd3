// Merging already-sorted segment lists, shared by both segment kinds.
#pragma once

#include "core/interrupt.hpp"

#include <cstddef>
#include <queue>
#include <span>
#include <vector>

namespace velnor::core {

// Returns the union of sorted lists, visiting their segments in the order a stable sort of the lists
// concatenated would give (at a tie, the earlier list first) and handing each to `append(out, segment)`,
// which merges it into the last segment of `out` where they meet. Linear for two lists; a heap of cursors
// makes it O(n log k) for k lists.
template <class Segments, class Precedes, class Append>
Segments merge_sorted(std::span<const Segments* const> lists, Precedes precedes, Append append) {
    using Segment = typename Segments::value_type;
    std::size_t total = 0;
    for (const Segments* list : lists) {
        total += list->size();
    }
    Segments out;
    out.reserve(total);
    InterruptPoll poll;
    if (lists.size() == 2) {
        const Segments& a = *lists[0];
        const Segments& b = *lists[1];
        std::size_t i = 0;
        std::size_t j = 0;
        while (i < a.size() || j < b.size()) {
            poll.tick();
            const bool take_a = j == b.size() || (i < a.size() && !precedes(b[j], a[i]));
            append(out, take_a ? a[i++] : b[j++]);
        }
        return out;
    }
    struct Cursor {
        const Segment* at;
        const Segment* end;
        std::size_t rank;
    };
    auto later = [&](const Cursor& x, const Cursor& y) {
        return precedes(*y.at, *x.at) || (!precedes(*x.at, *y.at) && x.rank > y.rank);
    };
    std::priority_queue<Cursor, std::vector<Cursor>, decltype(later)> heap(later);
    for (std::size_t rank = 0; rank < lists.size(); ++rank) {
        const Segments& list = *lists[rank];
        if (!list.empty()) {
            heap.push({list.data(), list.data() + list.size(), rank});
        }
    }
    while (!heap.empty()) {
        poll.tick();
        Cursor cursor = heap.top();
        heap.pop();
        append(out, *cursor.at);
        if (++cursor.at != cursor.end) {
            heap.push(cursor);
        }
    }
    return out;
}

// Returns `first` followed by `rest` as one list of list pointers, for merge_sorted.
template <class Segments>
std::vector<const Segments*> with_first(const Segments& first, std::span<const Segments* const> rest) {
    std::vector<const Segments*> lists;
    lists.reserve(rest.size() + 1);
    lists.push_back(&first);
    lists.insert(lists.end(), rest.begin(), rest.end());
    return lists;
}

}  // namespace velnor::core
