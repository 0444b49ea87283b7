#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "cli/synth_options.h"
#include "engine/progress.h"
#include "imageio/file_replace.h"

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
    // Hands each block of a texture to its file as it is saved; empty: fwrite.
    // Tests fail a save here, or signal the run in the middle of it.
    FileBlockWriter writeBlock;
};

// The file the run of sample writes, by the output rules: -O's folder, -o's
// name or <sample>-synth.tga here; inside it when it is a folder, with ".tga"
// when its last component has no extension and in place of ".jpg" or ".jpeg".
// Refused, with problem saying why: "-", special files (devices, FIFOs), a
// missing folder, an existing file under --no-clobber and a read-only one
// without --force. A symbolic link is kept and written through.
std::string ResolveOutputPath(const SynthOptions& options, const std::string& sample,
                              std::string& problem);

// Runs every sample of options.samples in turn: reads it, synthesises and
// writes the texture, each output in options.outputFolder (made when
// missing) or as the options say for a single sample. Returns the exit code.
//
// Every sample gets its own progress display and result line, or one error
// line naming the file and the reason that leaves nothing under the output
// name; with several, a summary follows (written, failed, time). A sample
// that fails does not stop the others, and two samples whose textures would
// have the same name fail the second. A run estimated to need more memory
// than allowed is refused after reading only the sample's header. Returns
// kExitSuccess when every texture was written, kExitFailure when any was not
// (or the result line could not be written).
//
// During each sample's run SIGINT and SIGTERM (unless ignored when the run
// starts) stop the work wherever it is, the save included, leave the old
// output as it was and end the whole run at once with kExitInterrupted or
// kExitTerminated (the samples after it are not started); the previous
// handlers are restored afterwards.
int RunSynthFiles(const SynthOptions& options, const SynthRunContext& context);

}  // namespace weftloom
