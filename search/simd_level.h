#pragma once

#include <cstdint>

namespace weftloom {

// The instruction sets the search kernels are written for. One binary runs on
// any x86-64 (and any other CPU through the scalar kernels) and picks the best
// level the processor has when the program starts.
enum class SimdLevel : std::int32_t {
    Scalar = 0,
    Avx2 = 1,
    Avx512 = 2,  // AVX-512 F and BW
};

// Whether this processor can run the kernels of a level.
bool SimdLevelSupported(SimdLevel level);

// The best supported level, decided once.
SimdLevel BestSimdLevel();

}  // namespace weftloom
