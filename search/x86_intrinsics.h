#pragma once

// The x86 intrinsics the SIMD kernels and draws are written with, and
// WEFTLOOM_X86 where they exist. Included by .cpp files only.
#if defined(__x86_64__)
// GCC 12's AVX-512 intrinsics pass _mm512_undefined_*() as merge sources,
// which -Wmaybe-uninitialized reports inside the compiler's own header.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define WEFTLOOM_X86 1
#endif
