#pragma once

#include <cstdint>
#include <memory>

#include "engine/synthesis_settings.h"

namespace weftloom {

class CSynthesisProgressDlg;
class CWeftloomDoc;
class CWeftloomView;
class ProgressJob;

// Shows a progress dialog that runs job from input into output, over the main
// window (each one running already moves it a step down and right, so that
// none hides another). Returns the dialog, or nullptr when it could not be
// made. User-interface thread only.
CSynthesisProgressDlg* StartProgress(CWeftloomDoc& input, CWeftloomDoc& output,
                                     std::unique_ptr<ProgressJob> job);

// Starts a synthesis from sample's image into a new document of width x height
// pixels: refuses what cannot be synthesised (with a message box saying why),
// creates the output document with its black image, and shows a progress dialog
// that runs the synthesis with settings. Returns the dialog, or nullptr when
// nothing was started. Returns at once; the run goes on in the dialog's worker.
// User-interface thread only.
CSynthesisProgressDlg* StartSynthesis(CWeftloomDoc& sample, std::uint32_t width,
                                      std::uint32_t height, const SynthesisSettings& settings);

// The Synthesise command of an image view: asks for the parameters, stores
// them in the application's settings and starts the synthesis (StartSynthesis). Returns at
// once; several syntheses may run side by side. User-interface thread only.
void OnSynthesise(CWeftloomView& view);

// File > Synthesise Again: the last run's settings and size (as the dialog
// last confirmed them) on sample's image, without the dialog, with a new
// seed, shown in the new document's title ("Synthesis 3, seed 1234").
// Returns the run's dialog, or nullptr when nothing was started (no run yet,
// or a refusal, told in a box). User-interface thread only.
CSynthesisProgressDlg* OnSynthesiseAgain(CWeftloomView& sample);
// Whether a run was started from the dialog in this session.
bool CanSynthesiseAgain();

// Ends the synthesis that writes into document (its progress dialog aborts,
// joins its worker and goes). Called with the document's progressLock held.
void EndSynthesis(CWeftloomDoc& document);

// Plugs the commands and the ending of a run into the shell's views.
void InstallSynthesisUserInterface();

}  // namespace weftloom
