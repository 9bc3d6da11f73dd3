// The Interval type object: its slots, methods and getters, assembled once per process.
#include "boundary/set_class.hpp"
#include "boundary/type.hpp"
#include "interval/interval_class.hpp"

#include <iterator>

namespace velnor {

namespace {

using namespace boundary;

PyTypeObject* create_interval_type() {
    static const auto set_methods = set_class::methods<IntervalClass, descriptions::interval>({
        .isdisjoint = "Returns True if two Intervals do not overlap.",
        .issubset = "Return True if other contains this Interval, else False.",
        .issuperset = "Return True if this Interval contains other, else False.",
    });
    static PyMethodDef methods[std::size(set_methods) + 2] = {};
    std::copy(set_methods.begin(), set_methods.end(), methods);
    methods[std::size(set_methods)] = {"copy", interval_python::copy, METH_NOARGS,
                                       "Return a shallow copy of an Interval."};

    static PyGetSetDef getset[] = {
        {"segments", interval_python::get_segments, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };

    const auto set_slots = set_class::slots<IntervalClass>();
    std::vector<PyType_Slot> slots(set_slots.begin(), set_slots.end());
    slots.push_back({Py_tp_new, set_class::slot(interval_python::new_)});
    slots.push_back({Py_tp_repr, set_class::slot(interval_python::repr)});
    slots.push_back({Py_tp_str, set_class::slot(interval_python::str)});

    return create_type({
        .qualified_name = "builtins.Interval",
        .doc = "A class used to represent intervals.",
        .basic_size = static_cast<int>(sizeof(InstanceOf<IntervalClass>)),
        .dealloc = dealloc<IntervalClass>,
        .slots = slots,
        .methods = methods,
        .getset = getset,
        .unhashable = true,
    });
}

}  // namespace

PyTypeObject* IntervalClass::type() {
    static PyTypeObject* const type = create_interval_type();
    return type;
}

}  // namespace velnor
