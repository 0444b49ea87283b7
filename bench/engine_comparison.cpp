// Runs the literal reference engine and the product engine on the same inputs
// in one process and prints, per configuration, both times, their ratio, the
// peak heap of each run and whether the bytes are equal.
//
//   weftloom-bench-compare [--quick] [--product-only] [--repeat N] [--filter TEXT]
//                          [--simd scalar|avx2|avx512] [SAMPLES_DIR]
//
// SAMPLES_DIR holds crops/ and full/ (default ../shared/data/textures next to
// the source tree). --quick leaves out the slow reference runs of the large
// samples; --product-only times the product alone. The product runs N times
// (default 3) and its best time counts, since a run of a second or two is
// easily disturbed by anything else on the machine; the reference, a minute
// long, runs once. --simd caps the product's instruction set (as the
// environment variable WEFTLOOM_SIMD does), so that every path can be
// measured on one machine; the header names the processor and the set used.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench/processor.h"
#include "engine/texture_synthesiser.h"
#include "imageio/image_file.h"
#include "search/simd_level.h"
#include "tests/reference/reference_synthesiser.h"
#include "tests/support/heap_count.h"

namespace {

using weftloom::DistanceMetric;
using weftloom::SubsamplingMode;

struct Config {
    std::string name;
    std::string sample;  // relative to the samples folder
    SubsamplingMode mode;
    DistanceMetric metric;
    std::uint32_t threads;
    bool slowReference;  // left out by --quick
};

struct Measure {
    double seconds = 0;
    double peakMiB = 0;
    std::vector<std::uint8_t> bytes;
};

Measure Time(const std::function<std::vector<std::uint8_t>()>& run) {
    Measure m;
    const std::int64_t base = weftloom::test::HeapNow();
    weftloom::test::ResetHeapPeak();
    const auto start = std::chrono::steady_clock::now();
    m.bytes = run();
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakMiB = static_cast<double>(weftloom::test::HeapPeak() - base) / (1024.0 * 1024.0);
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    bool productOnly = false;
    int repeats = 3;
    std::string filter;
    std::string dir = WEFTLOOM_TEXTURES_DIR;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--product-only") == 0) {
            productOnly = true;
        } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeats = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--filter") == 0 && i + 1 < argc) {
            filter = argv[++i];
        } else if (std::strcmp(argv[i], "--simd") == 0 && i + 1 < argc) {
            const std::optional<weftloom::SimdLevel> cap = weftloom::ParseSimdLevel(argv[++i]);
            if (!cap) {
                std::fprintf(stderr, "--simd: expected scalar, avx2 or avx512, got '%s'\n",
                             argv[i]);
                return 2;
            }
            weftloom::SetSimdCap(*cap);
        } else {
            dir = argv[i];
        }
    }
    const std::string s64 = "crops/sk_brick_64_a.tga";
    const std::string s128 = "crops/sk_brick_128x128.tga";
    const std::string s256 = "full/sk_brick.tga";
    const auto L1 = DistanceMetric::L1;
    const auto L2 = DistanceMetric::L2;
    const auto Linf = DistanceMetric::Linf;
    const std::vector<Config> configs = {
        {"default 64x64", s64, SubsamplingMode::FixedCount, L2, 0, false},
        {"default 128x128", s128, SubsamplingMode::FixedCount, L2, 0, false},
        {"default 256x256", s256, SubsamplingMode::FixedCount, L2, 0, true},
        {"percent 64x64", s64, SubsamplingMode::Percentage, L2, 0, false},
        {"percent 128x128", s128, SubsamplingMode::Percentage, L2, 0, false},
        {"percent 256x256", s256, SubsamplingMode::Percentage, L2, 0, true},
        {"kd-tree L1 64x64", s64, SubsamplingMode::Disabled, L1, 0, false},
        {"kd-tree L2 64x64", s64, SubsamplingMode::Disabled, L2, 0, false},
        {"kd-tree Linf 64x64", s64, SubsamplingMode::Disabled, Linf, 0, false},
        {"default 64x64, 1 thread", s64, SubsamplingMode::FixedCount, L2, 1, false},
        {"default 64x64, 2 threads", s64, SubsamplingMode::FixedCount, L2, 2, false},
        {"default 256x256, 1 thread", s256, SubsamplingMode::FixedCount, L2, 1, true},
        {"default 256x256, 2 threads", s256, SubsamplingMode::FixedCount, L2, 2, true},
    };
    std::printf("processor: %s; instruction set: %s (best supported: %s)\n",
                weftloom::bench::ProcessorName().c_str(),
                weftloom::SimdLevelName(weftloom::BestSimdLevel()),
                weftloom::SimdLevelName(weftloom::SupportedSimdLevel()));
    std::printf(
        "256x256 outputs, defaults unless named (count 2500, percent 10, L2, windows 9/7/5)\n");
    std::printf("%-28s %10s %10s %8s %10s %10s %6s\n", "configuration", "reference", "product",
                "ratio", "ref MiB", "prod MiB", "equal");
    // The reference does not depend on the thread count: one run per input serves all.
    std::vector<std::pair<std::string, Measure>> referenceRuns;
    for (const Config& c : configs) {
        if (!filter.empty() && c.name.find(filter) == std::string::npos) {
            continue;
        }
        weftloom::Image sample;
        std::string reason;
        if (!weftloom::LoadImageFile(dir + "/" + c.sample, sample, reason)) {
            std::fprintf(stderr, "cannot read %s: %s\n", c.sample.c_str(), reason.c_str());
            return 1;
        }
        Measure product;
        bool productStable = true;
        for (int run = 0; run < repeats; ++run) {
            Measure m = Time([&] {
                weftloom::TextureSynthesiser job;
                job.subsamplingMode = c.mode;
                job.metric = c.metric;
                job.threadCount = c.threads;
                job.Synthesise(sample, 256, 256);
                return job.result ? job.result->pixels : std::vector<std::uint8_t>{};
            });
            if (run == 0) {
                product = std::move(m);
            } else {
                productStable = productStable && m.bytes == product.bytes;
                product.seconds = std::min(product.seconds, m.seconds);
                product.peakMiB = std::max(product.peakMiB, m.peakMiB);
            }
        }
        const bool runReference = !productOnly && !(quick && c.slowReference);
        const std::string key = c.sample + "/" + std::to_string(static_cast<int>(c.mode)) + "/" +
                                std::to_string(static_cast<int>(c.metric));
        const Measure* reference = nullptr;
        for (const auto& [k, m] : referenceRuns) {
            if (k == key) {
                reference = &m;
            }
        }
        if (reference == nullptr && runReference) {
            referenceRuns.emplace_back(key, Time([&] {
                                           weftloom::reference::TextureSynthesiser job;
                                           job.subsamplingMode = c.mode;
                                           job.metric = c.metric;
                                           job.Synthesise(sample, 256, 256);
                                           return job.result ? job.result->pixels
                                                             : std::vector<std::uint8_t>{};
                                       }));
            reference = &referenceRuns.back().second;
        }
        if (reference != nullptr) {
            std::printf("%-28s %9.2fs %9.3fs %7.1fx %10.1f %10.1f %6s\n", c.name.c_str(),
                        reference->seconds, product.seconds, reference->seconds / product.seconds,
                        reference->peakMiB, product.peakMiB,
                        reference->bytes == product.bytes && productStable ? "yes" : "NO");
        } else {
            std::printf("%-28s %10s %9.3fs %8s %10s %10.1f %6s\n", c.name.c_str(), "-",
                        product.seconds, "-", "-", product.peakMiB, "-");
        }
        std::fflush(stdout);
    }
    return 0;
}
