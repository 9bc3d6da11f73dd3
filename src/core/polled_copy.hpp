// A copy of a segment list that notices a pending stop request: a list of a hundred million segments takes
// a second or more to copy, mostly in page faults.
#pragma once

#include "core/interrupt.hpp"

#include <algorithm>
#include <cstddef>

namespace velnor::core {

// Segments copied between two checks: a few hundred microseconds' worth.
inline constexpr std::size_t copy_piece = std::size_t{1} << 16;

template <class List>
List polled_copy(const List& source) {
    if (source.size() <= copy_piece) {
        return source;
    }
    List copy;
    copy.reserve(source.size());
    for (std::size_t start = 0; start < source.size(); start += copy_piece) {
        const std::size_t end = std::min(source.size(), start + copy_piece);
        copy.insert(copy.end(), source.begin() + static_cast<std::ptrdiff_t>(start),
                    source.begin() + static_cast<std::ptrdiff_t>(end));
        check_interrupt();
    }
    return copy;
}

}  // namespace velnor::core
