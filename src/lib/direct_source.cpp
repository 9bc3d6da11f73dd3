#include "lib/direct_source.hpp"

#include "boundary/error.hpp"
#include "boundary/result.hpp"
#include "core/compiler.hpp"
#include "core/interrupt.hpp"

#include <algorithm>

namespace velnor::chunks {

using namespace boundary;

namespace {

// Items copied between two checks for a pending signal: a slice of this many items takes about a
// millisecond, so a huge chunk of a list stays interruptible.
constexpr Py_ssize_t copy_piece = Py_ssize_t{1} << 18;

// The integer attribute `name` of a range, or nothing when it leaves the 64-bit range.
std::optional<long long> range_bound(PyObject* range, const char* name) {
    Ref value = checked(PyObject_GetAttrString(range, name));
    const long long bound = PyLong_AsLongLong(value.get());
    if (bound == -1 && PyErr_Occurred() != nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) {
            throw_python_error();
        }
        PyErr_Clear();
        return std::nullopt;
    }
    return bound;
}

// How many of `available` items the next chunk takes.
Py_ssize_t chunk_length(Py_ssize_t available, std::size_t limit) noexcept {
    return static_cast<std::size_t>(available) < limit ? available : static_cast<Py_ssize_t>(limit);
}

// Appends `piece` (a list or tuple) to the list `out`.
void append_all(PyObject* out, PyObject* piece) {
    const Py_ssize_t end = PyList_Size(out);
    if (PyList_SetSlice(out, end, end, piece) < 0) {
        throw_python_error();
    }
}

}  // namespace

std::optional<DirectSource> DirectSource::of(PyObject* iterable) {
    PyTypeObject* type = Py_TYPE(iterable);
    if (type == &PyList_Type) {
        return DirectSource(Kind::list);
    }
    if (type == &PyTuple_Type) {
        return DirectSource(Kind::tuple);
    }
    if (type != &PyRange_Type) {
        return std::nullopt;
    }
    const auto start = range_bound(iterable, "start");
    const auto stop = range_bound(iterable, "stop");
    const auto step = range_bound(iterable, "step");
    if (!start || !stop || !step) {
        return std::nullopt;
    }
    const Py_ssize_t length = PyObject_Size(iterable);
    if (length < 0) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) {
            throw_python_error();
        }
        PyErr_Clear();
        return std::nullopt;
    }
    // Every value lies between start and stop, so none leaves the 64-bit range; stepping past the last
    // one may wrap, which the unsigned arithmetic makes harmless.
    DirectSource source(Kind::range);
    source.next_ = static_cast<std::uint64_t>(*start);
    source.step_ = static_cast<std::uint64_t>(*step);
    source.remaining_ = static_cast<std::uint64_t>(length);
    return source;
}

Ref DirectSource::read(PyObject* container, std::size_t limit, bool& exhausted) {
    switch (kind_) {
    case Kind::list:
        return read_list(container, limit, exhausted);
    case Kind::tuple:
        return read_tuple(container, limit, exhausted);
    case Kind::range:
        break;
    }
    return read_range(limit, exhausted);
}

Ref DirectSource::read_list(PyObject* list, std::size_t limit, bool& exhausted) {
    if (limit > static_cast<std::size_t>(copy_piece)) {
        return read_list_in_pieces(list, limit, exhausted);
    }
    // One slice, the common case: a short slice is also the list's end, as it would be for its iterator.
    const Py_ssize_t available = PyList_Size(list) - index_;
    if (available <= 0) {
        exhausted = true;
        return {};
    }
    const Py_ssize_t length = chunk_length(available, limit);
    Ref chunk = checked(PyList_GetSlice(list, index_, index_ + length));
    index_ += length;
    exhausted = static_cast<std::size_t>(length) < limit;
    return chunk;
}

// No Python code runs while a slice is copied; between pieces a signal handler may run and change the
// list, which is then read afresh, as its iterator would read it.
Ref DirectSource::read_list_in_pieces(PyObject* list, std::size_t limit, bool& exhausted) {
    Ref chunk;
    std::size_t taken = 0;
    while (taken < limit) {
        const Py_ssize_t available = PyList_Size(list) - index_;
        if (available <= 0) {
            exhausted = true;
            break;
        }
        const Py_ssize_t length = std::min(chunk_length(available, limit - taken), copy_piece);
        Ref piece = checked(PyList_GetSlice(list, index_, index_ + length));
        index_ += length;
        taken += static_cast<std::size_t>(length);
        if (!chunk) {
            chunk = std::move(piece);
        } else {
            append_all(chunk.get(), piece.get());
        }
        if (taken < limit) {
            core::check_interrupt();
        }
    }
    return chunk;
}

Ref DirectSource::read_tuple(PyObject* tuple, std::size_t limit, bool& exhausted) {
    const Py_ssize_t available = PyTuple_Size(tuple) - index_;
    if (available <= 0) {
        exhausted = true;
        return {};
    }
    const Py_ssize_t length = chunk_length(available, limit);
    // Replacing the empty slots of a list made at its exact length keeps that length's storage.
    Ref chunk = new_hidden_list(static_cast<std::size_t>(std::min(length, copy_piece)));
    for (Py_ssize_t done = 0; done < length;) {
        const Py_ssize_t part = std::min(length - done, copy_piece);
        Ref piece = checked(PyTuple_GetSlice(tuple, index_ + done, index_ + done + part));
        if (done == 0) {
            if (PyList_SetSlice(chunk.get(), 0, part, piece.get()) < 0) {
                throw_python_error();
            }
            chunk = reveal(std::move(chunk));  // every slot filled
        } else {
            core::check_interrupt();
            append_all(chunk.get(), piece.get());
        }
        done += part;
    }
    index_ += length;
    exhausted = static_cast<std::size_t>(length) < limit;
    return chunk;
}

// The values are made here, as the range's iterator makes them; the position moves with every value
// made, so values made for a chunk that fails (Ctrl-C) are lost, as with any other source.
Ref DirectSource::read_range(std::size_t limit, bool& exhausted) {
    if (remaining_ == 0) {
        exhausted = true;
        return {};
    }
    const std::uint64_t length = std::min<std::uint64_t>(remaining_, limit);
    ListFill chunk(static_cast<std::size_t>(length));  // fails at once for a huge chunk
    core::InterruptPoll poll(core::interrupt_interval / 16);  // each value is a new int
    for (std::uint64_t index = 0; index < length; ++index) {
        poll.tick();
        PyObject* value = PyLong_FromLongLong(static_cast<long long>(next_));
        if (value == nullptr) {
            throw_python_error();
        }
        next_ += step_;
        --remaining_;
        chunk.push(value);
    }
    exhausted = length < limit;
    return chunk.finish();
}

}  // namespace velnor::chunks
