// Helpers for merge loops that must not branch on data: the order of two sorted lists is as good as random
// to a branch predictor, and a mispredicted branch per step costs more than the step.
#pragma once

#include "core/interrupt.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velnor::core {

// 1 or 0 as a count the compiler cannot see through: without the barrier GCC turns `i += moved; j += 1 -
// moved` back into a branch on the comparison that gave `moved`.
inline std::size_t count(bool when) noexcept {
    auto value = static_cast<std::size_t>(when);
#if defined(__GNUC__) || defined(__clang__)
    asm("" : "+r"(value));
#endif
    return value;
}

// `when ? yes : no` through a mask, which compilers keep as arithmetic rather than turn into a jump.
inline std::int64_t pick(bool when, std::int64_t yes, std::int64_t no) noexcept {
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(when);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(yes) & mask) |
                                     (static_cast<std::uint64_t>(no) & ~mask));
}

// The same for doubles, moved as bit patterns: the sign of a zero and any payload pass unchanged.
inline double pick(bool when, double yes, double no) noexcept {
    std::uint64_t y;
    std::uint64_t n;
    std::memcpy(&y, &yes, sizeof y);
    std::memcpy(&n, &no, sizeof n);
    const std::uint64_t mask = std::uint64_t{0} - static_cast<std::uint64_t>(when);
    const std::uint64_t bits = (y & mask) | (n & ~mask);
    double out;
    std::memcpy(&out, &bits, sizeof out);
    return out;
}

// The same for pointers: a merge that picks which segment to read from, rather than each field, moves
// one word instead of every field.
template <class T>
const T* pick(bool when, const T* yes, const T* no) noexcept {
    const std::uintptr_t mask = std::uintptr_t{0} - static_cast<std::uintptr_t>(when);
    return reinterpret_cast<const T*>((reinterpret_cast<std::uintptr_t>(yes) & mask) |
                                      (reinterpret_cast<std::uintptr_t>(no) & ~mask));
}

// Steps of a two-cursor merge run in blocks between interrupt polls. A step moves exactly one of the
// cursors i < a_size, j < b_size by one, so min(a_size - i, b_size - j) steps can run without testing either
// bound: `step(i, j)` is called that many times (at most `block` per poll), until one list is used up or
// `step` returns false.
inline constexpr std::size_t merge_block = 4096;

template <class Step>
void merge_steps(std::size_t& i, std::size_t a_size, std::size_t& j, std::size_t b_size, InterruptPoll& poll,
                 Step&& step) {
    while (i < a_size && j < b_size) {
        const std::size_t steps = std::min({a_size - i, b_size - j, merge_block});
        if (!step(steps)) {
            return;
        }
        poll.tick(steps);
    }
}

}  // namespace velnor::core
