// The text passes through one window: the block just read plus the m - 1 code points (m the pattern's
// length) of the block before it (forward) or after it (backward) that an occurrence straddling the
// edge may use. Every occurrence lies inside some window, and the searcher resumes exactly where the
// previous window stopped, so each window start is tried once and the matches are those of one search
// over the whole text. Blocks are at least m long, so keeping m - 1 code points costs at most a block's
// copy per block: the work stays linear.
//
// Units are counted from the code points themselves: a code point is one UTF-16 unit, or two above
// U+FFFF; and 1, 2, 3 or 4 UTF-8 bytes from U+0000, U+0080, U+0800 and U+10000 on.
#include "text/code_point_matches.hpp"

#include "core/interrupt.hpp"
#include "text/searcher.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace velnor::text {

namespace {

// Units of Latin-1 code points (one byte each, U+0000..U+00FF): one each, and a second UTF-8 byte above
// U+007F.
std::size_t count_units(Unit unit, std::span<const unsigned char> latin1) noexcept {
    return unit == Unit::byte ? latin1.size() + count_latin1_above_ascii(latin1) : latin1.size();
}

// Counts `unit` in a stretch piece by piece, polling between pieces: a window is as long as the pattern,
// which the caller chooses.
template <class Char>
std::size_t count_polled(Unit unit, std::span<const Char> code_points, core::InterruptPoll& poll) {
    std::size_t total = 0;
    while (code_points.size() > scan_window) {
        total += count_units(unit, code_points.first(scan_window));
        code_points = code_points.subspan(scan_window);
        poll.tick(scan_window);
    }
    poll.tick(code_points.size());
    return total + count_units(unit, code_points);
}

// Units of the text before a position that only moves forward, counted from a window that still holds
// the code points between the previous position and the next.
template <class Char>
class PrefixCount {
public:
    explicit PrefixCount(Unit unit) noexcept : unit_(unit) {}

    // Returns the units before `target`, where window[0] is code point `origin` and origin <= the
    // previous position <= target.
    std::size_t advance_to(const Char* window, std::size_t origin, std::size_t target) {
        count_ += count_polled(unit_, std::span<const Char>{window + (position_ - origin), target - position_}, poll_);
        position_ = target;
        return count_;
    }

private:
    Unit unit_;
    std::size_t position_ = 0;
    std::size_t count_ = 0;
    core::InterruptPoll poll_;
};

// Units of the text from a position that only moves backward to the text's end.
template <class Char>
class SuffixCount {
public:
    SuffixCount(Unit unit, std::size_t length) noexcept : unit_(unit), position_(length) {}

    // Returns the units from `target` to the end, where window[0] is code point `origin` and
    // origin <= target <= the previous position, which the window still holds.
    std::size_t retreat_to(const Char* window, std::size_t origin, std::size_t target) {
        count_ += count_polled(unit_, std::span<const Char>{window + (target - origin), position_ - target}, poll_);
        position_ = target;
        return count_;
    }

private:
    Unit unit_;
    std::size_t position_;
    std::size_t count_ = 0;
    core::InterruptPoll poll_;
};

// Reads the whole text and finds nothing: a pattern longer than the text still lets `read` check it all.
template <class Char, class Read>
void read_only(std::size_t length, const Read& read) {
    std::vector<Char> block(std::min(length, block_length<Char>));
    core::InterruptPoll poll;
    for (std::size_t start = 0; start < length; start += block.size()) {
        read(start, std::span<Char>(block).first(std::min(block.size(), length - start)));
        poll.tick(block.size());
    }
}

// The empty pattern: every code point boundary, ascending.
template <class Char, class Read>
Positions every_boundary(std::size_t length, Unit unit, const Read& read) {
    Positions positions;
    std::vector<Char> block(std::min(length, block_length<Char>));
    std::size_t count = 0;
    core::InterruptPoll poll;
    for (std::size_t start = 0; start < length; start += block.size()) {
        const auto code_points = std::span<Char>(block).first(std::min(block.size(), length - start));
        read(start, code_points);
        for (const Char code_point : code_points) {
            positions.push_back(count);
            count += units_of(unit, code_point);
        }
        poll.tick(code_points.size());
    }
    positions.push_back(count);
    return positions;
}

template <class Char, class Read>
Positions forward(std::size_t length, std::span<const Char> pattern, Unit unit, const Read& read) {
    const std::size_t m = pattern.size();
    if (m == 0) {
        return every_boundary<Char>(length, unit, read);
    }
    if (m > length) {
        read_only<Char>(length, read);
        return {};
    }
    const std::size_t block = std::max(block_length<Char>, m);
    std::vector<Char> window(std::min(length, block + m - 1));
    ForwardSearcher<Char> searcher(pattern);
    PrefixCount<Char> prefix(unit);
    Positions positions;
    std::size_t carry = 0;  // code points at the window's front, kept from the block before
    std::size_t next = 0;   // the next occurrence may start here: the end of the previous one
    core::InterruptPoll poll;
    for (std::size_t start = 0; start < length;) {
        const std::size_t size = std::min(block, length - start);
        read(start, {window.data() + carry, size});
        poll.tick(size);
        const std::size_t origin = start - carry;  // window[0] is code point `origin`
        const std::span<const Char> text(window.data(), carry + size);
        // Window starts before the carry were tried in the previous window.
        for (std::size_t p = searcher.find(text, std::max(next, origin) - origin); p != npos;
             p = searcher.find(text, p + m)) {
            positions.push_back(unit == Unit::code_point ? origin + p : prefix.advance_to(window.data(), origin, origin + p));
            next = origin + p + m;
        }
        // The last m - 1 code points start the next window; count what comes before them now. Every
        // match so far ends within the window, so it starts before them.
        const std::size_t keep = std::min(m - 1, carry + size);
        const std::size_t kept_from = carry + size - keep;
        if (unit != Unit::code_point) {
            prefix.advance_to(window.data(), origin, origin + kept_from);
        }
        std::memmove(window.data(), window.data() + kept_from, keep * sizeof(Char));
        carry = keep;
        start += size;
    }
    return positions;
}

template <class Char, class Read>
Positions backward(std::size_t length, std::span<const Char> pattern, Unit unit, const Read& read) {
    const std::size_t m = pattern.size();
    if (m == 0) {
        Positions positions = every_boundary<Char>(length, unit, read);
        std::reverse(positions.begin(), positions.end());
        return positions;
    }
    if (m > length) {
        read_only<Char>(length, read);
        return {};
    }
    const std::size_t block = std::max(block_length<Char>, m);
    std::vector<Char> window(std::min(length, block + m - 1));
    BackwardSearcher<Char> searcher(pattern);
    // Blocks come from the end, so the units before a match are only known once the whole text has been
    // read: each match keeps the units from it to the end, and the total turns those into prefixes.
    SuffixCount<Char> suffix(unit, length);
    Positions positions;
    std::size_t carry = 0;       // code points at the window's back, kept from the block after
    std::size_t bound = length;  // the next occurrence must end here or before: the previous one's start
    core::InterruptPoll poll;
    for (std::size_t stop = length; stop > 0;) {
        const std::size_t size = std::min(block, stop);
        const std::size_t start = stop - size;  // window[0] is code point `start`
        std::memmove(window.data() + size, window.data(), carry * sizeof(Char));
        read(start, {window.data(), size});
        poll.tick(size);
        const std::span<const Char> text(window.data(), size + carry);
        // Occurrences that end after `bound` overlap a match, and those that end after this window's end
        // start in the block after, which the previous window tried.
        for (std::size_t p = searcher.rfind(text, std::min(bound - start, text.size())); p != npos;
             p = searcher.rfind(text, p)) {
            positions.push_back(unit == Unit::code_point ? start + p : suffix.retreat_to(window.data(), start, start + p));
            bound = start + p;
        }
        if (unit != Unit::code_point) {
            suffix.retreat_to(window.data(), start, start);
        }
        carry = std::min(m - 1, size + carry);
        stop = start;
    }
    if (unit != Unit::code_point) {
        const std::size_t total = suffix.retreat_to(window.data(), 0, 0);
        for (std::size_t& position : positions) {
            position = total - position;
        }
    }
    return positions;
}

// A Latin-1 read that fails: the text holds a code point above U+00FF.
struct NotLatin1 {};

// Runs `search` over the Latin-1 bytes of the text, or returns nothing once a block is not Latin-1. A
// pattern with a code point above U+00FF cannot occur in Latin-1 text, which is still read to the end to
// learn whether it is Latin-1.
template <class Search>
std::optional<Positions> over_latin1(std::size_t length, std::span<const std::uint32_t> pattern,
                                     const ReadLatin1& read_latin1, Search&& search) {
    const auto read = [&](std::size_t start, std::span<unsigned char> out) {
        if (!read_latin1(start, out)) {
            throw NotLatin1{};
        }
    };
    try {
        if (std::any_of(pattern.begin(), pattern.end(), [](std::uint32_t c) { return c > 0xFF; })) {
            read_only<unsigned char>(length, read);
            return Positions{};
        }
        const std::vector<unsigned char> bytes(pattern.begin(), pattern.end());
        return search(std::span<const unsigned char>(bytes), read);
    } catch (const NotLatin1&) {
        return std::nullopt;
    }
}

}  // namespace

Positions match_code_points(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                            const ReadCodePoints& read) {
    return forward<std::uint32_t>(length, pattern, unit, read);
}

Positions rmatch_code_points(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                             const ReadCodePoints& read) {
    return backward<std::uint32_t>(length, pattern, unit, read);
}

std::optional<Positions> match_latin1(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                                      const ReadLatin1& read) {
    return over_latin1(length, pattern, read, [&](std::span<const unsigned char> bytes, const auto& read_bytes) {
        return forward<unsigned char>(length, bytes, unit, read_bytes);
    });
}

std::optional<Positions> rmatch_latin1(std::size_t length, std::span<const std::uint32_t> pattern, Unit unit,
                                       const ReadLatin1& read) {
    return over_latin1(length, pattern, read, [&](std::span<const unsigned char> bytes, const auto& read_bytes) {
        return backward<unsigned char>(length, bytes, unit, read_bytes);
    });
}

}  // namespace velnor::text
