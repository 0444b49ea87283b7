#include "search/simd_level.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace weftloom {

namespace {

SimdLevel Detected() {
    static const SimdLevel best = SimdLevelSupported(SimdLevel::Avx512) ? SimdLevel::Avx512
                                  : SimdLevelSupported(SimdLevel::Avx2) ? SimdLevel::Avx2
                                                                        : SimdLevel::Scalar;
    return best;
}

std::atomic<SimdLevel>& Cap() {
    static std::atomic<SimdLevel> cap = [] {
        const char* text = std::getenv(kSimdCapVariable);
        // An unknown name caps nothing: the variable is for measuring, and a
        // typing error must not slow a run down unseen.
        return text != nullptr ? ParseSimdLevel(text).value_or(SimdLevel::Avx512)
                               : SimdLevel::Avx512;
    }();
    return cap;
}

}  // namespace

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

SimdLevel SupportedSimdLevel() {
    return Detected();
}

SimdLevel BestSimdLevel() {
    return std::min(Detected(), Cap().load(std::memory_order_relaxed));
}

SimdLevel SimdCap() {
    return Cap().load(std::memory_order_relaxed);
}

void SetSimdCap(SimdLevel cap) {
    Cap().store(cap, std::memory_order_relaxed);
}

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::Scalar:
            return "scalar";
        case SimdLevel::Avx2:
            return "avx2";
        case SimdLevel::Avx512:
            return "avx512";
    }
    return "scalar";
}

std::optional<SimdLevel> ParseSimdLevel(std::string_view name) {
    for (const SimdLevel level : {SimdLevel::Scalar, SimdLevel::Avx2, SimdLevel::Avx512}) {
        if (name == SimdLevelName(level)) {
            return level;
        }
    }
    return std::nullopt;
}

}  // namespace weftloom
