#pragma once

#include <cstdint>
#include <string>

#include "engine/synthesis_settings.h"

namespace weftloom {

// The peak heap of one synthesis run, in bytes, taken from the structures the
// engine allocates: the sample as the caller holds it, the output image, both
// four-level pyramids, and the largest level pass (its cloud's feature rows and
// pixels, and for a kd-tree the second copy of the rows, the node, index and
// split tables while the tree is built). A cloud's points are counted from the
// sizes alone: the sample pixels whose whole window lies inside the sample.
// Splitting queries over threads allocates nothing, so settings.threadCount
// does not change the figure. Zero sides mean the sample's own, as for
// Synthesise.
//
// Pure arithmetic on sizes: callable before the sample is read, on any thread.
std::uint64_t EstimatePeakMemory(std::uint32_t sampleWidth, std::uint32_t sampleHeight,
                                 std::uint32_t bytesPerPixel, std::uint32_t width,
                                 std::uint32_t height, const SynthesisSettings& settings);

// The memory a run may use when the user sets no limit: the machine's
// physical memory, or the control group's limit when that is smaller. Zero when
// neither can be found.
std::uint64_t PhysicalMemory();

// "1.5 GiB", "640 MiB", "12 KiB", "100 bytes": a byte count for a message.
std::string FormatBytes(std::uint64_t bytes);

}  // namespace weftloom
