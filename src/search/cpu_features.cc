#include "search/cpu_features.h"

bool CpuHasVectorPath() {
#if QZ_X86
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#elif QZ_ARM64
  return true;
#else
  return false;
#endif
}
