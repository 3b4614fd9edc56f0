// What the processor offers beyond the baseline the tool is built for.
#ifndef QZ_SEARCH_CPU_FEATURES_H_
#define QZ_SEARCH_CPU_FEATURES_H_

#include <cstdint>

// The architecture, decided here once: the kernels with vector paths test these macros and
// include their intrinsics only where the macro is set.
#if defined(__x86_64__) || defined(__i386__)
#define QZ_X86 1  // AVX2 paths, taken where the processor has AVX2
#elif defined(__aarch64__)
#define QZ_ARM64 1  // Advanced SIMD (NEON) paths: every arm64 processor has it
#endif

// How far ahead of the block it compares a vector loop over a large buffer asks for the content
// (one cache line per 64-byte block). Over a large file (mapped, so every byte comes from
// memory) such a loop otherwise waits on memory more than memchr does over the same bytes: the
// processor's own prefetcher does not cross a 4 KiB page. 1 KiB measured best on an AMD EPYC
// (`make bench`, BM_MappedScan): 512 bytes and 4 KiB ahead did less. Over content already in
// the cache the hint costs next to nothing.
inline constexpr unsigned kPrefetchAhead = 1024;

// Asks for the content kPrefetchAhead bytes past `at`: an address, not a pointer into the
// content, since near its end it lies past it; a prefetch never faults.
inline void PrefetchAhead(const void* at) {
  __builtin_prefetch(
      reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(at) + kPrefetchAhead), 0, 3);
}

// Whether the kernels' vector paths may be used: on x86, whether the processor has the 256-bit
// instructions (AVX2), asked once per process; on arm64 always; elsewhere never. False, too,
// while AllowVectorPath(false) holds.
bool CpuHasVectorPath();

// For tests: with false, every kernel takes its plain loop, whatever the processor has, so that
// both loops can be checked on a machine that has the vector one; true goes back to what the
// processor offers. A Scanner keeps the choice it made when it was constructed.
void AllowVectorPath(bool allowed);

#endif  // QZ_SEARCH_CPU_FEATURES_H_
