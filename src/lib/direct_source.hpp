// Chunks read straight out of an exact list, tuple or range, without stepping an iterator item by item.
#pragma once

#include "boundary/ref.hpp"
#include "core/compiler.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace velnor::chunks {

// The position of a chunk iterator in a container it reads directly, as the container's own iterator
// would hold it. Only exact built-in types qualify: their `__iter__` cannot be replaced, runs no Python
// code, and the iterator it makes is private to the chunk iterator, so nobody can tell whether it was
// stepped. Reading a list by index mirrors its iterator: items appended between chunks are seen, and a
// list shrunk below the position ends the iteration.
class DirectSource {
public:
    // The direct reader for `iterable`, or nothing when it is not an exact list, tuple or range (or is a
    // range whose bounds leave the 64-bit range, which its own iterator handles).
    static std::optional<DirectSource> of(PyObject* iterable);

    // The next chunk of at most `limit` items as a new list of exactly its length, or an empty Ref when
    // the container has nothing left; sets `exhausted` once the container ran out.
    boundary::Ref read(PyObject* container, std::size_t limit, bool& exhausted);

private:
    enum class Kind : unsigned char { list, tuple, range };

    explicit DirectSource(Kind kind) noexcept : kind_(kind) {}

    boundary::Ref read_list(PyObject* list, std::size_t limit, bool& exhausted);
    // A chunk longer than one slice may take: copied in pieces, polling between them.
    VELNOR_COLD boundary::Ref read_list_in_pieces(PyObject* list, std::size_t limit, bool& exhausted);
    boundary::Ref read_tuple(PyObject* tuple, std::size_t limit, bool& exhausted);
    boundary::Ref read_range(std::size_t limit, bool& exhausted);

    Kind kind_;
    Py_ssize_t index_ = 0;       // list and tuple: the next item's index
    std::uint64_t next_ = 0;     // range: the next value, as two's complement bits
    std::uint64_t step_ = 0;     // range: the step, likewise (a negative step wraps)
    std::uint64_t remaining_ = 0;  // range: values not yet yielded
};

}  // namespace velnor::chunks
