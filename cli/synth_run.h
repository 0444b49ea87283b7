#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "cli/synth_options.h"
#include "engine/progress.h"

namespace weftloom {

// Where a run of weftloom-synth talks to, and what tests may watch.
struct SynthRunContext {
    std::ostream* out = nullptr;  // the result line
    std::ostream* err = nullptr;  // errors, and the progress display
    bool errIsTerminal = false;   // redraw the progress line in place on err
    // The terminal's width for the progress line; 0: asked of standard error's
    // terminal (and again after a resize), 80 when it does not say.
    int terminalColumns = 0;
    // A terminal that shows no escape codes (TERM unset or "dumb"): the line
    // is redrawn with a carriage return and spaces only.
    bool dumbTerminal = false;
    // Called with every progress report on the synthesising thread, after the display.
    std::function<void(const ProgressInfo&)> observer;
};

// Set in the environment, names a file the save creates once its temporary
// file holds the header; the save then waits (at most 30 s) for a signal.
// Lets a test signal a child process during its save without racing it.
inline constexpr char kPauseSaveVariable[] = "WEFTLOOM_TEST_PAUSE_SAVE";

// The file a run writes, by the output rules: the name given (or
// <sample>-synth.tga here), inside it when it is a folder, with ".tga" when its
// last component has no extension and in place of ".jpg" or ".jpeg".
// Refused, with problem saying why: "-", special files (devices, FIFOs), a
// missing folder, an existing file under --no-clobber and a read-only one
// without --force. A symbolic link is kept and written through.
std::string ResolveOutputPath(const SynthOptions& options, std::string& problem);

// Reads the sample, synthesises, writes the texture; returns the exit code.
// Every failure prints one line naming the file and the reason and leaves
// nothing under the output name. A run estimated to need more memory than
// allowed is refused after reading only the sample's header. From start to
// end SIGINT and SIGTERM (unless ignored when the run starts) stop the work
// wherever it is, the save included, leave the old output as it was and end
// the run with kExitInterrupted or kExitTerminated; the previous handlers are
// restored afterwards. Failing to write the result line gives kExitFailure.
int RunSynth(const SynthOptions& options, const SynthRunContext& context);

// Runs every sample of options.samples in turn, as RunSynth runs one, each
// output in options.outputFolder (made when missing) or as the options say
// for a single sample. Every sample gets its own progress display and result
// or error line; with several, a summary follows (written, failed, time). A
// sample that fails does not stop the others, and two samples whose textures
// would have the same name fail the second. Returns kExitSuccess when every
// texture was written, kExitFailure when any was not, and a stop signal's
// status as soon as one stops a run (the samples after it are not started).
int RunSynthFiles(const SynthOptions& options, const SynthRunContext& context);

}  // namespace weftloom
