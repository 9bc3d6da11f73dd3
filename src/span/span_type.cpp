// The Span type object, assembled once per process.
#include "boundary/set_class.hpp"
#include "span/span_class.hpp"

namespace velnor {

PyTypeObject* SpanClass::type() {
    static const PyMethodDef own_methods[] = {
        {"to_interval", span_python::to_interval, METH_NOARGS, nullptr},
    };
    static PyTypeObject* const type = boundary::set_class::create_set_type<SpanClass, boundary::descriptions::span>({
        .qualified_name = "velnor_lib.Span",
        .doc = "A class used to represent spans.",
        .tests = {
            .isdisjoint = "Returns True if two Spans do not overlap.",
            .issubset = "Return True if other contains this Span, else False.",
            .issuperset = "Return True if this Span contains other, else False.",
        },
        .copy_doc = "Return a shallow copy of a Span.",
        .constructor = span_python::new_,
        .segments = span_python::get_segments,
        .extra_methods = own_methods,
    });
    return type;
}

}  // namespace velnor
