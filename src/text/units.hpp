// Counting index units in UTF-8 text without decoding it: every unit count is a count of byte classes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace velnor::text {

// The unit in which match positions are reported.
enum class Unit {
    code_point,  // Python's own str index
    utf16,       // UTF-16 code units
    byte,        // UTF-8 bytes
};

// Returns the number of code points in valid UTF-8: the bytes that are not continuation bytes (0b10xxxxxx).
std::size_t count_code_points(std::string_view utf8) noexcept;

// Returns the number of UTF-16 code units of valid UTF-8: one per code point, plus one per 4-byte lead
// byte (0b11110xxx), which starts a code point above U+FFFF that needs a surrogate pair.
std::size_t count_utf16_units(std::string_view utf8) noexcept;

// Returns the number of `unit` in the given UTF-8 bytes.
inline std::size_t count_units(Unit unit, std::string_view utf8) noexcept {
    switch (unit) {
        case Unit::code_point:
            return count_code_points(utf8);
        case Unit::utf16:
            return count_utf16_units(utf8);
        case Unit::byte:
            break;
    }
    return utf8.size();
}

// Returns the number of `unit` that one code point (not a surrogate) takes.
inline std::size_t units_of(Unit unit, std::uint32_t code_point) noexcept {
    switch (unit) {
        case Unit::code_point:
            break;
        case Unit::utf16:
            return code_point > 0xFFFF ? 2 : 1;
        case Unit::byte:
            return 1 + (code_point > 0x7F ? 1 : 0) + (code_point > 0x7FF ? 1 : 0) + (code_point > 0xFFFF ? 1 : 0);
    }
    return 1;
}

// Returns the number of `unit` that the given code points (none a surrogate) take.
std::size_t count_units(Unit unit, std::span<const std::uint32_t> code_points) noexcept;

// Returns the number of Latin-1 bytes (one a code point) above U+007F: each needs a second UTF-8 byte.
std::size_t count_latin1_above_ascii(std::span<const unsigned char> latin1) noexcept;

// Returns true when a surrogate (U+D800..U+DFFF) is among the code points: it has no UTF-8 form.
bool holds_surrogate(std::span<const std::uint32_t> code_points) noexcept;

// What UTF-16 needs beyond one unit per code point, for a stretch of code points.
struct Utf32Census {
    std::size_t astral = 0;      // code points above U+FFFF: two UTF-16 units each
    std::size_t surrogates = 0;  // U+D800..U+DFFF: no UTF-8 (or UTF-16) form at all
};
Utf32Census census(std::span<const std::uint32_t> code_points) noexcept;

// Converts ascending byte offsets of one text into unit counts, walking the text once in total.
class UnitCursor {
public:
    UnitCursor(Unit unit, std::string_view utf8) noexcept : unit_(unit), text_(utf8) {}

    // Returns the number of units before byte offset `position` (a character boundary); each call must
    // pass an offset no smaller than the one before.
    std::size_t advance_to(std::size_t position) noexcept {
        count_ += count_units(unit_, text_.substr(last_, position - last_));
        last_ = position;
        return count_;
    }

private:
    Unit unit_;
    std::string_view text_;
    std::size_t count_ = 0;  // units before `last_`
    std::size_t last_ = 0;   // the previous offset
};

}  // namespace velnor::text
