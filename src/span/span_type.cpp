// The Span type object: its slots, methods and getters, assembled once per process.
#include "boundary/type.hpp"
#include "span/span_class.hpp"

namespace velnor {

namespace {

PyMethodDef methods[] = {
    {"copy", span_python::copy, METH_NOARGS, "Return a shallow copy of a Span."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"segments", span_python::get_segments, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(span_python::new_)},
};

}  // namespace

PyTypeObject* SpanClass::type() {
    static PyTypeObject* const type = boundary::create_type({
        .qualified_name = "builtins.Span",
        .doc = "A class used to represent spans.",
        .basic_size = static_cast<int>(sizeof(boundary::InstanceOf<SpanClass>)),
        .dealloc = boundary::dealloc<SpanClass>,
        .slots = slots,
        .methods = methods,
        .getset = getset,
        .unhashable = true,
    });
    return type;
}

}  // namespace velnor
