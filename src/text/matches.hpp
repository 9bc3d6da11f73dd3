// Disjoint match positions of a pattern in a text, both UTF-8, reported in one index unit.
#pragma once

#include "text/kernels.hpp"
#include "text/positions.hpp"
#include "text/units.hpp"

#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

namespace velnor::text {

// Returns the starts of the disjoint occurrences found left to right (the leftmost wins where two
// overlap), ascending, in `unit`. An empty pattern occurs at every character boundary, the end included.
Positions match_positions(std::string_view text, std::string_view pattern, Unit unit);

// Returns the starts of the disjoint occurrences found right to left (the rightmost wins where two
// overlap), descending, in `unit`.
Positions rmatch_positions(std::string_view text, std::string_view pattern, Unit unit);

// The occurrences of one byte never overlap, so left to right and right to left find the same ones: the
// caller can count them first, make its result at its final size and fill it in one pass, in either order,
// with no list of positions in between.

// Returns the number of times `byte` occurs in `text`.
std::size_t count_byte(std::string_view text, char byte);

// Writes the offsets of the first out.size() occurrences of `byte`, left to right, and returns how many it
// wrote: fewer than out.size() means that those are all.
inline std::size_t first_bytes(std::string_view text, char byte, std::span<std::size_t> out) noexcept {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    std::size_t found = 0;
    for (const char* at = begin; found < out.size() && at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, byte, static_cast<std::size_t>(end - at)));
        if (at == nullptr) {
            break;
        }
        out[found++] = static_cast<std::size_t>(at - begin);
    }
    return found;
}

// Calls `emit(offset)` for each occurrence of `byte`, left to right.
template <class Emit>
void for_each_byte(std::string_view text, char byte, Emit&& emit) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    for (const char* at = begin; at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, byte, static_cast<std::size_t>(end - at)));
        if (at == nullptr) {
            return;
        }
        emit(static_cast<std::size_t>(at - begin));
    }
}

// Calls `emit(offset)` for each occurrence of `byte`, right to left.
template <class Emit>
void for_each_byte_backward(std::string_view text, char byte, Emit&& emit) {
    const Kernels& k = kernels();
    const auto* const t = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t end = text.size(); end > 0;) {
        end = k.rfind_byte(t, 0, end, static_cast<unsigned char>(byte));
        if (end == std::string_view::npos) {
            return;
        }
        emit(end);
    }
}

}  // namespace velnor::text
