// Text forms of real segment lists.
#pragma once

#include "interval/segment.hpp"

#include <atomic>
#include <cstdint>
#include <string>

namespace velnor::interval {

// The shortest decimal that reads back to a finite positive double: `digits` × 10^`scale`.
struct ShortestDigits {
    std::uint64_t digits;
    int scale;
};
// A faster exact source of those digits, installed by the module (the interpreter's own float repr); when
// empty, as in the fuzzers, a portable search through printf and strtod finds the same digits. Atomic, as
// an import may store it while other threads format (a relaxed load is a plain load).
using ShortestDigitsSource = bool (*)(double value, ShortestDigits& out);
inline std::atomic<ShortestDigitsSource> shortest_digits_source{nullptr};

// Appends the shortest decimal digits that read back to `value`, placed positionally (never an exponent):
// 1, 2.5, 0.0000001, -0, 1180591620717411300000, inf, -inf. NaN never reaches here.
void append_number(std::string& out, double value);

// "Interval([(True, 0, 1, False), (False, 2, inf, False)])": a constructor call that rebuilds the interval.
std::string format_repr(const Segments& segments);
// "[0, 1) ∪ (2, inf)", or "∅" when empty.
std::string format_str(const Segments& segments);

}  // namespace velnor::interval
