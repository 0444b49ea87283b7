// Micro-benchmarks of the search's inner parts: the distance kernels (the
// literal reference and every supported SIMD level), a batched stage, the
// subsampling draws and one whole query of a 64 x 64 sample's level-0 cloud.
//
//   weftloom-bench-kernels [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "search/data_cloud.h"
#include "search/distance_kernels.h"
#include "search/subsample_draws.h"
#include "tests/reference/reference_search.h"

namespace weftloom {
namespace {

// The level-0 neighbourhood of the default settings: 89 pixels of 3 bytes.
constexpr std::uint32_t kDim = 267;
constexpr std::uint32_t kPoints = 2704;

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

const char* LevelName(SimdLevel level) {
    return level == SimdLevel::Avx512 ? "avx512" : level == SimdLevel::Avx2 ? "avx2" : "scalar";
}

template <DistanceMetric M>
void LiteralDistance(benchmark::State& state) {
    const auto a = Bytes(kDim, 1);
    const auto b = Bytes(kDim, 2);
    const FeatureVector va(a.begin(), a.end());
    const FeatureVector vb(b.begin(), b.end());
    for (auto _ : state) {
        benchmark::DoNotOptimize(reference::Distance<M>::Full(va.data(), vb.data(), kDim));
    }
}

void BlockDistance(benchmark::State& state, DistanceMetric metric, SimdLevel level) {
    if (!SimdLevelSupported(level)) {
        state.SkipWithError("not supported here");
        return;
    }
    const auto a = Bytes(320, 1);
    const auto b = Bytes(320, 2);
    const DistanceKernel kernel = BlockKernel(metric, level);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kernel(a.data(), b.data(), 320, 0xFFFFFFFFu));
    }
}

// One stage over 32 rows of a cloud, every row kept: the cost per row of a
// first block.
void FirstStage(benchmark::State& state, DistanceMetric metric, SimdLevel level) {
    if (!SimdLevelSupported(level)) {
        state.SkipWithError("not supported here");
        return;
    }
    const auto rows = Bytes(std::size_t{kPoints} * 320, 3);
    const auto query = Bytes(320, 4);
    const StageKernel stage = StageKernelFor(metric, level);
    std::uint32_t candidates[32];
    std::uint32_t partials[32];
    std::uint32_t first = 0;
    for (auto _ : state) {
        for (std::uint32_t k = 0; k < 32; ++k) {
            candidates[k] = (first + k * static_cast<std::uint32_t>(state.range(0))) % kPoints;
            partials[k] = 0;
        }
        first += state.range(0) == 1 ? 0 : 7;
        benchmark::DoNotOptimize(
            stage(query.data(), rows.data(), 320, 0, candidates, partials, 32, 0xFFFFFFFFu));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 32);
}

void LiteralDraws(benchmark::State& state) {
    RandomGenerator random(1);
    std::uint32_t below = 0;
    for (auto _ : state) {
        for (int k = 0; k < 1024; ++k) {
            below += random.Next() < 1375u ? 1u : 0u;
        }
        benchmark::DoNotOptimize(below);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}

void LaneDraws(benchmark::State& state, SimdLevel level) {
    if (!SimdLevelSupported(level)) {
        state.SkipWithError("not supported here");
        return;
    }
    const DrawKernel draw = DrawKernelFor(level);
    std::vector<std::uint32_t> out(4096 + 16);
    std::uint32_t s = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(draw(s, 1, 4096, 1375u, out.data()));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}

// One query of the default settings (count 2500) on a level-0 cloud of a
// 64 x 64 sample, random rows: the literal scan against the product's.
void LiteralQuery(benchmark::State& state) {
    reference::DataCloud<DistanceMetric::L2> cloud(kDim, 3);
    const auto rows = Bytes(std::size_t{kPoints} * kDim, 5);
    for (std::uint32_t i = 0; i < kPoints; ++i) {
        cloud.AddPoint(FeatureVector(rows.begin() + i * kDim, rows.begin() + (i + 1) * kDim),
                       {1, 2, 3});
    }
    cloud.ConfigureSubsampling(SubsamplingMode::FixedCount, 10, 2500, 2500);
    const auto q = Bytes(kDim, 6);
    const FeatureVector query(q.begin(), q.end());
    RandomGenerator random(1);
    FeatureVector pixel;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cloud.FindNearest(query, pixel, random));
    }
}

void ProductQuery(benchmark::State& state) {
    DataCloud<DistanceMetric::L2> cloud(kDim, 3);
    const auto rows = Bytes(std::size_t{kPoints} * kDim, 5);
    const std::uint8_t pixel[3] = {1, 2, 3};
    for (std::uint32_t i = 0; i < kPoints; ++i) {
        cloud.AddPoint(rows.data() + std::size_t{i} * kDim, pixel);
    }
    cloud.ConfigureSubsampling(SubsamplingMode::FixedCount, 10, 2500, 2500);
    cloud.SetThreadCount(static_cast<std::uint32_t>(state.range(0)));
    auto q = Bytes(cloud.RowStride(), 6);
    std::fill(q.begin() + kDim, q.end(), 0);
    RandomGenerator random(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cloud.FindNearestIndex(q.data(), random));
    }
}

BENCHMARK(LiteralDistance<DistanceMetric::L1>);
BENCHMARK(LiteralDistance<DistanceMetric::L2>);
BENCHMARK(LiteralDistance<DistanceMetric::Linf>);
BENCHMARK(LiteralDraws);
BENCHMARK(LiteralQuery);
BENCHMARK(ProductQuery)->Arg(1)->Arg(2)->UseRealTime();

bool RegisterLevels() {
    const std::pair<DistanceMetric, const char*> metrics[] = {
        {DistanceMetric::L1, "L1"}, {DistanceMetric::L2, "L2"}, {DistanceMetric::Linf, "Linf"}};
    for (SimdLevel level : {SimdLevel::Scalar, SimdLevel::Avx2, SimdLevel::Avx512}) {
        const std::string suffix = std::string("/") + LevelName(level);
        for (const auto& [metric, name] : metrics) {
            benchmark::RegisterBenchmark(("BlockDistance/" + std::string(name) + suffix).c_str(),
                                         BlockDistance, metric, level);
            benchmark::RegisterBenchmark(("FirstStage/" + std::string(name) + suffix).c_str(),
                                         FirstStage, metric, level)
                ->Arg(1)
                ->Arg(83);
        }
        benchmark::RegisterBenchmark(("LaneDraws" + suffix).c_str(), LaneDraws, level);
    }
    return true;
}

// Registered before main runs, as BENCHMARK() registers.
[[maybe_unused]] const bool registered = RegisterLevels();

}  // namespace
}  // namespace weftloom

BENCHMARK_MAIN();
