// The serialised form of an Interval (the state its pickle carries): a version byte, then per segment a
// flags byte (bit 0: left end closed, bit 1: right end closed) and the start and end as little-endian
// IEEE 754 binary64 bit patterns, 17 bytes. The length says how many segments follow.
#pragma once

#include "core/state_fault.hpp"
#include "interval/segment.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace velnor::interval {

inline constexpr std::uint8_t state_version = 1;
inline constexpr std::size_t state_segment_size = 17;

// The exact byte length of the state of `segments`.
std::size_t state_size(const Segments& segments) noexcept;
// Writes the state into `out`, which must hold exactly state_size(segments) bytes.
void encode_state(const Segments& segments, std::span<std::uint8_t> out);

// Reads a state and proves it normalised: the version is known, the length is whole segments, no flags
// byte has other bits, every segment is valid and not empty, and each is apart from the one before (or
// meets it at a point that both leave open). On a fault the list is left empty. Allocates at most one
// segment per 17 input bytes.
core::StateError decode_state(std::span<const std::uint8_t> state, Segments& out);

}  // namespace velnor::interval
