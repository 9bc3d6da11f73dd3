// Fuzz target: the block-by-block search over UTF-32 code points (long non-ASCII texts) against a naive
// reference, in all three units and both directions.
//
// The input picks a small alphabet of code points (ASCII, Latin-1, CJK, astral), a seed run of them, a
// pattern (often cut from the seed, so matches are common) and a text length around one or two blocks, so
// that matches straddle block edges and the carried tail between blocks is exercised. The text repeats the
// seed, possibly with one code point changed per repetition, so periodic texts and near misses are common.
// Texts of the first three letters alone are Latin-1 and are also searched as bytes. Every input runs
// once per kernel set the CPU has, and each set's code-point scans and counts are also
// compared with the scalar set's directly, over ranges at every distance from the vector widths.
#include "text/code_point_matches.hpp"
#include "text/kernels.hpp"
#include "harness.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
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

// The code-point kernels of one set against the scalar set's, over ranges drawn from `input`.
void check_kernels(const text::Kernels& k, std::vector<std::uint32_t> t, Reader input) {
    const text::Kernels& scalar = *text::scalar_kernels();
    // A surrogate somewhere, now and then: the test for one must find it wherever it is.
    if (input.byte() % 4 == 0) {
        t[input.word() * 7 % t.size()] = 0xD800 + static_cast<std::uint32_t>(input.word() % 0x800);
    }
    for (int query = 0; query < 6; ++query) {
        const std::size_t a = input.word() * 3 % (t.size() + 1);
        const std::size_t b = a + input.byte() % 100;
        const std::size_t from = std::min(a, t.size());
        const std::size_t end = std::min(b, t.size());
        const std::uint32_t* data = t.data();
        const std::uint32_t unit = t[input.word() % t.size()];
        check(k.find_unit32(data, from, end, unit) == scalar.find_unit32(data, from, end, unit),
              "find_unit32 disagrees with the scalar set");
        check(k.rfind_unit32(data, from, end, unit) == scalar.rfind_unit32(data, from, end, unit),
              "rfind_unit32 disagrees with the scalar set");
        const std::size_t span = 1 + input.byte() % 40;
        const text::RarePair pair{input.byte() % span, input.byte() % span};
        const std::size_t last = t.size() - span + 1;
        const std::size_t lo = std::min(from, last);
        const std::size_t hi = std::min(end, last);
        const std::uint32_t first = t[input.word() % t.size()];
        const std::uint32_t second = t[input.word() % t.size()];
        check(k.find_pair32(data, lo, hi, pair, first, second) == scalar.find_pair32(data, lo, hi, pair, first, second),
              "find_pair32 disagrees with the scalar set");
        check(k.rfind_pair32(data, lo, hi, pair, first, second) ==
                  scalar.rfind_pair32(data, lo, hi, pair, first, second),
              "rfind_pair32 disagrees with the scalar set");
        const std::size_t size = end - from;
        check(k.count_astral(data + from, size) == scalar.count_astral(data + from, size),
              "count_astral disagrees with the scalar set");
        check(k.count_utf8_extra(data + from, size) == scalar.count_utf8_extra(data + from, size),
              "count_utf8_extra disagrees with the scalar set");
        check(k.holds_surrogate(data + from, size) == scalar.holds_surrogate(data + from, size),
              "holds_surrogate disagrees with the scalar set");
        std::vector<unsigned char> latin1(size);
        for (std::size_t i = 0; i < size; ++i) {
            latin1[i] = static_cast<unsigned char>(data[from + i]);
        }
        std::vector<std::uint32_t> wide(size + 1, 0xFFFFFFFF);
        k.widen_latin1(latin1.data(), size, wide.data());
        for (std::size_t i = 0; i < size; ++i) {
            check(wide[i] == latin1[i], "widen_latin1 changed a code point");
        }
        check(wide[size] == 0xFFFFFFFF, "widen_latin1 wrote past its end");
    }
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
    // Around one or two blocks, so that matches straddle the block edges: a text of the first three letters
    // alone is Latin-1, searched in blocks of bytes, which are longer.
    const std::size_t block = letters <= 3 ? text::block_length<unsigned char> : text::code_point_block;
    const std::size_t target = block * (1 + input.byte() % 2) + (input.byte() % 80) - 40;
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
    // The same text read as Latin-1 bytes, which fails for a block holding a code point above U+00FF.
    const text::ReadLatin1 read_latin1 = [&](std::size_t start, std::span<unsigned char> out) {
        check(start + out.size() <= t.size(), "read past the end of the text");
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (t[start + i] > 0xFF) {
                return false;
            }
            out[i] = static_cast<unsigned char>(t[start + i]);
        }
        return true;
    };
    const bool latin1 = std::all_of(t.begin(), t.end(), [](std::uint32_t c) { return c <= 0xFF; });
    const Reader kernel_input = input;  // what is left of the input draws the kernels' ranges
    for (const text::Kernels* k : text::available_kernels()) {
        check(text::use_kernels(k->name), "a kernel set the CPU runs was refused");
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
                const std::optional<text::Positions> bytes =
                    reverse ? text::rmatch_latin1(t.size(), pattern, unit, read_latin1)
                            : text::match_latin1(t.size(), pattern, unit, read_latin1);
                check(bytes.has_value() == latin1, "a Latin-1 search answered for a wider text or gave up on one");
                check(!bytes || (bytes->size() == found.size() && std::equal(bytes->begin(), bytes->end(), found.begin())),
                      "the Latin-1 search disagrees with the code-point search");
            }
        }
        check_kernels(*k, t, kernel_input);
    }
    return 0;
}
