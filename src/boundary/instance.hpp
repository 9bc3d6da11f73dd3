// The layout shared by every instance of the module's classes, and the conversions of class-typed values.
// A class is described by a traits type `Class` with `using Value`, `static constexpr const char* name`
// and `static PyTypeObject* type()` (the one type object of the process).
#pragma once

#include "boundary/error.hpp"
#include "boundary/hold.hpp"

#include <memory>
#include <new>
#include <optional>
#include <utility>

namespace velnor::boundary {

// Data derived from an instance's value and kept beside it (Span's membership index), for a class that
// declares `using Derived`: filled on demand under a shared hold, and reset whenever an exclusive hold is
// taken, since every change of the value happens under one.
struct NoDerived {
    void reset() noexcept {}
};

template <class Class>
struct derived_of {
    using type = NoDerived;
};
template <class Class>
    requires requires { typename Class::Derived; }
struct derived_of<Class> {
    using type = typename Class::Derived;
};

// Under abi3t the object header is opaque: the type asks for this much room after its base's, and an
// instance's part of it is found through the interpreter.
template <class Value, class Derived = NoDerived>
struct Instance {
#if !defined(Py_TARGET_ABI3T)
    PyObject ob_base;
#endif
    BorrowFlag borrow;
    Value value;
    Derived derived;
};

template <class Class>
using InstanceOf = Instance<typename Class::Value, typename derived_of<Class>::type>;

template <class Class>
bool is_instance(PyObject* object) noexcept {
    return PyType_IsSubtype(Py_TYPE(object), Class::type()) != 0;
}

template <class Class>
InstanceOf<Class>* instance(PyObject* object) noexcept {
#if defined(Py_TARGET_ABI3T)
    return static_cast<InstanceOf<Class>*>(PyObject_GetTypeData(object, Class::type()));
#else
    return reinterpret_cast<InstanceOf<Class>*>(object);
#endif
}

// Sets are waited for by other threads; a class may say `static constexpr bool others_wait = false`
// (its holds are kept while Python code runs).
template <class Class>
constexpr HoldPolicy hold_policy() noexcept {
    if constexpr (requires { Class::others_wait; }) {
        return Class::others_wait ? HoldPolicy::waitable : HoldPolicy::never_waits;
    } else {
        return HoldPolicy::waitable;
    }
}

// Tells Shared to leave itself empty rather than raise on a conflict that would raise.
struct RefuseQuietly {};

// An instance's value read in place under a shared hold that lasts as long as this object.
template <class Class, HoldPolicy Policy = hold_policy<Class>()>
class Shared {
public:
    explicit Shared(PyObject* object) : hold_(instance<Class>(object)->borrow, object), object_(object) {}
    Shared(PyObject* object, RefuseQuietly) : hold_(instance<Class>(object)->borrow, object, true), object_(object) {}
    const typename Class::Value& operator*() const noexcept { return instance<Class>(object_)->value; }
    const typename Class::Value* operator->() const noexcept { return &**this; }
    // The derived data, which readers may fill.
    typename derived_of<Class>::type& derived() const noexcept { return instance<Class>(object_)->derived; }
    bool held() const noexcept { return hold_.held(); }

private:
    Hold<HoldMode::shared, Policy> hold_;
    PyObject* object_;
};

// An instance's value open for change under an exclusive hold that lasts as long as this object.
template <class Class>
class Exclusive {
public:
    explicit Exclusive(PyObject* object) : hold_(instance<Class>(object)->borrow, object), object_(object) {
        instance<Class>(object)->derived.reset();
    }
    typename Class::Value& operator*() const noexcept { return instance<Class>(object_)->value; }
    typename Class::Value* operator->() const noexcept { return &**this; }
    PyObject* object() const noexcept { return object_; }

private:
    Hold<HoldMode::exclusive, hold_policy<Class>()> hold_;
    PyObject* object_;
};

// Converter: an instance of `Class`, read in place ("'{type}' object cannot be converted to '{name}'";
// "Already mutably borrowed" when held exclusively).
template <class Class>
Shared<Class> read_shared(PyObject* object) {
    if (!is_instance<Class>(object)) {
        raise_conversion_error(object, Class::name);
    }
    return Shared<Class>(object);
}

// Converter: an independent copy of an instance's value, taken under a short shared hold.
template <class Class>
typename Class::Value read_copy(PyObject* object) {
    return *read_shared<Class>(object);
}

// For operator slots: the value read in place, or nothing when the object is foreign or its hold conflicts
// in a way that raises (held exclusively by the calling thread).
template <class Class>
std::optional<Shared<Class>> try_read_shared(PyObject* object) {
    std::optional<Shared<Class>> shared;  // one object returned on every path: built in the caller's place
    if (is_instance<Class>(object)) {
        shared.emplace(object, RefuseQuietly{});
        if (!shared->held()) {
            shared.reset();
        }
    }
    return shared;
}

// Result converter: a new instance of `Class` owning `value`, its guard free.
template <class Class>
Ref new_instance(typename Class::Value value) {
    PyTypeObject* type = Class::type();
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    if (alloc == nullptr) {
        alloc = PyType_GenericAlloc;
    }
    Ref object = checked(alloc(type, 0));
    auto* self = instance<Class>(object.get());
    new (&self->borrow) BorrowFlag();
    new (&self->value) typename Class::Value(std::move(value));
    new (&self->derived) typename derived_of<Class>::type();
    return object;
}

// Deallocation slot: destroys the native value, frees the memory through the type's free slot, and
// drops the reference every instance of a heap type holds to its type.
template <class Class>
void dealloc(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    std::destroy_at(&instance<Class>(object)->derived);
    std::destroy_at(&instance<Class>(object)->value);
    auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_memory(object);
    Py_DECREF(type);
}

}  // namespace velnor::boundary
