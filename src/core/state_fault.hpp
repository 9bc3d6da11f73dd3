// What can be wrong with a serialised segment list (a pickle's state), and the message that says so.
// The state is data from outside: a decoder accepts only a list that is already normalised.
#pragma once

#include <cstddef>
#include <string>

namespace velnor::core {

enum class StateFault {
    none,
    no_version,         // zero bytes: not even the version byte
    unknown_version,    // a version this build cannot read
    ragged_length,      // the bytes after the version are not a whole number of segments
    bad_flags,          // an interval flags byte with bits other than the two end flags
    nan_bound,          // a bound is NaN
    start_after_end,    // start > end
    closed_infinity,    // an infinite bound on a closed end
    empty_segment,      // start == end without both ends closed: a normalised list has none
    out_of_order,       // a segment that overlaps, touches or precedes the one before it
};

struct StateError {
    StateFault fault = StateFault::none;
    std::size_t detail = 0;  // the segment index, or the version byte, or the byte length
};

// "invalid {class_name} state: ..." for every fault but `none`.
std::string state_message(const char* class_name, const StateError& error);

}  // namespace velnor::core
