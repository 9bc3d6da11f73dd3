// Fuzz target: the pickle state decoders of both set classes (span/state.cpp, interval/state.cpp) against a
// reference validator written from the normalisation rules, and the encoders by round trip.
//
// The first byte picks a shape. Shapes 0 and 1 hand the rest of the input to the Span or Interval decoder
// as it is: whatever the bytes, the decoder's verdict (the fault and the segment it names, or success) must
// be the reference's, a decoded list must be normalised, and encoding it again must give the very input.
// Shape 2 builds raw lists of both kinds from small bounds, normalises them with merge_segments, encodes,
// and changes up to three bytes of the state before decoding, so that the states sit right at the edges of
// normalised: touching, meeting, repeated, one unit apart. The reference reads every word by its own
// byte order arithmetic and tests neighbours in 128-bit (spans) or by the rules' own wording (intervals).
#include "core/state_fault.hpp"
#include "interval/segment.hpp"
#include "interval/state.hpp"
#include "span/segment.hpp"
#include "span/state.hpp"
#include "harness.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

using velnor::core::StateError;
using velnor::core::StateFault;

const char* const fuzz::target_name = "set_state";

namespace {

using fuzz::check;

using Bytes = std::span<const std::uint8_t>;

// Little-endian by place value, most significant byte first: another way to the same number.
std::uint64_t word_at(Bytes bytes, std::size_t at) {
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;) {
        value = value * 256 + bytes[at + i];
    }
    return value;
}

StateError reference_header(Bytes state, std::size_t width) {
    if (state.empty()) {
        return {StateFault::no_version, 0};
    }
    if (state[0] != 1) {
        return {StateFault::unknown_version, state[0]};
    }
    if ((state.size() - 1) % width != 0) {
        return {StateFault::ragged_length, state.size()};
    }
    return {};
}

StateError reference_span(Bytes state) {
    if (const StateError header = reference_header(state, 16); header.fault != StateFault::none) {
        return header;
    }
    // Plain int64 arithmetic, guarded at the top of the range: 32-bit targets have no 128-bit integer.
    std::int64_t previous_end = 0;
    for (std::size_t i = 0, at = 1; at < state.size(); ++i, at += 16) {
        const auto start = std::bit_cast<std::int64_t>(word_at(state, at));
        const auto end = std::bit_cast<std::int64_t>(word_at(state, at + 8));
        if (start > end) {
            return {StateFault::start_after_end, i};
        }
        const bool gap_before = previous_end < std::numeric_limits<std::int64_t>::max() && previous_end + 1 < start;
        if (i > 0 && !gap_before) {
            return {StateFault::out_of_order, i};
        }
        previous_end = end;
    }
    return {};
}

StateError reference_interval(Bytes state) {
    if (const StateError header = reference_header(state, 17); header.fault != StateFault::none) {
        return header;
    }
    bool previous_right_closed = false;
    double previous_end = 0;
    for (std::size_t i = 0, at = 1; at < state.size(); ++i, at += 17) {
        const std::uint8_t flags = state[at];
        if (flags > 3) {
            return {StateFault::bad_flags, i};
        }
        const bool left_closed = (flags & 1) != 0;
        const bool right_closed = (flags & 2) != 0;
        const double start = std::bit_cast<double>(word_at(state, at + 1));
        const double end = std::bit_cast<double>(word_at(state, at + 9));
        if (start != start || end != end) {
            return {StateFault::nan_bound, i};
        }
        if (start > end) {
            return {StateFault::start_after_end, i};
        }
        if ((std::isinf(start) && left_closed) || (std::isinf(end) && right_closed)) {
            return {StateFault::closed_infinity, i};
        }
        if (start == end && !(left_closed && right_closed)) {
            return {StateFault::empty_segment, i};
        }
        // Disjoint and in order: the previous end lies before this start, or meets it with both ends open.
        if (i > 0 && !(previous_end < start || (previous_end == start && !previous_right_closed && !left_closed))) {
            return {StateFault::out_of_order, i};
        }
        previous_end = end;
        previous_right_closed = right_closed;
    }
    return {};
}

template <class Segments, class Decode, class Encode, class Size>
void check_decoder(Bytes state, StateError expected, Decode decode, Encode encode, Size size) {
    Segments segments(1);  // not empty, so that clearing on a fault shows
    const StateError error = decode(state, segments);
    check(error.fault == expected.fault, "the decoder's verdict is not the reference's");
    check(error.detail == expected.detail, "the decoder names another segment, version or length");
    if (error.fault != StateFault::none) {
        check(segments.empty(), "a refused state left segments behind");
        check(velnor::core::state_message("Span", error).rfind("invalid Span state: ", 0) == 0, "a message without its prefix");
        return;
    }
    check(size(segments) == state.size(), "the decoded list does not account for every byte");
    std::vector<std::uint8_t> again(size(segments));
    encode(segments, std::span<std::uint8_t>(again));
    check(std::memcmp(again.data(), state.data(), state.size()) == 0, "encoding the decoded list changes it");
}

void check_span(Bytes state) {
    check_decoder<velnor::span::Segments>(
        state, reference_span(state), velnor::span::decode_state,
        [](const auto& s, std::span<std::uint8_t> out) { velnor::span::encode_state(s, out); },
        [](const auto& s) { return velnor::span::state_size(s); });
    velnor::span::Segments decoded;
    if (velnor::span::decode_state(state, decoded).fault == StateFault::none) {
        check(velnor::span::is_normalised(decoded), "a decoded span list is not normalised");
        velnor::span::Segments merged = decoded;
        velnor::span::merge_segments(merged);
        check(merged == decoded, "merging a decoded span list changes it");
    }
}

void check_interval(Bytes state) {
    check_decoder<velnor::interval::Segments>(
        state, reference_interval(state), velnor::interval::decode_state,
        [](const auto& s, std::span<std::uint8_t> out) { velnor::interval::encode_state(s, out); },
        [](const auto& s) { return velnor::interval::state_size(s); });
    velnor::interval::Segments decoded;
    if (velnor::interval::decode_state(state, decoded).fault == StateFault::none) {
        velnor::interval::Segments merged = decoded;
        velnor::interval::merge_segments(merged);
        check(merged == decoded, "merging a decoded interval list changes it");
    }
}

// Shape 2: normalised lists of small bounds, encoded, then changed in a few places.
void check_built(fuzz::ByteReader& in) {
    velnor::span::Segments span_list;
    velnor::interval::Segments interval_list;
    const std::size_t count = in.byte() % 12;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t a = static_cast<std::int8_t>(in.byte()) / 8;
        const std::int64_t b = static_cast<std::int8_t>(in.byte()) / 8;
        span_list.push_back({std::min(a, b), std::max(a, b)});
        const std::uint8_t flags = in.byte();
        velnor::interval::Segment segment{(flags & 1) != 0, std::min(a, b) * 0.5, std::max(a, b) * 0.5, (flags & 2) != 0};
        if (velnor::interval::defect_of(segment) == velnor::interval::Defect::none) {
            interval_list.push_back(segment);
        }
    }
    velnor::span::merge_segments(span_list);
    velnor::interval::merge_segments(interval_list);

    std::vector<std::uint8_t> span_state(velnor::span::state_size(span_list));
    velnor::span::encode_state(span_list, span_state);
    std::vector<std::uint8_t> interval_state(velnor::interval::state_size(interval_list));
    velnor::interval::encode_state(interval_list, interval_state);

    velnor::span::Segments span_back;
    check(velnor::span::decode_state(span_state, span_back).fault == StateFault::none && span_back == span_list,
          "a span list does not survive its own state");
    velnor::interval::Segments interval_back;
    check(velnor::interval::decode_state(interval_state, interval_back).fault == StateFault::none &&
              interval_back == interval_list,
          "an interval list does not survive its own state");

    for (int change = in.byte() % 4; change > 0; --change) {
        const std::size_t at = in.word();
        const std::uint8_t value = in.byte();
        span_state[at % span_state.size()] = value;
        interval_state[at % interval_state.size()] = value;
    }
    if (in.byte() % 4 == 0) {  // or cut the state short
        span_state.resize(span_state.size() - span_state.size() % 5);
        interval_state.resize(interval_state.size() - interval_state.size() % 5);
    }
    check_span(span_state);
    check_interval(interval_state);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Bytes rest(data + 1, size - 1);
    switch (data[0] % 3) {
        case 0: check_span(rest); break;
        case 1: check_interval(rest); break;
        default: {
            fuzz::ByteReader in(rest.data(), rest.size());
            check_built(in);
        }
    }
    return 0;
}
