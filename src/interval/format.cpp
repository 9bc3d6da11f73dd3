#include "interval/format.hpp"

#include "core/interrupt.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace velnor::interval {

namespace {

// A decimal of at most 17 significant digits: `digits` × 10^`scale`.
struct Decimal {
    std::uint64_t digits;
    int scale;
};

// The nearest decimal of `count` significant digits to `value` (finite, positive), from printf, whose
// "%.*e" is exact on every C library we build with. Only the digits and the exponent are read, so the decimal
// point of the current locale (LC_NUMERIC) does not matter.
Decimal nearest(double value, int count) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", count - 1, value);
    Decimal decimal{0, 0};
    const char* c = text;
    for (; *c != 'e' && *c != '\0'; ++c) {
        if (*c >= '0' && *c <= '9') {
            decimal.digits = decimal.digits * 10 + static_cast<std::uint64_t>(*c - '0');
        }
    }
    int exponent = 0;
    const bool negative = *c == 'e' && c[1] == '-';
    for (c += 2; *c >= '0' && *c <= '9'; ++c) {
        exponent = exponent * 10 + (*c - '0');
    }
    decimal.scale = (negative ? -exponent : exponent) - (count - 1);
    return decimal;
}

// The double nearest to a decimal, as strtod rounds it. The text has no decimal point ("12345e-4"), which
// every locale reads alike.
double read(Decimal decimal) {
    char text[64];
    std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(decimal.digits), decimal.scale);
    return std::strtod(text, nullptr);
}

constexpr std::uint64_t power_of_ten(int exponent) {
    std::uint64_t power = 1;
    for (int i = 0; i < exponent; ++i) {
        power *= 10;
    }
    return power;
}

// The nearest decimal of `count` digits, from the nearest one of 17 (`full`) where rounding that again
// gives the same: the exact value lies within half a unit of the 17th digit from `full`, so only a dropped
// part of exactly one half leaves the direction open, and printf decides then.
Decimal nearest_from(const Decimal& full, double value, int count) {
    const std::uint64_t unit = power_of_ten(17 - count);
    const std::uint64_t dropped = full.digits % unit;
    if (dropped * 2 == unit) {
        return nearest(value, count);
    }
    Decimal decimal{full.digits / unit + (dropped * 2 > unit ? 1 : 0), full.scale + (17 - count)};
    if (decimal.digits == power_of_ten(count)) {  // 9.99 rounded up to 10.0
        decimal = {decimal.digits / 10, decimal.scale + 1};
    }
    return decimal;
}

// A decimal of `count` significant digits that reads back to `value`, the nearest one if several do. The
// nearest decimal of that length may miss when the next one on the other side does not: at a power of two
// the doubles below are twice as dense as above. A decimal further away on either side never reads back
// when the one between does not.
bool fitting(const Decimal& full, double value, int count, Decimal& found) {
    const Decimal near = nearest_from(full, value, count);
    const double back = read(near);
    if (back == value) {
        found = near;
        return true;
    }
    const bool below = back < value;  // rounding keeps the order
    const std::uint64_t smallest = power_of_ten(count - 1);
    Decimal other = near;
    if (below) {
        ++other.digits;  // 99.9 and up becomes 100.0: count + 1 digits, the last a zero
    } else if (near.digits == smallest) {
        other = {smallest * 10 - 1, near.scale - 1};  // below 1.00 comes 0.999
    } else {
        --other.digits;
    }
    if (read(other) == value) {
        found = other;
        return true;
    }
    return false;
}

// The shortest round-trip digits of `value` (finite, positive).
Decimal shortest(double value) {
    Decimal best{0, 0};
    const ShortestDigitsSource source = shortest_digits_source.load(std::memory_order_relaxed);
    if (value < 9007199254740992.0 && value == std::floor(value)) {
        // Below 2**53 every integer is a double, so none but the integer itself reads back to it.
        best = {static_cast<std::uint64_t>(value), 0};
    } else if (ShortestDigits digits{0, 0}; source != nullptr && source(value, digits)) {
        best = {digits.digits, digits.scale};
    } else {
        // Whether some decimal of n digits reads back only grows with n (append a zero), so a binary search
        // over 1..17 finds the least n; 17 digits always read back.
        const Decimal full = nearest(value, 17);
        best = full;
        int low = 1;
        int high = 17;
        while (low < high) {
            const int middle = (low + high) / 2;
            Decimal found{0, 0};
            if (fitting(full, value, middle, found)) {
                best = found;
                high = middle;
            } else {
                low = middle + 1;
            }
        }
    }
    while (best.digits % 10 == 0) {
        best.digits /= 10;
        ++best.scale;
    }
    return best;
}

}  // namespace

void append_number(std::string& out, double value) {
    if (std::signbit(value)) {
        out.push_back('-');  // also for -0.0
        value = -value;
    }
    if (std::isinf(value)) {
        out.append("inf");
        return;
    }
    if (value == 0) {
        out.push_back('0');
        return;
    }
    const Decimal decimal = shortest(value);
    const std::string digits = std::to_string(decimal.digits);
    // value = 0.d1d2... × 10^point, so `point` digits stand before the decimal point (none or fewer than
    // none: leading zeros after it; more than there are digits: trailing zeros before it).
    const long count = static_cast<long>(digits.size());
    const long point = count + decimal.scale;
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

// Segments written between two checks: a segment's digits cost about 300 ns, so a few milliseconds' worth.
constexpr std::size_t text_poll_interval = std::size_t{1} << 14;

void append_flag(std::string& out, bool flag) {
    out.append(flag ? "True" : "False");
}

}  // namespace

std::string format_repr(const Segments& segments) {
    std::string out("Interval([");
    core::InterruptPoll poll(text_poll_interval);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        poll.tick();
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
    core::InterruptPoll poll(text_poll_interval);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        poll.tick();
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
