#pragma once

#include <array>
#include <cstdint>

#include "engine/accuracy.h"
#include "engine/coherent_search.h"
#include "engine/image.h"
#include "search/data_cloud.h"
#include "search/distance_metric.h"
#include "search/random_generator.h"

namespace weftloom {

class TextureSynthesiser;

// What a user chooses for a synthesis run, with the defaults both front ends
// start from. The desktop application keeps one during a session and hands a
// copy to each run; weftloom-synth fills one from its options. A plain value:
// copy it freely, on any thread.
//
// The fields may hold values no front end offers (a list with nothing
// selected is -1); the run then behaves as the engine's fields of the same
// name define.
struct SynthesisSettings {
    // Level 1, 2 and 3 (pyramid levels 0, 1 and 2), each mapped to a window side.
    std::array<Accuracy, 3> levelAccuracy = {Accuracy::High, Accuracy::High, Accuracy::High};
    SubsamplingMode subsamplingMode = SubsamplingMode::FixedCount;
    std::int32_t subsampleCount = 2500;      // points a query aims at in FixedCount
    std::uint32_t subsamplePercent = 10;     // percent of the cloud in Percentage
    std::uint32_t minimumPixelCount = 2500;  // Percentage applies from this cloud size on
    DistanceMetric metric = DistanceMetric::L2;
    std::uint32_t randomSeed = RandomGenerator::kDefaultSeed;
    // Threads a query may be split over; 0 means every core. The output does
    // not depend on it.
    std::uint32_t threadCount = 0;
    // Exact finds each pixel's nearest neighbourhood in the sample (among all
    // or a random subset); Coherent is faster and uses the four
    // settings after it (the subsampling settings above concern Exact only).
    SearchMethod searchMethod = SearchMethod::Exact;
    std::uint32_t coherenceSetSize = 2;    // k: similar positions kept per sample position
    std::uint32_t correctionPasses = 1;    // whole-neighbourhood passes after the first
    std::uint32_t randomCandidates = 2;    // random positions each pixel also tries
    std::uint32_t occurrenceWeight = 20;   // sixteenths of the mean distance per even share used
    std::uint32_t balanceWeight = 88;      // sixteenths of the mean distance per excess share
    std::uint32_t pieceLimitPercent = 34;  // largest verbatim piece, percent of the sample
    CourseLayout courses = CourseLayout::Auto;  // a sample's courses laid out first

    // The window side a level (0 to 2) is synthesised with.
    std::int32_t WindowSide(std::int32_t level) const;

    bool operator==(const SynthesisSettings&) const = default;
};

// Sets the job's parameters from settings; leaves its callback, context and
// state alone.
void ApplySettings(const SynthesisSettings& settings, TextureSynthesiser& job);

// Why a run cannot be started, as both front ends refuse it before any work.
enum class SynthesisProblem {
    None,
    EmptySample,        // no pixels at all
    UnsupportedSample,  // not 3 or 4 bytes per pixel
    OutputTooLarge,     // the run's 32-bit pixel counters cannot hold the output
    SampleTooSmall,     // no pixel of the sample has a whole Level 1 window
};

// Whether settings can synthesise an output of width x height pixels (0: the
// sample's side) from sample. SampleTooSmall means the finest level's cloud
// would be empty, so the output would stay the random noise it starts from.
SynthesisProblem CheckSynthesis(const Image& sample, std::uint32_t width, std::uint32_t height,
                                const SynthesisSettings& settings);

// A run's memory against what it may use, as both front ends check it before
// any large allocation (from a file's header alone, when need be).
struct MemoryCheck {
    std::uint64_t needed = 0;   // EstimatePeakMemory of the run
    std::uint64_t allowed = 0;  // the limit, or the machine's memory; 0: unknown
    bool Fits() const { return allowed == 0 || needed <= allowed; }
};

// The check for a sample of sampleWidth x sampleHeight pixels of bytesPerPixel
// bytes and an output of width x height (0: the sample's side) under limit
// bytes; a limit of 0 means the machine's physical memory.
MemoryCheck CheckMemory(std::uint32_t sampleWidth, std::uint32_t sampleHeight,
                        std::uint32_t bytesPerPixel, std::uint32_t width, std::uint32_t height,
                        const SynthesisSettings& settings, std::uint64_t limit);

}  // namespace weftloom
