// Loops worth building twice: for AVX2 and for the baseline processor, the
// one the machine can run chosen once, when the library is loaded. Only by
// g++ (clang does not clone function templates) and on x86-64 systems whose
// loader makes that choice (ELF); elsewhere, Windows included, the baseline
// alone is built. Only instructions that change no
// result are added (no fused multiply-add), so both give the same bits.
// Either way the function is kept out of line, where its restrict-qualified
// arguments keep their no-overlap guarantee for the vectoriser.
#pragma once

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__)
#define QV_CPU_CLONES [[gnu::target_clones("avx2", "default")]]
#else
#define QV_CPU_CLONES [[gnu::noinline]]
#endif
