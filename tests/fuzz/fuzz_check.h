// What every fuzz target uses to report a broken property: the message, then abort(), which
// libFuzzer records as a crash with the input that caused it.
#ifndef QZ_TESTS_FUZZ_FUZZ_CHECK_H_
#define QZ_TESTS_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                         \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

// Marks a reference implementation: left out of the coverage that guides the fuzzer, so that
// the fuzzer explores the code under test rather than the reference, and the reference runs at
// full speed. Only clang's coverage knows the attribute; other builds replay inputs without it.
#if defined(__clang__)
#define FUZZ_REFERENCE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_REFERENCE
#endif

#endif  // QZ_TESTS_FUZZ_FUZZ_CHECK_H_
