#pragma once

#include <cstdint>
#include <vector>

namespace weftloom {

class TextureSynthesiser;
struct SynthesisSettings;

// How each output pixel's sample pixel is found.
enum class SearchMethod : std::int32_t {
    // Each pixel takes the sample pixel whose neighbourhood is nearest its
    // own over the whole sample level, found through a kd-tree or a
    // subsampled linear scan: the nearest match for every pixel, slowly.
    Exact = 0,
    // A few tens of candidates per pixel, taken from where the pixel's
    // neighbours came from and from sample positions known to look alike,
    // then correction passes over the whole level; much faster, keeps more of
    // the sample and tiles in both directions.
    Coherent = 1,
};

// Whether the coherent search lays a sample's courses (the rows of a brick
// wall, planks, a board's grain) out first, keeping its lines whole (see
// engine/coherent/courses.h).
enum class CourseLayout : std::int32_t {
    Auto = 0,     // where the sample is laid in courses, along them
    Off = 1,      // never
    Rows = 2,     // along the rows, whatever the sample
    Columns = 3,  // along the columns, whatever the sample
};

// Where one output pixel was copied from: a pixel of the sample.
struct SourcePosition {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    bool operator==(const SourcePosition&) const = default;
};

// The source of every pixel of an output image, row after row.
struct SourceMap {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<SourcePosition> positions;

    const SourcePosition& At(std::uint32_t x, std::uint32_t y) const {
        return positions[static_cast<std::size_t>(y) * width + x];
    }
};

// The coherent search lives in engine/coherent/; these two are its only
// entrances.

// Synthesises the four output levels of job, coarsest first, with the
// coherent search (job.searchMethod aside, every parameter is the job's);
// fills job.sourceMap for the finest level. Called by Synthesise on its
// thread once both pyramids exist; reports and polls the abort flag as a
// level pass does. False on abort or when memory runs out.
bool RunCoherentLevels(TextureSynthesiser& job);

// The heap RunCoherentLevels takes at its peak, in bytes, beyond what every
// run holds anyway (the job's pyramids and result image): a sample of
// sampleWidth x sampleHeight pixels (bytesPerPixel 3 or 4) grown to
// outputWidth x outputHeight with settings. It is dominated by the finest
// level's table of sample windows, some 64 to 450 bytes per sample pixel
// depending on the window sides; the source map it leaves in the job is
// counted too. An upper bound within a few percent, for a run's memory
// estimate; the largest value when it would not fit in 64 bits. Any thread.
std::uint64_t CoherentSearchPeakBytes(std::uint32_t sampleWidth, std::uint32_t sampleHeight,
                                      std::uint32_t outputWidth, std::uint32_t outputHeight,
                                      std::uint32_t bytesPerPixel,
                                      const SynthesisSettings& settings);

}  // namespace weftloom
