// Fuzz target: the text core (forward and backward searchers, disjoint match lists, unit counting) against a
// naive reference.
//
// The first byte picks the shape of text and pattern:
// - bytes from a small alphabet (or any byte), so that matches and near misses are common;
// - a long periodic text with a slice of it as pattern, mutated or not: the prefilter's rare bytes sit in
//   place in window after window while verification fails, until it hands over to Two-Way;
// - copies of the pattern, whole or cut, some with one byte changed, end to end;
// - valid UTF-8 mixing 1- to 4-byte characters that share continuation bytes, so that byte-level near
//   misses straddle character boundaries.
// A repeat count then stretches the text past the searchers' 32-window blocks and the unit counters'
// byte blocks. Two-Way also runs on its own over every input, since the searchers reach it only once
// their prefilter stops paying. The reference tries every window with memcmp and decodes UTF-8 to count
// units.
#include "text/matches.hpp"
#include "text/searcher.hpp"
#include "text/units.hpp"
#include "harness.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace text = velnor::text;

const char* const fuzz::target_name = "text_search";

namespace {

using fuzz::check;
using fuzz::fail;

constexpr std::size_t max_text = 4096;
constexpr std::size_t npos = std::string_view::npos;

using Reader = fuzz::ByteReader;

// Positions to ask the searchers from, drawn from a seed the input gives (splitmix64): the text takes up
// the rest of the input, and the fuzzer need not learn where the queries start.
class Draw {
public:
    explicit Draw(std::uint64_t seed) : state_(seed) {}
    // Returns a value in [0, count).
    std::size_t below(std::size_t count) {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        return static_cast<std::size_t>((z ^ (z >> 31)) % count);
    }

private:
    std::uint64_t state_;
};

// --- Reference ---

// Every window of the text that holds a non-empty pattern, found by memcmp at each start; what the
// searchers must answer is read off this table.
class Reference {
public:
    Reference(std::string_view t, std::string_view p) : m_(p.size()), n_(t.size()), holds_(t.size() + 1, false) {
        if (m_ == 0) {
            return;  // the empty pattern has its own rule
        }
        for (std::size_t j = 0; m_ <= n_ && j <= n_ - m_; ++j) {
            holds_[j] = std::memcmp(t.data() + j, p.data(), m_) == 0;
        }
        for (std::size_t j = find(0); j != npos; j = find(j + m_)) {
            forward_.push_back(j);
        }
        for (std::size_t j = rfind(n_); j != npos; j = rfind(j)) {
            backward_.push_back(j);
        }
    }

    // Returns the leftmost window at or after `from` that holds the pattern, or npos.
    std::size_t find(std::size_t from) const {
        for (std::size_t j = from; j + m_ <= n_; ++j) {
            if (holds_[j]) {
                return j;
            }
        }
        return npos;
    }

    // Returns the rightmost window ending at or before `bound` that holds the pattern, or npos.
    std::size_t rfind(std::size_t bound) const {
        for (std::size_t j = bound < m_ ? 0 : bound - m_ + 1; j-- > 0;) {
            if (holds_[j]) {
                return j;
            }
        }
        return npos;
    }

    // The disjoint occurrences, leftmost first and rightmost first.
    const std::vector<std::size_t>& forward() const { return forward_; }
    const std::vector<std::size_t>& backward() const { return backward_; }

private:
    std::size_t m_;
    std::size_t n_;
    std::vector<bool> holds_;
    std::vector<std::size_t> forward_;
    std::vector<std::size_t> backward_;
};

// Strict UTF-8 decoding: the offsets where characters start (and the end), and the code points.
struct Decoded {
    std::vector<std::size_t> starts;
    std::vector<std::uint32_t> code_points;
};

std::optional<Decoded> decode(std::string_view bytes) {
    Decoded out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        std::uint32_t value = 0;
        std::uint32_t smallest = 0;
        if (lead < 0x80) {
            length = 1, value = lead;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            length = 2, value = lead & 0x1F, smallest = 0x80;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3, value = lead & 0x0F, smallest = 0x800;
        } else if (lead >= 0xF0 && lead < 0xF8) {
            length = 4, value = lead & 0x07, smallest = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + length > bytes.size()) {
            return std::nullopt;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next >> 6) != 2) {
                return std::nullopt;
            }
            value = value << 6 | (next & 0x3F);
        }
        if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return std::nullopt;
        }
        out.starts.push_back(i);
        out.code_points.push_back(value);
        i += length;
    }
    out.starts.push_back(bytes.size());
    return out;
}

void encode(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// --- Shapes of input ---

// Letters of a small alphabet, or (alphabet size 0) any byte.
std::string small_alphabet_bytes(Reader& r, std::size_t count, unsigned alphabet) {
    std::string out;
    for (std::size_t i = 0; i < count && !r.done(); ++i) {
        const std::uint8_t b = r.byte();
        out.push_back(alphabet == 0 ? static_cast<char>(b) : static_cast<char>('a' + b % alphabet));
    }
    return out;
}

// Characters of one to four bytes, several ending in the same continuation byte (0xA9 or 0x80), and the
// edges of each length; a high byte brings in any scalar value instead.
constexpr std::uint32_t characters[] = {
    'a', 'b', 0xE9, 0x169, 0x20A9, 0x20AC, 0x1F629, 0x1F600,
    0x10000, 0xFFFF, 0x80, 0x7FF, 0x800, 0x10FFFF, 0xA9, 0x29,
};

std::string utf8_characters(Reader& r, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count && !r.done(); ++i) {
        const std::uint8_t b = r.byte();
        if (b < 240) {
            encode(out, characters[b % 16]);
            continue;
        }
        const std::uint32_t high = r.byte();
        std::uint32_t c = (high << 16 | static_cast<std::uint32_t>(r.word())) % 0x110000;
        if (c >= 0xD800 && c <= 0xDFFF) {
            c += 0x800;  // past the surrogates, which have no UTF-8 form
        }
        encode(out, c);
    }
    return out;
}

std::string repeated(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times && out.size() + piece.size() <= max_text; ++i) {
        out += piece;
    }
    return out;
}

struct Case {
    std::string text;
    std::string pattern;
};

Case small_alphabet_case(Reader& r) {
    const unsigned alphabet = r.byte() % 5;  // 0: any byte
    const std::size_t pattern_size = r.byte() % 72;
    const std::size_t times = 1 + r.byte() % 64;
    Case c;
    c.pattern = small_alphabet_bytes(r, pattern_size, alphabet);
    c.text = repeated(small_alphabet_bytes(r, 256, alphabet), times);
    return c;
}

Case periodic_case(Reader& r) {
    const std::size_t unit_size = 1 + r.byte() % 7;
    const std::string unit = small_alphabet_bytes(r, unit_size, 2 + r.byte() % 2);
    const std::size_t size = r.word() % max_text;
    Case c;
    if (unit.empty()) {
        return c;
    }
    for (std::size_t i = 0; i < size; ++i) {
        c.text.push_back(unit[i % unit.size()]);
    }
    for (std::size_t mutations = r.byte() % 4; mutations > 0 && !c.text.empty(); --mutations) {
        const std::size_t at = r.word() % c.text.size();
        c.text[at] = static_cast<char>('a' + r.byte() % 4);
    }
    const std::size_t start = c.text.empty() ? 0 : r.word() % c.text.size();
    c.pattern = c.text.substr(start, 1 + r.byte() % 160);
    if (r.byte() % 2 == 1 && !c.pattern.empty()) {
        const std::size_t at = r.byte() % c.pattern.size();
        c.pattern[at] = static_cast<char>('a' + r.byte() % 4);
    }
    return c;
}

// Copies of the pattern, whole or cut, some with one byte changed, laid end to end: near misses at every
// shift, the densest load of failed verifications.
Case soup_case(Reader& r, Draw& draw) {
    const unsigned alphabet = 2 + r.byte() % 3;
    const std::size_t pieces = r.byte();
    const std::size_t pattern_size = 1 + r.byte() % 96;
    Case c;
    c.pattern = small_alphabet_bytes(r, pattern_size, alphabet);
    if (c.pattern.empty()) {
        return c;
    }
    const std::size_t m = c.pattern.size();
    for (std::size_t i = 0; i < pieces && c.text.size() < max_text; ++i) {
        std::string piece = c.pattern;
        if (draw.below(2) == 0) {
            piece = piece.substr(draw.below(m), 1 + draw.below(m));
        }
        if (draw.below(2) == 0) {
            piece[draw.below(piece.size())] = static_cast<char>('a' + draw.below(alphabet));
        }
        c.text += piece;
    }
    return c;
}

Case utf8_case(Reader& r) {
    const std::uint8_t how = r.byte();
    const std::size_t pattern_count = r.byte() % 24;
    const std::size_t times = 1 + r.byte() % 32;
    const std::size_t slice_at = r.word();
    Case c;
    std::string own_pattern = utf8_characters(r, pattern_count);
    const std::string piece = utf8_characters(r, 128);
    c.text = repeated(piece, times);
    if (how % 2 == 0 || c.text.empty()) {
        c.pattern = std::move(own_pattern);
        return c;
    }
    // A slice of the text on character boundaries.
    const Decoded decoded = *decode(c.text);
    const std::size_t characters_in_text = decoded.code_points.size();
    const std::size_t first = slice_at % (characters_in_text + 1);
    const std::size_t last = std::min(characters_in_text, first + pattern_count);
    c.pattern = c.text.substr(decoded.starts[first], decoded.starts[last] - decoded.starts[first]);
    return c;
}

// --- Checks ---

template <class List>
bool equal(const List& got, const std::vector<std::size_t>& expected) {
    return got.size() == expected.size() && std::equal(got.begin(), got.end(), expected.begin());
}

void check_byte_matches(const std::string& t, const std::string& p, const Reference& expected) {
    check(equal(text::match_positions(t, p, text::Unit::byte), expected.forward()),
          "forward byte matches disagree with the reference");
    check(equal(text::rmatch_positions(t, p, text::Unit::byte), expected.backward()),
          "backward byte matches disagree with the reference");
    if (p.size() == 1) {
        // The one-byte route: the offsets kept from a first pass, as many as fit, and the count of all.
        const std::vector<std::size_t>& all = expected.forward();
        std::size_t kept[8];
        for (std::size_t room = 0; room <= std::size(kept); ++room) {
            const std::size_t held = text::first_bytes(t, p[0], std::span<std::size_t>(kept, room));
            check(held == std::min(room, all.size()) && std::equal(kept, kept + held, all.begin()),
                  "first_bytes disagrees with the reference");
        }
        check(text::count_byte(t, p[0]) == all.size(), "count_byte disagrees with the reference");
    }
}

// The searchers read UTF-8 as a span of bytes.
std::span<const unsigned char> as_units(const std::string& s) {
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// One searcher of each direction asked from positions the input chooses, in the order it chooses: the
// prefilter's budget carries over between calls, so later calls may start in Two-Way.
void check_searchers(const std::string& t, const std::string& p, const Reference& expected, Draw& draw) {
    text::ForwardSearcher<unsigned char> forward(as_units(p));
    text::BackwardSearcher<unsigned char> backward(as_units(p));
    for (int query = 0; query < 8; ++query) {
        const std::size_t from = draw.below(t.size() + 2);
        check(forward.find(as_units(t), from) == expected.find(from), "ForwardSearcher::find disagrees");
        // Every other bound lies near the end, where the backward search starts.
        const std::size_t back = query % 2 == 0 ? std::min<std::size_t>(t.size(), 39) : t.size();
        const std::size_t bound = t.size() - draw.below(back + 1);
        check(backward.rfind(as_units(t), bound) == expected.rfind(bound), "BackwardSearcher::rfind disagrees");
    }
}

// Two-Way on its own, as the searchers run it once the prefilter stops paying: the whole disjoint list in
// each direction, so that every shift rule meets every input.
void check_two_way(const std::string& t, const std::string& p, const Reference& expected) {
    const auto* text_bytes = reinterpret_cast<const unsigned char*>(t.data());
    const auto* pattern_bytes = reinterpret_cast<const unsigned char*>(p.data());
    using Forward = text::Forward<unsigned char>;
    using Mirrored = text::Mirrored<unsigned char>;
    const Forward whole{text_bytes, t.size()};
    const text::TwoWay<Forward> forward(Forward{pattern_bytes, p.size()});
    std::vector<std::size_t> found;
    for (std::size_t j = forward.find(whole, 0); j != npos; j = forward.find(whole, j + p.size())) {
        found.push_back(j);
    }
    check(found == expected.forward(), "Two-Way forward disagrees with the reference");
    // The leftmost hit in the mirrored text before `limit` is the rightmost occurrence ending by `limit`.
    const text::TwoWay<Mirrored> backward(Mirrored{pattern_bytes, p.size()});
    found.clear();
    for (std::size_t limit = t.size();;) {
        const std::size_t hit = backward.find(Mirrored{text_bytes, limit}, 0);
        if (hit == npos) {
            break;
        }
        limit -= p.size() + hit;
        found.push_back(limit);
    }
    check(found == expected.backward(), "Two-Way on the mirrored text disagrees with the reference");
}

// Converts byte offsets at character starts to code points and UTF-16 units before them.
struct UnitTable {
    std::vector<std::size_t> code_points;  // by byte offset; npos inside a character
    std::vector<std::size_t> utf16;

    explicit UnitTable(const Decoded& d, std::size_t size)
        : code_points(size + 1, npos), utf16(size + 1, npos) {
        std::size_t units = 0;
        for (std::size_t i = 0; i < d.starts.size(); ++i) {
            code_points[d.starts[i]] = i;
            utf16[d.starts[i]] = units;
            if (i < d.code_points.size()) {
                units += d.code_points[i] > 0xFFFF ? 2 : 1;
            }
        }
    }

    std::vector<std::size_t> convert(const std::vector<std::size_t>& offsets, text::Unit unit) const {
        std::vector<std::size_t> out;
        for (const std::size_t offset : offsets) {
            const std::size_t value = unit == text::Unit::code_point ? code_points[offset]
                                      : unit == text::Unit::utf16    ? utf16[offset]
                                                                     : offset;
            check(value != npos, "a match starts inside a character");
            out.push_back(value);
        }
        return out;
    }
};

void check_units(const std::string& t, const std::string& p, const Reference& expected, const Decoded& d,
                 Draw& draw) {
    const UnitTable table(d, t.size());
    // The empty pattern occurs at every character boundary, the end included.
    const std::vector<std::size_t> forward = p.empty() ? d.starts : expected.forward();
    const std::vector<std::size_t> backward =
        p.empty() ? std::vector<std::size_t>(d.starts.rbegin(), d.starts.rend()) : expected.backward();
    for (const text::Unit unit : {text::Unit::code_point, text::Unit::utf16, text::Unit::byte}) {
        check(equal(text::match_positions(t, p, unit), table.convert(forward, unit)),
              "forward matches disagree with the reference in some unit");
        check(equal(text::rmatch_positions(t, p, unit), table.convert(backward, unit)),
              "backward matches disagree with the reference in some unit");
    }
    check(text::count_code_points(t) == d.code_points.size(), "count_code_points of the text");
    check(text::count_utf16_units(t) == table.utf16[t.size()], "count_utf16_units of the text");
    // A stretch between two character starts, as the cursor counts them.
    const std::size_t a = d.starts[draw.below(d.starts.size())];
    const std::size_t b = d.starts[draw.below(d.starts.size())];
    const std::size_t low = std::min(a, b);
    const std::size_t high = std::max(a, b);
    const std::string_view stretch = std::string_view(t).substr(low, high - low);
    check(text::count_code_points(stretch) == table.code_points[high] - table.code_points[low],
          "count_code_points of a stretch");
    check(text::count_utf16_units(stretch) == table.utf16[high] - table.utf16[low],
          "count_utf16_units of a stretch");
}

// The census of code points that a str hands over, surrogates included.
void check_census(const Decoded& d, Draw& draw) {
    std::vector<std::uint32_t> code_points = d.code_points;
    for (std::size_t extra = draw.below(8); extra > 0; --extra) {
        code_points.insert(code_points.begin() + static_cast<std::ptrdiff_t>(draw.below(code_points.size() + 1)),
                           static_cast<std::uint32_t>(0xD700 + draw.below(0x1200)));  // around the surrogates
    }
    std::size_t astral = 0;
    std::size_t surrogates = 0;
    for (const std::uint32_t c : code_points) {
        astral += c >= 0x10000;
        surrogates += c >= 0xD800 && c < 0xE000;
    }
    const text::Utf32Census got = text::census(code_points);
    check(got.astral == astral && got.surrogates == surrogates, "census disagrees with the reference");
}

// The byte scans of one kernel set against the scalar set's, over drawn ranges of the text: the range
// ends fall at every distance from the vector widths.
void check_kernels(const text::Kernels& k, const std::string& t, const std::string& p, Draw& draw) {
    const text::Kernels& scalar = *text::scalar_kernels();
    const auto* bytes = reinterpret_cast<const unsigned char*>(t.data());
    for (int query = 0; query < 8 && !t.empty(); ++query) {
        const std::size_t a = draw.below(t.size() + 1);
        const std::size_t b = draw.below(t.size() + 1);
        const std::size_t from = std::min(a, b);
        const std::size_t end = std::max(a, b);
        const auto byte = static_cast<unsigned char>(p.empty() ? t[draw.below(t.size())] : p[draw.below(p.size())]);
        check(k.rfind_byte(bytes, from, end, byte) == scalar.rfind_byte(bytes, from, end, byte),
              "rfind_byte disagrees with the scalar set");
        // A pair of offsets below the span's length, the window starts kept so that both stay inside.
        const std::size_t span = 1 + draw.below(std::min<std::size_t>(t.size(), 80));
        const text::RarePair pair{draw.below(span), draw.below(span)};
        const std::size_t last = t.size() - span + 1;  // one past the last window start
        const std::size_t lo = std::min(from, last);
        const std::size_t hi = std::min(end, last);
        const auto first = static_cast<unsigned char>(t[draw.below(t.size())]);
        const auto second = static_cast<unsigned char>(t[draw.below(t.size())]);
        check(k.find_pair8(bytes, lo, hi, pair, first, second) == scalar.find_pair8(bytes, lo, hi, pair, first, second),
              "find_pair8 disagrees with the scalar set");
        check(k.rfind_pair8(bytes, lo, hi, pair, first, second) ==
                  scalar.rfind_pair8(bytes, lo, hi, pair, first, second),
              "rfind_pair8 disagrees with the scalar set");
    }
}

void check_all(const Case& c, Draw& draw) {
    const Reference expected(c.text, c.pattern);
    if (!c.pattern.empty()) {
        check_byte_matches(c.text, c.pattern, expected);
        check_two_way(c.text, c.pattern, expected);
        check_searchers(c.text, c.pattern, expected, draw);
    }
    // Python hands over valid UTF-8 only: units and the empty pattern are checked on such texts.
    const std::optional<Decoded> decoded = decode(c.text);
    if (decoded && decode(c.pattern)) {
        check_units(c.text, c.pattern, expected, *decoded, draw);
        check_census(*decoded, draw);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader r(data, size);
    const std::uint8_t shape = r.byte();
    Draw draw(r.byte());
    Case c;
    switch (shape % 4) {
        case 0: c = small_alphabet_case(r); break;
        case 1: c = periodic_case(r); break;
        case 2: c = soup_case(r, draw); break;
        default: c = utf8_case(r); break;
    }
    for (const text::Kernels* k : text::available_kernels()) {
        check(text::use_kernels(k->name), "a kernel set the CPU runs was refused");
        Draw per_set = draw;  // every set meets the same queries
        check_all(c, per_set);
        check_kernels(*k, c.text, c.pattern, per_set);
    }
    return 0;
}
