#pragma once

#include <cstdint>

namespace weftloom {

class TextureSynthesiser;

// One level pass of job (TextureSynthesiser::SynthesiseLevel with a checked
// window side): gathers the sample level's neighbourhoods into a cloud (a
// kd-tree when subsampling is disabled, else a linear scan) under job.metric,
// then replaces every output pixel of the level, in scan order, by the pixel
// of the nearest cloud point. Reports one progress record per sample row and
// per output row, and polls the abort flag after every pixel. Runs on the
// caller's thread; queries may use job.threadCount threads. False when a
// pyramid or level is missing, the metric is invalid, on abort or when memory
// runs out.
bool RunLevelPass(TextureSynthesiser& job, std::uint32_t level, std::int32_t side,
                  std::uint32_t levels);

}  // namespace weftloom
