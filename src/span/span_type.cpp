// The Span type object: its slots, methods and getters, assembled once per process.
#include "boundary/set_class.hpp"
#include "boundary/type.hpp"
#include "span/span_class.hpp"

#include <iterator>

namespace velnor {

namespace {

using namespace boundary;

PyTypeObject* create_span_type() {
    static const auto set_methods = set_class::methods<SpanClass, descriptions::span>({
        .isdisjoint = "Returns True if two Spans do not overlap.",
        .issubset = "Return True if other contains this Span, else False.",
        .issuperset = "Return True if this Span contains other, else False.",
    });
    static PyMethodDef methods[std::size(set_methods) + 3] = {};
    std::copy(set_methods.begin(), set_methods.end(), methods);
    methods[std::size(set_methods)] = {"copy", span_python::copy, METH_NOARGS, "Return a shallow copy of a Span."};
    methods[std::size(set_methods) + 1] = {"to_interval", span_python::to_interval, METH_NOARGS, nullptr};

    static PyGetSetDef getset[] = {
        {"segments", span_python::get_segments, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };

    const auto set_slots = set_class::slots<SpanClass>();
    std::vector<PyType_Slot> slots(set_slots.begin(), set_slots.end());
    slots.push_back({Py_tp_new, set_class::slot(span_python::new_)});
    slots.push_back({Py_tp_repr, set_class::slot(span_python::repr)});
    slots.push_back({Py_tp_str, set_class::slot(span_python::str)});

    return create_type({
        .qualified_name = "builtins.Span",
        .doc = "A class used to represent spans.",
        .basic_size = static_cast<int>(sizeof(InstanceOf<SpanClass>)),
        .dealloc = dealloc<SpanClass>,
        .slots = slots,
        .methods = methods,
        .getset = getset,
        .unhashable = true,
    });
}

}  // namespace

PyTypeObject* SpanClass::type() {
    static PyTypeObject* const type = create_span_type();
    return type;
}

}  // namespace velnor
