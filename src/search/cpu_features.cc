#include "search/cpu_features.h"

namespace {
bool vectorAllowed = true;
}  // namespace

bool CpuHasVectorPath() {
#if QZ_X86
  static const bool has = __builtin_cpu_supports("avx2");
  return has && vectorAllowed;
#elif QZ_ARM64
  return vectorAllowed;
#else
  return false;
#endif
}

void AllowVectorPath(bool allowed) { vectorAllowed = allowed; }
