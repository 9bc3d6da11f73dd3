// The Interval type object, assembled once per process.
#include "boundary/set_class.hpp"
#include "interval/interval_class.hpp"

namespace velnor {

PyTypeObject* IntervalClass::type() {
    static PyTypeObject* const type =
        boundary::set_class::create_set_type<IntervalClass, boundary::descriptions::interval>({
            .qualified_name = "velnor_lib.Interval",
            .doc = "A class used to represent intervals.",
            .tests = {
                .isdisjoint = "Returns True if two Intervals do not overlap.",
                .issubset = "Return True if other contains this Interval, else False.",
                .issuperset = "Return True if this Interval contains other, else False.",
            },
            .copy_doc = "Return a shallow copy of an Interval.",
            .constructor = interval_python::new_,
            .segments = interval_python::get_segments,
            .extra_methods = {},
        });
    return type;
}

}  // namespace velnor
