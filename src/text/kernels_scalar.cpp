// The reference set: one unit at a time, on any CPU. The vector sets must answer exactly as these do.
#include "text/kernels.hpp"

namespace velnor::text {

namespace {

constexpr std::size_t none = std::string_view::npos;

template <class Char>
std::size_t find_pair(const Char* t, std::size_t from, std::size_t end, RarePair pair, Char a, Char b) noexcept {
    for (std::size_t s = from; s < end; ++s) {
        if (t[s + pair.first] == a && t[s + pair.second] == b) {
            return s;
        }
    }
    return none;
}

template <class Char>
std::size_t rfind_pair(const Char* t, std::size_t from, std::size_t end, RarePair pair, Char a, Char b) noexcept {
    for (std::size_t s = end; s > from; --s) {
        if (t[s - 1 + pair.first] == a && t[s - 1 + pair.second] == b) {
            return s - 1;
        }
    }
    return none;
}

template <class Char>
std::size_t find_unit(const Char* t, std::size_t from, std::size_t end, Char unit) noexcept {
    for (std::size_t i = from; i < end; ++i) {
        if (t[i] == unit) {
            return i;
        }
    }
    return none;
}

template <class Char>
std::size_t rfind_unit(const Char* t, std::size_t from, std::size_t end, Char unit) noexcept {
    for (std::size_t i = end; i > from; --i) {
        if (t[i - 1] == unit) {
            return i - 1;
        }
    }
    return none;
}

std::size_t count_astral(const std::uint32_t* t, std::size_t size) noexcept {
    std::size_t total = 0;
    for (std::size_t i = 0; i < size; ++i) {
        total += t[i] > 0xFFFF ? 1 : 0;
    }
    return total;
}

std::size_t count_utf8_extra(const std::uint32_t* t, std::size_t size) noexcept {
    std::size_t total = 0;
    for (std::size_t i = 0; i < size; ++i) {
        total += (t[i] > 0x7F ? 1 : 0) + (t[i] > 0x7FF ? 1 : 0) + (t[i] > 0xFFFF ? 1 : 0);
    }
    return total;
}

// U+D800..U+DFFF are exactly the code points whose bits above the eleventh read 0b11011.
bool holds_surrogate(const std::uint32_t* t, std::size_t size) noexcept {
    for (std::size_t i = 0; i < size; ++i) {
        if ((t[i] >> 11) == 0b11011) {
            return true;
        }
    }
    return false;
}

void widen_latin1(const unsigned char* in, std::size_t size, std::uint32_t* out) noexcept {
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = in[i];
    }
}

constexpr Kernels scalar = {
    Path::scalar,
    "scalar",
    find_pair<unsigned char>,
    find_pair<std::uint32_t>,
    rfind_pair<unsigned char>,
    rfind_pair<std::uint32_t>,
    find_unit<std::uint32_t>,
    rfind_unit<std::uint32_t>,
    rfind_unit<unsigned char>,
    count_astral,
    count_utf8_extra,
    holds_surrogate,
    widen_latin1,
};

}  // namespace

const Kernels* scalar_kernels() noexcept {
    return &scalar;
}

}  // namespace velnor::text
