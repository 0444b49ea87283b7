#include "engine/texture_synthesiser.h"

#include <algorithm>
#include <limits>
#include <new>

#include "engine/level_pass.h"
#include "engine/synthesis_settings.h"

namespace weftloom {

namespace {

// Pixels of all levels of a pyramid of the given size, in 64 bits.
std::uint64_t PyramidPixelTotal(std::uint32_t width, std::uint32_t height, std::uint32_t levels) {
    std::uint64_t total = 0;
    for (std::uint32_t k = 0; k < levels; ++k) {
        total += std::uint64_t{width} * height;
        width = ReducedSize(width);
        height = ReducedSize(height);
    }
    return total;
}

bool IsUsableSample(const Image& sample) {
    return sample.width > 0 && sample.height > 0 &&
           (sample.bytesPerPixel == 3 || sample.bytesPerPixel == 4) &&
           sample.pixels.size() == sample.Offset(0, sample.height);
}

}  // namespace

TextureSynthesiser::TextureSynthesiser() {
    ApplySettings(SynthesisSettings{}, *this);
}

bool TextureSynthesiser::OutputFits(std::uint32_t width, std::uint32_t height) {
    return PyramidPixelTotal(width, height, kLevelCount) <=
           static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
}

void TextureSynthesiser::Report(const ProgressInfo& info) const {
    if (progressCallback != nullptr) {
        progressCallback(&info);
    }
}

ProgressInfo TextureSynthesiser::StepInfo(ProgressPhase phase, std::uint32_t stepDone,
                                          std::uint32_t stepTotal) const {
    ProgressInfo info;
    info.phase = phase;
    info.status = StatusText(phase);
    info.context = callbackContext;
    info.stepDone = static_cast<std::int32_t>(stepDone);
    info.stepTotal = static_cast<std::int32_t>(stepTotal);
    return info;
}

void TextureSynthesiser::ReportSetUp(ProgressPhase phase, std::uint32_t stepDone,
                                     std::uint32_t stepTotal) const {
    Report(StepInfo(phase, stepDone, stepTotal));
}

void TextureSynthesiser::ReportStep(ProgressPhase phase, std::uint32_t level,
                                    std::uint32_t stepDone, std::uint32_t stepTotal) const {
    ProgressInfo info = StepInfo(phase, stepDone, stepTotal);
    info.level = static_cast<std::int32_t>(level);
    info.levelCount = static_cast<std::int32_t>(kLevelCount);
    if (phase == ProgressPhase::Synthesizing) {
        info.overallDone = pixelsDone;
        info.overallTotal = pixelsTotal;
        info.levelOverall = levelOverall;
    }
    Report(info);
}

void TextureSynthesiser::ReportRow(std::uint32_t level, std::uint32_t y, std::uint32_t stepDone,
                                   std::uint32_t stepTotal) const {
    const Image& image = *outputPyramid->Level(level);
    ProgressInfo info = StepInfo(ProgressPhase::Synthesizing, stepDone, stepTotal);
    info.level = static_cast<std::int32_t>(level);
    info.levelCount = static_cast<std::int32_t>(kLevelCount);
    info.rowPixels = image.PixelAt(0, y);
    info.levelWidth = image.width;
    info.levelHeight = image.height;
    info.bytesPerPixel = image.bytesPerPixel;
    info.row = static_cast<std::int32_t>(y);
    info.overallDone = pixelsDone;
    info.overallTotal = pixelsTotal;
    info.levelOverall = levelOverall;
    Report(info);
}

bool TextureSynthesiser::SynthesiseLevel(std::uint32_t level, std::int32_t side,
                                         std::uint32_t levels) {
    if (side < 0 || side > kMaxNeighbourhoodSide) {
        return false;
    }
    return RunLevelPass(*this, level, side, levels);
}

bool TextureSynthesiser::Synthesise(const Image& sample, std::uint32_t width,
                                    std::uint32_t height) {
    bool done = false;
    try {
        done = RunSynthesis(sample, width, height);
    } catch (const std::bad_alloc&) {
        done = false;
    }
    samplePyramid.reset();
    outputPyramid.reset();
    return done;
}

bool TextureSynthesiser::RunSynthesis(const Image& sample, std::uint32_t width,
                                      std::uint32_t height) {
    if (!IsUsableSample(sample)) {
        return false;
    }
    if (width == 0) {
        width = sample.width;
    }
    if (height == 0) {
        height = sample.height;
    }
    // pixelsDone and pixelsTotal are signed 32-bit; refuse what they cannot count.
    if (!OutputFits(width, height)) {
        return false;
    }
    pixelsDone = 0;
    pixelsTotal = 0;
    levelOverall = 0;
    sourceMap = SourceMap{};
    random.Seed(randomSeed);

    // The set-up phases report every row, so that a large output shows its
    // progress (and sees an abort) from the start: the output's rows are
    // cleared, then filled with random sample pixels.
    ReportSetUp(ProgressPhase::InitialisingOutput, 0, 2 * height);
    result = std::make_unique<Image>();
    if (!result->Allocate(width, height, sample.bytesPerPixel, &abortRequested,
                          [this](std::uint32_t done, std::uint32_t total) {
                              ReportSetUp(ProgressPhase::InitialisingOutput, done, 2 * total);
                          })) {
        return false;
    }
    const std::uint32_t bpp = sample.bytesPerPixel;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (AbortRequested()) {
            return false;
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            // Row before column: the draw order is part of the output's definition.
            const std::uint32_t sy = random.Next() % sample.height;
            const std::uint32_t sx = random.Next() % sample.width;
            const std::uint8_t* source = sample.PixelAt(sx, sy);
            std::copy(source, source + bpp, result->PixelAt(x, y));
        }
        ReportSetUp(ProgressPhase::InitialisingOutput, height + y + 1, 2 * height);
    }

    const auto buildPyramid = [this](const Image& image, ProgressPhase phase) {
        ReportSetUp(phase, 0, PyramidBuildRows(image.height, kLevelCount));
        return std::make_unique<ImagePyramid>(
            image, kLevelCount, &abortRequested,
            [this, phase](std::uint32_t done, std::uint32_t total) {
                ReportSetUp(phase, done, total);
            });
    };
    outputPyramid = buildPyramid(*result, ProgressPhase::BuildingOutputPyramid);
    if (!outputPyramid->Complete()) {
        return false;
    }
    samplePyramid = buildPyramid(sample, ProgressPhase::BuildingInputPyramid);
    if (!samplePyramid->Complete()) {
        return false;
    }
    for (std::uint32_t k = 0; k < kLevelCount; ++k) {
        const Image* level = outputPyramid->Level(k);
        pixelsTotal += static_cast<std::int32_t>(level->width * level->height);
    }

    const bool passed = searchMethod == SearchMethod::Coherent
                            ? RunCoherentLevels(*this)
                            : SynthesiseLevel(3, 3, 1) &&
                                  SynthesiseLevel(2, neighbourhoodSize[2], 2) &&
                                  SynthesiseLevel(1, neighbourhoodSize[1], 2) &&
                                  SynthesiseLevel(0, neighbourhoodSize[0], 2);
    if (!passed) {
        return false;
    }
    const Image* finest = outputPyramid->Level(0);
    std::copy(finest->pixels.begin(), finest->pixels.end(), result->pixels.begin());
    return true;
}

}  // namespace weftloom
