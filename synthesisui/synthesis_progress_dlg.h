#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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

// The work a progress dialog runs: a synthesis, a fill. Prepare is called on
// the user-interface thread as the worker starts and takes what the run needs
// (copies, so that the documents may change or close meanwhile); Run runs on
// the worker and reports through callback; Abort may come from any thread;
// Result and FailureText are read once Run has returned.
class ProgressJob {
  public:
    virtual ~ProgressJob() = default;
    virtual void Prepare(const CWeftloomDoc& input, const CWeftloomDoc& output,
                         ProgressCallback callback, void* context) = 0;
    virtual bool Run() = 0;
    virtual void Abort() = 0;
    // The finished picture, the output's size; null when there is none.
    virtual const Image* Result() const = 0;
    // Why a run that was not stopped failed, for the user.
    virtual QString FailureText() const = 0;
};

// A synthesis from the input document's image into an image of the output
// document's size, with settings.
class SynthesisJob : public ProgressJob {
  public:
    explicit SynthesisJob(const SynthesisSettings& runSettings) : settings(runSettings) {}

    void Prepare(const CWeftloomDoc& input, const CWeftloomDoc& output, ProgressCallback callback,
                 void* context) override;
    bool Run() override;
    void Abort() override { synthesiser.Abort(); }
    const Image* Result() const override { return synthesiser.result.get(); }
    QString FailureText() const override;

    SynthesisSettings settings;
    TextureSynthesiser synthesiser;

  private:
    Image sample_;  // the worker's own copy of the sample
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
};

// The modeless "Synthesis Progress..." dialog (template 131) of one running
// job (a synthesis unless told otherwise). It owns the job and the worker
// thread that runs it, shows the engine's stage, two bars and the time left,
// previews each finished row in the output document, copies the result in at
// the end, and stops the worker on Cancel or when the output document's view
// goes.
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
    // the output document. inputDocument, outputDocument and job must be set.
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
    // The run, set before the dialog is shown (it takes what it needs when
    // the worker starts).
    std::unique_ptr<ProgressJob> job;
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

    std::mutex reportMutex_;
    std::deque<Report> reports_;
};

}  // namespace weftloom
