// Converters from Python objects to native values. Each yields the value or raises (PythonError).
#pragma once

#include "boundary/error.hpp"
#include "core/interrupt.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace velnor::boundary {

// Integers through the index protocol (int, bool, any __index__), then to int64.
std::int64_t to_int64(PyObject* object);
// Integers through the index protocol, then to the size type; negative values raise OverflowError.
std::size_t to_size(PyObject* object);
// Anything the interpreter's float conversion accepts.
double to_double(PyObject* object);
// Only the two bool objects themselves.
bool to_bool(PyObject* object);

// A str (or subclass) as UTF-8, valid while this value lives. An ASCII str lends its own characters;
// any other str is encoded into a temporary copy that this value owns and releases, so nothing is left
// cached inside the str after the call.
struct Utf8Text {
    std::string_view bytes;
    Ref owner;           // the str itself (ASCII) or its temporary encoding
    bool ascii = false;  // every byte is a whole character: all index units coincide
};
Utf8Text to_text(PyObject* object);
// The same for an object already known to be a str, told whether it is known to be ASCII.
Utf8Text utf8_text(PyObject* str, bool ascii);

// A str (or subclass), checked only: the object itself, borrowed.
PyObject* to_str(PyObject* object);

// Non-ASCII texts up to this many code points are read through a buffer on the stack: no object is made.
inline constexpr Py_ssize_t short_text_limit = 256;

// The code points of a str of at most `short_text_limit` of them, in a buffer of its own.
class ShortCodePoints {
public:
    // `length` is the str's length, at most `short_text_limit`.
    ShortCodePoints(PyObject* str, Py_ssize_t length);
    std::span<const std::uint32_t> get() const noexcept { return {code_points_, size_}; }
    // True when every code point is below 0x80.
    bool ascii() const noexcept;

private:
    std::uint32_t code_points_[short_text_limit];
    std::size_t size_;
};

// A str of at most `short_text_limit` code points as UTF-8, in a buffer of its own: nothing is allocated
// and nothing is left inside the str. A surrogate raises the interpreter's own UnicodeEncodeError.
class ShortUtf8 {
public:
    ShortUtf8(PyObject* str, Py_ssize_t length);
    std::string_view bytes() const noexcept { return {bytes_, size_}; }
    bool ascii() const noexcept { return ascii_; }  // every byte is a whole character

private:
    char bytes_[4 * short_text_limit];
    std::size_t size_ = 0;
    bool ascii_ = true;
};

// Raises the interpreter's UnicodeEncodeError for a str known to hold a surrogate, from its strict
// UTF-8 encoder, which is the one that describes the failure.
[[noreturn]] void raise_encode_error(PyObject* str);

// Asks str.isascii() (constant time, a few instructions): true when every code point of the str is below 0x80.
bool asks_ascii(PyObject* text);

// Calls `use(bytes, ascii)` with a str of `length` code points as UTF-8, told whether it is ASCII (asks_ascii):
// the str's own buffer when it is ASCII, a copy on the stack when it is short, a temporary encoding
// otherwise. `ascii` in the call is true when every byte is a whole character.
template <class Use>
decltype(auto) with_utf8(PyObject* str, Py_ssize_t length, bool ascii, Use&& use) {
    if (!ascii && length <= short_text_limit) {
        const ShortUtf8 text(str, length);
        return use(text.bytes(), text.ascii());
    }
    const Utf8Text text = utf8_text(str, ascii);
    return use(text.bytes, text.ascii);
}

// Copies the code points of one str, block after block: read(start, out) fills `out` with the code
// points from index `start` on, out.size() of them. A block wholly in U+0000..U+00FF (Latin-1, which the
// interpreter keeps at one byte a code point: most European prose) is copied out as bytes and widened by
// the text kernels, several times faster than the interpreter's own widening; a block that is not costs a
// failed try, so the next `retry_after` blocks go the plain way.
class CodePointReader {
public:
    explicit CodePointReader(PyObject* text) noexcept : text_(text) {}

    void read(std::size_t start, std::span<std::uint32_t> out);
    // Copies the block as Latin-1 bytes, or answers false when it holds a code point above U+00FF (and
    // `read` then takes the next blocks as code points without trying Latin-1 first).
    bool read_latin1(std::size_t start, std::span<unsigned char> out);
    PyObject* text() const noexcept { return text_; }

private:
    // The block's Latin-1 encoding, or null when it is not Latin-1.
    Ref latin1_block(std::size_t start, std::size_t size, Ref& piece);

    static constexpr unsigned retry_after = 64;
    static constexpr std::size_t probe_length = 512;  // code points of the first look at a Latin-1 block
    PyObject* text_;
    unsigned skip_ = 0;      // blocks still to read without trying Latin-1
    bool probed_ = false;    // a Latin-1 block was read or tried already
};

// Calls `visit(block)` with consecutive blocks (std::span<const std::uint32_t>) of a str's code points,
// copied through one fixed buffer, so memory stays constant whatever the length of the text.
template <class Visit>
void for_each_utf32_block(PyObject* text, Visit&& visit) {
    constexpr Py_ssize_t block = 4096;  // 16 KB: still in the nearest caches between copy and visit
    const Py_ssize_t length = PyUnicode_GetLength(text);
    if (length < 0) {
        throw_python_error();
    }
    std::vector<std::uint32_t> buffer(static_cast<std::size_t>(std::min(length, block)));
    CodePointReader reader(text);
    core::InterruptPoll poll;
    for (Py_ssize_t start = 0; start < length; start += block) {
        const auto piece = std::span<std::uint32_t>(buffer).first(static_cast<std::size_t>(std::min(block, length - start)));
        reader.read(static_cast<std::size_t>(start), piece);
        visit(std::span<const std::uint32_t>(piece));
        poll.tick(piece.size());
    }
}

// Checks for a tuple (or subclass) of exactly `expected` items.
void check_tuple(PyObject* object, Py_ssize_t expected);

// A tuple of exactly sizeof...(T) items, each converted in order.
template <class... Converters>
auto to_tuple(PyObject* object, Converters&&... converters) {
    check_tuple(object, static_cast<Py_ssize_t>(sizeof...(Converters)));
    // Braced initialisation evaluates left to right, so items convert in order.
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return std::tuple{converters(PyTuple_GetItem(object, static_cast<Py_ssize_t>(I)))...};
    }(std::index_sequence_for<Converters...>{});
}

// Calls `visit(item)` for each item of a sequence, in iteration order, holding a reference to each item
// while it is visited.
// Exact lists and tuples are read by index, re-reading the length at every step as their iterators do;
// every other sequence goes through the iterator protocol. A visit may run Python code that drops every
// other reference to a list, so the list is held here too, as its iterator would hold it.
template <class Visit>
void for_each_item(PyObject* sequence, Visit&& visit) {
    if (PyList_CheckExact(sequence)) {
        const Ref list = Ref::borrow(sequence);
        for (Py_ssize_t i = 0; i < PyList_Size(list.get()); ++i) {
            Ref item = Ref::borrow(PyList_GetItem(list.get(), i));
            visit(item.get());
        }
        return;
    }
    if (PyTuple_CheckExact(sequence)) {
        const Py_ssize_t size = PyTuple_Size(sequence);
        for (Py_ssize_t i = 0; i < size; ++i) {
            visit(PyTuple_GetItem(sequence, i));  // a tuple keeps its items alive and cannot change
        }
        return;
    }
    Ref iterator = checked(PyObject_GetIter(sequence));
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        visit(item.get());
    }
    if (PyErr_Occurred()) {
        throw_python_error();
    }
}

// Returns the sequence's reported length as a capacity hint; a failing length query counts as 0, unless
// its error stops fallbacks.
std::size_t length_hint(PyObject* sequence);

// Any object passing the sequence check; its items converted in order by `converter`, into a `List`
// (by default a std::vector of what the converter returns).
template <class List = void, class Converter>
auto to_vector(PyObject* object, Converter&& converter) {
    using Item = decltype(converter(std::declval<PyObject*>()));
    using Items = std::conditional_t<std::is_void_v<List>, std::vector<Item>, List>;
    if (!PySequence_Check(object)) {
        raise_conversion_error(object, "Sequence");
    }
    Items items;
    items.reserve(length_hint(object));
    core::InterruptPoll poll(core::interrupt_interval / 16);  // each item is read through the interpreter
    for_each_item(object, [&](PyObject* item) {
        poll.tick();
        items.push_back(converter(item));
    });
    return items;
}

}  // namespace velnor::boundary
