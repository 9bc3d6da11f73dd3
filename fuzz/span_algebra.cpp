// Fuzz target: the integer segment core (merge_segments, the set algebra, the text forms) against a
// brute-force reference.
//
// The input decodes into three raw segment lists whose bounds are small integers or values at the ends of
// the int64 range, where the "touching" tests are easiest to get wrong. The reference decides membership by
// scanning the raw segments, and it is asked only at probe points: every bound of every list involved and
// its two neighbours. Membership can change only between an end and the next integer, so agreeing on the
// probes means agreeing everywhere.
#include "core/segment_index.hpp"
#include "span/algebra.hpp"
#include "span/algebra_reference.hpp"
#include "span/format.hpp"
#include "span/segment.hpp"
#include "harness.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <vector>

using velnor::span::Segment;
using velnor::span::Segments;

const char* const fuzz::target_name = "span_algebra";

namespace {

using fuzz::check;
using fuzz::fail;

constexpr std::int64_t min_value = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t max_value = std::numeric_limits<std::int64_t>::max();

class Reader : public fuzz::ByteReader {
public:
    using ByteReader::ByteReader;

    // Mostly small values, so that segments meet; one byte in eight is near an end of the int64 range.
    std::int64_t bound() {
        const std::uint8_t b = byte();
        if (b < 224) {
            return static_cast<std::int64_t>(b % 40) - 20;
        }
        const std::int64_t offset = (b - 224) % 16;
        return b < 240 ? min_value + offset : max_value - offset;
    }

    Segments raw_list() {
        const std::size_t count = byte() % 10;
        Segments list;
        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t x = bound();
            const std::int64_t y = bound();
            list.push_back({std::min(x, y), std::max(x, y)});
        }
        return list;
    }

};

bool member(const Segments& list, std::int64_t x) {
    return std::any_of(list.begin(), list.end(), [x](const Segment& s) { return s.start <= x && x <= s.end; });
}

void add_probes(std::vector<std::int64_t>& probes, const Segments& list) {
    for (const Segment& s : list) {
        for (const std::int64_t bound : {s.start, s.end}) {
            probes.push_back(bound);
            if (bound > min_value) {
                probes.push_back(bound - 1);
            }
            if (bound < max_value) {
                probes.push_back(bound + 1);
            }
        }
    }
}

std::string expected_text(const Segments& list, const char* open, const char* close, const char* separator) {
    std::string text;
    char buffer[64];
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%s%" PRId64 ", %" PRId64 "%s", i > 0 ? separator : "", open,
                      list[i].start, list[i].end, close);
        text += buffer;
    }
    return text;
}

Segments normalised(const Segments& raw) {
    Segments list = raw;
    velnor::span::merge_segments(list);
    check(velnor::span::is_normalised(list), "merge_segments left a list that is not normalised");
    Segments again = list;
    velnor::span::merge_segments(again);
    check(again == list, "merge_segments is not idempotent");
    return list;
}

// `in_place(receiver, b)` over copies of a whose storage is one segment short of room for both lists (a
// fresh result), exactly that room, more, twice it, and more than twice (a fresh result again): each must
// leave `expected` in the receiver, and a receiver with room must keep its storage.
template <class InPlace>
void check_in_place(const Segments& a, const Segments& b, const Segments& expected, InPlace in_place,
                    const char* message) {
    const std::size_t both = a.size() + b.size();
    for (const std::size_t capacity : {both - 1, both, both + 1, 2 * both, 2 * both + 1}) {
        if (capacity < a.size() || capacity > 2 * both + 1) {  // the first wraps when both lists are empty
            continue;
        }
        Segments receiver;
        receiver.reserve(capacity);
        receiver.assign(a.begin(), a.end());
        const Segment* const storage = receiver.data();
        const bool room = !a.empty() && !b.empty() && both <= receiver.capacity() && receiver.capacity() <= 2 * both;
        in_place(receiver, b);
        check(receiver == expected, message);
        check(!room || receiver.data() == storage, "an in-place operation with room left its storage");
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

// The branch-free and the branching loops, and the functions that choose between them, against the
// reference loops, result for result.
void check_against_reference(const Segments& a, const Segments& b) {
    namespace span = velnor::span;
    namespace fast = velnor::span::branch_free;
    namespace branching = velnor::span::branching;
    namespace reference = velnor::span::reference;
    const Segments united = reference::unite(a, b);
    const Segments met = reference::intersect(a, b);
    const Segments left = reference::subtract(a, b);
    const bool disjoint = reference::is_disjoint(a, b);
    check(fast::unite(a, b) == united && branching::unite(a, b) == united && span::unite(a, b) == united,
          "unite differs from the reference loop");
    check(fast::intersect(a, b) == met && branching::intersect(a, b) == met && span::intersect(a, b) == met,
          "intersect differs from the reference loop");
    check(fast::subtract(a, b) == left && branching::subtract(a, b) == left && span::subtract(a, b) == left,
          "subtract differs from the reference loop");
    check(fast::is_disjoint(a, b) == disjoint && span::is_disjoint(a, b) == disjoint,
          "is_disjoint differs from the reference loop");
    check(span::is_subset(a, b) == reference::is_subset(a, b), "is_subset differs from the reference loop");
    // Each loop over its own storage with no slack, and the in-place forms from the first segment on, not
    // only at the lengths where writing over the receiver pays.
    using Loop = std::size_t (*)(std::span<const Segment>, std::span<const Segment>, Segment*,
                                 velnor::core::InterruptPoll&);
    struct Case {
        Loop loop;
        const Segments* expected;
    };
    for (const Case& loop : {Case{reference::unite, &united}, Case{fast::unite, &united},
                             Case{branching::unite, &united}, Case{reference::intersect, &met},
                             Case{fast::intersect, &met}, Case{branching::intersect, &met},
                             Case{reference::subtract, &left}, Case{fast::subtract, &left},
                             Case{branching::subtract, &left}}) {
        check(over_own_storage(a, b, 0, loop.loop) == *loop.expected,
              "a loop over its own storage differs from the reference");
    }
    check_in_place(a, b, united, [](Segments& r, const Segments& x) { span::unite_in_place(r, x, 0); },
                   "unite_in_place differs from the reference loop");
    check_in_place(a, b, met, [](Segments& r, const Segments& x) { span::intersect_in_place(r, x, 0); },
                   "intersect_in_place differs from the reference loop");
    check_in_place(a, b, left, [](Segments& r, const Segments& x) { span::subtract_in_place(r, x, 0); },
                   "subtract_in_place differs from the reference loop");
}

// Two normalised lists long enough to cross the merge loops' blocks, drawn from a generator the input
// seeds: short gaps and lengths (so that segments touch, nest and cross), optionally the same list twice,
// one list shifted to touch the other, or lists that start at the bottom or end at the top of the range.
void check_long_lists(Reader& reader) {
    std::uint64_t state = reader.bits() | 1;
    auto next = [&state](std::uint64_t below) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return below == 0 ? 0 : state % below;
    };
    const std::uint8_t shape = reader.byte();
    if ((shape & 16) == 0) {
        return;  // most inputs spend their time on the short lists
    }
    auto make = [&](std::size_t count, std::int64_t from) {
        Segments list;
        std::int64_t cursor = from;
        for (std::size_t i = 0; i < count && cursor < max_value - 1000; ++i) {
            const std::int64_t start = i == 0 ? cursor : cursor + 2 + static_cast<std::int64_t>(next(6));
            const std::int64_t end = start + static_cast<std::int64_t>(next(4));
            list.push_back({start, end});
            cursor = end;
        }
        if ((shape & 4) != 0 && !list.empty()) {
            list.back().end = max_value;
        }
        return list;
    };
    const std::int64_t from = (shape & 1) != 0 ? min_value : -50;
    const Segments a = make(next(5000), from);
    Segments b = (shape & 2) != 0 ? a : make(next(5000), from + static_cast<std::int64_t>(next(3)));
    if ((shape & 8) != 0) {
        for (Segment& segment : b) {  // each segment of b ends just before one of a (touching) or inside it
            if (segment.start > min_value + 3) {
                segment.start -= 1 + static_cast<std::int64_t>(next(2));
            }
        }
        velnor::span::merge_segments(b);
    }
    check_against_reference(a, b);
    check_against_reference(b, a);
    check_against_reference(a, {});
    check_against_reference({}, a);
}

// A list long enough to be searched through the index, its gaps and lengths taken from the input (one
// byte each, wide steps now and then), starting at the bottom of the range or near zero and running to the
// top of the range when the input says so. Every answer through the index must be the plain search's.
void check_index(Reader& reader) {
    using Index = velnor::core::SegmentIndex<std::int64_t>;
    const std::size_t count = Index::indexed_from + std::size_t{reader.byte()} * 8 + reader.byte() % 8;
    Segments list;
    list.reserve(count);
    std::int64_t cursor = (reader.byte() & 1) != 0 ? min_value : -1000;
    const bool to_the_top = (reader.byte() & 1) != 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t gap = reader.byte();
        const std::uint8_t length = reader.byte();
        const std::int64_t start = cursor + (i == 0 ? 0 : 2 + (gap & 0x7f) * ((gap & 0x80) != 0 ? 1000003 : 1));
        const std::int64_t end = start + (length & 0x3f) * ((length & 0x40) != 0 ? 999 : 1);
        list.push_back({start, end});
        cursor = end;
    }
    if (to_the_top) {
        list.back().end = max_value;
    }
    Index index;
    for (const Segment& segment : list) {
        // Neighbours that would wrap at an end of the range are left out, as the bounds themselves.
        const std::int64_t below = segment.start != min_value ? segment.start - 1 : segment.start;
        const std::int64_t above = segment.end != max_value ? segment.end + 1 : segment.end;
        for (const std::int64_t x : {below, segment.start, segment.end, above}) {
            check(index.first_reaching(list, x) == velnor::core::first_reaching(list, x),
                  "the index disagrees with the plain search");
            check(velnor::span::contains(list, index, x) == velnor::span::contains(list, x),
                  "contains through the index disagrees with contains");
        }
    }
    check(index.built(), "a long list was searched without its index");
    for (const std::int64_t x : {min_value, max_value}) {
        check(index.first_reaching(list, x) == velnor::core::first_reaching(list, x), "an extreme probe differs");
    }
    index.reset();
    list.resize(list.size() / 2);
    check(velnor::span::contains(list, index, list.back().end) && !velnor::span::contains(list, index, max_value),
          "the index was not rebuilt after a reset");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace span = velnor::span;
    Reader reader(data, size);
    const Segments raw_a = reader.raw_list();
    const Segments raw_b = reader.raw_list();
    const Segments raw_c = reader.raw_list();
    const Segments a = normalised(raw_a);
    const Segments b = normalised(raw_b);
    const Segments c = normalised(raw_c);

    const Segments a_or_b = span::unite(a, b);
    const Segments a_and_b = span::intersect(a, b);
    const Segments a_minus_b = span::subtract(a, b);
    Segments union_of_three = a;
    const Segments* others[] = {&b, &c};
    span::unite_all(union_of_three, others);
    const Segments& all = union_of_three;
    Segments a_or_b_again = a;
    span::unite_all(a_or_b_again, std::span<const Segments* const>(others, 1));
    Segments a_unchanged = a;
    span::unite_all(a_unchanged, {});

    for (const Segments* result : {&a_or_b, &a_and_b, &a_minus_b, &all}) {
        check(span::is_normalised(*result), "an algebra result is not normalised");
    }
    // A normalised list is canonical: equal sets have equal lists.
    check(a_or_b == span::unite(b, a), "union is not symmetric");
    check(a_and_b == span::intersect(b, a), "intersection is not symmetric");
    check(a_or_b_again == a_or_b, "unite_all with one list differs from unite");
    check(a_unchanged == a, "unite_all with no list changed its target");

    std::vector<std::int64_t> probes = {min_value, max_value, 0};
    for (const Segments* list : {&raw_a, &raw_b, &raw_c, &a_or_b, &a_and_b, &a_minus_b, &all}) {
        add_probes(probes, *list);
    }
    bool subset = true;
    bool disjoint = true;
    for (const std::int64_t x : probes) {
        const bool in_a = member(raw_a, x);
        const bool in_b = member(raw_b, x);
        const bool in_c = member(raw_c, x);
        check(member(a, x) == in_a && member(b, x) == in_b && member(c, x) == in_c,
              "merge_segments changed the set");
        check(span::contains(a, x) == in_a, "contains disagrees with the reference");
        check(member(a_or_b, x) == (in_a || in_b), "union disagrees with the reference");
        check(member(a_and_b, x) == (in_a && in_b), "intersection disagrees with the reference");
        check(member(a_minus_b, x) == (in_a && !in_b), "difference disagrees with the reference");
        check(member(all, x) == (in_a || in_b || in_c), "union of three disagrees with the reference");
        subset = subset && (!in_a || in_b);
        disjoint = disjoint && !(in_a && in_b);
    }
    check(span::is_subset(a, b) == subset, "is_subset disagrees with the reference");
    check(span::is_disjoint(a, b) == disjoint, "is_disjoint disagrees with the reference");

    check(span::format_repr(a) == "Span([" + expected_text(a, "(", ")", ", ") + "])", "repr text");
    check(span::format_str(a) == (a.empty() ? "\u2205" : expected_text(a, "[", "]", " \u222A ")), "str text");
    for (const Segments* x : {&a, &b, &c}) {
        for (const Segments* y : {&a, &b, &c, &a_or_b, &a_and_b, &a_minus_b}) {
            check_against_reference(*x, *y);
        }
    }
    check_long_lists(reader);
    check_index(reader);
    return 0;
}
