// The serialised form of a Span (the state its pickle carries): a version byte, then per segment its
// start and end as little-endian two's-complement int64, 16 bytes. No header beyond the version: the
// length says how many segments follow.
#pragma once

#include "core/state_fault.hpp"
#include "span/segment.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace velnor::span {

inline constexpr std::uint8_t state_version = 1;
inline constexpr std::size_t state_segment_size = 16;

// The exact byte length of the state of `segments`.
std::size_t state_size(const Segments& segments) noexcept;
// Writes the state into `out`, which must hold exactly state_size(segments) bytes.
void encode_state(const Segments& segments, std::span<std::uint8_t> out);

// Reads a state and proves it normalised: the version is known, the length is whole segments, every
// segment has start <= end, and each starts at least two past the end of the one before. On a fault the
// list is left empty. Allocates at most one segment per 16 input bytes.
core::StateError decode_state(std::span<const std::uint8_t> state, Segments& out);

}  // namespace velnor::span
