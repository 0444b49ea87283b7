// The coherent search's memory estimate against the heap a run really takes.
// It counts every heap block of the process, so its program runs alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "engine/coherent_search.h"
#include "engine/image_pyramid.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "tests/support/heap_count.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

// The highest the heap rose during the coherent levels of one run, above
// where it stood with both pyramids built.
std::int64_t MeasuredPeak(const Image& sample, std::uint32_t width, std::uint32_t height,
                          const SynthesisSettings& settings) {
    TextureSynthesiser job;
    ApplySettings(settings, job);
    Image output;
    EXPECT_TRUE(output.Allocate(width, height, sample.bytesPerPixel));
    job.samplePyramid = std::make_unique<ImagePyramid>(sample, TextureSynthesiser::kLevelCount);
    job.outputPyramid = std::make_unique<ImagePyramid>(output, TextureSynthesiser::kLevelCount);
    const std::int64_t base = test::HeapNow();
    test::ResetHeapPeak();
    EXPECT_TRUE(RunCoherentLevels(job));
    return test::HeapPeak() - base;
}

TEST(CoherentSearchMemory, EstimateBoundsTheCountedPeakClosely) {
    struct Case {
        std::uint32_t sampleWidth, sampleHeight, bytesPerPixel, width, height;
        Accuracy accuracy;
        std::uint32_t setSize, randomTries;
        CourseLayout courses = CourseLayout::Auto;
    };
    const Case cases[] = {
        {64, 48, 3, 96, 80, Accuracy::High, 4, 2},
        {150, 110, 4, 64, 72, Accuracy::Medium, 8, 5},
        {97, 201, 3, 160, 40, Accuracy::Low, 2, 0},
        {40, 40, 3, 300, 260, Accuracy::High, 4, 2},
        // Courses laid out first: a tall sample's plan for a tall output, the
        // run's peak, and one the tables outweigh.
        {8, 2000, 3, 8, 8000, Accuracy::High, 2, 2, CourseLayout::Rows},
        {300, 20, 3, 900, 30, Accuracy::Medium, 2, 2, CourseLayout::Columns},
    };
    SynthesisSettings warmUp;
    warmUp.searchMethod = SearchMethod::Coherent;
    // The first run starts the process's worker pool, which is no part of a run.
    MeasuredPeak(testing::PatternImage(16, 16, 3, 1), 16, 16, warmUp);
    for (const Case& c : cases) {
        SynthesisSettings settings;
        settings.searchMethod = SearchMethod::Coherent;
        settings.levelAccuracy = {c.accuracy, c.accuracy, c.accuracy};
        settings.coherenceSetSize = c.setSize;
        settings.randomCandidates = c.randomTries;
        settings.courses = c.courses;
        const Image sample =
            testing::PatternImage(c.sampleWidth, c.sampleHeight, c.bytesPerPixel, 3);
        const auto measured =
            static_cast<std::uint64_t>(MeasuredPeak(sample, c.width, c.height, settings));
        const std::uint64_t estimate = CoherentSearchPeakBytes(
            c.sampleWidth, c.sampleHeight, c.width, c.height, c.bytesPerPixel, settings);
        EXPECT_GE(estimate, measured) << c.sampleWidth << " x " << c.sampleHeight;
        EXPECT_LE(estimate, measured + measured / 10 + 128 * 1024)
            << c.sampleWidth << " x " << c.sampleHeight;
    }
}

TEST(CoherentSearchMemory, EstimateSaturatesInsteadOfWrapping) {
    SynthesisSettings settings;
    settings.coherenceSetSize = 0xFFFFFFFFu;
    EXPECT_EQ(
        CoherentSearchPeakBytes(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 4, settings),
        std::numeric_limits<std::uint64_t>::max());
}

}  // namespace
}  // namespace weftloom
