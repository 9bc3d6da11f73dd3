// Fuzz target: the text core (forward and backward searchers, disjoint match lists, unit counting) against a
// naive reference.
//
// The first byte picks the shape of text and pattern:
// - bytes from a small alphabet (or any byte), so that matches and near misses are common;
// - a long periodic text with a slice of it as pattern, mutated or not: the prefilter's rare bytes sit in
//   place in window after window while verification fails, until it hands over to Two-Way;
// - valid UTF-8 mixing 1- to 4-byte characters that share continuation bytes, so that byte-level near
//   misses straddle character boundaries.
// A repeat count then stretches the text past the searchers' 32-window blocks and the unit counters'
// byte blocks. The reference tries every window with memcmp and decodes UTF-8 to count units.
#include "text/matches.hpp"
#include "text/searcher.hpp"
#include "text/units.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text = velnor::text;

namespace {

constexpr std::size_t max_text = 4096;
constexpr std::size_t npos = std::string_view::npos;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "text_search: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

// Reads the input one byte at a time; past the end every byte reads as 0.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    std::size_t word() {
        const std::size_t high = byte();
        return high << 8 | byte();
    }
    bool done() const { return position_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

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

// Leftmost window at or after `from` that holds the pattern, or npos.
std::size_t naive_find(std::string_view t, std::string_view p, std::size_t from) {
    for (std::size_t j = from; p.size() <= t.size() && j <= t.size() - p.size(); ++j) {
        if (std::memcmp(t.data() + j, p.data(), p.size()) == 0) {
            return j;
        }
    }
    return npos;
}

// Rightmost window ending at or before `bound` that holds the pattern, or npos.
std::size_t naive_rfind(std::string_view t, std::string_view p, std::size_t bound) {
    for (std::size_t j = bound + 1; j-- > 0;) {
        if (j + p.size() <= bound && std::memcmp(t.data() + j, p.data(), p.size()) == 0) {
            return j;
        }
    }
    return npos;
}

std::vector<std::size_t> naive_forward(std::string_view t, std::string_view p) {
    std::vector<std::size_t> out;
    for (std::size_t j = naive_find(t, p, 0); j != npos; j = naive_find(t, p, j + p.size())) {
        out.push_back(j);
    }
    return out;
}

std::vector<std::size_t> naive_backward(std::string_view t, std::string_view p) {
    std::vector<std::size_t> out;
    for (std::size_t j = naive_rfind(t, p, t.size()); j != npos; j = naive_rfind(t, p, j)) {
        out.push_back(j);
    }
    return out;
}

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

void check_byte_matches(const std::string& t, const std::string& p) {
    check(equal(text::match_positions(t, p, text::Unit::byte), naive_forward(t, p)),
          "forward byte matches disagree with the reference");
    check(equal(text::rmatch_positions(t, p, text::Unit::byte), naive_backward(t, p)),
          "backward byte matches disagree with the reference");
}

// One searcher of each direction asked from positions the input chooses, in the order it chooses: the
// prefilter's budget carries over between calls, so later calls may start in Two-Way.
void check_searchers(const std::string& t, const std::string& p, Draw& draw) {
    text::ForwardSearcher forward(p);
    text::BackwardSearcher backward(p);
    for (int query = 0; query < 8; ++query) {
        const std::size_t from = draw.below(t.size() + 2);
        check(forward.find(t, from) == naive_find(t, p, from), "ForwardSearcher::find disagrees");
        // Mostly near the end, where the backward search starts.
        const std::size_t bound = t.size() - draw.below(query % 2 == 0 ? std::min<std::size_t>(t.size() + 1, 40) : t.size() + 1);
        check(backward.rfind(t, bound) == naive_rfind(t, p, bound), "BackwardSearcher::rfind disagrees");
    }
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

void check_units(const std::string& t, const std::string& p, const Decoded& d, Draw& draw) {
    const UnitTable table(d, t.size());
    // The empty pattern occurs at every character boundary, the end included.
    const std::vector<std::size_t> forward = p.empty() ? d.starts : naive_forward(t, p);
    const std::vector<std::size_t> backward =
        p.empty() ? std::vector<std::size_t>(d.starts.rbegin(), d.starts.rend()) : naive_backward(t, p);
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
    check(text::count_utf16_units(stretch) == table.utf16[high] - table.utf16[low], "count_utf16_units of a stretch");
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader r(data, size);
    const std::uint8_t shape = r.byte();
    Draw draw(r.byte());
    Case c;
    switch (shape % 3) {
        case 0: c = small_alphabet_case(r); break;
        case 1: c = periodic_case(r); break;
        default: c = utf8_case(r); break;
    }
    if (!c.pattern.empty()) {
        check_byte_matches(c.text, c.pattern);
        check_searchers(c.text, c.pattern, draw);
    }
    // Python hands over valid UTF-8 only: units and the empty pattern are checked on such texts.
    const std::optional<Decoded> decoded = decode(c.text);
    if (decoded && decode(c.pattern)) {
        check_units(c.text, c.pattern, *decoded, draw);
        check_census(*decoded, draw);
    }
    return 0;
}
