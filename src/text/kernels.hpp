// The vector loops of the text search, one implementation per instruction set behind one table of
// functions. The scalar set is the reference and runs everywhere; SSE2 wherever x86-64 is; AVX2 on x86-64
// CPUs that have it (its functions are compiled for that target alone and reached only after the CPU
// and the OS say yes, so the module stays baseline x86-64); NEON on aarch64. The set is chosen once, at
// first use, from the CPU; tests and fuzz targets may force any set the CPU can run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace velnor::text {

// Two offsets into the pattern whose units are expected to be rare in text; the prefilter only verifies
// windows in which both units are in place.
struct RarePair {
    std::size_t first;
    std::size_t second;
};

enum class Path { scalar, sse2, avx2, neon };

// Every function works on the half-open ranges it is given and never reads outside them: a window start
// s reads s + pair.first and s + pair.second, which the caller keeps inside the text.
struct Kernels {
    Path path;
    const char* name;

    // The first window start s in [from, end) with t[s + pair.first] == a and t[s + pair.second] == b,
    // or npos.
    std::size_t (*find_pair8)(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair,
                              unsigned char a, unsigned char b) noexcept;
    std::size_t (*find_pair32)(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair,
                               std::uint32_t a, std::uint32_t b) noexcept;
    // The last such window start in [from, end), or npos.
    std::size_t (*rfind_pair8)(const unsigned char* t, std::size_t from, std::size_t end, RarePair pair,
                               unsigned char a, unsigned char b) noexcept;
    std::size_t (*rfind_pair32)(const std::uint32_t* t, std::size_t from, std::size_t end, RarePair pair,
                                std::uint32_t a, std::uint32_t b) noexcept;
    // The first / last index in [from, end) holding `unit`, or npos (memchr and memrchr for code points;
    // memrchr for bytes, which only glibc offers).
    std::size_t (*find_unit32)(const std::uint32_t* t, std::size_t from, std::size_t end,
                               std::uint32_t unit) noexcept;
    std::size_t (*rfind_unit32)(const std::uint32_t* t, std::size_t from, std::size_t end,
                                std::uint32_t unit) noexcept;
    std::size_t (*rfind_byte)(const unsigned char* t, std::size_t from, std::size_t end,
                              unsigned char byte) noexcept;
    // Over code points (none above U+10FFFF): how many lie above U+FFFF (the extra UTF-16 units), and the
    // UTF-8 bytes they need beyond one each.
    std::size_t (*count_astral)(const std::uint32_t* t, std::size_t size) noexcept;
    std::size_t (*count_utf8_extra)(const std::uint32_t* t, std::size_t size) noexcept;
    // Whether a surrogate (U+D800..U+DFFF), which has no UTF-8 form, is among the code points.
    bool (*holds_surrogate)(const std::uint32_t* t, std::size_t size) noexcept;
    // Widens Latin-1 (one byte a code point, U+0000..U+00FF) to code points.
    void (*widen_latin1)(const unsigned char* in, std::size_t size, std::uint32_t* out) noexcept;
};

// The set in use.
const Kernels& kernels() noexcept;

// The sets this CPU can run, the scalar one first and the one chosen by default last.
std::span<const Kernels* const> available_kernels() noexcept;

// Makes the named set ("scalar", "sse2", "avx2", "neon") the one in use; false, changing nothing, when
// the name is unknown or the CPU cannot run it. Not for concurrent use with a search.
bool use_kernels(std::string_view name) noexcept;

// Makes the set named by the environment variable VELNOR_SIMD the one in use, when it is set, so that a
// test run can exercise each set through the module; false when it names none that this CPU runs.
bool use_kernels_from_environment() noexcept;

// The implementations, one per file; each is null where its instruction set was not compiled in.
const Kernels* scalar_kernels() noexcept;
const Kernels* sse2_kernels() noexcept;
const Kernels* avx2_kernels() noexcept;  // compiled in does not mean runnable: see kernels.cpp
const Kernels* neon_kernels() noexcept;

}  // namespace velnor::text
