// Span construction from its three input shapes, and the `segments` view.
#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/result.hpp"
#include "boundary/set_class.hpp"
#include "core/polled_copy.hpp"
#include "span/span_class.hpp"

#include <functional>

namespace velnor::span_python {

using namespace boundary;

namespace {

span::Segment to_segment(PyObject* pair) {
    auto [start, end] = to_tuple(pair, to_int64, to_int64);
    return {start, end};
}

// What the constructor takes, for the error of an input that fits none of the alternatives.
constexpr const char* accepted =
    "Span() takes None, a sequence of (start, end) tuples of 64-bit integers, a Span, "
    "or an object whose to_span() returns a Span";

// The alternatives in order: a sequence of integer pairs, a span, the `to_span()` hook.
span::Segments segments_from_input(PyObject* input) {
    InputMiss miss;
    if (auto pairs = set_class::try_read_sequence<span::Segments>(input, to_segment, miss)) {
        for (const span::Segment& segment : *pairs) {
            if (segment.start > segment.end) {
                raise(PyExc_ValueError, "Start point of segment cannot be greater than its end point");
            }
        }
        span::merge_segments(*pairs);
        return std::move(*pairs);
    }
    if (auto copied = set_class::try_read_instance<SpanClass>(input, std::identity{}, miss)) {
        return std::move(*copied);
    }
    return set_class::read_from_hook<SpanClass>(input, "to_span", miss, accepted);
}

Ref construct(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    const Arguments<1> arguments(descriptions::span::new_, args, kwargs);
    PyObject* input = arguments[0];
    if (input == nullptr || input == Py_None) {
        return new_instance<SpanClass>({});
    }
    return new_instance<SpanClass>(segments_from_input(input));
}

Ref segments(PyObject* self) {
    // The tuples are made from a copy, after the hold ends: an allocation may start a collection whose
    // finalisers run Python code, which must find the object free.
    const span::Segments copied = core::polled_copy(*Shared<SpanClass>(self));
    return to_list(copied, [](const span::Segment& segment) {
        return make_tuple(to_python(segment.start), to_python(segment.end));
    });
}

}  // namespace

PyObject* new_(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return new_entry<construct>(type, args, kwargs);
}

PyObject* get_segments(PyObject* self, void* closure) noexcept {
    return getter_entry<segments>(self, closure);
}

}  // namespace velnor::span_python
