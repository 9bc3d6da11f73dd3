#include "interval/format.hpp"

#include "core/interrupt.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace velnor::interval {

void append_number(std::string& out, double value) {
    if (std::signbit(value)) {
        out.push_back('-');  // also for -0.0
        value = -value;
    }
    if (std::isinf(value)) {
        out.append("inf");
        return;
    }
    // The scientific form without a precision carries the shortest round-trip digits: "d.ddde±xx".
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    const std::string_view written(text, static_cast<std::size_t>(result.ptr - text));
    const std::size_t e_at = written.find('e');
    std::string digits;
    digits.push_back(written[0]);
    if (e_at > 1) {
        digits.append(written.substr(2, e_at - 2));  // skip the point
    }
    const bool negative_exponent = written[e_at + 1] == '-';
    int exponent = 0;
    std::from_chars(written.data() + e_at + 2, written.data() + written.size(), exponent);  // after the sign
    if (negative_exponent) {
        exponent = -exponent;
    }
    // value = d1.d2d3... × 10^exponent, so `point` digits stand before the decimal point (none or fewer
    // than none: leading zeros after it; more than there are digits: trailing zeros before it).
    const long point = exponent + 1;
    const long count = static_cast<long>(digits.size());
    if (point <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits);
    } else if (point >= count) {
        out.append(digits);
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point));
    }
}

namespace {

void append_flag(std::string& out, bool flag) {
    out.append(flag ? "True" : "False");
}

}  // namespace

std::string format_repr(const Segments& segments) {
    std::string out("Interval([");
    core::InterruptPoll poll;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        poll.tick(8);  // a segment's digits cost several times a plain step
        if (i > 0) {
            out.append(", ");
        }
        const Segment& segment = segments[i];
        out.push_back('(');
        append_flag(out, segment.left_closed);
        out.append(", ");
        append_number(out, segment.start);
        out.append(", ");
        append_number(out, segment.end);
        out.append(", ");
        append_flag(out, segment.right_closed);
        out.push_back(')');
    }
    out.append("])");
    return out;
}

std::string format_str(const Segments& segments) {
    if (segments.empty()) {
        return "\u2205";
    }
    std::string out;
    out.reserve(segments.size() * 16);
    core::InterruptPoll poll;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        poll.tick(8);
        if (i > 0) {
            out.append(" \u222A ");
        }
        const Segment& segment = segments[i];
        out.push_back(segment.left_closed ? '[' : '(');
        append_number(out, segment.start);
        out.append(", ");
        append_number(out, segment.end);
        out.push_back(segment.right_closed ? ']' : ')');
    }
    return out;
}

}  // namespace velnor::interval
