// The interpreter's float repr as the source of shortest round-trip digits for the interval text forms:
// correctly rounded like the portable search, about fifty times faster, and independent of the locale.
#include "boundary/float_digits.hpp"

#include "interval/format.hpp"

namespace velnor::boundary {

namespace {

// Reads "1.25e-07", "0.0001" or "123" (no sign: the value is positive) as digits and a power of ten.
bool repr_digits(double value, interval::ShortestDigits& out) {
    char* text = PyOS_double_to_string(value, 'r', 0, 0, nullptr);
    if (text == nullptr) {
        PyErr_Clear();
        return false;  // the portable search answers instead
    }
    std::uint64_t digits = 0;
    int scale = 0;
    bool after_point = false;
    int significant = 0;
    const char* c = text;
    for (; *c != '\0' && *c != 'e'; ++c) {
        if (*c == '.') {
            after_point = true;
        } else if (*c >= '0' && *c <= '9') {
            digits = digits * 10 + static_cast<std::uint64_t>(*c - '0');
            significant += digits != 0 ? 1 : 0;
            scale -= after_point ? 1 : 0;
        }
    }
    bool fits = significant <= 17;
    if (*c == 'e') {
        ++c;
        const bool negative = *c == '-';
        if (*c == '-' || *c == '+') {
            ++c;
        }
        int exponent = 0;
        for (; *c >= '0' && *c <= '9'; ++c) {
            exponent = exponent * 10 + (*c - '0');
        }
        scale += negative ? -exponent : exponent;
    }
    PyMem_Free(text);
    if (!fits || digits == 0) {
        return false;
    }
    out = {digits, scale};
    return true;
}

}  // namespace

void install_float_digits() noexcept {
    interval::shortest_digits_source.store(repr_digits, std::memory_order_relaxed);
}

}  // namespace velnor::boundary
