// Disjoint match positions in a text that is read block by block as UTF-32 code points, so that no UTF-8
// form of it is ever made: memory stays at one window (a block plus the pattern) besides the result.
#pragma once

#include "text/matches.hpp"
#include "text/units.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace velnor::text {

// Fills `out` with the text's code points from index `start` on, out.size() of them. It may throw; the
// exception leaves the search.
using ReadCodePoints = std::function<void(std::size_t start, std::span<std::uint32_t> out)>;

// Code points read at a time, as many as fill 16 KB: the interpreter's copy and ours of a block are then
// still in the nearest caches when the search reads them (4096 code points read as UTF-32 ran 10-20 %
// faster than 16384 on text stored at two or four bytes a character; smaller blocks of one-byte text pay
// more per block than they gain).
template <class Char>
inline constexpr std::size_t block_length = 16384 / sizeof(Char);
inline constexpr std::size_t code_point_block = block_length<std::uint32_t>;

// Returns the starts of the disjoint occurrences of `pattern` found left to right (the leftmost wins),
// ascending, in `unit`, in a text of `length` code points. Every code point of the text is read once,
// whether or not a match needs it, so `read` sees the whole text.
Positions match_code_points(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                            const ReadCodePoints& read);

// Returns the starts of the disjoint occurrences found right to left (the rightmost wins), descending.
Positions rmatch_code_points(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                             const ReadCodePoints& read);

// The same searches over a text read as Latin-1 (one byte a code point), which is how the interpreter keeps
// text without code points above U+00FF; positions are those of the code points. `read` answers false
// for a block that is not Latin-1, and the search then answers nothing: the caller searches the code
// points instead. Reading bytes rather than code points moves a quarter of the data.
using ReadLatin1 = std::function<bool(std::size_t start, std::span<unsigned char> out)>;
std::optional<Positions> match_latin1(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                                      const ReadLatin1& read);
std::optional<Positions> rmatch_latin1(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                                       const ReadLatin1& read);

}  // namespace velnor::text
