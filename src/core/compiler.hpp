// Compiler-specific hints behind portable names: each expands to nothing where the compiler lacks it.
#pragma once

// For error paths: kept out of line and out of the hot code, so the fast path stays small.
#if defined(__GNUC__) || defined(__clang__)
#define VELNOR_COLD [[gnu::cold, gnu::noinline]]
#elif defined(_MSC_VER)
#define VELNOR_COLD __declspec(noinline)
#else
#define VELNOR_COLD
#endif

// Asks for the cache line holding `address` ahead of a load that depends on a comparison not yet made.
#if defined(__GNUC__) || defined(__clang__)
#define VELNOR_PREFETCH(address) __builtin_prefetch(address)
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#define VELNOR_PREFETCH(address) _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0)
#else
#define VELNOR_PREFETCH(address) ((void)(address))
#endif
