// The coherent search's memory estimate against the heap a run really takes.
// A program of its own: it counts every heap block of the process.
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
#include "tests/support/test_images.h"

namespace {

std::atomic<std::int64_t> heapNow{0};
std::atomic<std::int64_t> heapPeak{0};

// Each block carries the size asked for in a header before it, so that the
// count is what the program asked for, whatever the allocator rounds.
constexpr std::size_t kHeader = 64;

void* Allocate(std::size_t size, std::size_t alignment) {
    const std::size_t header = std::max(kHeader, alignment);
    auto* base = static_cast<unsigned char*>(std::aligned_alloc(
        std::max(alignment, kHeader), (size + header + kHeader - 1) / kHeader * kHeader));
    if (base == nullptr) {
        throw std::bad_alloc();
    }
    unsigned char* p = base + header;
    const std::size_t fields[2] = {size, header};
    std::memcpy(p - sizeof fields, fields, sizeof fields);
    const auto bytes = static_cast<std::int64_t>(size);
    const std::int64_t now = heapNow.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::int64_t peak = heapPeak.load(std::memory_order_relaxed);
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    return p;
}

void Release(void* block) {
    if (block != nullptr) {
        auto* p = static_cast<unsigned char*>(block);
        std::size_t fields[2];
        std::memcpy(fields, p - sizeof fields, sizeof fields);
        heapNow.fetch_sub(static_cast<std::int64_t>(fields[0]), std::memory_order_relaxed);
        std::free(p - fields[1]);
    }
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size, 0);
}
void* operator new[](std::size_t size) {
    return Allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    Release(p);
}

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
    const std::int64_t base = heapNow.load();
    heapPeak.store(base);
    EXPECT_TRUE(RunCoherentLevels(job));
    return heapPeak.load() - base;
}

TEST(CoherentSearchMemory, EstimateBoundsTheCountedPeakClosely) {
    struct Case {
        std::uint32_t sampleWidth, sampleHeight, bytesPerPixel, width, height;
        Accuracy accuracy;
        std::uint32_t setSize, randomTries;
    };
    const Case cases[] = {
        {64, 48, 3, 96, 80, Accuracy::High, 4, 2},
        {150, 110, 4, 64, 72, Accuracy::Medium, 8, 5},
        {97, 201, 3, 160, 40, Accuracy::Low, 2, 0},
        {40, 40, 3, 300, 260, Accuracy::High, 4, 2},
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
