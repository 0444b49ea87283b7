#include "engine/synthesis_settings.h"

#include "engine/image_pyramid.h"
#include "engine/memory_estimate.h"
#include "engine/neighbourhood.h"
#include "engine/texture_synthesiser.h"

namespace weftloom {

std::int32_t SynthesisSettings::WindowSide(std::int32_t level) const {
    if (level < 0 || level > 2) {
        return 1;
    }
    return NeighbourhoodSideFor(
        level, static_cast<std::int32_t>(levelAccuracy[static_cast<std::size_t>(level)]));
}

void ApplySettings(const SynthesisSettings& settings, TextureSynthesiser& job) {
    for (std::int32_t level = 0; level < 3; ++level) {
        job.neighbourhoodSize[static_cast<std::size_t>(level)] = settings.WindowSide(level);
    }
    job.subsamplingMode = settings.subsamplingMode;
    job.subsampleCount = settings.subsampleCount;
    job.subsamplePercent = settings.subsamplePercent;
    job.minimumPixelCount = settings.minimumPixelCount;
    job.metric = settings.metric;
    job.randomSeed = settings.randomSeed;
    job.threadCount = settings.threadCount;
    job.searchMethod = settings.searchMethod;
    job.coherenceSetSize = settings.coherenceSetSize;
    job.correctionPasses = settings.correctionPasses;
    job.randomCandidates = settings.randomCandidates;
    job.occurrenceWeight = settings.occurrenceWeight;
    job.balanceWeight = settings.balanceWeight;
    job.pieceLimitPercent = settings.pieceLimitPercent;
    job.courses = settings.courses;
}

SynthesisProblem CheckSynthesis(const Image& sample, std::uint32_t width, std::uint32_t height,
                                const SynthesisSettings& settings) {
    if (sample.IsEmpty()) {
        return SynthesisProblem::EmptySample;
    }
    if (sample.bytesPerPixel != 3 && sample.bytesPerPixel != 4) {
        return SynthesisProblem::UnsupportedSample;
    }
    if (!TextureSynthesiser::OutputFits(width != 0 ? width : sample.width,
                                        height != 0 ? height : sample.height)) {
        return SynthesisProblem::OutputTooLarge;
    }
    // Level 1's window spans its own level and the next coarser one.
    if (!HasCompleteNeighbourhood(ImagePyramid(sample, 2), 0, settings.WindowSide(0), 2)) {
        return SynthesisProblem::SampleTooSmall;
    }
    return SynthesisProblem::None;
}

MemoryCheck CheckMemory(std::uint32_t sampleWidth, std::uint32_t sampleHeight,
                        std::uint32_t bytesPerPixel, std::uint32_t width, std::uint32_t height,
                        const SynthesisSettings& settings, std::uint64_t limit) {
    MemoryCheck check;
    check.needed =
        EstimatePeakMemory(sampleWidth, sampleHeight, bytesPerPixel, width, height, settings);
    check.allowed = limit != 0 ? limit : PhysicalMemory();
    return check;
}

}  // namespace weftloom
