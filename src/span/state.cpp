#include "span/state.hpp"

#include "core/interrupt.hpp"
#include "core/little_endian.hpp"

namespace velnor::span {

using core::StateError;
using core::StateFault;

std::size_t state_size(const Segments& segments) noexcept { return 1 + segments.size() * state_segment_size; }

void encode_state(const Segments& segments, std::span<std::uint8_t> out) noexcept {
    out[0] = state_version;
    std::uint8_t* at = out.data() + 1;
    for (const Segment& segment : segments) {
        core::store_le64(at, segment.start);
        core::store_le64(at + 8, segment.end);
        at += state_segment_size;
    }
}

StateError decode_state(std::span<const std::uint8_t> state, Segments& out) {
    out.clear();
    if (state.empty()) {
        return {StateFault::no_version, 0};
    }
    if (state[0] != state_version) {
        return {StateFault::unknown_version, state[0]};
    }
    const std::size_t payload = state.size() - 1;
    if (payload % state_segment_size != 0) {
        return {StateFault::ragged_length, state.size()};
    }
    const std::size_t count = payload / state_segment_size;
    out.reserve(count);  // no zero fill first: every segment is written once
    const std::uint8_t* at = state.data() + 1;
    core::InterruptPoll poll;
    for (std::size_t i = 0; i < count; ++i, at += state_segment_size) {
        poll.tick();
        const Segment segment{core::load_le_int64(at), core::load_le_int64(at + 8)};
        if (segment.start > segment.end) {
            out.clear();
            return {StateFault::start_after_end, i};
        }
        // At least one integer between neighbours. Once end < start is known, end + 1 cannot overflow.
        if (i > 0 && (out.back().end >= segment.start || out.back().end + 1 == segment.start)) {
            out.clear();
            return {StateFault::out_of_order, i};
        }
        out.push_back(segment);
    }
    return {};
}

}  // namespace velnor::span
