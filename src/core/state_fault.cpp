#include "core/state_fault.hpp"

namespace velnor::core {

namespace {

const char* what_is_wrong(StateFault fault) {
    switch (fault) {
        case StateFault::no_version: return "it is empty, without a version byte";
        case StateFault::unknown_version: return "unsupported version ";
        case StateFault::ragged_length: return "its length is not a version byte and whole segments: ";
        case StateFault::bad_flags: return "unknown end flags in segment ";
        case StateFault::nan_bound: return "a NaN bound in segment ";
        case StateFault::start_after_end: return "start greater than end in segment ";
        case StateFault::closed_infinity: return "a closed infinite end in segment ";
        case StateFault::empty_segment: return "an empty segment at ";
        case StateFault::out_of_order: return "not sorted, disjoint and apart at segment ";
        case StateFault::none: break;
    }
    return "no fault";
}

}  // namespace

std::string state_message(const char* class_name, const StateError& error) {
    std::string message = std::string("invalid ") + class_name + " state: " + what_is_wrong(error.fault);
    if (error.fault == StateFault::ragged_length) {
        message += std::to_string(error.detail) + " bytes";
    } else if (error.fault != StateFault::no_version && error.fault != StateFault::none) {
        message += std::to_string(error.detail);
    }
    return message;
}

}  // namespace velnor::core
