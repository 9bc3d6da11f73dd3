// Bindings of the text functions: bind, convert `string` then `substring`, search, return a list.
#include "lib/text_functions.hpp"

#include "boundary/binder.hpp"
#include "core/interrupt.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/result.hpp"
#include "boundary/slow_release.hpp"
#include "lib/registration.hpp"
#include "text/code_point_matches.hpp"
#include "text/matches.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

namespace velnor {

namespace {

using namespace boundary;

enum class Direction { forward, backward };

// A new int for an offset into a str. Through `long` where it fits: that conversion has the interpreter's
// shortest path to a new int (the one range() takes), which the wider ones lack on some versions.
PyObject* new_offset(std::size_t offset) {
    PyObject* item = offset <= static_cast<unsigned long>(LONG_MAX) ? PyLong_FromLong(static_cast<long>(offset))
                                                                    : PyLong_FromSize_t(offset);
    if (item == nullptr) {
        throw_python_error();
    }
    return item;
}

// Appends a new int for `offset` to `list`.
void append_offset(PyObject* list, std::size_t offset) {
    const Ref item = Ref::steal(new_offset(offset));
    if (PyList_Append(list, item.get()) < 0) {
        throw_python_error();
    }
}

// Above this many items a result list is appended to rather than made at its final length, so that Ctrl-C
// lands soon at any size (see byte_offsets_appended).
constexpr std::size_t presized_list_limit = std::size_t{1} << 22;

// The list is made at its final length (appended to, when huge) and filled block by block.
Ref to_int_list(const text::Positions& values) {
    const bool presized = values.size() <= presized_list_limit;
    Ref list = presized ? new_hidden_list(values.size()) : checked(PyList_New(0));
    Py_ssize_t index = 0;
    core::InterruptPoll poll(core::interrupt_interval / 16);  // each position makes a new int
    try {
        values.for_each_run([&](const std::size_t* first, const std::size_t* last) {
            for (; first != last; ++first) {
                poll.tick();
                if (presized) {
                    PyList_SetItem(list.get(), index++, new_offset(*first));
                } else {
                    append_offset(list.get(), *first);
                }
            }
        });
    } catch (...) {
        if (!presized) {
            release_in_slices(std::move(list));  // possibly a hundred million ints
        }
        throw;
    }
    return presized ? reveal(std::move(list)) : list;
}

// Returns the pattern's code points, or nothing when `substring` is not a str or holds a surrogate: its
// error must wait until the whole of `string` has been checked, which is converted first.
std::optional<std::vector<std::uint32_t>> pattern_code_points(PyObject* substring) {
    if ((PyType_GetFlags(Py_TYPE(substring)) & Py_TPFLAGS_UNICODE_SUBCLASS) == 0) {
        return std::nullopt;
    }
    const Py_ssize_t length = PyUnicode_GetLength(substring);
    if (length < 0) {
        throw_python_error();
    }
    std::vector<std::uint32_t> pattern(static_cast<std::size_t>(length));
    // In blocks, polling between them: a pattern may be as long as the text.
    CodePointReader reader(substring);
    core::InterruptPoll poll;
    for (std::size_t start = 0; start < pattern.size(); start += text::code_point_block) {
        const std::size_t size = std::min(text::code_point_block, pattern.size() - start);
        reader.read(start, std::span<std::uint32_t>(pattern).subspan(start, size));
        poll.tick(size);
    }
    if (text::holds_surrogate(pattern)) {
        return std::nullopt;
    }
    return pattern;
}

// A long non-ASCII text is searched as code points read block by block: encoding it to UTF-8 first
// would cost more than the search, and a copy as large as the text.
template <Direction Way, text::Unit Unit>
Ref match_code_points(const Arguments<2>& arguments, PyObject* string, std::size_t length) {
    std::optional<std::vector<std::uint32_t>> pattern = pattern_code_points(arguments[1]);
    if (!pattern) {
        for_each_utf32_block(string, [&](std::span<const std::uint32_t> block) {
            if (text::holds_surrogate(block)) {
                raise_encode_error(string);
            }
        });
        arguments.convert(1, to_text);
        throw InternalFault("a pattern that failed as code points converted to UTF-8");
    }
    // Text the interpreter keeps at one byte a code point is searched as such bytes; any other as code points,
    // through the same reader, which then knows not to try Latin-1 again at once.
    CodePointReader reader(string);
    const auto read_latin1 = [&reader](std::size_t start, std::span<unsigned char> out) {
        return reader.read_latin1(start, out);
    };
    std::optional<text::Positions> found = Way == Direction::forward
                                               ? text::match_latin1(length, *pattern, Unit, read_latin1)
                                               : text::rmatch_latin1(length, *pattern, Unit, read_latin1);
    if (found) {
        return to_int_list(*found);
    }
    const auto read = [&reader](std::size_t start, std::span<std::uint32_t> out) {
        reader.read(start, out);
        if (text::holds_surrogate(out)) {
            raise_encode_error(reader.text());
        }
    };
    if constexpr (Way == Direction::forward) {
        return to_int_list(text::match_code_points(length, *pattern, Unit, read));
    } else {
        return to_int_list(text::rmatch_code_points(length, *pattern, Unit, read));
    }
}

// Byte offsets of a one-byte pattern: counted first, then written into the list as ints as they are
// found, from the front (forward) or from the back (backward, the same matches in the other order).
template <Direction Way>
Ref byte_offsets_presized(std::string_view text, char byte, std::size_t count) {
    Ref list = new_hidden_list(count);
    std::size_t found = 0;
    core::InterruptPoll poll(core::interrupt_interval / 16);  // each match makes a new int
    text::for_each_byte(text, byte, [&](std::size_t offset) {
        poll.tick();
        if (found == count) {
            throw InternalFault("more bytes found than counted");
        }
        PyObject* item = new_offset(offset);
        const std::size_t index = Way == Direction::forward ? found : count - 1 - found;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(index), item);
        ++found;
    });
    if (found != count) {
        throw InternalFault("fewer bytes found than counted");
    }
    return reveal(std::move(list));
}

// The same, appended as they are found, from the front or from the back. It costs 5-15 % more a match than
// the presized fill, but a call stopped by Ctrl-C frees only what it filled, where freeing a huge presized
// list reads its untouched tail page by page: a quarter of a second for 60 million matches.
template <Direction Way>
Ref byte_offsets_appended(std::string_view text, char byte) {
    Ref list = checked(PyList_New(0));
    core::InterruptPoll poll(core::interrupt_interval / 16);  // each match makes a new int
    const auto append = [&](std::size_t offset) {
        poll.tick();
        append_offset(list.get(), offset);
    };
    try {
        if constexpr (Way == Direction::forward) {
            text::for_each_byte(text, byte, append);
        } else {
            text::for_each_byte_backward(text, byte, append);
        }
    } catch (...) {
        release_in_slices(std::move(list));  // possibly a hundred million ints
        throw;
    }
    return list;
}

// A text holding few of the byte is read once, its offsets kept here; one holding more is counted past them
// as well, so that its list is made at its final length.
template <Direction Way>
Ref byte_offsets(std::string_view text, char byte) {
    std::array<std::size_t, 1024> first;
    const std::size_t held = text::first_bytes(text, byte, first);
    if (held < first.size()) {
        Ref list = checked(PyList_New(static_cast<Py_ssize_t>(held)));
        for (std::size_t index = 0; index < held; ++index) {
            const std::size_t at = Way == Direction::forward ? index : held - 1 - index;
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(at), new_offset(first[index]));
        }
        return list;
    }
    const std::size_t count = held + text::count_byte(text.substr(first.back() + 1), byte);
    return count <= presized_list_limit ? byte_offsets_presized<Way>(text, byte, count)
                                           : byte_offsets_appended<Way>(text, byte);
}

// Searches UTF-8 text; in ASCII text every unit is one byte, so the offsets need no counting.
template <Direction Way, text::Unit Unit>
Ref search(std::string_view text, bool ascii, std::string_view pattern) {
    const text::Unit unit = ascii ? text::Unit::byte : Unit;
    if (unit == text::Unit::byte && pattern.size() == 1) {
        return byte_offsets<Way>(text, pattern[0]);
    }
    if constexpr (Way == Direction::forward) {
        return to_int_list(text::match_positions(text, pattern, unit));
    } else {
        return to_int_list(text::rmatch_positions(text, pattern, unit));
    }
}

// Converts `substring` (after `string`) and searches for it in the UTF-8 text.
template <Direction Way, text::Unit Unit>
Ref search_for_pattern(const Arguments<2>& arguments, std::string_view text, bool ascii) {
    PyObject* substring = arguments.convert(1, to_str);
    const Py_ssize_t length = PyUnicode_GetLength(substring);
    if (length < 0) {
        throw_python_error();
    }
    return with_utf8(substring, length, asks_ascii(substring), [&](std::string_view pattern, bool) {
        return search<Way, Unit>(text, ascii, pattern);
    });
}

// Non-ASCII texts of at least this many code points are searched as code points, read block by block;
// shorter ones cost less to encode whole.
constexpr Py_ssize_t code_points_searched_from = 1024;

template <const FunctionDescription& Description, Direction Way, text::Unit Unit>
Ref match(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Arguments<2> arguments(Description, args, nargs, kwnames);
    PyObject* string = arguments.convert(0, to_str);
    const Py_ssize_t length = PyUnicode_GetLength(string);
    if (length < 0) {
        throw_python_error();
    }
    const bool ascii = asks_ascii(string);
    if (!ascii && length >= code_points_searched_from) {
        return match_code_points<Way, Unit>(arguments, string, static_cast<std::size_t>(length));
    }
    return with_utf8(string, length, ascii, [&](std::string_view text, bool text_ascii) {
        return search_for_pattern<Way, Unit>(arguments, text, text_ascii);
    });
}

// UTF-16 needs one unit per code point and a second one above U+FFFF, so the length is the str's own
// length plus a count over its code points, read in blocks: no UTF-8 encoding is made.
std::size_t utf16_length(PyObject* string) {
    const Py_ssize_t length = PyUnicode_GetLength(string);
    if (length < 0) {
        throw_python_error();
    }
    if (asks_ascii(string)) {
        return static_cast<std::size_t>(length);
    }
    text::Utf32Census total;
    if (length <= short_text_limit) {
        total = text::census(ShortCodePoints(string, length).get());
    } else {
        for_each_utf32_block(string, [&](std::span<const std::uint32_t> block) {
            const text::Utf32Census census = text::census(block);
            total.astral += census.astral;
            total.surrogates += census.surrogates;
        });
    }
    if (total.surrogates != 0) {
        raise_encode_error(string);
    }
    return static_cast<std::size_t>(length) + total.astral;
}

Ref utf16len(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Arguments<1> arguments(descriptions::utf16len, args, nargs, kwnames);
    PyObject* string = arguments.convert(0, to_str);
    return to_python(static_cast<std::uint64_t>(utf16_length(string)));
}

using text::Unit;
namespace d = descriptions;

PyMethodDef functions[] = {
    fastcall_method<match<d::match_indices, Direction::forward, Unit::code_point>>(
        "match_indices", "Returns a list of the UTF-8 indices of disjoint matches, from start to end."),
    fastcall_method<match<d::match_utf16_indices, Direction::forward, Unit::utf16>>(
        "match_utf16_indices", "Returns a list of the UTF-16 indices of disjoint matches, from start to end."),
    fastcall_method<match<d::match_byte_indices, Direction::forward, Unit::byte>>(
        "match_byte_indices", "Returns a list of the byte indices of disjoint matches, from start to end."),
    fastcall_method<match<d::rmatch_indices, Direction::backward, Unit::code_point>>(
        "rmatch_indices", "Returns a list of the UTF-8 indices of disjoint matches, from end to start."),
    fastcall_method<match<d::rmatch_utf16_indices, Direction::backward, Unit::utf16>>(
        "rmatch_utf16_indices", "Returns a list of the UTF-16 indices of disjoint matches, from end to start."),
    fastcall_method<match<d::rmatch_byte_indices, Direction::backward, Unit::byte>>(
        "rmatch_byte_indices", "Returns a list of the byte indices of disjoint matches, from end to start."),
    fastcall_method<utf16len>("utf16len", "A function that returns the UTF-16 length of a string."),
};

}  // namespace

void register_text_functions(PyObject* module) {
    for (PyMethodDef& definition : functions) {
        registration::add_function(module, definition);
    }
}

}  // namespace velnor
