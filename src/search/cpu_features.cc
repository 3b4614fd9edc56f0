#include "search/cpu_features.h"

bool CpuHasAvx2() {
#if QZ_X86
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}
