#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace weftloom {

// The instruction sets the search kernels are written for. One binary runs on
// any x86-64 (and any other CPU through the scalar kernels) and picks the best
// level the processor has, up to a cap.
enum class SimdLevel : std::int32_t {
    Scalar = 0,
    Avx2 = 1,
    Avx512 = 2,  // AVX-512 F and BW
};

// Whether this processor can run the kernels of a level.
bool SimdLevelSupported(SimdLevel level);

// The best level this processor supports, whatever the cap.
SimdLevel SupportedSimdLevel();

// The best supported level within the cap: what the searches use. Kernels
// are chosen when a search is set up, so a cap set between runs takes effect
// from the next run.
SimdLevel BestSimdLevel();

// The cap, from the environment variable WEFTLOOM_SIMD (scalar, avx2 or
// avx512) when the program first asks, else none; SetSimdCap changes it (the
// benchmarks and tests measure every path on one machine this way).
inline constexpr const char kSimdCapVariable[] = "WEFTLOOM_SIMD";
SimdLevel SimdCap();
void SetSimdCap(SimdLevel cap);

// "scalar", "avx2" or "avx512", and back (nothing for another name).
const char* SimdLevelName(SimdLevel level);
std::optional<SimdLevel> ParseSimdLevel(std::string_view name);

}  // namespace weftloom
