#include "base/CpuFeatures.h"

namespace norvane {
namespace {

struct Features {
  bool avx2 = false;
  bool avx512 = false;
};

const Features& Probed() {
  static const Features features = [] {
    Features f;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    f.avx2 = __builtin_cpu_supports("avx2") != 0;
    // The AVX-512 kernels also use the 256-bit forms (VL) and BMI2.
    f.avx512 = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
               __builtin_cpu_supports("avx512vl") != 0 && __builtin_cpu_supports("bmi2") != 0;
#endif
    return f;
  }();
  return features;
}

}  // namespace

bool CpuHasAvx2() { return Probed().avx2; }
bool CpuHasAvx512() { return Probed().avx512; }

}  // namespace norvane
