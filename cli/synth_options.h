#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "engine/synthesis_settings.h"

namespace weftloom {

inline constexpr const char kSynthProgramName[] = "weftloom-synth";

// Exit codes of weftloom-synth, one per meaning.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;        // a sample, a run or a write failed
inline constexpr int kExitUsage = 2;          // the command line was not understood
inline constexpr int kExitInterrupted = 130;  // stopped by SIGINT
inline constexpr int kExitTerminated = 143;   // stopped by SIGTERM

// How the run shows its progress on standard error.
enum class ProgressMode {
    Auto,  // a line redrawn in place when standard error is a terminal, else nothing
    Log,   // one plain line per phase with its percentage, for batch logs
    None,  // nothing (as --quiet)
};

// The file format of the textures whose names the tool makes.
enum class OutputFormat { Tga, Png };

// What weftloom-synth was asked to do, with the defaults of its interface.
struct SynthOptions {
    std::vector<std::string> samples;  // one run each, in order; at least one once parsed
    std::string output;                // empty: <sample name without extension>-synth.tga here
    std::string outputFolder;          // -O: every output goes here as <sample name>-synth.tga
    // The format of a name the tool makes (-O, the default name, -o's folder)
    // or completes (-o without an extension); a name with one says its own.
    OutputFormat format = OutputFormat::Tga;
    std::uint32_t width = 0;     // 0: the sample's width
    std::uint32_t height = 0;    // 0: the sample's height
    SynthesisSettings settings;  // --accuracy, --subsampling, --count, ..., --seed
    bool quiet = false;
    // Bytes the run may use; 0: the machine's physical memory.
    std::uint64_t maxMemory = 0;
    bool force = false;      // replace a read-only output
    bool noClobber = false;  // never replace an existing output
    ProgressMode progress = ProgressMode::Auto;
    // A fill instead of a synthesis: each SAMPLE is a picture whose hole is
    // marked by fillMask's picture, or by its own transparency.
    std::string fillMask;
    bool fillTransparent = false;
    std::uint32_t fillFrom = 0;  // copy only within this many pixels of the hole; 0: anywhere
    bool Filling() const { return !fillMask.empty() || fillTransparent; }
};

// Parses the command line into options. Returns nothing when the program
// should go on and run; otherwise the exit code to end with: kExitSuccess
// after --help or --version (printed to out), kExitUsage after a usage error
// (one line on err, starting with the program's name). Options that the
// chosen search does not use are warned about on err, in one line, and the
// run goes on.
std::optional<int> ParseSynthOptions(int argc, const char* const* argv, SynthOptions& options,
                                     std::ostream& out, std::ostream& err);

// "high", "medium" or "low", as --accuracy spells them.
std::string AccuracyName(Accuracy accuracy);

// The output path when none is given: the sample's file name without its
// extension, plus "-synth.tga" (or ".png"; a fill's "-filled"), in the
// current folder.
std::string DefaultOutputPath(const std::string& samplePath,
                              OutputFormat format = OutputFormat::Tga, bool filled = false);

// "tga" or "png", as --format spells them and as a made name ends.
std::string FormatExtension(OutputFormat format);

}  // namespace weftloom
