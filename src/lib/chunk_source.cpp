#include "lib/chunk_source.hpp"

#include "boundary/convert.hpp"
#include "core/interrupt.hpp"

#include <algorithm>
#include <span>

namespace velnor::chunks {

using namespace boundary;

namespace {

bool uses_generic_lookup(PyTypeObject* type) noexcept {
    return reinterpret_cast<getattrofunc>(PyType_GetSlot(type, Py_tp_getattro)) == &PyObject_GenericGetAttr;
}

iternextfunc iterator_slot(PyTypeObject* type) noexcept {
    return reinterpret_cast<iternextfunc>(PyType_GetSlot(type, Py_tp_iternext));
}

// Reads the attribute `name` of a class through the descriptor that `type` itself defines: a metaclass can
// shadow attributes such as `__dictoffset__` or `__mro__` with any value, but not these descriptors.
Ref true_class_attribute(PyTypeObject* type, const char* name) {
    auto* type_type = reinterpret_cast<PyObject*>(&PyType_Type);
    Ref type_attributes = checked(PyObject_GetAttrString(type_type, "__dict__"));
    Ref descriptor = checked(PyMapping_GetItemString(type_attributes.get(), name));
    return checked(PyObject_CallMethod(descriptor.get(), "__get__", "O", reinterpret_cast<PyObject*>(type)));
}

// True when instances of `type` may carry a `__dict__`. The offset is fixed when a class is created, and
// `__class__` assignment demands equal offsets, so the answer holds for the type's lifetime.
bool has_instance_dict(PyTypeObject* type) {
    Ref offset = true_class_attribute(type, "__dictoffset__");
    const int truth = PyObject_IsTrue(offset.get());
    if (truth < 0) {
        throw_python_error();
    }
    return truth != 0;
}

// Static types and types flagged immutable can change neither their slots nor any instance's `__class__`.
bool is_immutable(PyTypeObject* type) noexcept {
    const unsigned long flags = PyType_GetFlags(type);
    return (flags & Py_TPFLAGS_IMMUTABLETYPE) != 0 || (flags & Py_TPFLAGS_HEAPTYPE) == 0;
}

// True when no class on the method resolution order can change: assigning to a base class's attribute
// rewrites the slots that its subclasses inherit, immutable or not.
bool is_immutable_throughout(PyTypeObject* type) {
    Ref mro = true_class_attribute(type, "__mro__");
    bool immutable = true;
    for_each_item(mro.get(), [&](PyObject* base) {
        immutable = immutable && PyType_Check(base) && is_immutable(reinterpret_cast<PyTypeObject*>(base));
    });
    return immutable;
}

// After a step returned null: true when that was the source's end (no error, or StopIteration, which is
// dropped); any other error is raised.
bool at_end() {
    if (PyErr_Occurred() != nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_StopIteration)) {
            throw_python_error();
        }
        PyErr_Clear();
    }
    return true;
}

// One item as `source.__next__()` gives it: a new reference, or null with the error set.
PyObject* by_lookup(PyObject* source) {
    Ref method = checked(PyObject_GetAttrString(source, "__next__"));
    Ref no_arguments = checked(PyTuple_New(0));
    return PyObject_Call(method.get(), no_arguments.get(), nullptr);
}

// Hands the slots filled so far over to the chunk, also when a step throws.
class CommitOnExit {
public:
    CommitOnExit(OwnedItems& chunk, const std::size_t& filled) noexcept : chunk_(chunk), filled_(filled) {}
    CommitOnExit(const CommitOnExit&) = delete;
    CommitOnExit& operator=(const CommitOnExit&) = delete;
    ~CommitOnExit() { chunk_.commit(filled_); }

private:
    OwnedItems& chunk_;
    const std::size_t& filled_;
};

// Appends items produced by `step` (new reference, or null with or without an error) until `chunk` holds
// `limit` items or the source ends; returns true when it ended. The items go straight into the chunk's free
// slots, counted in a local, so that a cheap source (a dict or list iterator) pays a store and an increment
// an item.
// Items read between two checks for a pending signal: a millisecond's worth from the cheapest source.
constexpr std::size_t poll_piece = std::size_t{1} << 16;

template <class Step>
bool collect(OwnedItems& chunk, std::size_t limit, Step step) {
    while (chunk.size() < limit) {
        const std::span<PyObject*> free = chunk.free_slots();
        const std::size_t wanted = std::min({free.size(), limit - chunk.size(), poll_piece});
        std::size_t filled = 0;
        const CommitOnExit commit(chunk, filled);
        while (filled < wanted) {
            PyObject* item = step();
            if (item == nullptr) {
                return at_end();
            }
            free[filled++] = item;
        }
        if (filled == poll_piece) {
            core::check_interrupt();  // a source written in C runs no Python code that would notice Ctrl-C
        }
    }
    return false;
}

}  // namespace

SourceReader::SourceReader(PyObject* source) {
    // A class without `__next__` still has an iterator slot (one that raises TypeError); PyIter_Check
    // tells it apart from a real one.
    PyTypeObject* type = Py_TYPE(source);
    if (!PyIter_Check(source) || !uses_generic_lookup(type) || has_instance_dict(type)) {
        return;
    }
    if (is_immutable_throughout(type)) {
        path_ = Path::fixed_slot;
        slot_ = iterator_slot(type);
        return;
    }
    // A class can gain `__getattr__`, lose or replace `__next__`, and the source can be given another class.
    path_ = Path::checked_slot;
    type_ = Ref::borrow(reinterpret_cast<PyObject*>(type));
}

bool SourceReader::read(PyObject* source, OwnedItems& chunk, std::size_t limit) const {
    switch (path_) {
    case Path::fixed_slot:
        return collect(chunk, limit, [source, slot = slot_] { return slot(source); });
    case Path::checked_slot:
        return collect(chunk, limit, [source, type = reinterpret_cast<PyTypeObject*>(type_.get())] {
            if (Py_TYPE(source) == type && uses_generic_lookup(type) && PyIter_Check(source)) {
                return iterator_slot(type)(source);
            }
            return by_lookup(source);
        });
    case Path::lookup:
        break;
    }
    return collect(chunk, limit, [source] { return by_lookup(source); });
}

}  // namespace velnor::chunks
