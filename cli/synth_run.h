#pragma once

#include <functional>
#include <iosfwd>

#include "cli/synth_options.h"
#include "engine/progress.h"

namespace weftloom {

// Where a run of weftloom-synth talks to, and what tests may watch.
struct SynthRunContext {
    std::ostream* out = nullptr;  // the result line
    std::ostream* err = nullptr;  // errors, and the progress line when it is a terminal
    bool errIsTerminal = false;   // redraw the progress line in place on err
    // Called with every progress report on the synthesising thread, after the display.
    std::function<void(const ProgressInfo&)> observer;
};

// Exit codes of weftloom-synth.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// Reads the sample, synthesises, writes the texture; returns the exit code.
// Every failure prints one line naming the file and the reason and leaves
// nothing under the output name. While the synthesis runs, SIGINT aborts it
// (the previous handler is restored afterwards) and the run ends with
// kExitInterrupted without writing anything.
int RunSynth(const SynthOptions& options, const SynthRunContext& context);

}  // namespace weftloom
