// Reading one item at a time from a chunk iterator's source.
#pragma once

#include "lib/owned_items.hpp"

#include <cstddef>

namespace velnor::chunks {

// Steps a source the way `source.__next__()` would, with a direct call of the type's iterator slot where
// that is indistinguishable from the attribute lookup.
//
// The lookup of `__next__` can only find the type's own `__next__` when the type uses the generic attribute
// lookup and its instances carry no `__dict__`; the type's iterator slot then dispatches to that very
// attribute (a built-in slot, or the interpreter's stub that calls a Python-level `__next__`). Every other
// source (a custom `__getattr__` or `__getattribute__`, an instance dictionary that may shadow the method,
// no `__next__` at all) looks `__next__` up afresh for every item.
class SourceReader {
public:
    // Decides, from the source's type, how items are read.
    explicit SourceReader(PyObject* source);
    // A reader that looks `__next__` up for every item.
    SourceReader() noexcept = default;

    // Appends items of `source` to `chunk` until it holds `limit` items or the source signals its end
    // (StopIteration or a subclass, which is dropped); returns true when the source ended. Any other error
    // is raised, leaving the items read so far in `chunk`.
    bool read(PyObject* source, OwnedItems& chunk, std::size_t limit) const;

    // The type kept for a mutable class, or null: a reference the garbage collector must see.
    PyObject* kept_type() const noexcept { return type_.get(); }

private:
    enum class Path : unsigned char {
        lookup,        // `__next__` looked up and called for every item
        fixed_slot,    // an immutable type with immutable bases: its slot and lookup rule cannot change
        checked_slot,  // a mutable class: its slots and the source's `__class__` are checked per item
    };

    Path path_ = Path::lookup;
    iternextfunc slot_ = nullptr;  // the iterator slot of an immutable type
    boundary::Ref type_;           // the source's type when the source was given, for a mutable class
};

}  // namespace velnor::chunks
