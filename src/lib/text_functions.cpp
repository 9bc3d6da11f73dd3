// Bindings of the text functions: bind, convert `string` then `substring`, search, return a list.
#include "lib/text_functions.hpp"

#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/result.hpp"
#include "lib/registration.hpp"
#include "text/code_point_matches.hpp"
#include "text/matches.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace velnor {

namespace {

using namespace boundary;

enum class Direction { forward, backward };

Ref to_int_list(const text::Positions& values) {
    return to_list(values, [](std::size_t value) { return to_python(static_cast<std::uint64_t>(value)); });
}

// Raises the interpreter's own UnicodeEncodeError for a str known to hold a surrogate: its strict UTF-8
// encoder is the one that describes the failure.
[[noreturn]] void raise_encode_error(PyObject* string) {
    to_text(string);
    throw InternalFault("a surrogate was encoded to UTF-8");
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
    // Text the interpreter keeps at one byte a code point is searched as such bytes; any other as code points.
    CodePointReader latin1_reader(string);
    const auto read_latin1 = [&latin1_reader](std::size_t start, std::span<unsigned char> out) {
        return latin1_reader.read_latin1(start, out);
    };
    std::optional<text::Positions> found = Way == Direction::forward
                                               ? text::match_latin1(length, *pattern, Unit, read_latin1)
                                               : text::rmatch_latin1(length, *pattern, Unit, read_latin1);
    if (found) {
        return to_int_list(*found);
    }
    const auto read = [reader = CodePointReader(string)](std::size_t start, std::span<std::uint32_t> out) mutable {
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

template <const FunctionDescription& Description, Direction Way, text::Unit Unit>
Ref match(PyObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<2> arguments(Description, args, kwargs);
    PyObject* string = arguments.convert(0, to_str);
    const Py_ssize_t length = PyUnicode_GetLength(string);
    if (length < 0) {
        throw_python_error();
    }
    const bool ascii = known_ascii(string, length);
    // Texts too short to be asked whether they are ASCII are encoded: that tells, and costs little.
    if (!ascii && length >= ascii_asked_from) {
        return match_code_points<Way, Unit>(arguments, string, static_cast<std::size_t>(length));
    }
    const Utf8Text text = utf8_text(string, ascii);
    const Utf8Text substring = arguments.convert(1, to_text);
    // In ASCII text every unit is one byte, so the offsets need no counting.
    const text::Unit unit = text.ascii ? text::Unit::byte : Unit;
    if constexpr (Way == Direction::forward) {
        return to_int_list(text::match_positions(text.bytes, substring.bytes, unit));
    } else {
        return to_int_list(text::rmatch_positions(text.bytes, substring.bytes, unit));
    }
}

// UTF-16 needs one unit per code point and a second one above U+FFFF, so the length is the str's own
// length plus a count over its code points, read in blocks: no UTF-8 encoding is made.
std::size_t utf16_length(PyObject* string) {
    const Py_ssize_t length = PyUnicode_GetLength(string);
    if (length < 0) {
        throw_python_error();
    }
    if (known_ascii(string, length)) {
        return static_cast<std::size_t>(length);
    }
    text::Utf32Census total;
    for_each_utf32_block(string, [&](std::span<const std::uint32_t> block) {
        const text::Utf32Census census = text::census(block);
        total.astral += census.astral;
        total.surrogates += census.surrogates;
    });
    if (total.surrogates != 0) {
        raise_encode_error(string);
    }
    return static_cast<std::size_t>(length) + total.astral;
}

Ref utf16len(PyObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<1> arguments(descriptions::utf16len, args, kwargs);
    PyObject* string = arguments.convert(0, to_str);
    return to_python(static_cast<std::uint64_t>(utf16_length(string)));
}

using text::Unit;
namespace d = descriptions;

PyMethodDef functions[] = {
    varargs_method<match<d::match_indices, Direction::forward, Unit::code_point>>(
        "match_indices", "Returns a list of the UTF-8 indices of disjoint matches, from start to end."),
    varargs_method<match<d::match_utf16_indices, Direction::forward, Unit::utf16>>(
        "match_utf16_indices", "Returns a list of the UTF-16 indices of disjoint matches, from start to end."),
    varargs_method<match<d::match_byte_indices, Direction::forward, Unit::byte>>(
        "match_byte_indices", "Returns a list of the byte indices of disjoint matches, from start to end."),
    varargs_method<match<d::rmatch_indices, Direction::backward, Unit::code_point>>(
        "rmatch_indices", "Returns a list of the UTF-8 indices of disjoint matches, from end to start."),
    varargs_method<match<d::rmatch_utf16_indices, Direction::backward, Unit::utf16>>(
        "rmatch_utf16_indices", "Returns a list of the UTF-16 indices of disjoint matches, from end to start."),
    varargs_method<match<d::rmatch_byte_indices, Direction::backward, Unit::byte>>(
        "rmatch_byte_indices", "Returns a list of the byte indices of disjoint matches, from end to start."),
    varargs_method<utf16len>("utf16len", "A function that returns the UTF-16 length of a string."),
};

}  // namespace

void register_text_functions(PyObject* module) {
    for (PyMethodDef& definition : functions) {
        registration::add_function(module, definition);
    }
}

}  // namespace velnor
