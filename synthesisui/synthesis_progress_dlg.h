#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/image.h"
#include "engine/progress.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "engine/time_estimate.h"
#include "shell/framework/dialog_template.h"

class QLabel;
class QProgressBar;

namespace weftloom {

class CWeftloomDoc;

inline constexpr const char kAreYouSureQuestion[] = "Are you sure ?";

// The modeless "Synthesis Progress..." dialog (template 131) of one running
// synthesis. It owns the synthesiser and the worker thread that runs it, shows
// the engine's stage, two bars and the time left, previews each finished row
// in the output document, copies the texture in at the end, and stops the
// worker on Cancel or when the output document's view goes.
//
// Threads: everything runs on the user-interface thread except the worker,
// which only runs the synthesis on its own copy of the sample and hands each
// report (with a copy of its row) over through a locked queue, posting one
// queued call of the progress handler per report and one of the finish. The dialog ends exactly
// once, through EndDialog: stop posting, abort, join, then delete itself later.
class CSynthesisProgressDlg : public QDialog {
    Q_OBJECT
  public:
    CSynthesisProgressDlg();
    ~CSynthesisProgressDlg() override;

    static framework::DialogTemplate Template();

    // Builds the window from template 131 (hidden) and links the dialog into
    // the output document. inputDocument and outputDocument must be set.
    bool Create();
    // Ends the dialog: no more posting, abort, join the worker, delete later.
    // Safe to call more than once and from inside its own handlers.
    void EndDialog();
    // Stops the run at once, as Cancel answered Yes does: the worker has
    // ended when it returns, and the output document keeps what was made,
    // marked unfinished.
    void Stop();
    bool Ended() const { return ended_; }
    bool WorkerStarted() const { return workerStarted_; }

    // The time source in milliseconds (tests replace it; empty restores the clock).
    using Clock = std::function<std::int64_t()>;
    static void SetClock(Clock clock);
    // Called on the worker thread after each report it hands over. Tests slow
    // runs down with it, so that a run is still under way when they act on it
    // however fast the engine is, and see what the worker reported last. Set
    // only while no run is going.
    using WorkerPace = std::function<void(const ProgressInfo& info)>;
    static void SetWorkerPace(WorkerPace pace);
    // Called after each handled progress report (tests watch the texts with it).
    using ReportObserver = std::function<void(const CSynthesisProgressDlg& dialog)>;
    static void SetReportObserver(ReportObserver observer);

    CWeftloomDoc* inputDocument = nullptr;
    CWeftloomDoc* outputDocument = nullptr;
    // The run's settings, set before the dialog is shown (the worker takes
    // them when it starts).
    SynthesisSettings settings;
    TextureSynthesiser synthesiser;
    QString statusText;
    QString timeLeftText;
    QString inputFile;
    // The most recent report handled (its pointers cleared).
    ProgressInfo lastProgress;

  protected:
    void paintEvent(QPaintEvent* event) override;
    // The one button carries the OK id; OK, Escape and closing all cancel.
    void accept() override;
    void reject() override;

  private:
    struct Report {
        ProgressInfo info;
        std::string status;
        std::vector<std::uint8_t> row;
    };
    // Shows one report: bars, texts, estimate and the row in the preview.
    void ApplyReport(const Report& report);

    void StartWorker();
    void SynthesisThreadProc();
    static void ForwardProgress(const ProgressInfo* info);
    // Queued calls from the worker, run on the user-interface thread in order.
    Q_INVOKABLE void OnProgress();
    Q_INVOKABLE void OnDone();
    void OnCancel();
    void PushStrings();
    // The output's windows show the run's overall percent in their titles;
    // -1 gives them back their plain titles.
    void ShowProgressInTitles(int percent);

    QProgressBar* overallBar_ = nullptr;
    QProgressBar* operationBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* timeLeftLabel_ = nullptr;
    QLabel* inputFileLabel_ = nullptr;

    std::thread worker_;
    bool workerStarted_ = false;
    std::atomic<bool> posting_{false};  // the worker may post; cleared before stopping it
    std::atomic<bool> succeeded_{false};
    bool ended_ = false;
    bool updating_ = false;
    bool asking_ = false;
    std::int32_t lastOverallTotal_ = 0;  // of the last report that had one
    std::int64_t startTime_ = 0;         // milliseconds
    TimeLeftEstimator timeLeft_{0};
    std::uint32_t outputWidth_ = 0;
    std::uint32_t outputHeight_ = 0;
    Image sample_;  // the worker's own copy of the sample

    std::mutex reportMutex_;
    std::deque<Report> reports_;
};

}  // namespace weftloom
