// Chooses the kernel set once, from what the CPU (and, for AVX2, the OS) supports.
#include "text/kernels.hpp"

#include <array>
#include <atomic>
#include <cstdlib>

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_AMD64))
#include <immintrin.h>
#include <intrin.h>
#endif

namespace velnor::text {

namespace {

// AVX2 needs the instructions (cpuid leaf 7) and an OS that saves the YMM registers (OSXSAVE, then
// XCR0 bits 1 and 2). GCC's and Clang's check asks both.
bool cpu_runs_avx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_AMD64))
    int info[4];
    __cpuid(info, 0);
    if (info[0] < 7) {
        return false;
    }
    __cpuid(info, 1);
    const bool osxsave = (info[2] & (1 << 27)) != 0;
    const bool avx = (info[2] & (1 << 28)) != 0;
    if (!osxsave || !avx || (_xgetbv(0) & 0x6) != 0x6) {
        return false;
    }
    __cpuidex(info, 7, 0);
    return (info[1] & (1 << 5)) != 0;
#else
    return false;
#endif
}

struct Available {
    std::array<const Kernels*, 4> sets{};
    std::size_t count = 0;

    Available() noexcept {
        add(scalar_kernels());
        add(sse2_kernels());
        add(neon_kernels());
        if (cpu_runs_avx2()) {
            add(avx2_kernels());
        }
    }

    void add(const Kernels* set) noexcept {
        if (set != nullptr) {
            sets[count++] = set;
        }
    }
};

const Available& available() noexcept {
    static const Available sets;
    return sets;
}

// Chosen at import (or by a test driver), read by every search: atomic, since an import may choose while
// other threads search; a relaxed load is a plain load.
std::atomic<const Kernels*>& active() noexcept {
    static std::atomic<const Kernels*> chosen{available().sets[available().count - 1]};
    return chosen;
}

}  // namespace

const Kernels& kernels() noexcept {
    return *active().load(std::memory_order_relaxed);
}

std::span<const Kernels* const> available_kernels() noexcept {
    return {available().sets.data(), available().count};
}

bool use_kernels(std::string_view name) noexcept {
    for (const Kernels* set : available_kernels()) {
        if (name == set->name) {
            active().store(set, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

bool use_kernels_from_environment() noexcept {
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // getenv is safe here: read once, before any search
#endif
    const char* name = std::getenv("VELNOR_SIMD");
    return name == nullptr || *name == '\0' || use_kernels(name);
}

}  // namespace velnor::text
