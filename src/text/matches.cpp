#include "text/matches.hpp"

#include "core/interrupt.hpp"
#include "text/searcher.hpp"

#include <cstring>

namespace velnor::text {

namespace {

std::span<const unsigned char> bytes_of(std::string_view text) noexcept {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// Continuation bytes (0b10xxxxxx) are the only bytes that do not start a character.
inline bool starts_character(char byte) noexcept {
    return (static_cast<unsigned char>(byte) & 0b1100'0000) != 0b1000'0000;
}

// In a text this short a short pattern is found by its first byte and a comparison: preparing a
// searcher would cost more than the whole search, and the work stays within a small multiple of the
// text's length.
inline constexpr std::size_t short_search_text = 1024;
inline constexpr std::size_t short_search_pattern = 8;

bool is_short_search(std::string_view text, std::string_view pattern) noexcept {
    return text.size() <= short_search_text && pattern.size() <= short_search_pattern;
}

// The leftmost occurrence of a non-empty `pattern` starting at or after `from`, or npos.
std::size_t short_find(std::string_view text, std::string_view pattern, std::size_t from) noexcept {
    const std::size_t m = pattern.size();
    if (m > text.size()) {
        return npos;
    }
    const std::size_t last = text.size() - m;  // the last window start
    while (from <= last) {
        const void* hit = std::memchr(text.data() + from, pattern[0], last - from + 1);
        if (hit == nullptr) {
            return npos;
        }
        const auto start = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (std::memcmp(text.data() + start + 1, pattern.data() + 1, m - 1) == 0) {
            return start;
        }
        from = start + 1;
    }
    return npos;
}

// The rightmost occurrence of a non-empty `pattern` ending at or before `bound`, or npos.
std::size_t short_rfind(std::string_view text, std::string_view pattern, std::size_t bound) noexcept {
    const std::size_t m = pattern.size();
    for (std::size_t end = bound; end >= m; --end) {
        if (text[end - 1] == pattern[m - 1] && std::memcmp(text.data() + end - m, pattern.data(), m - 1) == 0) {
            return end - m;
        }
    }
    return npos;
}

// Calls `emit(start)` for each disjoint occurrence, left to right.
template <class Emit>
void for_each_match(std::string_view text, std::string_view pattern, Emit&& emit) {
    if (pattern.empty()) {
        core::InterruptPoll poll;
        for (std::size_t p = 0; p < text.size(); ++p) {
            if (starts_character(text[p])) {
                emit(p);
            }
            poll.tick();
        }
        emit(text.size());
        return;
    }
    if (pattern.size() == 1) {
        // One byte: memchr straight, without a searcher's bookkeeping between dense matches.
        for_each_byte(text, pattern[0], emit);
        return;
    }
    if (is_short_search(text, pattern)) {
        for (std::size_t p = short_find(text, pattern, 0); p != npos; p = short_find(text, pattern, p + pattern.size())) {
            emit(p);
        }
        return;
    }
    ForwardSearcher<unsigned char> searcher(bytes_of(pattern));
    const auto bytes = bytes_of(text);
    for (std::size_t p = searcher.find(bytes, 0); p != npos; p = searcher.find(bytes, p + pattern.size())) {
        emit(p);
    }
}

// Calls `emit(start)` for each disjoint occurrence, right to left.
template <class Emit>
void for_each_rmatch(std::string_view text, std::string_view pattern, Emit&& emit) {
    if (pattern.empty()) {
        emit(text.size());
        core::InterruptPoll poll;
        for (std::size_t p = text.size(); p > 0; --p) {
            if (starts_character(text[p - 1])) {
                emit(p - 1);
            }
            poll.tick();
        }
        return;
    }
    if (is_short_search(text, pattern)) {
        for (std::size_t p = short_rfind(text, pattern, text.size()); p != npos; p = short_rfind(text, pattern, p)) {
            emit(p);
        }
        return;
    }
    BackwardSearcher<unsigned char> searcher(bytes_of(pattern));
    const auto bytes = bytes_of(text);
    for (std::size_t p = searcher.rfind(bytes, bytes.size()); p != npos; p = searcher.rfind(bytes, p)) {
        emit(p);
    }
}

}  // namespace

std::size_t count_byte(std::string_view text, char byte) {
    // Counted in stretches short enough for a byte-wide tally, which the compiler vectorises.
    core::InterruptPoll poll;
    std::size_t total = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t stretch = text.size() - at < 255 ? text.size() - at : 255;
        unsigned char tally = 0;
        for (std::size_t i = 0; i < stretch; ++i) {
            tally = static_cast<unsigned char>(tally + (text[at + i] == byte ? 1 : 0));
        }
        total += tally;
        at += stretch;
        poll.tick(stretch);
    }
    return total;
}

Positions match_positions(std::string_view text, std::string_view pattern, Unit unit) {
    Positions positions;
    if (unit == Unit::byte) {
        for_each_match(text, pattern, [&](std::size_t p) { positions.push_back(p); });
        return positions;
    }
    // Search and conversion run together: each match counts only the bytes since the previous one.
    UnitCursor cursor(unit, text);
    for_each_match(text, pattern, [&](std::size_t p) { positions.push_back(cursor.advance_to(p)); });
    return positions;
}

Positions rmatch_positions(std::string_view text, std::string_view pattern, Unit unit) {
    Positions positions;
    for_each_rmatch(text, pattern, [&](std::size_t p) { positions.push_back(p); });
    if (unit != Unit::byte) {
        // Offsets must be counted in ascending order, which is from the back; each slot is overwritten in
        // place by its own count, so the result needs no second container and no reversal.
        UnitCursor cursor(unit, text);
        for (auto slot = positions.rbegin(); slot != positions.rend(); ++slot) {
            *slot = cursor.advance_to(*slot);
        }
    }
    return positions;
}

}  // namespace velnor::text
