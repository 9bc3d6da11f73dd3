// The frame shared by the serialised segment lists: one version byte, then one fixed-size record per
// segment. The set types say how a record is written and read; the frame checks what surrounds them.
#pragma once

#include "core/interrupt.hpp"
#include "core/state_fault.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace velnor::core {

// The exact byte length of a state of `count` records.
constexpr std::size_t framed_size(std::size_t count, std::size_t record_size) noexcept {
    return 1 + count * record_size;
}

// Writes the version, then `write(segment, at)` for each segment into its record; `out` holds exactly
// framed_size(segments.size(), record_size) bytes. A pending stop request ends it early, unfinished.
template <class Segments, class Write>
void encode_frame(const Segments& segments, std::uint8_t version, std::size_t record_size,
                  std::span<std::uint8_t> out, Write&& write) {
    out[0] = version;
    std::uint8_t* at = out.data() + 1;
    InterruptPoll poll(interrupt_interval / 16);  // fresh memory: each record's page faults cost more than its write
    for (const auto& segment : segments) {
        poll.tick();
        write(segment, at);
        at += record_size;
    }
}

// Checks the version and that the length is whole records, then calls `read(at, out)` for each record in
// order: it appends the record's segment to `out` and answers StateFault::none, or names what is wrong.
// The first fault is returned with the record's index, and `out` is left empty.
template <class Segments, class Read>
StateError decode_frame(std::span<const std::uint8_t> state, std::uint8_t version, std::size_t record_size,
                        Segments& out, Read&& read) {
    out.clear();
    if (state.empty()) {
        return {StateFault::no_version, 0};
    }
    if (state[0] != version) {
        return {StateFault::unknown_version, state[0]};
    }
    const std::size_t payload = state.size() - 1;
    if (payload % record_size != 0) {
        return {StateFault::ragged_length, state.size()};
    }
    const std::size_t count = payload / record_size;
    out.reserve(count);  // no zero fill first: every segment is written once
    const std::uint8_t* at = state.data() + 1;
    InterruptPoll poll(interrupt_interval / 16);  // fresh memory: each segment's page faults cost more than its checks
    for (std::size_t i = 0; i < count; ++i, at += record_size) {
        poll.tick();
        if (const StateFault fault = read(at, out); fault != StateFault::none) {
            out.clear();
            return {fault, i};
        }
    }
    return {};
}

}  // namespace velnor::core
