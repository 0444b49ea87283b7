#include "search/simd_level.h"

namespace weftloom {

bool SimdLevelSupported(SimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
    switch (level) {
        case SimdLevel::Scalar:
            return true;
        case SimdLevel::Avx2:
            return __builtin_cpu_supports("avx2");
        case SimdLevel::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    }
    return false;
#else
    return level == SimdLevel::Scalar;
#endif
}

SimdLevel BestSimdLevel() {
    static const SimdLevel best = SimdLevelSupported(SimdLevel::Avx512) ? SimdLevel::Avx512
                                  : SimdLevelSupported(SimdLevel::Avx2) ? SimdLevel::Avx2
                                                                        : SimdLevel::Scalar;
    return best;
}

}  // namespace weftloom
