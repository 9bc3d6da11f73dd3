// A segment list in storage that someone else sized: the face of a list (empty, back, push_back) that the
// plain merge loops append through, over a raw pointer, so that one loop writes either into a growing list
// or into room made for it beforehand (the receiver's own storage, when a result replaces it).
#pragma once

#include "core/interrupt.hpp"

#include <cstddef>
#include <cstring>
#include <span>

namespace velnor::core {

template <class Segment>
class WriteThrough {
public:
    explicit WriteThrough(Segment* out) noexcept : out_(out) {}

    bool empty() const noexcept { return count_ == 0; }
    Segment& back() noexcept { return out_[count_ - 1]; }
    // Taken by value: `segment` may be the very slot it is written to.
    void push_back(Segment segment) noexcept { out_[count_++] = segment; }
    std::size_t size() const noexcept { return count_; }

private:
    Segment* out_;
    std::size_t count_ = 0;
};

// Copies `count` segments from `from` to `to`, which may lie below it in the same storage or be it.
template <class Segment>
void move_down(Segment* to, const Segment* from, std::size_t count) noexcept {
    if (to != from && count != 0) {
        std::memmove(static_cast<void*>(to), from, count * sizeof(Segment));
    }
}

// The union of two lists one of which is empty: the other, moved to `out` (which may be its own storage).
// Returns its length.
template <class Segment>
std::size_t unite_with_empty(std::span<const Segment> a, std::span<const Segment> b, Segment* out) noexcept {
    const std::span<const Segment> whole = a.empty() ? b : a;
    move_down(out, whole.data(), whole.size());
    return whole.size();
}

// The result of `loop` (a merge that writes through a pointer and returns how many segments it wrote) over
// a and b, in a list sized once for `bound` segments, the most it writes. The room is not set first, as
// segment lists default-initialise, and what the loop leaves unwritten is never touched.
template <class Segments>
Segments sized_result(std::size_t (*loop)(std::span<const typename Segments::value_type>,
                                          std::span<const typename Segments::value_type>,
                                          typename Segments::value_type*, InterruptPoll&),
                      const Segments& a, const Segments& b, std::size_t bound) {
    Segments out;
    out.resize(bound);
    InterruptPoll poll;
    out.resize(loop(a, b, out.data(), poll));
    return out;
}

}  // namespace velnor::core
