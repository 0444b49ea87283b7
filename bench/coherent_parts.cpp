// Micro-benchmarks of the coherent search's bookkeeping: the piece forest a
// correction pass starts from, joined from a whole level's source map.
//
//   weftloom-bench-coherent [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/coherent/piece_forest.h"
#include "engine/coherent_search.h"

namespace weftloom {
namespace {

// A side x side map laid out as a coherent level is: rectangles of 8 to 55
// pixels a side, each copied from one place of a 64 x 64 sample, with one
// pixel in eight taken from elsewhere.
SourceMap PieceMap(std::uint32_t side) {
    SourceMap map{side, side, std::vector<SourcePosition>(std::size_t{side} * side)};
    std::uint32_t seed = 7;
    auto next = [&seed](std::uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    for (std::uint32_t top = 0; top < side;) {
        const std::uint32_t height = 8 + next(48);
        for (std::uint32_t left = 0; left < side;) {
            const std::uint32_t width = 8 + next(48);
            const std::uint32_t sx = next(64);
            const std::uint32_t sy = next(64);
            for (std::uint32_t y = top; y < std::min(side, top + height); ++y) {
                for (std::uint32_t x = left; x < std::min(side, left + width); ++x) {
                    map.positions[std::size_t{y} * side + x] =
                        next(8) == 0 ? SourcePosition{next(64), next(64)}
                                     : SourcePosition{(sx + x - left) % 64, (sy + y - top) % 64};
                }
            }
            left += width;
        }
        top += height;
    }
    return map;
}

// The forest of a 2048 x 2048 level on one thread (0 helpers) or two.
void PieceForestJoin(benchmark::State& state) {
    const SourceMap map = PieceMap(2048);
    coherent::PieceForest forest;
    for (auto _ : state) {
        forest.Reset(map.positions.size());
        forest.JoinFromMap(map, static_cast<std::uint32_t>(state.range(0)));
        benchmark::DoNotOptimize(forest.size.data());
    }
}
BENCHMARK(PieceForestJoin)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace weftloom

BENCHMARK_MAIN();
