// Keeps the module loadable with the C++ runtime of older Linux distributions (manylinux_2_28 and below).
// GCC 11's headers make every std::allocator call the library's own __throw_bad_array_new_length, a symbol
// that only GCC 11's libstdc++ exports (GLIBCXX_3.4.29). A weak definition here satisfies those calls inside
// the module, so it imports nothing newer; where a toolchain links a strong one of its own, that one wins.
#include <new>  // also tells which C++ library this is

#if defined(__GLIBCXX__) && defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 11

namespace std {

[[gnu::weak, noreturn]] void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}

}  // namespace std

#endif
