#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/synthesis_settings.h"
#include "shell/framework/dialog_template.h"

class QLineEdit;

namespace weftloom {

// Why a run cannot start, as the user is told: text empty when it can; field
// the parameters dialog's control to put it right in (0: none).
struct RunRefusal {
    QString text;
    int field = 0;
};

// Checks a run of settings into width x height: the sides a saved file can
// hold, the output's counters, then (with a sample; null checks the size
// only) the sample and the memory the run needs, under memoryLimit bytes (0:
// the machine's memory).
RunRefusal CheckRun(const Image* sample, std::uint32_t width, std::uint32_t height,
                    const SynthesisSettings& settings, std::uint64_t memoryLimit);

namespace framework {
class DataExchange;
}

// The modal "Synthesis Parameters" dialog (template 130) that the Synthesise
// command shows before every run: the sample's title, the size of the new
// image, the accuracy of three pyramid levels, the subsampling of the search,
// the distance metric, the seed and the search itself (exact or coherent);
// an Advanced part, closed at every opening, holds the coherent search's
// settings and the thread count.
//
// The caller fills every public member, calls DoModal and reads the members
// back only when it returns 1 (OK, every check passed, the run itself
// included: CheckRun's refusals show over the dialog, which stays). On Cancel
// the members hold what the caller gave, whatever was typed. The dialog keeps
// nothing between runs and owns only its child widgets. User-interface
// thread only.
class CSynthesisParamsDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CSynthesisParamsDlg(QWidget* parent = nullptr);

    // Dialog template 130, which the dialog is built from.
    static framework::DialogTemplate Template();

    // Shows the dialog modally: 1 (OK) when confirmed and every check passed,
    // else 2 (Cancel).
    int DoModal();

    // Members into controls (false) or controls into members with every
    // check (true). Returns false when a check failed; its message has been
    // shown, the field focused and the members after it left alone.
    bool UpdateData(bool saveAndValidate);

    // Reads the controls back (with checks), then enables the pixel-count edit
    // in fixed-count mode only and the percent and minimum-count edits in
    // percentage mode only; with the coherent search the whole subsampling
    // group is disabled. After a failed check the enabling follows the mode
    // the members held when the exchange stopped.
    void UpdateSubsamplingControls();

    // Looked up by every exchange, first when the dialog opens; used only for
    // enabling. Owned by the dialog.
    QLineEdit* minimumPixelCountEdit = nullptr;  // 1013
    QLineEdit* percentEdit = nullptr;            // 1019
    QLineEdit* pixelCountEdit = nullptr;         // 1012

    std::int32_t outputHeight = 0;  // 32..999999
    std::int32_t outputWidth = 0;   // 32..999999
    QString inputFile;              // the sample document's title, shown only
    // The lists and radio groups hold their index: accuracy 0 High, 1 Medium,
    // 2 Low (not for "Level 3"); subsampling 0 disabled, 1 percentage, 2 fixed
    // count; metric 0 L1, 1 L2, 2 Linf; -1 when nothing is chosen. The seed
    // (1021) is the run's generator's starting state, 0 to 4294967295; the
    // search list (1022) holds 0 Exact, 1 Coherent (fast).
    SynthesisSettings settings;
    // The sample the run grows from and the memory it may use (0: the
    // machine's), for the checks on OK; without a sample only the size is
    // checked. Not owned.
    const Image* sample = nullptr;
    std::uint64_t memoryLimit = 0;

    // Whether the Advanced part is open.
    bool AdvancedShown() const;

  public slots:
    // OK: closes with 1 only when the full exchange passes.
    void accept() override;
    // Cancel, Escape or the close button: puts back the members as given.
    void reject() override;

  public:
    // Showing the dialog (exec, open or show) first pushes the members into
    // the controls and sets the enabling, as each run starts afresh.
    void setVisible(bool visible) override;

  protected:
    // Tab into a radio group lands on its chosen option.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Values {
        std::int32_t outputHeight;
        std::int32_t outputWidth;
        QString inputFile;
        SynthesisSettings settings;
    };

    void OnInitDialog();
    // Enables the edits of the subsampling mode the members hold.
    void EnableSubsamplingEdits();
    // Whether the entered run can start (CheckRun); if not, says why and
    // focuses the field to change.
    bool CheckOutputSize();
    // Opens or closes the Advanced part, moving the buttons below it.
    void ShowAdvanced(bool open);
    void DoDataExchange(framework::DataExchange& dx);
    Values Current() const;
    void Restore(const Values& values);

    // The members as the caller gave them, while the dialog is open; Cancel
    // puts them back.
    std::optional<Values> given_;

    struct ButtonPlace {
        QWidget* button;
        QRect closed;
        QRect open;
    };
    std::vector<QWidget*> advancedPart_;
    std::vector<ButtonPlace> buttonRow_;
    QSize closedSize_;
    QSize openSize_;
};

}  // namespace weftloom
