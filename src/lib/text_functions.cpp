// Bindings of the text functions: bind, convert `string` then `substring`, search, return a list.
#include "lib/text_functions.hpp"

#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/result.hpp"
#include "lib/registration.hpp"
#include "text/matches.hpp"

#include <cstdint>

namespace velnor {

namespace {

using namespace boundary;

enum class Direction { forward, backward };

Ref to_int_list(const text::Positions& values) {
    return to_list(values, [](std::size_t value) { return to_python(static_cast<std::uint64_t>(value)); });
}

template <const FunctionDescription& Description, Direction Way, text::Unit Unit>
Ref match(PyObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<2> arguments(Description, args, kwargs);
    const Utf8Text string = arguments.convert(0, to_text);
    const Utf8Text substring = arguments.convert(1, to_text);
    // In ASCII text every unit is one byte, so the offsets need no counting.
    const text::Unit unit = string.ascii ? text::Unit::byte : Unit;
    if constexpr (Way == Direction::forward) {
        return to_int_list(text::match_positions(string.bytes, substring.bytes, unit));
    } else {
        return to_int_list(text::rmatch_positions(string.bytes, substring.bytes, unit));
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
        to_text(string);  // the interpreter's strict UTF-8 encoder raises its own UnicodeEncodeError
        throw InternalFault("a surrogate was encoded to UTF-8");
    }
    return static_cast<std::size_t>(length) + total.astral;
}

Ref utf16len(PyObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<1> arguments(descriptions::utf16len, args, kwargs);
    PyObject* string = arguments.convert(0, to_str);
    return to_python(static_cast<std::uint64_t>(utf16_length(string)));
}

// The table stores every entry as PyCFunction; casting through void (*)() says the cast is meant.
template <VarargsBody Body>
PyCFunction entry() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(varargs_entry<Body>));
}

constexpr int flags = METH_VARARGS | METH_KEYWORDS;
using text::Unit;
namespace d = descriptions;

PyMethodDef functions[] = {
    {"match_indices", entry<match<d::match_indices, Direction::forward, Unit::code_point>>(), flags,
     "Returns a list of the UTF-8 indices of disjoint matches, from start to end."},
    {"match_utf16_indices", entry<match<d::match_utf16_indices, Direction::forward, Unit::utf16>>(), flags,
     "Returns a list of the UTF-16 indices of disjoint matches, from start to end."},
    {"match_byte_indices", entry<match<d::match_byte_indices, Direction::forward, Unit::byte>>(), flags,
     "Returns a list of the byte indices of disjoint matches, from start to end."},
    {"rmatch_indices", entry<match<d::rmatch_indices, Direction::backward, Unit::code_point>>(), flags,
     "Returns a list of the UTF-8 indices of disjoint matches, from end to start."},
    {"rmatch_utf16_indices", entry<match<d::rmatch_utf16_indices, Direction::backward, Unit::utf16>>(), flags,
     "Returns a list of the UTF-16 indices of disjoint matches, from end to start."},
    {"rmatch_byte_indices", entry<match<d::rmatch_byte_indices, Direction::backward, Unit::byte>>(), flags,
     "Returns a list of the byte indices of disjoint matches, from end to start."},
    {"utf16len", entry<utf16len>(), flags, "A function that returns the UTF-16 length of a string."},
};

}  // namespace

void register_text_functions(PyObject* module) {
    for (PyMethodDef& definition : functions) {
        registration::add_function(module, definition);
    }
}

}  // namespace velnor
