#include "interval/state.hpp"

#include "core/little_endian.hpp"
#include "core/state_frame.hpp"

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

std::size_t state_size(const Segments& segments) noexcept {
    return core::framed_size(segments.size(), state_segment_size);
}

void encode_state(const Segments& segments, std::span<std::uint8_t> out) {
    core::encode_frame(segments, state_version, state_segment_size, out, [](const Segment& segment, std::uint8_t* at) {
        at[0] = static_cast<std::uint8_t>((segment.left_closed ? left_closed_bit : 0) |
                                          (segment.right_closed ? right_closed_bit : 0));
        core::store_le64(at + 1, segment.start);
        core::store_le64(at + 9, segment.end);
    });
}

StateError decode_state(std::span<const std::uint8_t> state, Segments& out) {
    return core::decode_frame(state, state_version, state_segment_size, out, [](const std::uint8_t* at, Segments& read) {
        const std::uint8_t flags = at[0];
        if ((flags & ~(left_closed_bit | right_closed_bit)) != 0) {
            return StateFault::bad_flags;
        }
        const Segment segment{(flags & left_closed_bit) != 0, core::load_le_double(at + 1),
                              core::load_le_double(at + 9), (flags & right_closed_bit) != 0};
        if (const Defect defect = defect_of(segment); defect != Defect::none) {
            return fault_of(defect);
        }
        // For valid segments, not joining the one before means lying after it: its end is at most this
        // start (which is at least its own start), and meets it only where both ends are open.
        if (!read.empty() && joins(read.back(), segment)) {
            return StateFault::out_of_order;
        }
        read.push_back(segment);
        return StateFault::none;
    });
}

}  // namespace velnor::interval
