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

// What becomes of one sample's texture.
struct OutputTarget {
    std::string path;     // the file to write, or the one kept; empty when refused
    std::string problem;  // why it is refused: one line without the program's name
    bool kept = false;    // path exists, and --no-clobber keeps it
};

// The file the run of sample writes, by the output rules: -O's folder, -o's
// name or <sample>-synth.tga here (.png with --format png); inside it when it
// is a folder, with --format's ending when its last component has none and
// ".tga" in place of ".jpg" or ".jpeg". Refused, with the reason: "-",
// special files (devices, FIFOs), a missing folder, a name the system cannot
// look up (a symbolic-link loop, a name too long, a folder that may not be
// searched) and a read-only file without --force; an existing file under
// --no-clobber is kept. A symbolic link is kept and written through.
OutputTarget ResolveOutputPath(const SynthOptions& options, const std::string& sample);

// Runs every sample of options.samples in turn: reads it, synthesises and
// writes the texture, each output in options.outputFolder (made when
// missing) or as the options say for a single sample. Returns the exit code.
//
// Every sample gets its own progress display and result line, or one error
// line naming the file and the reason that leaves nothing under the output
// name; with several, a summary follows (written, kept, failed, time). A
// sample that fails does not stop the others. Nothing is ever written over a
// sample of the run: a texture that would be one of them (by name, or as the
// same file through a link) fails its sample, and so does one that would
// replace the texture of an earlier sample. A run estimated to need more
// memory than allowed is refused after reading only the sample's header.
// Returns kExitSuccess when every texture was written or kept, kExitFailure
// when any was not (or the result line could not be written).
//
// During the run SIGINT and SIGTERM (unless ignored when it starts) stop the
// work wherever it is, the save included, leave the old output as it was and
// end the whole run at once with kExitInterrupted or kExitTerminated; with
// several samples, the summary then says how many were written and which
// were not made. SIGXFSZ is ignored, so that a write past the file-size limit
// fails with its reason and the old output stays. The previous handlers are
// restored afterwards.
int RunSynthFiles(const SynthOptions& options, const SynthRunContext& context);

}  // namespace weftloom
