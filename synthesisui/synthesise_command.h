#pragma once

namespace weftloom {

class CWeftloomDoc;
class CWeftloomView;

// The Synthesise command of an image view: asks for the parameters, stores
// them in the application's settings, creates the output document with its
// black image and starts a progress dialog that runs the synthesis. Returns at
// once; several syntheses may run side by side. User-interface thread only.
void OnSynthesise(CWeftloomView& view);

// Ends the synthesis that writes into document (its progress dialog aborts,
// joins its worker and goes). Called with the document's progressLock held.
void EndSynthesis(CWeftloomDoc& document);

// Plugs the two above into the shell's views.
void InstallSynthesisUserInterface();

}  // namespace weftloom
