#pragma once

#include "search/simd_level.h"

namespace weftloom::testing {

// Caps the searches' instruction set while the object lives, then restores
// the cap before it.
class ScopedSimdCap {
  public:
    explicit ScopedSimdCap(SimdLevel cap) : previous_(SimdCap()) { SetSimdCap(cap); }
    ~ScopedSimdCap() { SetSimdCap(previous_); }
    ScopedSimdCap(const ScopedSimdCap&) = delete;
    ScopedSimdCap& operator=(const ScopedSimdCap&) = delete;

  private:
    SimdLevel previous_;
};

// The caps the differential tests run under: scalar, AVX2 and the best the
// machine has (a cap above it is no cap).
inline constexpr SimdLevel kDifferentialCaps[] = {SimdLevel::Scalar, SimdLevel::Avx2,
                                                  SimdLevel::Avx512};

}  // namespace weftloom::testing
