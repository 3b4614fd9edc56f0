// What the processor offers beyond the baseline the tool is built for.
#ifndef QZ_SEARCH_CPU_FEATURES_H_
#define QZ_SEARCH_CPU_FEATURES_H_

// Whether the 256-bit vector instructions (AVX2) may be used. Asked of the processor once per
// process; false on processors of other architectures.
bool CpuHasAvx2();

#endif  // QZ_SEARCH_CPU_FEATURES_H_
