// Constant records of each callable's parameters, from which arguments are bound.
#pragma once

#include <cstddef>
#include <span>

namespace velnor::boundary {

struct FunctionDescription {
    const char* class_name;  // null for module functions
    const char* name;        // "__new__" for constructors
    std::span<const char* const> parameters;
    std::size_t required;  // the first `required` parameters must be bound
    bool variadic;         // surplus positional arguments form one tuple
};

namespace descriptions {

inline constexpr const char* string_substring[] = {"string", "substring"};
inline constexpr const char* string_only[] = {"string"};
inline constexpr const char* iter_chunk_size[] = {"iter", "chunk_size"};
inline constexpr const char* input_only[] = {"input"};
inline constexpr const char* other_only[] = {"other"};

inline constexpr FunctionDescription text(const char* name) {
    return {nullptr, name, string_substring, 2, false};
}
inline constexpr FunctionDescription constructor(const char* class_name) {
    return {class_name, "__new__", input_only, 0, false};
}
inline constexpr FunctionDescription test(const char* class_name, const char* name) {
    return {class_name, name, other_only, 1, false};
}
inline constexpr FunctionDescription variadic(const char* class_name, const char* name) {
    return {class_name, name, {}, 0, true};
}

inline constexpr FunctionDescription match_indices = text("match_indices");
inline constexpr FunctionDescription match_utf16_indices = text("match_utf16_indices");
inline constexpr FunctionDescription match_byte_indices = text("match_byte_indices");
inline constexpr FunctionDescription rmatch_indices = text("rmatch_indices");
inline constexpr FunctionDescription rmatch_utf16_indices = text("rmatch_utf16_indices");
inline constexpr FunctionDescription rmatch_byte_indices = text("rmatch_byte_indices");
inline constexpr FunctionDescription utf16len = {nullptr, "utf16len", string_only, 1, false};
inline constexpr FunctionDescription iter_chunk = {nullptr, "iter_chunk", iter_chunk_size, 2, false};

// The set classes share their method names; `Set` is "Span" or "Interval".
template <const char* Set>
struct SetMethods {
    static constexpr FunctionDescription new_ = constructor(Set);
    static constexpr FunctionDescription isdisjoint = test(Set, "isdisjoint");
    static constexpr FunctionDescription issubset = test(Set, "issubset");
    static constexpr FunctionDescription issuperset = test(Set, "issuperset");
    static constexpr FunctionDescription union_ = variadic(Set, "union");
    static constexpr FunctionDescription union_update = variadic(Set, "union_update");
    static constexpr FunctionDescription intersection = variadic(Set, "intersection");
    static constexpr FunctionDescription intersection_update = variadic(Set, "intersection_update");
    static constexpr FunctionDescription difference = variadic(Set, "difference");
    static constexpr FunctionDescription difference_update = variadic(Set, "difference_update");
};

inline constexpr char span_name[] = "Span";
inline constexpr char interval_name[] = "Interval";
using span = SetMethods<span_name>;
using interval = SetMethods<interval_name>;

}  // namespace descriptions
}  // namespace velnor::boundary
