#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/coherent_search.h"
#include "engine/image.h"
#include "engine/image_pyramid.h"
#include "engine/progress.h"
#include "search/data_cloud.h"
#include "search/distance_metric.h"
#include "search/random_generator.h"

namespace weftloom {

// One synthesis job: turns a sample image into a new texture of a requested
// size. The caller sets the parameters, then calls Synthesise once on a worker
// thread; it fills the output with random sample pixels, builds four-level
// pyramids of output and sample and synthesises the output levels coarsest
// first, each pixel replaced by the sample pixel whose neighbourhood is
// nearest. Progress goes to progressCallback on the running thread.
//
// Threads: Synthesise, SynthesiseLevel and every report run on the caller's
// thread; the searches may borrow workers of the shared pool (threadCount). Abort may be called
// from any thread at any time and never waits. Nothing is thrown; failures and aborts both return
// false.
class TextureSynthesiser {
  public:
    // Largest window side a level accepts; the user's choices are 1 to 9.
    static constexpr std::int32_t kMaxNeighbourhoodSide = 255;
    static constexpr std::uint32_t kLevelCount = 4;

    // A new job holds the default settings (SynthesisSettings); ApplySettings
    // sets others.
    TextureSynthesiser();
    TextureSynthesiser(const TextureSynthesiser&) = delete;
    TextureSynthesiser& operator=(const TextureSynthesiser&) = delete;
    virtual ~TextureSynthesiser() = default;

    // Synthesises a width x height texture from sample (0 means the sample's own
    // side) into result. True when the whole output was synthesised; false when
    // aborted, when a level pass failed (an invalid metric or window side), when
    // the sample is empty or not of 3 or 4 bytes per pixel, when the output's
    // pixel total over all levels does not fit the 32-bit counters, or when
    // memory ran out. After a false return result holds no finished texture.
    virtual bool Synthesise(const Image& sample, std::uint32_t width, std::uint32_t height);

    // Asks a running (or future) Synthesise to stop within one pixel's search.
    virtual void Abort() { abortRequested.store(true, std::memory_order_relaxed); }

    // Whether an output of width x height pixels (0 meaning the sample's side is
    // not allowed here) fits the run's signed 32-bit pixel counters over all levels.
    static bool OutputFits(std::uint32_t width, std::uint32_t height);

    // One level pass over level `level` of both pyramids with window side `side`
    // (an even side is raised to the next odd one) and `levels` pyramid levels
    // in each neighbourhood. The search is a kd-tree when subsamplingMode is
    // Disabled, else a linear scan; metric chooses the distance. False when the
    // sample level is missing, the metric or side is invalid, or on abort.
    bool SynthesiseLevel(std::uint32_t level, std::int32_t side, std::uint32_t levels);

    // Pyramids of the sample and the output, alive only during Synthesise.
    std::unique_ptr<ImagePyramid> samplePyramid;
    std::unique_ptr<ImagePyramid> outputPyramid;
    // The output image; created by Synthesise and kept until the job goes.
    std::unique_ptr<Image> result;

    ProgressCallback progressCallback = nullptr;
    std::int32_t pixelsDone = 0;
    std::int32_t pixelsTotal = 0;
    // The current level's part of pixelsTotal, reported as levelOverall.
    std::int32_t levelOverall = 0;
    void* callbackContext = nullptr;
    std::atomic<bool> abortRequested{false};

    // Window side per pyramid level 0, 1, 2; level 3 always uses 3 over one level.
    std::array<std::int32_t, 3> neighbourhoodSize{};
    SubsamplingMode subsamplingMode{};
    std::int32_t subsampleCount = 0;
    std::uint32_t subsamplePercent = 0;
    std::uint32_t minimumPixelCount = 0;
    DistanceMetric metric{};
    // Starting state of the run's generator, set when Synthesise starts.
    std::uint32_t randomSeed = 0;
    // The run's generator: random initialisation first, then subsampled queries.
    RandomGenerator random;

    // Threads the exact search's nearest-neighbour queries and the coherent
    // search's passes may use, the calling thread included; 0 means all
    // cores. The output never depends on it. Runs share the process's
    // WorkerPool, so several at once do not oversubscribe.
    std::uint32_t threadCount = 0;

    // Exact (nearest neighbourhood, the default) or Coherent; the fields below
    // concern only the coherent search.
    SearchMethod searchMethod = SearchMethod::Exact;
    // Positions in each sample position's similar set (k of k-coherence).
    std::uint32_t coherenceSetSize = 0;
    // Passes with whole neighbourhoods over each level after the first.
    std::uint32_t correctionPasses = 0;
    // Random sample positions each pixel also tries.
    std::uint32_t randomCandidates = 0;
    // How strongly positions already used are avoided, in sixteenths of the
    // mean distance per use beyond an even share.
    std::uint32_t occurrenceWeight = 0;
    // Coherent search: sixteenths of the mean distance chosen a candidate pays
    // per share by which its brightness is over-represented in the output
    // (see coherent::ColourBalance); 0: none.
    std::uint32_t balanceWeight = 0;
    // Largest piece copied verbatim, in percent of the sample level's positions.
    std::uint32_t pieceLimitPercent = 100;
    // Coherent search: whether, and along which lines, a sample's courses
    // are laid out first.
    CourseLayout courses = CourseLayout::Off;
    // After a coherent run, where each pixel of result was copied from in the
    // sample; empty after an exact run.
    SourceMap sourceMap;

  private:
    friend class CoherentLevel;
    template <class Cloud>
    friend bool RunCloudPass(TextureSynthesiser& job, std::uint32_t level, std::int32_t side,
                             std::uint32_t levels);
    bool RunSynthesis(const Image& sample, std::uint32_t width, std::uint32_t height);
    bool AbortRequested() const { return abortRequested.load(std::memory_order_relaxed); }
    void Report(const ProgressInfo& info) const;
    // The fields every report of step stepDone of stepTotal of phase shares.
    ProgressInfo StepInfo(ProgressPhase phase, std::uint32_t stepDone,
                          std::uint32_t stepTotal) const;
    // A report of a phase with no level (the output, the pyramids): step
    // stepDone of stepTotal rows.
    void ReportSetUp(ProgressPhase phase, std::uint32_t stepDone, std::uint32_t stepTotal) const;
    // A report of step stepDone of stepTotal of phase on pyramid level
    // `level`; a Synthesizing one carries the run's pixel counts.
    void ReportStep(ProgressPhase phase, std::uint32_t level, std::uint32_t stepDone,
                    std::uint32_t stepTotal) const;
    // The report of output row y of level `level` (the output pyramid's
    // image), just synthesised, as step stepDone of stepTotal.
    void ReportRow(std::uint32_t level, std::uint32_t y, std::uint32_t stepDone,
                   std::uint32_t stepTotal) const;
};

}  // namespace weftloom
