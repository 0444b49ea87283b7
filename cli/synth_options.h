#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "engine/accuracy.h"
#include "search/data_cloud.h"
#include "search/distance_metric.h"

namespace weftloom {

inline constexpr const char kSynthProgramName[] = "weftloom-synth";

// What weftloom-synth was asked to do, with the defaults of its interface.
struct SynthOptions {
    std::string sample;
    std::string output;        // empty: <sample name without extension>-synth.tga here
    std::uint32_t width = 0;   // 0: the sample's width
    std::uint32_t height = 0;  // 0: the sample's height
    std::array<Accuracy, 3> accuracy = {Accuracy::High, Accuracy::High, Accuracy::High};
    SubsamplingMode subsampling = SubsamplingMode::FixedCount;
    std::int32_t count = 2500;
    std::uint32_t percent = 10;
    std::uint32_t minPixels = 2500;
    DistanceMetric metric = DistanceMetric::L2;
    std::uint32_t seed = 1;
    bool quiet = false;
};

// Parses the command line into options. Returns nothing when the program
// should go on and run; otherwise the exit code to end with: 0 after --help or
// --version (printed to out), 2 after a usage error (one line on err, starting
// with the program's name).
std::optional<int> ParseSynthOptions(int argc, const char* const* argv, SynthOptions& options,
                                     std::ostream& out, std::ostream& err);

// The output path when none is given: the sample's file name without its
// extension, plus "-synth.tga", in the current folder.
std::string DefaultOutputPath(const std::string& samplePath);

}  // namespace weftloom
