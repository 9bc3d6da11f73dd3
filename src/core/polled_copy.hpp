// A copy of a segment list that notices a pending stop request: a list of a hundred million segments takes
// a second or more to copy, mostly in page faults.
#pragma once

#include "core/interrupt.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace velnor::core {

// Segments copied between two checks: a few hundred microseconds' worth.
inline constexpr std::size_t copy_piece = std::size_t{1} << 16;

template <class List>
List polled_copy(const List& source) {
    if (source.size() <= copy_piece) {
        return source;
    }
    // Sized without writing, then filled by memcpy: a list with its own allocator would otherwise be copied
    // one element at a time.
    static_assert(std::is_trivially_copyable_v<typename List::value_type>);
    List copy;
    copy.resize(source.size());
    for (std::size_t start = 0; start < source.size(); start += copy_piece) {
        const std::size_t count = std::min(source.size() - start, copy_piece);
        std::memcpy(copy.data() + start, source.data() + start, count * sizeof(typename List::value_type));
        check_interrupt();
    }
    return copy;
}

}  // namespace velnor::core
