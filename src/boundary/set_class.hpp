// The Python face shared by the two set classes (Span and Interval): variadic methods, the three tests,
// the operator slots with their NotImplemented and in-place fallback rules, comparisons and containment.
//
// `Class` is a traits type as in instance.hpp, plus `using Point` and `static Point to_point(PyObject*)`.
// The algebra is found by argument-dependent lookup in the namespace of the value's segment type
// (velnor::span or velnor::interval), and must offer, over normalised segment lists:
//   Value unite(const Value&, const Value&);                    a | b
//   void unite_all(Value&, std::span<const Value* const>);    target | every other
//   Value intersect(const Value&, const Value&);               a & b
//   Value subtract(const Value&, const Value&);                a - b
//   void unite_in_place(Value&, const Value&);                a |= b (and intersect_, subtract_in_place):
//                                                              a as it was when they throw
//   bool is_subset(const Value&, const Value&);                a <= b
//   bool is_disjoint(const Value&, const Value&);
//   bool contains(const Value&, Derived&, Point);          with the class's `Derived` index
// and the text forms `std::string format_repr(const Value&)` and `std::string format_str(const Value&)`.
#pragma once

#include "boundary/binder.hpp"
#include "boundary/convert.hpp"
#include "boundary/entry.hpp"
#include "boundary/input_miss.hpp"
#include "boundary/instance.hpp"
#include "boundary/result.hpp"
#include "boundary/set_pickle.hpp"
#include "boundary/type.hpp"
#include "core/polled_copy.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace velnor::boundary::set_class {

template <class Class>
using Value = typename Class::Value;

// The members of `others`, each read in place under a shared hold that lasts for the call. No Python code
// runs while the holds are kept, so this is observably the same as copying each list first.
// An item that is not of the class raises the conversion TypeError without an "argument" prefix.
template <class Class>
class Others {
public:
    explicit Others(std::span<PyObject* const> items) {
        holds_.reserve(items.size());
        values_.reserve(items.size());
        for (PyObject* item : items) {
            holds_.push_back(read_shared<Class>(item));
            values_.push_back(&*holds_.back());
        }
    }
    std::span<const Value<Class>* const> values() const noexcept { return values_; }
    bool empty() const noexcept { return values_.empty(); }

private:
    std::vector<Shared<Class>> holds_;
    std::vector<const Value<Class>*> values_;
};

// self ∪ every other.
template <class Class>
Value<Class> union_of(const Value<Class>& self, const Others<Class>& others) {
    const auto values = others.values();
    if (values.size() == 1) {
        return unite(self, *values[0]);  // straight into the result, with no copy of self first
    }
    Value<Class> result = self;
    unite_all(result, values);
    return result;
}

// self ∩ each other, in argument order.
template <class Class>
Value<Class> intersection_of(const Value<Class>& self, const Others<Class>& others) {
    const auto values = others.values();
    if (values.empty()) {
        return self;
    }
    Value<Class> result = intersect(self, *values[0]);
    for (const Value<Class>* other : values.subspan(1)) {
        result = intersect(result, *other);
    }
    return result;
}

// self − (the union of all others).
template <class Class>
Value<Class> difference_of(const Value<Class>& self, const Others<Class>& others) {
    const auto values = others.values();
    if (values.empty()) {
        return self;
    }
    if (values.size() == 1) {
        return subtract(self, *values[0]);
    }
    Value<Class> subtrahend;
    unite_all(subtrahend, values);
    return subtract(self, subtrahend);
}

// A variadic method that returns a new object: shared hold, bind, read others, compute.
template <class Class, const FunctionDescription& Description,
          Value<Class> (*Compute)(const Value<Class>&, const Others<Class>&)>
Ref returning(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Shared<Class> receiver(self);
    const Arguments<0> arguments(Description, args, nargs, kwnames);
    const Others<Class> others(arguments.rest());
    return new_instance<Class>(Compute(*receiver, others));
}

// The `_update` forms: with one other, the in-place operation, which may write over the receiver's own
// storage; otherwise the new list is computed whole and moved in. Either way a failure leaves the receiver
// as it was.
template <class Class, void (*InPlace)(Value<Class>&, const Value<Class>&),
          Value<Class> (*Compute)(const Value<Class>&, const Others<Class>&)>
void update(Value<Class>& self, const Others<Class>& others) {
    const auto values = others.values();
    if (values.size() == 1) {
        InPlace(self, *values[0]);
    } else {
        self = Compute(self, others);
    }
}

// A variadic `_update` method: exclusive hold, bind, read others, update.
template <class Class, const FunctionDescription& Description,
          void (*Update)(Value<Class>&, const Others<Class>&)>
Ref updating(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Exclusive<Class> receiver(self);
    const Arguments<0> arguments(Description, args, nargs, kwnames);
    const Others<Class> others(arguments.rest());
    Update(*receiver, others);
    return none();
}

template <class Class>
bool subset(const Value<Class>& a, const Value<Class>& b) {
    return is_subset(a, b);
}
template <class Class>
bool superset(const Value<Class>& a, const Value<Class>& b) {
    return is_subset(b, a);
}
template <class Class>
bool disjoint(const Value<Class>& a, const Value<Class>& b) {
    return is_disjoint(a, b);
}

// isdisjoint / issubset / issuperset: `other` is a class-typed parameter read in place.
template <class Class, const FunctionDescription& Description,
          bool (*Test)(const Value<Class>&, const Value<Class>&)>
Ref test(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Shared<Class> receiver(self);
    const Arguments<1> arguments(Description, args, nargs, kwnames);
    const Shared<Class> other = arguments.convert(0, read_shared<Class>);
    return to_python(Test(*receiver, *other));
}

// &, |, -: NotImplemented for a foreign left operand or a right operand that cannot be read.
template <class Class, Value<Class> (*Operation)(const Value<Class>&, const Value<Class>&)>
Ref binary(PyObject* left, PyObject* right) {
    if (!is_instance<Class>(left)) {
        return not_implemented();
    }
    const Shared<Class> a(left);
    const auto b = try_read_shared<Class>(right);
    if (!b) {
        return not_implemented();
    }
    return new_instance<Class>(Operation(*a, **b));
}

// &=, |=, -=: "Already borrowed" for a held receiver; NotImplemented when the right operand cannot be read
// (also when it is the receiver itself), so the interpreter falls back to the binary operator.
// The exclusive hold resets the membership index before the list changes.
template <class Class, void (*Operation)(Value<Class>&, const Value<Class>&)>
Ref in_place(PyObject* left, PyObject* right) {
    if (!is_instance<Class>(left)) {
        return not_implemented();
    }
    const Exclusive<Class> a(left);
    const auto b = try_read_shared<Class>(right);
    if (!b) {
        return not_implemented();
    }
    Operation(*a, **b);
    return Ref::borrow(left);
}

// Equality of the canonical lists; the orderings are inclusion, a partial order.
template <class Class>
Ref compare(PyObject* left, PyObject* right, int op) {
    if (!is_instance<Class>(left)) {
        return not_implemented();
    }
    const Shared<Class> a(left);
    const auto b = try_read_shared<Class>(right);
    if (!b) {
        return not_implemented();
    }
    const Value<Class>& x = *a;
    const Value<Class>& y = **b;
    switch (op) {
        case Py_EQ: return to_python(x == y);
        case Py_NE: return to_python(x != y);
        case Py_LE: return to_python(is_subset(x, y));
        case Py_LT: return to_python(x != y && is_subset(x, y));
        case Py_GE: return to_python(is_subset(y, x));
        case Py_GT: return to_python(x != y && is_subset(y, x));
        default: return not_implemented();
    }
}

// `x in s`: the conversion error is raised as it is, never answered with False. The receiver is held while
// the item converts; an item other than an exact int or float may run Python code for that, and its hold
// then tells writers of other threads not to wait for it.
template <class Class, HoldPolicy Policy>
bool contains_point_held(PyObject* self, PyObject* item) {
    const Shared<Class, Policy> receiver(self);
    const auto point = Class::to_point(item);
    return contains(*receiver, receiver.derived(), point);
}

template <class Class>
bool contains_point(PyObject* self, PyObject* item) {
    if (PyLong_CheckExact(item) || PyFloat_CheckExact(item)) {
        return contains_point_held<Class, HoldPolicy::waitable>(self, item);
    }
    return contains_point_held<Class, HoldPolicy::runs_python>(self, item);
}

// The algebra under names whose address can be taken (the algebra itself is found by lookup on the value).
template <class Class>
Value<Class> unite_values(const Value<Class>& a, const Value<Class>& b) {
    return unite(a, b);
}
template <class Class>
Value<Class> intersect_values(const Value<Class>& a, const Value<Class>& b) {
    return intersect(a, b);
}
template <class Class>
Value<Class> subtract_values(const Value<Class>& a, const Value<Class>& b) {
    return subtract(a, b);
}
template <class Class>
void unite_over(Value<Class>& a, const Value<Class>& b) {
    unite_in_place(a, b);
}
template <class Class>
void intersect_over(Value<Class>& a, const Value<Class>& b) {
    intersect_in_place(a, b);
}
template <class Class>
void subtract_over(Value<Class>& a, const Value<Class>& b) {
    subtract_in_place(a, b);
}

// Docstrings of the three tests, which name the class.
struct TestDocs {
    const char* isdisjoint;
    const char* issubset;
    const char* issuperset;
};

// The nine set methods, in the order the class lists them. `D` is the class's FunctionDescription set.
template <class Class, class D>
std::array<PyMethodDef, 9> methods(TestDocs docs) {
    constexpr auto union_update = update<Class, unite_over<Class>, union_of<Class>>;
    constexpr auto intersection_update = update<Class, intersect_over<Class>, intersection_of<Class>>;
    constexpr auto difference_update = update<Class, subtract_over<Class>, difference_of<Class>>;
    return {{
        fastcall_method<returning<Class, D::union_, union_of<Class>>>("union", nullptr),
        fastcall_method<updating<Class, D::union_update, union_update>>("union_update", nullptr),
        fastcall_method<returning<Class, D::intersection, intersection_of<Class>>>("intersection", nullptr),
        fastcall_method<updating<Class, D::intersection_update, intersection_update>>("intersection_update",
                                                                                      nullptr),
        fastcall_method<returning<Class, D::difference, difference_of<Class>>>("difference", nullptr),
        fastcall_method<updating<Class, D::difference_update, difference_update>>("difference_update", nullptr),
        fastcall_method<test<Class, D::isdisjoint, disjoint<Class>>>("isdisjoint", docs.isdisjoint),
        fastcall_method<test<Class, D::issubset, subset<Class>>>("issubset", docs.issubset),
        fastcall_method<test<Class, D::issuperset, superset<Class>>>("issuperset", docs.issuperset),
    }};
}

template <class Function>
void* slot(Function function) noexcept {
    return reinterpret_cast<void*>(function);
}

// Operator, comparison and containment slots.
template <class Class>
std::array<PyType_Slot, 8> slots() {
    return {{
        {Py_nb_and, slot(binary_entry<binary<Class, intersect_values<Class>>>)},
        {Py_nb_or, slot(binary_entry<binary<Class, unite_values<Class>>>)},
        {Py_nb_subtract, slot(binary_entry<binary<Class, subtract_values<Class>>>)},
        {Py_nb_inplace_and, slot(binary_entry<in_place<Class, intersect_over<Class>>>)},
        {Py_nb_inplace_or, slot(binary_entry<in_place<Class, unite_over<Class>>>)},
        {Py_nb_inplace_subtract, slot(binary_entry<in_place<Class, subtract_over<Class>>>)},
        {Py_tp_richcompare, slot(compare_entry<compare<Class>>)},
        {Py_sq_contains, slot(contains_entry<contains_point<Class>>)},
    }};
}

// Constructor alternatives that both classes try.

// A sequence whose items all convert, or nothing: why it is nothing goes to `miss`, for the error of the
// last alternative, unless the failure asks to stop (Ctrl-C, MemoryError), which ends the construction at once.
template <class List, class Converter>
std::optional<List> try_read_sequence(PyObject* input, Converter&& converter, InputMiss& miss) {
    if (!PySequence_Check(input)) {
        miss.not_a_sequence();
        return std::nullopt;
    }
    std::size_t index = 0;
    Ref failed_item;
    const auto counted = [&](PyObject* item) {
        try {
            auto value = converter(item);
            ++index;
            return value;
        } catch (PythonError&) {
            failed_item = Ref::borrow(item);
            throw;
        }
    };
    try {
        return to_vector<List>(input, counted);
    } catch (PythonError& error) {
        if (error.stops_fallbacks()) {
            throw;
        }
        if (failed_item) {
            miss.item_failed(std::move(error), std::move(failed_item), index);
        } else {
            miss.read_failed(std::move(error));
        }
        return std::nullopt;
    }
}

// An instance of `Class` that is not held exclusively, read through `read`, or nothing; an instance held
// exclusively is told to `miss`.
template <class Class, class Read>
auto try_read_instance(PyObject* input, Read&& read, InputMiss& miss)
    -> std::optional<std::remove_cvref_t<decltype(read(*std::declval<Shared<Class>&>()))>> {
    if (auto shared = try_read_shared<Class>(input)) {
        return read(**shared);
    }
    if (is_instance<Class>(input)) {
        miss.instance_held();
    }
    return std::nullopt;
}

// The conversion hook: `input.<method>()` must return an instance of `Class`, whose list is copied. An input
// without the hook has fitted no alternative: its AttributeError gets `miss` as its cause and the note
// `accepted`.
template <class Class>
Value<Class> read_from_hook(PyObject* input, const char* method, InputMiss& miss, const char* accepted) {
    Ref bound = Ref::steal(PyObject_GetAttrString(input, method));
    if (!bound) {
        PythonError error;
        if (error.matches(PyExc_AttributeError)) {
            miss.explain(error, input, accepted);
        }
        throw error;
    }
    Ref no_arguments = checked(PyTuple_New(0));
    Ref result = checked(PyObject_Call(bound.get(), no_arguments.get(), nullptr));
    return read_copy<Class>(result.get());
}

// copy(): a new object with its own copy of the list.
template <class Class>
Ref copy(PyObject* self) {
    Value<Class> copied = core::polled_copy(*Shared<Class>(self));  // the hold ends before the object is made
    return new_instance<Class>(std::move(copied));
}

// __sizeof__: the object and the segment storage it owns, as `set.__sizeof__` counts its table, so that
// sys.getsizeof and memory profilers see a span's real cost.
// The instance is counted as the interpreter laid it out, since its header differs between builds.
template <class Class>
Ref size_of(PyObject* self) {
    const std::size_t storage = Shared<Class>(self)->capacity() * sizeof(typename Value<Class>::value_type);
    const Ref basic_size = checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "__basicsize__"));
    return to_python(static_cast<std::uint64_t>(to_size(basic_size.get()) + storage));
}

// The text is made under the hold, the str after it ends.
template <class Class>
Ref repr(PyObject* self) {
    const std::string text = format_repr(*Shared<Class>(self));
    return to_python(text);
}

template <class Class>
Ref str(PyObject* self) {
    const std::string text = format_str(*Shared<Class>(self));
    return to_python(text);
}

// What differs between the two set classes' type objects.
struct SetTypeDescription {
    const char* qualified_name;  // a static string, as for create_type
    const char* doc;
    TestDocs tests;
    const char* copy_doc;
    newfunc constructor;
    getter segments;
    std::span<const PyMethodDef> extra_methods;  // methods only this class has
};

// Builds the class's type object: the shared methods and slots, then the class's own pieces.
// Called once per class; the method and getter tables live as long as the process, as the type needs.
template <class Class, class D>
PyTypeObject* create_set_type(const SetTypeDescription& description) {
    static std::vector<PyMethodDef> method_table;
    const auto shared_methods = methods<Class, D>(description.tests);
    method_table.assign(shared_methods.begin(), shared_methods.end());
    method_table.push_back(noargs_method<copy<Class>>("copy", description.copy_doc));
    const auto pickle_methods = set_pickle::methods<Class>();
    method_table.insert(method_table.end(), pickle_methods.begin(), pickle_methods.end());
    method_table.push_back(noargs_method<size_of<Class>>("__sizeof__", "Size of the object in memory, in bytes."));
    method_table.insert(method_table.end(), description.extra_methods.begin(), description.extra_methods.end());
    method_table.push_back({nullptr, nullptr, 0, nullptr});

    static PyGetSetDef getset_table[] = {
        {"segments", nullptr, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    getset_table[0].get = description.segments;

    const auto shared_slots = slots<Class>();
    std::vector<PyType_Slot> slot_table(shared_slots.begin(), shared_slots.end());
    slot_table.push_back({Py_tp_new, slot(description.constructor)});
    slot_table.push_back({Py_tp_repr, slot(unary_entry<repr<Class>>)});
    slot_table.push_back({Py_tp_str, slot(unary_entry<str<Class>>)});

    return create_type({
        .qualified_name = description.qualified_name,
        .doc = description.doc,
        .basic_size = static_cast<int>(sizeof(InstanceOf<Class>)),
        .dealloc = dealloc<Class>,
        .slots = slot_table,
        .methods = method_table.data(),
        .getset = getset_table,
        .unhashable = true,
    });
}

}  // namespace velnor::boundary::set_class
