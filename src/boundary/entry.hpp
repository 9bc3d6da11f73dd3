// Entry points in each signature the interpreter calls, all through the trampoline.
// A Python-facing file writes a body returning Ref (or bool for containment) and names it here.
#pragma once

#include "boundary/trampoline.hpp"

namespace velnor::boundary {

using VarargsBody = Ref (*)(PyObject* self, PyObject* args, PyObject* kwargs);
using FastcallBody = Ref (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
using UnaryBody = Ref (*)(PyObject* self);
using BinaryBody = Ref (*)(PyObject* left, PyObject* right);
using CompareBody = Ref (*)(PyObject* left, PyObject* right, int op);
using ContainsBody = bool (*)(PyObject* self, PyObject* item);
using NewBody = Ref (*)(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// Module functions and methods with METH_VARARGS | METH_KEYWORDS.
template <VarargsBody Body>
PyObject* varargs_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] { return Body(self, args, kwargs); });
}

// Module functions and methods with METH_FASTCALL | METH_KEYWORDS: the arguments arrive as an array, so
// the interpreter builds no tuple and no dictionary for the call.
template <FastcallBody Body>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guarded([&] { return Body(self, args, nargs, kwnames); });
}

// Methods with METH_NOARGS (the interpreter refuses arguments itself).
template <UnaryBody Body>
PyObject* noargs_entry(PyObject* self, PyObject*) noexcept {
    return guarded([&] { return Body(self); });
}

// Slots taking only the receiver: repr, str, iter, iternext.
template <UnaryBody Body>
PyObject* unary_entry(PyObject* self) noexcept {
    return guarded([&] { return Body(self); });
}

// Attribute getters.
template <UnaryBody Body>
PyObject* getter_entry(PyObject* self, void*) noexcept {
    return guarded([&] { return Body(self); });
}

// Number slots: &, |, - and their in-place forms.
template <BinaryBody Body>
PyObject* binary_entry(PyObject* left, PyObject* right) noexcept {
    return guarded([&] { return Body(left, right); });
}

template <CompareBody Body>
PyObject* compare_entry(PyObject* left, PyObject* right, int op) noexcept {
    return guarded([&] { return Body(left, right, op); });
}

template <ContainsBody Body>
int contains_entry(PyObject* self, PyObject* item) noexcept {
    return guarded_int([&] { return Body(self, item) ? 1 : 0; });
}

template <NewBody Body>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] { return Body(type, args, kwargs); });
}

// A method-table row for an entry with keywords; the table stores every entry as PyCFunction, and casting
// through void (*)() says the cast is meant.
template <VarargsBody Body>
inline PyMethodDef varargs_method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(varargs_entry<Body>)),
            METH_VARARGS | METH_KEYWORDS, doc};
}

// A method-table row for an entry of the vector convention, cast as `varargs_method` does.
template <FastcallBody Body>
inline PyMethodDef fastcall_method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fastcall_entry<Body>)),
            METH_FASTCALL | METH_KEYWORDS, doc};
}

// A method-table row for a method without arguments.
template <UnaryBody Body>
inline PyMethodDef noargs_method(const char* name, const char* doc) {
    return {name, noargs_entry<Body>, METH_NOARGS, doc};
}

inline Ref not_implemented() { return Ref::borrow(Py_NotImplemented); }

}  // namespace velnor::boundary
