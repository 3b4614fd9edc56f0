// What the processor offers beyond the baseline the tool is built for.
#ifndef QZ_SEARCH_CPU_FEATURES_H_
#define QZ_SEARCH_CPU_FEATURES_H_

// The architecture, decided here once: the kernels with vector paths test these macros and
// include their intrinsics only where the macro is set.
#if defined(__x86_64__) || defined(__i386__)
#define QZ_X86 1  // the AVX2 paths are compiled in and taken where CpuHasAvx2()
#endif

// Whether the 256-bit vector instructions (AVX2) may be used. Asked of the processor once per
// process; false on processors of other architectures.
bool CpuHasAvx2();

#endif  // QZ_SEARCH_CPU_FEATURES_H_
