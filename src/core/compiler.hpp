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
