// Binding of a call's positional tuple and keyword dictionary to named parameter slots.
#pragma once

#include "boundary/description.hpp"
#include "boundary/error.hpp"

#include <array>
#include <span>
#include <utility>
#include <vector>

namespace velnor::boundary {

// Fills `slots` (one per named parameter, a new reference each, empty when unbound) and returns the tuple
// of surplus positional arguments for a variadic callable (an empty handle otherwise).
//  1. The first k positionals fill the first k slots, k = min(positionals, parameters).
//  2. Surplus positionals form the variadic tuple, or fail with the too-many message.
//  3. Keywords, in dictionary order, bind by exact UTF-8 name; a filled slot or an unknown name fails.
//  4. Required slots still empty fail together with one missing-arguments message.
Ref extract_arguments_tuple_dict(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                                 Ref* slots);

// The same binding, with the same messages in the same order, for the vector convention
// (METH_FASTCALL | METH_KEYWORDS): `args` holds `nargs` positionals followed by one value per name in the
// tuple `kwnames` (null when there are none). Returns the surplus positionals of a variadic callable.
std::span<PyObject* const> extract_arguments_fastcall(const FunctionDescription& description,
                                                      PyObject* const* args, Py_ssize_t nargs,
                                                      PyObject* kwnames, Ref* slots);

// Replaces a TypeError (exactly that type) raised while converting parameter `name` by
// TypeError "argument '{name}': {message}", keeping its cause; other errors pass unchanged.
PythonError argument_extraction_error(const char* name, PythonError error);

// The bound arguments of one call, held on the stack. Each is a strong reference: converting one argument
// can run Python code (`__index__`, `__len__`) that drops the caller's keyword dictionary, the only other
// owner of the rest.
template <std::size_t N>
class Arguments {
public:
    Arguments(const FunctionDescription& description, PyObject* args, PyObject* kwargs)
        : description_(description) {
        rest_tuple_ = extract_arguments_tuple_dict(description, args, kwargs, slots_.data());
        if (rest_tuple_) {
            const Py_ssize_t count = PyTuple_Size(rest_tuple_.get());
            for (Py_ssize_t i = 0; i < count; ++i) {
                rest_items_.push_back(PyTuple_GetItem(rest_tuple_.get(), i));  // the tuple holds them
            }
            rest_ = rest_items_;
        }
    }

    // The vector convention. The caller owns the argument array for the whole call (the interpreter holds
    // its own references to keyword values it unpacked from a dictionary); the slots hold theirs all the
    // same, so that both conventions keep one rule.
    Arguments(const FunctionDescription& description, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
        : description_(description) {
        // The common call, every parameter by position and nothing more, binds here without the general walk.
        if (kwnames == nullptr && static_cast<std::size_t>(nargs) == description.parameters.size()) {
            for (std::size_t i = 0; i < description.parameters.size(); ++i) {
                slots_[i] = Ref::borrow(args[i]);
            }
            return;
        }
        rest_ = extract_arguments_fastcall(description, args, nargs, kwnames, slots_.data());
    }

    // Returns the bound object of parameter `index`, or null when the optional parameter was left out.
    PyObject* operator[](std::size_t index) const noexcept { return slots_[index].get(); }
    // Returns the surplus positional arguments of a variadic callable, in order.
    std::span<PyObject* const> rest() const noexcept { return rest_; }

    // Converts parameter `index` with `converter`, naming the parameter in a TypeError.
    template <class Converter>
    auto convert(std::size_t index, Converter&& converter) const -> decltype(converter(std::declval<PyObject*>())) {
        try {
            return converter(slots_[index].get());
        } catch (PythonError& error) {
            throw argument_extraction_error(description_.parameters[index], std::move(error));
        }
    }

private:
    const FunctionDescription& description_;
    std::array<Ref, (N == 0 ? 1 : N)> slots_{};
    std::span<PyObject* const> rest_;
    Ref rest_tuple_;                    // tuple-and-dictionary calls only
    std::vector<PyObject*> rest_items_;  // its items, borrowed from it
};

}  // namespace velnor::boundary
