#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

#include "engine/fill/picture_fill.h"
#include "shell/framework/dialog_template.h"
#include "synthesisui/synthesis_progress_dlg.h"

namespace weftloom {

class CWeftloomDoc;
class CWeftloomView;

// What a fill is run with, as the fill dialog last confirmed it in this
// session: the source limit (pixels around the hole the fill may copy from,
// 0 the whole picture) and the seed.
struct FillChoice {
    std::uint32_t sourceLimit = 0;
    std::uint32_t seed = 1;
};

// A fill of a hole in the input document's picture; the result is the
// picture with the hole's pixels made anew (opaque: with full alpha).
class FillJob : public ProgressJob {
  public:
    FillJob(HoleMask hole, const FillChoice& choice, bool opaque);

    void Prepare(const CWeftloomDoc& input, const CWeftloomDoc& output, ProgressCallback callback,
                 void* context) override;
    bool Run() override;
    void Abort() override { fill.Abort(); }
    const Image* Result() const override;
    QString FailureText() const override;

    PictureFill fill;

  private:
    HoleMask hole_;
    Image picture_;  // the worker's own copy of the picture
};

// The modal "Fill" dialog (template 133) shown before a fill: the picture's
// title, how many pixels are to be filled, the source limit and the seed.
// User-interface thread only.
class CFillParamsDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CFillParamsDlg(QWidget* parent = nullptr);

    static framework::DialogTemplate Template();
    // 1 when confirmed (choice then holds the values typed), 2 when cancelled.
    int DoModal();
    // Moves the members into the controls (false) or back, checked (true).
    bool UpdateData(bool saveAndValidate);

    QString inputFile;
    QString holeText;
    FillChoice choice;

  protected:
    void accept() override;
};

// Edit > Fill Selection (transparent false: the document's selection is the
// hole) and Edit > Fill Transparent Areas (its pixels whose alpha is below
// 128, which come out opaque): refuses what cannot be filled (with a box
// saying why), asks for the source limit and the seed, then runs the fill into
// a new window named after the picture ("bark.jpg (filled)") that shows the
// picture and the fill as it goes. The picture's own window never changes.
// Returns at once; several fills and syntheses may run side by side.
// User-interface thread only.
void OnFill(CWeftloomView& view, bool transparent);

// Starts a fill of hole in picture's image with choice, without the dialog:
// the new document and its progress dialog, or nullptr when nothing was
// started (a refusal, told in a box).
CSynthesisProgressDlg* StartFill(CWeftloomDoc& picture, HoleMask hole, const FillChoice& choice,
                                 bool opaque);

// Forgets the last choice: the next dialog offers the defaults.
void ResetFillChoice();

}  // namespace weftloom
