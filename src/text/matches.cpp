#include "text/matches.hpp"

#include "core/interrupt.hpp"
#include "text/searcher.hpp"

namespace velnor::text {

namespace {

std::span<const unsigned char> bytes_of(std::string_view text) noexcept {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// Continuation bytes (0b10xxxxxx) are the only bytes that do not start a character.
inline bool starts_character(char byte) noexcept {
    return (static_cast<unsigned char>(byte) & 0b1100'0000) != 0b1000'0000;
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
    BackwardSearcher<unsigned char> searcher(bytes_of(pattern));
    const auto bytes = bytes_of(text);
    for (std::size_t p = searcher.rfind(bytes, bytes.size()); p != npos; p = searcher.rfind(bytes, p)) {
        emit(p);
    }
}

}  // namespace

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
