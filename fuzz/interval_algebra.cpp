// Fuzz target: the real segment core (validation, merge_segments, the set algebra, the conversion from
// integer spans, the number text of repr and str) against an exact point model.
//
// The input decodes into three raw segment lists with bounds from a small pool, so that bounds tie and
// segments touch, open or closed; the pool holds -0.0 beside 0.0, the infinities, subnormals, the largest
// doubles, and now and then any bit pattern (NaN included). The lists go through the same validation and
// merge as the constructor's. Membership can change only at a bound, so the model is asked at every bound
// of every list involved, at the doubles next to it on either side, and at a point of every gap between
// bounds: agreeing there means agreeing on every real number. The gap points are long doubles (64-bit
// significands on x86), since an open segment between two neighbouring doubles holds no double and yet
// is not empty.
#include "interval/algebra.hpp"
#include "interval/algebra_reference.hpp"
#include "interval/format.hpp"
#include "interval/from_span.hpp"
#include "interval/segment.hpp"
#include "span/segment.hpp"
#include "harness.hpp"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using velnor::interval::Defect;
using velnor::interval::Segment;
using velnor::interval::Segments;

const char* const fuzz::target_name = "interval_algebra";

namespace {

using fuzz::check;
using fuzz::fail;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double largest = std::numeric_limits<double>::max();
constexpr double tiniest = std::numeric_limits<double>::denorm_min();
constexpr double smallest_normal = std::numeric_limits<double>::min();
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

class Reader : public fuzz::ByteReader {
public:
    using ByteReader::ByteReader;

    // Mostly halves from -3 to 3 and both zeros, so that bounds tie; then the edges of the doubles; one
    // byte in sixteen reads the next eight bytes as a double, which may be NaN.
    double bound() {
        static constexpr double edges[] = {
            -inf, inf, -largest, largest, -tiniest, tiniest, smallest_normal, -smallest_normal,
            0.1, 1.0 / 3, 1e21, -1e21, 1e-7, 9007199254740992.0, 9007199254740994.0, not_a_number,
        };
        const std::uint8_t b = byte();
        if (b < 208) {
            const int step = b % 15;
            return step == 14 ? -0.0 : (step - 6) * 0.5;
        }
        if (b < 240) {
            return edges[b % 16];
        }
        return std::bit_cast<double>(bits());
    }

    // A raw segment: ordered bounds mostly, in the order read otherwise; any pair of end flags.
    Segment segment() {
        const std::uint8_t flags = byte();
        double start = bound();
        double end = bound();
        if ((flags & 4) == 0 && end < start) {
            std::swap(start, end);
        }
        return {(flags & 1) != 0, start, end, (flags & 2) != 0};
    }

    Segments raw_list() {
        Segments list(byte() % 10);
        for (Segment& s : list) {
            s = segment();
        }
        return list;
    }

    // Integer span bounds around 2**53, where doubles stop being exact, and at the ends of int64.
    std::int64_t span_bound() {
        const std::uint8_t b = byte();
        constexpr std::int64_t exact = std::int64_t{1} << 53;
        switch (b % 4) {
            case 0: return static_cast<std::int64_t>(b) - 128;
            case 1: return exact + (b >> 2) - 32;
            case 2: return -exact - (b >> 2) + 32;
            default:
                return b & 4 ? std::numeric_limits<std::int64_t>::max() - (b >> 3)
                             : std::numeric_limits<std::int64_t>::min() + (b >> 3);
        }
    }

};

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_bits(const Segments& a, const Segments& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Segment& x, const Segment& y) {
               return x.left_closed == y.left_closed && same_bits(x.start, y.start) && same_bits(x.end, y.end) &&
                      x.right_closed == y.right_closed;
           });
}

// --- Reference ---

// The point model: x belongs to a list of segments when it belongs to one of them, whatever their order.
bool member(const Segments& list, long double x) {
    return std::any_of(list.begin(), list.end(), [x](const Segment& s) {
        const long double start = s.start;
        const long double end = s.end;
        return (start < x && x < end) || (x == start && s.left_closed) || (x == end && s.right_closed);
    });
}

// What the constructor reports for a raw list: the first segment with a NaN bound, a start after its
// end, or a closed infinite end, in that order of tests.
Defect first_defect(const Segments& raw) {
    for (const Segment& s : raw) {
        if (std::isnan(s.start) || std::isnan(s.end)) {
            return Defect::nan_bound;
        }
        if (s.start > s.end) {
            return Defect::start_after_end;
        }
        if ((std::isinf(s.start) && s.left_closed) || (std::isinf(s.end) && s.right_closed)) {
            return Defect::closed_infinity;
        }
    }
    return Defect::none;
}

// The raw segments that hold at least one point and that the constructor would accept.
Segments usable(const Segments& raw) {
    Segments out;
    for (const Segment& s : raw) {
        const bool valid = !std::isnan(s.start) && !std::isnan(s.end) && s.start <= s.end &&
                           !(std::isinf(s.start) && s.left_closed) && !(std::isinf(s.end) && s.right_closed);
        if (valid && (s.start < s.end || (s.left_closed && s.right_closed))) {
            out.push_back(s);
        }
    }
    return out;
}

// Sorted, disjoint, no point shared and no gap of zero width closed on one side; every segment valid
// and not empty.
bool normalised(const Segments& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Segment& s = list[i];
        if (std::isnan(s.start) || std::isnan(s.end) || s.start > s.end) {
            return false;
        }
        if ((std::isinf(s.start) && s.left_closed) || (std::isinf(s.end) && s.right_closed)) {
            return false;
        }
        if (s.start == s.end && !(s.left_closed && s.right_closed)) {
            return false;
        }
        if (i > 0) {
            const Segment& before = list[i - 1];
            if (!(before.end < s.start || (before.end == s.start && !before.right_closed && !s.left_closed))) {
                return false;
            }
        }
    }
    return true;
}

void add_bounds(std::vector<double>& bounds, const Segments& list) {
    for (const Segment& s : list) {
        bounds.push_back(s.start);
        bounds.push_back(s.end);
    }
}

// Every bound, the doubles on either side of it, and a point strictly inside every gap between bounds.
std::vector<long double> probes_around(std::vector<double> bounds) {
    // Where long double is double (MSVC, macOS on arm64) a gap between two neighbouring doubles has no
    // point here: its midpoint rounds onto a bound, already a probe, and the gap goes unasked there.
    bounds.insert(bounds.end(), {-inf, inf, 0.0, -0.0});
    std::sort(bounds.begin(), bounds.end());
    std::vector<long double> probes;
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const double b = bounds[i];
        probes.push_back(b);
        probes.push_back(std::nextafter(b, -inf));
        probes.push_back(std::nextafter(b, inf));
        if (i == 0 || !(bounds[i - 1] < b)) {
            continue;
        }
        // Long double has the range to step past the largest double, and the digits to halve the gap
        // between two neighbouring ones exactly.
        const long double low = bounds[i - 1];
        const long double high = b;
        if (std::isinf(low) && std::isinf(high)) {
            probes.push_back(0);
        } else if (std::isinf(low)) {
            probes.push_back(high - std::fabs(high) - 1);
        } else if (std::isinf(high)) {
            probes.push_back(low + std::fabs(low) + 1);
        } else {
            probes.push_back((low + high) / 2);
        }
    }
    return probes;
}

// The probes that are doubles, for the core's own membership test.
bool is_double(long double x) {
    return std::isinf(x) || (std::fabs(x) <= largest && static_cast<long double>(static_cast<double>(x)) == x);
}

// Every bound of `result` is, bit for bit, a bound of one of the operands: the algebra never makes up a
// number, nor flips the sign of a zero.
bool bounds_come_from(const Segments& result, std::initializer_list<const Segments*> operands) {
    auto known = [&](double x) {
        for (const Segments* list : operands) {
            for (const Segment& s : *list) {
                if (same_bits(s.start, x) || same_bits(s.end, x)) {
                    return true;
                }
            }
        }
        return false;
    };
    return std::all_of(result.begin(), result.end(),
                       [&](const Segment& s) { return known(s.start) && known(s.end); });
}

// --- The number text ---

// Returns the fewest significant digits with which some decimal reads back to `value` (finite, not
// zero). printf gives the nearest decimal of each length; at a power of two the doubles below are twice as
// dense as above, so a decimal one unit further in the last digit may read back when the nearest does not.
std::size_t shortest_length(double value) {
    const double magnitude = std::fabs(value);
    for (int precision = 0; precision < 17; ++precision) {
        char nearest[64];
        std::snprintf(nearest, sizeof nearest, "%.*e", precision, magnitude);
        // "d.ddde±x" as one integer of digits and the power of ten of its last digit.
        std::uint64_t digits = 0;
        const char* c = nearest;
        for (; *c != 'e'; ++c) {
            if (*c != '.') {
                digits = digits * 10 + static_cast<std::uint64_t>(*c - '0');
            }
        }
        const int scale = std::atoi(c + 1) - precision;
        for (const std::uint64_t candidate : {digits, digits - 1, digits + 1}) {
            char text[64];
            std::snprintf(text, sizeof text, "%" PRIu64 "e%d", candidate, scale);
            if (std::strtod(text, nullptr) == magnitude) {
                return static_cast<std::size_t>(precision) + 1;
            }
        }
    }
    return 17;
}

// Reads the number at the start of `text` into `value` and returns its length, 0 when there is none. strtod
// (the fuzzers never change the "C" locale) stands in for std::from_chars, which libc++ 14 lacks for double;
// what strtod alone accepts (spaces, '+', hexadecimal) is refused.
std::size_t read_number(std::string_view text, double& value) {
    const std::string copy(text);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    const std::size_t length = static_cast<std::size_t>(end - copy.c_str());
    const bool plain = length > 0 && (copy[0] == '-' || copy[0] == 'i' || (copy[0] >= '0' && copy[0] <= '9')) &&
                       copy.find_first_of("xX") >= length;
    return plain ? length : 0;
}

// Checks one number's text: positional, the sign shown for every negative value (-0 too), the shortest
// digits, and reading back to the same bits.
void check_number(double value) {
    std::string text;
    velnor::interval::append_number(text, value);
    std::string_view rest = text;
    check(std::signbit(value) == (!rest.empty() && rest[0] == '-'), "number text: sign");
    if (std::signbit(value)) {
        rest.remove_prefix(1);
    }
    if (std::isinf(value)) {
        check(rest == "inf", "number text: infinity");
        return;
    }
    check(!rest.empty() && rest.find_first_not_of("0123456789.") == std::string_view::npos,
          "number text: not positional digits");
    double back = 0;
    check(read_number(text, back) == text.size(), "number text does not parse");
    check(same_bits(back, value), "number text does not read back to the same double");
    const std::size_t point = rest.find('.');
    check((point == std::string_view::npos) == (value == std::trunc(value)),
          "number text: a decimal point exactly for values with a fraction");
    const std::string_view whole = rest.substr(0, point);
    check(whole == "0" || (!whole.empty() && whole[0] != '0'), "number text: a leading zero");
    if (point != std::string_view::npos) {
        check(point + 1 < rest.size() && rest.back() != '0', "number text: a trailing zero after the point");
    }
    if (value == 0) {
        check(rest == "0", "number text: zero");
        return;
    }
    std::string significant;
    for (const char c : rest) {
        if (c != '.' && !(significant.empty() && c == '0')) {
            significant.push_back(c);
        }
    }
    while (significant.size() > 1 && significant.back() == '0') {
        significant.pop_back();
    }
    check(significant.size() == shortest_length(value), "number text: not the shortest digits that read back");
}

// Reads texts back: a cursor over the text that fails on anything unexpected.
class Parser {
public:
    explicit Parser(std::string_view text) : rest_(text) {}
    void expect(std::string_view literal) {
        check(rest_.substr(0, literal.size()) == literal, "text form: unexpected characters");
        rest_.remove_prefix(literal.size());
    }
    bool next_is(std::string_view literal) const { return rest_.substr(0, literal.size()) == literal; }
    bool flag() {
        if (next_is("True")) {
            expect("True");
            return true;
        }
        expect("False");
        return false;
    }
    double number() {
        double value = 0;
        const std::size_t length = read_number(rest_, value);
        check(length > 0, "text form: a bound that does not parse");
        rest_.remove_prefix(length);
        return value;
    }
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

Segments parse_repr(std::string_view text) {
    Parser in(text);
    Segments out;
    in.expect("Interval([");
    while (!in.next_is("])")) {
        if (!out.empty()) {
            in.expect(", ");
        }
        Segment s{false, 0.0, 0.0, false};
        in.expect("(");
        s.left_closed = in.flag();
        in.expect(", ");
        s.start = in.number();
        in.expect(", ");
        s.end = in.number();
        in.expect(", ");
        s.right_closed = in.flag();
        in.expect(")");
        out.push_back(s);
    }
    in.expect("])");
    check(in.done(), "repr: text after the end");
    return out;
}

Segments parse_str(std::string_view text) {
    Segments out;
    if (text == "\u2205") {
        return out;
    }
    Parser in(text);
    do {
        if (!out.empty()) {
            in.expect(" \u222A ");
        }
        Segment s{false, 0.0, 0.0, false};
        s.left_closed = in.next_is("[");
        in.expect(s.left_closed ? "[" : "(");
        s.start = in.number();
        in.expect(", ");
        s.end = in.number();
        s.right_closed = in.next_is("]");
        in.expect(s.right_closed ? "]" : ")");
        out.push_back(s);
    } while (!in.done());
    return out;
}

// --- The cores under test ---

// Validates and merges as the constructor does; checks the defect reported and the merged list.
Segments construct(const Segments& raw) {
    namespace iv = velnor::interval;
    Segments as_given = raw;
    const Defect expected = first_defect(raw);
    check(iv::keep_valid(as_given) == expected, "keep_valid reports the wrong defect");
    Segments list = usable(raw);
    if (expected == Defect::none) {
        check(same_bits(as_given, list), "keep_valid kept other segments than the valid, non-empty ones");
    }
    Segments again = list;
    check(iv::keep_valid(again) == Defect::none && same_bits(again, list), "keep_valid changed a valid list");
    iv::merge_segments(list);
    check(normalised(list), "merge_segments left a list that is not normalised");
    Segments twice = list;
    iv::merge_segments(twice);
    check(same_bits(twice, list), "merge_segments is not idempotent");
    return list;
}

Segments merged_concatenation(std::initializer_list<const Segments*> lists) {
    Segments all;
    for (const Segments* list : lists) {
        all.insert(all.end(), list->begin(), list->end());
    }
    velnor::interval::merge_segments(all);
    return all;
}

void check_from_span(Reader& reader) {
    namespace sp = velnor::span;
    sp::Segments spans(reader.byte() % 8);
    for (sp::Segment& s : spans) {
        const std::int64_t x = reader.span_bound();
        const std::int64_t y = reader.span_bound();
        s = {std::min(x, y), std::max(x, y)};
    }
    sp::merge_segments(spans);
    const Segments converted = velnor::interval::from_span(spans);
    check(normalised(converted), "from_span left a list that is not normalised");
    Segments hull;  // each span segment as the closed segment of its rounded bounds
    bool exact = true;
    for (const sp::Segment& s : spans) {
        const auto start = static_cast<double>(s.start);
        const auto end = static_cast<double>(s.end);
        hull.push_back({true, start, end, true});
        exact = exact && static_cast<long double>(start) == s.start && static_cast<long double>(end) == s.end;
    }
    check(!exact || converted.size() == spans.size(), "from_span merged segments that were apart");
    std::vector<double> bounds;
    add_bounds(bounds, hull);
    for (const long double x : probes_around(bounds)) {
        check(member(converted, x) == member(hull, x), "from_span changed the set");
    }
}

// `in_place(receiver, b)` over copies of a whose storage is one segment short of the room the operation
// asks (both lists and `slack`; a fresh result), exactly that room, more, twice it, and more than twice (a
// fresh result again): each must leave `expected` in the receiver, bit for bit, and a receiver with room
// must keep its storage.
template <class InPlace>
void check_in_place(const Segments& a, const Segments& b, const Segments& expected, std::size_t slack,
                    InPlace in_place, const char* message) {
    const std::size_t room = a.size() + b.size() + slack;
    for (const std::size_t capacity : {room - 1, room, room + 1, 2 * room, 2 * room + 1}) {
        if (capacity < a.size() || capacity > 2 * room + 1) {  // the first wraps when both lists are empty
            continue;
        }
        Segments receiver;
        receiver.reserve(capacity);
        receiver.assign(a.begin(), a.end());
        const Segment* const storage = receiver.data();
        const bool fits = !a.empty() && !b.empty() && room <= receiver.capacity() && receiver.capacity() <= 2 * room;
        in_place(receiver, b);
        check(same_bits(receiver, expected), message);
        check(!fits || receiver.data() == storage, "an in-place operation with room left its storage");
    }
}

// `loop` run as the in-place forms run it, whatever the lengths: a moved to the tail of one buffer with room
// for both lists and `slack`, the result written from the buffer's start.
template <class Loop>
Segments over_own_storage(const Segments& a, const Segments& b, std::size_t slack, Loop loop) {
    Segments buffer(a.size() + b.size() + slack);
    std::copy(a.begin(), a.end(), buffer.end() - static_cast<std::ptrdiff_t>(a.size()));
    velnor::core::InterruptPoll poll;
    const std::span<const Segment> a_moved(buffer.data() + b.size() + slack, a.size());
    buffer.resize(loop(a_moved, b, buffer.data(), poll));
    return buffer;
}

// The branch-free loops, and the functions that choose between the two kinds, against the reference loops,
// bit for bit.
void check_against_reference(const Segments& a, const Segments& b) {
    namespace iv = velnor::interval;
    namespace fast = velnor::interval::branch_free;
    namespace reference = velnor::interval::reference;
    const Segments united = reference::unite(a, b);
    const Segments met = reference::intersect(a, b);
    const bool subset = reference::is_subset(a, b);
    const bool disjoint = reference::is_disjoint(a, b);
    check(same_bits(fast::unite(a, b), united) && same_bits(iv::unite(a, b), united),
          "unite differs from the reference loop");
    check(same_bits(fast::intersect(a, b), met) && same_bits(iv::intersect(a, b), met),
          "intersect differs from the reference loop");
    const Segments left = reference::subtract(a, b);
    check(same_bits(iv::subtract(a, b), left), "subtract differs from the reference loop");
    check(fast::is_subset(a, b) == subset && iv::is_subset(a, b) == subset, "is_subset differs from the reference loop");
    check(fast::is_disjoint(a, b) == disjoint && iv::is_disjoint(a, b) == disjoint,
          "is_disjoint differs from the reference loop");
    // Each loop over its own storage with the slack the in-place forms give it (the branch-free union asks
    // one segment of room beyond both lists), and the in-place forms from the first segment on, not only at
    // the lengths where writing over the receiver pays.
    using Loop = std::size_t (*)(std::span<const Segment>, std::span<const Segment>, Segment*,
                                 velnor::core::InterruptPoll&);
    struct Case {
        Loop loop;
        std::size_t slack;
        const Segments* expected;
    };
    for (const Case& loop : {Case{reference::unite, 0, &united}, Case{fast::unite, 1, &united},
                             Case{reference::intersect, 0, &met}, Case{fast::intersect, 0, &met},
                             Case{reference::subtract, 0, &left}}) {
        check(same_bits(over_own_storage(a, b, loop.slack, loop.loop), *loop.expected),
              "a loop over its own storage differs from the reference");
    }
    check_in_place(a, b, united, 1, [](Segments& r, const Segments& x) { iv::unite_in_place(r, x, 0); },
                   "unite_in_place differs from the reference loop");
    check_in_place(a, b, met, 0, [](Segments& r, const Segments& x) { iv::intersect_in_place(r, x, 0); },
                   "intersect_in_place differs from the reference loop");
    check_in_place(a, b, left, 0, [](Segments& r, const Segments& x) { iv::subtract_in_place(r, x, 0); },
                   "subtract_in_place differs from the reference loop");
}

// Two normalised lists long enough to cross the merge loops' blocks, drawn from a generator the input
// seeds: bounds on a coarse grid so that ends meet, either closure, zeros of either sign, and optionally
// the same list twice or lists that reach an infinity.
void check_long_lists(Reader& reader) {
    std::uint64_t state = reader.bits() | 1;
    const std::uint8_t shape = reader.byte();
    if ((shape & 16) == 0) {
        return;  // most inputs spend their time on the short lists
    }
    auto next = [&state](std::uint64_t below) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state % below;
    };
    constexpr double infinity = std::numeric_limits<double>::infinity();
    auto make = [&](std::size_t count) {
        Segments raw;
        double cursor = -static_cast<double>(next(40));
        for (std::size_t i = 0; i < count; ++i) {
            const double start = cursor + static_cast<double>(next(3));
            const double end = start + static_cast<double>(next(3));
            auto zero_sign = [&](double x) { return x == 0 && next(2) == 0 ? -0.0 : x; };
            raw.push_back({next(2) == 0, zero_sign(start), zero_sign(end), next(2) == 0});
            cursor = end;
        }
        if ((shape & 1) != 0 && !raw.empty()) {
            raw.front() = {false, -infinity, raw.front().end, raw.front().right_closed};
        }
        if ((shape & 4) != 0 && !raw.empty()) {
            raw.back() = {raw.back().left_closed, raw.back().start, infinity, false};
        }
        return construct(raw);
    };
    const Segments a = make(next(5000));
    const Segments b = (shape & 2) != 0 ? a : make(next(5000));
    check_against_reference(a, b);
    check_against_reference(b, a);
    check_against_reference(a, {});
    check_against_reference({}, a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace iv = velnor::interval;
    Reader reader(data, size);
    check_from_span(reader);
    const Segments raw_a = reader.raw_list();
    const Segments raw_b = reader.raw_list();
    const Segments raw_c = reader.raw_list();
    const Segments a = construct(raw_a);
    const Segments b = construct(raw_b);
    const Segments c = construct(raw_c);
    const Segments valid_a = usable(raw_a);
    const Segments valid_b = usable(raw_b);
    const Segments valid_c = usable(raw_c);

    const Segments a_or_b = iv::unite(a, b);
    const Segments a_and_b = iv::intersect(a, b);
    const Segments a_minus_b = iv::subtract(a, b);
    const Segments a_and_b_and_c = iv::intersect(a_and_b, c);
    const Segments a_minus_b_or_c = iv::subtract(a, iv::unite(b, c));
    Segments union_of_three = a;
    const Segments* others[] = {&b, &c};
    iv::unite_all(union_of_three, others);
    const Segments& all = union_of_three;

    for (const Segments* result : {&a_or_b, &a_and_b, &a_minus_b, &a_and_b_and_c, &a_minus_b_or_c, &all}) {
        check(normalised(*result), "an algebra result is not normalised");
        check(bounds_come_from(*result, {&a, &b, &c}), "an algebra result has a bound no operand has");
    }
    // The unions promise the very list, signs of zero included, that concatenating and merging gives.
    check(same_bits(a_or_b, merged_concatenation({&a, &b})), "unite differs from merging the concatenation");
    check(same_bits(all, merged_concatenation({&a, &b, &c})), "unite_all differs from merging the concatenation");
    Segments a_or_b_again = a;
    iv::unite_all(a_or_b_again, std::span<const Segments* const>(others, 1));
    check(same_bits(a_or_b_again, a_or_b), "unite_all with one list differs from unite");
    Segments a_unchanged = a;
    iv::unite_all(a_unchanged, {});
    check(same_bits(a_unchanged, a), "unite_all with no list changed its target");
    // A normalised list is canonical up to the sign of a zero bound, which compares equal.
    check(a_or_b == iv::unite(b, a), "union is not symmetric");
    check(a_and_b == iv::intersect(b, a), "intersection is not symmetric");

    std::vector<double> bounds;
    for (const Segments* list : {&valid_a, &valid_b, &valid_c}) {
        add_bounds(bounds, *list);
    }
    bool subset = true;
    bool superset = true;
    bool disjoint = true;
    for (const long double x : probes_around(bounds)) {
        const bool in_a = member(valid_a, x);
        const bool in_b = member(valid_b, x);
        const bool in_c = member(valid_c, x);
        check(member(a, x) == in_a && member(b, x) == in_b && member(c, x) == in_c,
              "merge_segments changed the set");
        check(!is_double(x) || iv::contains(a, static_cast<double>(x)) == in_a,
              "contains disagrees with the point model");
        check(member(a_or_b, x) == (in_a || in_b), "union disagrees with the point model");
        check(member(a_and_b, x) == (in_a && in_b), "intersection disagrees with the point model");
        check(member(a_minus_b, x) == (in_a && !in_b), "difference disagrees with the point model");
        check(member(all, x) == (in_a || in_b || in_c), "union of three disagrees with the point model");
        check(member(a_and_b_and_c, x) == (in_a && in_b && in_c),
              "intersection of three disagrees with the point model");
        check(member(a_minus_b_or_c, x) == (in_a && !in_b && !in_c),
              "difference of a union disagrees with the point model");
        subset = subset && (!in_a || in_b);
        superset = superset && (!in_b || in_a);
        disjoint = disjoint && !(in_a && in_b);
    }
    check(!iv::contains(a, not_a_number), "NaN is in an interval");
    check(iv::is_subset(a, b) == subset, "is_subset disagrees with the point model");
    check(iv::is_subset(b, a) == superset, "is_subset (reversed) disagrees with the point model");
    check(iv::is_disjoint(a, b) == disjoint, "is_disjoint disagrees with the point model");
    check(iv::is_disjoint(b, a) == disjoint, "is_disjoint is not symmetric");

    // Text forms read back to the very list, and each bound's text is checked on its own.
    for (const Segments* list : {&a, &a_minus_b}) {
        check(same_bits(parse_repr(iv::format_repr(*list)), *list), "repr does not read back to the list");
        check(same_bits(parse_str(iv::format_str(*list)), *list), "str does not read back to the list");
        for (const Segment& s : *list) {
            check_number(s.start);
            check_number(s.end);
        }
    }
    for (const Segments* x : {&a, &b, &c}) {
        for (const Segments* y : {&a, &b, &c, &a_or_b, &a_and_b, &a_minus_b}) {
            check_against_reference(*x, *y);
        }
    }
    check_long_lists(reader);
    const double any = std::bit_cast<double>(reader.bits());
    if (!std::isnan(any)) {
        check_number(any);
    }
    return 0;
}
