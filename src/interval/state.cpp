#include "interval/state.hpp"

#include "core/interrupt.hpp"
#include "core/little_endian.hpp"

namespace velnor::interval {

using core::StateError;
using core::StateFault;

namespace {

constexpr std::uint8_t left_closed_bit = 1;
constexpr std::uint8_t right_closed_bit = 2;

StateFault fault_of(Defect defect) noexcept {
    switch (defect) {
        case Defect::nan_bound: return StateFault::nan_bound;
        case Defect::start_after_end: return StateFault::start_after_end;
        case Defect::closed_infinity: return StateFault::closed_infinity;
        case Defect::empty: return StateFault::empty_segment;
        case Defect::none: break;
    }
    return StateFault::none;
}

}  // namespace

std::size_t state_size(const Segments& segments) noexcept { return 1 + segments.size() * state_segment_size; }

void encode_state(const Segments& segments, std::span<std::uint8_t> out) noexcept {
    out[0] = state_version;
    std::uint8_t* at = out.data() + 1;
    for (const Segment& segment : segments) {
        at[0] = static_cast<std::uint8_t>((segment.left_closed ? left_closed_bit : 0) |
                                          (segment.right_closed ? right_closed_bit : 0));
        core::store_le64(at + 1, segment.start);
        core::store_le64(at + 9, segment.end);
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
        const std::uint8_t flags = at[0];
        if ((flags & ~(left_closed_bit | right_closed_bit)) != 0) {
            out.clear();
            return {StateFault::bad_flags, i};
        }
        const Segment segment{(flags & left_closed_bit) != 0, core::load_le_double(at + 1),
                              core::load_le_double(at + 9), (flags & right_closed_bit) != 0};
        if (const Defect defect = defect_of(segment); defect != Defect::none) {
            out.clear();
            return {fault_of(defect), i};
        }
        // For valid segments, not joining the one before means lying after it: its end is at most this
        // start (which is at least its own start), and meets it only where both ends are open.
        if (i > 0 && joins(out.back(), segment)) {
            out.clear();
            return {StateFault::out_of_order, i};
        }
        out.push_back(segment);
    }
    return {};
}

}  // namespace velnor::interval
