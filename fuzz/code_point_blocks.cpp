// Fuzz target: the block-by-block search over UTF-32 code points (long non-ASCII texts) against a naive
// reference, in all three units and both directions.
//
// The input picks a small alphabet of code points (ASCII, Latin-1, CJK, astral), a seed run of them, a
// pattern (often cut from the seed, so matches are common) and a text length around one or two blocks, so
// that matches straddle block edges and the carried tail between blocks is exercised. The text repeats the
// seed, possibly with one code point changed per repetition, so periodic texts and near misses are common.
#include "text/code_point_matches.hpp"
#include "harness.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace text = velnor::text;

const char* const fuzz::target_name = "code_point_blocks";

namespace {

using fuzz::check;
using fuzz::fail;

using Reader = fuzz::ByteReader;

constexpr std::uint32_t alphabet[] = {'a', 'b', 0xE9, 0x7684, 0x4E00, 0x1F600, 0x1F389, 0x10FFFF};

// Units before each code-point index, by decoding nothing: each code point's units from its value.
std::vector<std::size_t> units_before(const std::vector<std::uint32_t>& text, text::Unit unit) {
    std::vector<std::size_t> before(text.size() + 1, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        before[i + 1] = before[i] + text::units_of(unit, text[i]);
    }
    return before;
}

// Leftmost-first disjoint starts, or rightmost-first disjoint starts, as code-point indices.
std::vector<std::size_t> naive(const std::vector<std::uint32_t>& t, const std::vector<std::uint32_t>& p,
                               bool reverse) {
    std::vector<std::size_t> starts;
    const std::size_t n = t.size();
    const std::size_t m = p.size();
    auto at = [&](std::size_t j) { return std::equal(p.begin(), p.end(), t.begin() + static_cast<long>(j)); };
    if (m > n) {
        return starts;
    }
    if (!reverse) {
        for (std::size_t j = 0; j + m <= n;) {
            if (at(j)) {
                starts.push_back(j);
                j += m == 0 ? 1 : m;
            } else {
                ++j;
            }
        }
    } else {
        for (std::size_t end = n;;) {
            if (end < m) {
                break;
            }
            const std::size_t j = end - m;
            if (at(j)) {
                starts.push_back(j);
                if (m == 0) {
                    if (j == 0) {
                        break;
                    }
                    end = j - 1;
                    continue;
                }
                end = j;
            } else {
                if (end == 0) {
                    break;
                }
                --end;
            }
        }
    }
    return starts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader input(data, size);
    const std::size_t letters = 2 + input.byte() % 7;
    std::vector<std::uint32_t> seed(1 + input.byte() % 64);
    for (auto& c : seed) {
        c = alphabet[input.byte() % letters];
    }
    const std::size_t from = input.byte() % seed.size();
    const std::size_t length = input.byte() % 40;
    std::vector<std::uint32_t> pattern;
    for (std::size_t i = 0; i < length; ++i) {
        pattern.push_back(seed[(from + i) % seed.size()]);
    }
    if (input.byte() % 4 == 0 && !pattern.empty()) {
        pattern[input.byte() % pattern.size()] = alphabet[input.byte() % letters];
    }
    // Around one or two blocks, so that matches straddle the block edges.
    const std::size_t target = text::code_point_block * (1 + input.byte() % 2) + (input.byte() % 80) - 40;
    const std::uint8_t mutate = input.byte();
    std::vector<std::uint32_t> t;
    t.reserve(target);
    while (t.size() < target) {
        for (std::uint32_t c : seed) {
            t.push_back(c);
        }
        if (mutate % 3 == 0) {
            t[t.size() - 1 - (t.size() + mutate) % seed.size()] = alphabet[(t.size() + mutate) % letters];
        }
    }
    t.resize(target);

    const text::ReadCodePoints read = [&](std::size_t start, std::span<std::uint32_t> out) {
        check(start + out.size() <= t.size(), "read past the end of the text");
        std::memcpy(out.data(), t.data() + start, out.size() * sizeof(std::uint32_t));
    };
    for (bool reverse : {false, true}) {
        const std::vector<std::size_t> expected = naive(t, pattern, reverse);
        for (text::Unit unit : {text::Unit::code_point, text::Unit::utf16, text::Unit::byte}) {
            const std::vector<std::size_t> before = units_before(t, unit);
            const text::Positions found = reverse ? text::rmatch_code_points(t.size(), pattern, unit, read)
                                                  : text::match_code_points(t.size(), pattern, unit, read);
            check(found.size() == expected.size(), "number of matches differs from the reference");
            for (std::size_t i = 0; i < found.size(); ++i) {
                check(found[i] == before[expected[i]], "match position differs from the reference");
            }
        }
    }
    return 0;
}
