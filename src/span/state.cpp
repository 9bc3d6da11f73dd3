#include "span/state.hpp"

#include "core/little_endian.hpp"
#include "core/state_frame.hpp"

namespace velnor::span {

using core::StateFault;

std::size_t state_size(const Segments& segments) noexcept {
    return core::framed_size(segments.size(), state_segment_size);
}

void encode_state(const Segments& segments, std::span<std::uint8_t> out) {
    core::encode_frame(segments, state_version, state_segment_size, out, [](const Segment& segment, std::uint8_t* at) {
        core::store_le64(at, segment.start);
        core::store_le64(at + 8, segment.end);
    });
}

core::StateError decode_state(std::span<const std::uint8_t> state, Segments& out) {
    return core::decode_frame(state, state_version, state_segment_size, out, [](const std::uint8_t* at, Segments& read) {
        const Segment segment{core::load_le_int64(at), core::load_le_int64(at + 8)};
        if (segment.start > segment.end) {
            return StateFault::start_after_end;
        }
        // At least one integer between neighbours. Once end < start is known, end + 1 cannot overflow.
        if (!read.empty() && (read.back().end >= segment.start || read.back().end + 1 == segment.start)) {
            return StateFault::out_of_order;
        }
        read.push_back(segment);
        return StateFault::none;
    });
}

}  // namespace velnor::span
