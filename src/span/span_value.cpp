// Span construction from its three input shapes, and the `segments` view.
#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/result.hpp"
#include "span/span_class.hpp"

#include <optional>

namespace velnor::span_python {

using namespace boundary;

namespace {

span::Segment to_segment(PyObject* pair) {
    auto [start, end] = to_tuple(pair, to_int64, to_int64);
    return {start, end};
}

// The `Segments` alternative: a sequence of integer pairs, or nothing when any item is not one.
std::optional<span::Segments> try_read_pairs(PyObject* input) {
    if (!PySequence_Check(input)) {
        return std::nullopt;
    }
    try {
        return to_vector(input, to_segment);
    } catch (PythonError&) {
        return std::nullopt;  // this alternative failed; the next one decides
    }
}

// The `Span` alternative: a copy of a span that is not held exclusively.
std::optional<span::Segments> try_read_span(PyObject* input) {
    if (auto shared = try_read_shared<SpanClass>(input)) {
        return **shared;
    }
    return std::nullopt;
}

// The `PyAny` alternative: whatever `input.to_span()` returns must be a span.
span::Segments read_to_span_hook(PyObject* input) {
    Ref method = checked(PyObject_GetAttrString(input, "to_span"));
    Ref no_arguments = checked(PyTuple_New(0));
    Ref result = checked(PyObject_Call(method.get(), no_arguments.get(), nullptr));
    return read_copy<SpanClass>(result.get());
}

span::Segments segments_from_input(PyObject* input) {
    if (auto pairs = try_read_pairs(input)) {
        for (const span::Segment& segment : *pairs) {
            if (segment.start > segment.end) {
                raise(PyExc_ValueError, "Start point of segment cannot be greater than its end point");
            }
        }
        span::merge_segments(*pairs);
        return std::move(*pairs);
    }
    if (auto copied = try_read_span(input)) {
        return std::move(*copied);
    }
    return read_to_span_hook(input);
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
    const Shared<SpanClass> receiver(self);
    return to_list(*receiver, [](const span::Segment& segment) {
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
