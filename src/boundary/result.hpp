// Result converters: native values to new Python objects (each a new reference owned by the caller).
#pragma once

#include "boundary/error.hpp"
#include "boundary/slow_release.hpp"
#include "core/interrupt.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace velnor::boundary {

inline Ref to_python(std::int64_t value) { return checked(PyLong_FromLongLong(value)); }
inline Ref to_python(std::uint64_t value) { return checked(PyLong_FromUnsignedLongLong(value)); }
inline Ref to_python(double value) { return checked(PyFloat_FromDouble(value)); }
inline Ref to_python(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
inline Ref to_python(std::string_view text) {
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
inline Ref none() { return Ref::borrow(Py_None); }

// A tuple of the given new references, which it takes over.
template <class... Refs>
Ref make_tuple(Refs&&... items) {
    Ref tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(sizeof...(Refs))));
    Py_ssize_t index = 0;
    // PyTuple_SetItem steals each item, also on failure, which cannot happen on a fresh tuple.
    (PyTuple_SetItem(tuple.get(), index++, items.release()), ...);
    return tuple;
}

// A list made at its final length, its slots still empty, and hidden from the garbage collector until
// `reveal`: a signal handler or a finaliser run while it is filled (at a poll, or by a collection that an
// allocation starts) cannot reach it through gc.get_objects() and read an empty slot. A list that is dropped
// unfinished is freed as it is, untracked.
inline Ref new_hidden_list(std::size_t length) {
    Ref list = checked(PyList_New(static_cast<Py_ssize_t>(length)));
    PyObject_GC_UnTrack(list.get());
    return list;
}

// Shows a list from new_hidden_list, every slot now filled, to the garbage collector.
inline Ref reveal(Ref list) noexcept {
    PyObject_GC_Track(list.get());
    return list;
}

// A hidden list filled from the front. Dropped unfinished (Ctrl-C, MemoryError), it is cut to the slots
// filled, so that freeing it reads none of the untouched rest (a page fault for every 512 slots), and a
// long one is freed in slices after the call returns.
class ListFill {
public:
    explicit ListFill(std::size_t length) : list_(new_hidden_list(length)) {}
    ListFill(const ListFill&) = delete;
    ListFill& operator=(const ListFill&) = delete;
    ~ListFill() {
        if (list_) {
            Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list_.get()), filled_);
            release_in_slices(std::move(list_));
        }
    }

    // Puts `item` (a new reference, taken over) into the next slot.
    void push(PyObject* item) noexcept { PyList_SetItem(list_.get(), filled_++, item); }

    // The list, every slot filled, shown to the garbage collector.
    Ref finish() noexcept { return reveal(std::move(list_)); }

private:
    Ref list_;
    Py_ssize_t filled_ = 0;
};

// A list created at its exact length and filled in order with `convert(item)` (each a Ref).
template <class Range, class Convert>
Ref to_list(const Range& items, Convert&& convert) {
    ListFill list(std::size(items));
    core::InterruptPoll poll(core::interrupt_interval / 16);  // each item is a new Python object or more
    for (const auto& item : items) {
        poll.tick();
        list.push(convert(item).release());
    }
    return list.finish();
}

}  // namespace velnor::boundary
