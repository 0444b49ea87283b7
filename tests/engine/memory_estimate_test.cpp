// The memory estimate against the heap a run really takes; every heap block of
// this program is counted.
#include "engine/memory_estimate.h"

#include <gtest/gtest.h>

#include "engine/texture_synthesiser.h"
#include "tests/support/heap_count.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

// Stops the run once the finest level's cloud is complete: every structure the
// run allocates has then been allocated, and the queries left would only take time.
void StopAtFinestSearch(const ProgressInfo* info) {
    auto* job = static_cast<TextureSynthesiser*>(info->context);
    static int cloudsBuilt = 0;
    if (info->status == status::kBuildingDataCloud && info->stepDone == 0) {
        ++cloudsBuilt;
    }
    if (info->status == status::kSynthesizing && cloudsBuilt % 4 == 0) {
        job->Abort();
    }
}

// The estimate of a run against the heap it really takes at its peak: an
// exact run stopped at its finest search, a coherent run whole.
void ExpectWithinAQuarterOfThePeak(const SynthesisSettings& settings, std::uint32_t sampleWidth,
                                   std::uint32_t sampleHeight, std::uint32_t bytesPerPixel,
                                   std::uint32_t width, std::uint32_t height) {
    const std::uint64_t estimate =
        EstimatePeakMemory(sampleWidth, sampleHeight, bytesPerPixel, width, height, settings);
    const std::int64_t before = test::HeapNow();
    const Image sample = testing::PatternImage(sampleWidth, sampleHeight, bytesPerPixel);
    {
        TextureSynthesiser job;
        ApplySettings(settings, job);
        const bool exact = settings.searchMethod == SearchMethod::Exact;
        if (exact) {
            job.progressCallback = &StopAtFinestSearch;
            job.callbackContext = &job;
        }
        test::ResetHeapPeak();
        EXPECT_EQ(job.Synthesise(sample, width, height), !exact) << "stopped at level 0";
    }
    const auto measured = static_cast<double>(test::HeapPeak() - before);
    EXPECT_NEAR(static_cast<double>(estimate), measured, 0.25 * measured)
        << "estimate " << FormatBytes(estimate) << ", measured "
        << FormatBytes(static_cast<std::uint64_t>(measured));
}

TEST(MemoryEstimate, IsWithinAQuarterOfTheMeasuredPeak) {
    struct Case {
        const char* what;
        std::uint32_t sampleWidth, sampleHeight, bytesPerPixel, width, height;
        SubsamplingMode mode;
        Accuracy accuracy;
        std::uint32_t threads;
    };
    const Case cases[] = {
        {"kd-tree, the sample's cloud dominates", 200, 150, 3, 96, 80, SubsamplingMode::Disabled,
         Accuracy::High, 1},
        {"linear scan, four channels, the output dominates", 64, 48, 4, 520, 400,
         SubsamplingMode::FixedCount, Accuracy::High, 0},
        {"percentage, medium windows, sample and output alike", 160, 160, 3, 170, 150,
         SubsamplingMode::Percentage, Accuracy::Medium, 2},
        {"kd-tree, low windows, four channels", 180, 120, 4, 150, 150, SubsamplingMode::Disabled,
         Accuracy::Low, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SynthesisSettings settings;
        settings.subsamplingMode = c.mode;
        settings.subsampleCount = 200;
        settings.subsamplePercent = 1;
        settings.levelAccuracy = {c.accuracy, c.accuracy, Accuracy::Medium};
        settings.threadCount = c.threads;
        ExpectWithinAQuarterOfThePeak(settings, c.sampleWidth, c.sampleHeight, c.bytesPerPixel,
                                      c.width, c.height);
    }
    // A coherent run keeps no clouds; its table of sample windows dominates.
    SynthesisSettings coherent;
    coherent.searchMethod = SearchMethod::Coherent;
    ExpectWithinAQuarterOfThePeak(coherent, 96, 96, 3, 128, 128);
    ExpectWithinAQuarterOfThePeak(coherent, 140, 140, 4, 90, 90);
}

TEST(MemoryEstimate, GrowsWithWhatARunAllocates) {
    const SynthesisSettings defaults;
    SynthesisSettings kdTree;
    kdTree.subsamplingMode = SubsamplingMode::Disabled;
    SynthesisSettings low;
    low.levelAccuracy = {Accuracy::Low, Accuracy::Low, Accuracy::Medium};
    const std::uint64_t base = EstimatePeakMemory(512, 512, 3, 512, 512, defaults);
    EXPECT_EQ(EstimatePeakMemory(512, 512, 3, 0, 0, defaults), base) << "0: the sample's side";
    EXPECT_GT(EstimatePeakMemory(512, 512, 4, 512, 512, defaults), base);
    EXPECT_GT(EstimatePeakMemory(512, 512, 3, 4096, 4096, defaults), base);
    EXPECT_GT(EstimatePeakMemory(512, 512, 3, 512, 512, kdTree), base) << "the tree's copy";
    EXPECT_LT(EstimatePeakMemory(512, 512, 3, 512, 512, low), base) << "shorter rows";
    // The largest sizes a run accepts stay far from wrapping 64 bits.
    EXPECT_GT(EstimatePeakMemory(65535, 65535, 4, 65535, 65535, kdTree), std::uint64_t{1} << 40);
}

TEST(MemoryEstimate, FormatsByteCountsForMessages) {
    EXPECT_EQ(FormatBytes(1), "1 byte");
    EXPECT_EQ(FormatBytes(1000), "1000 bytes");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(std::uint64_t{640} << 20), "640 MiB");
    EXPECT_EQ(FormatBytes(std::uint64_t{24} << 30), "24 GiB");
    EXPECT_GT(PhysicalMemory(), std::uint64_t{1} << 20);
}

}  // namespace
}  // namespace weftloom
