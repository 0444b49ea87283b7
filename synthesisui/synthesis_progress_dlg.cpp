#include "synthesisui/synthesis_progress_dlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>

#include <chrono>

#include "engine/time_estimate.h"
#include "shell/framework/child_frame.h"
#include "shell/framework/message_box.h"
#include "shell/weftloom_doc.h"
#include "shell/weftloom_view.h"

namespace weftloom {

namespace {

std::int64_t SteadyMilliseconds() {
    return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
}

CSynthesisProgressDlg::Clock& CurrentClock() {
    static CSynthesisProgressDlg::Clock clock = &SteadyMilliseconds;
    return clock;
}

CSynthesisProgressDlg::ReportObserver& Observer() {
    static CSynthesisProgressDlg::ReportObserver observer;
    return observer;
}

CSynthesisProgressDlg::WorkerPace& Pace() {
    static CSynthesisProgressDlg::WorkerPace pace;
    return pace;
}

}  // namespace

void CSynthesisProgressDlg::SetWorkerPace(WorkerPace pace) {
    Pace() = std::move(pace);
}

void CSynthesisProgressDlg::SetClock(Clock clock) {
    CurrentClock() = clock ? std::move(clock) : Clock(&SteadyMilliseconds);
}

void CSynthesisProgressDlg::SetReportObserver(ReportObserver observer) {
    Observer() = std::move(observer);
}

void SynthesisJob::Prepare(const CWeftloomDoc& input, const CWeftloomDoc& output,
                           ProgressCallback callback, void* context) {
    ApplySettings(settings, synthesiser);
    synthesiser.progressCallback = callback;
    synthesiser.callbackContext = context;
    sample_ = input.image;
    width_ = output.image.width;
    height_ = output.image.height;
}

bool SynthesisJob::Run() {
    return synthesiser.Synthesise(sample_, width_, height_);
}

QString SynthesisJob::FailureText() const {
    return QStringLiteral("The synthesis could not be completed: not enough memory.");
}

CSynthesisProgressDlg::CSynthesisProgressDlg()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {}

CSynthesisProgressDlg::~CSynthesisProgressDlg() {
    // Whatever path deletes the dialog, the worker is stopped and joined first,
    // so it never writes into a dialog that is gone.
    posting_ = false;
    if (job != nullptr) {
        job->Abort();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
}

framework::DialogTemplate CSynthesisProgressDlg::Template() {
    using framework::ControlKind;
    framework::DialogTemplate t =
        framework::StandardDialogTemplate(131, QStringLiteral("Synthesis Progress..."), 205, 133);
    t.controls = {
        {1, ControlKind::PushButton, QStringLiteral("Cancel"), 76, 112, 50, 14,
         framework::kTabStop},
        {1003, ControlKind::Label, QStringLiteral("Status String"), 8, 32, 184, 8},
        {-1, ControlKind::Label, QStringLiteral("Current Operation"), 8, 47, 56, 8},
        {1004, ControlKind::ProgressBar, QString(), 76, 44, 116, 14},
        {-1, ControlKind::Label, QStringLiteral("Overall Process"), 8, 67, 50, 8},
        {1005, ControlKind::ProgressBar, QString(), 76, 64, 116, 14},
        {-1, ControlKind::Label, QStringLiteral("Estimated Time Left : "), 9, 89, 69, 8},
        {1006, ControlKind::Label, QStringLiteral("HH:MM:SS"), 84, 89, 79, 8},
        {-1, ControlKind::Label, QStringLiteral("Input file :"), 8, 12, 32, 8},
        {1000, ControlKind::SunkenLabel, QStringLiteral("..."), 52, 10, 113, 12},
    };
    return t;
}

bool CSynthesisProgressDlg::Create() {
    if (inputDocument == nullptr || outputDocument == nullptr || job == nullptr) {
        return false;
    }
    framework::BuildDialog(*this, Template());
    operationBar_ = qobject_cast<QProgressBar*>(framework::ControlById(*this, 1004));
    overallBar_ = qobject_cast<QProgressBar*>(framework::ControlById(*this, 1005));
    statusLabel_ = qobject_cast<QLabel*>(framework::ControlById(*this, 1003));
    timeLeftLabel_ = qobject_cast<QLabel*>(framework::ControlById(*this, 1006));
    inputFileLabel_ = qobject_cast<QLabel*>(framework::ControlById(*this, 1000));
    if (operationBar_ == nullptr || overallBar_ == nullptr || statusLabel_ == nullptr ||
        timeLeftLabel_ == nullptr || inputFileLabel_ == nullptr) {
        return false;
    }
    PushStrings();
    {
        std::lock_guard lock(outputDocument->progressLock);
        outputDocument->progressDialog = this;
    }
    inputFile = inputDocument->Title();
    return true;
}

void CSynthesisProgressDlg::PushStrings() {
    statusLabel_->setText(statusText);
    timeLeftLabel_->setText(timeLeftText);
    inputFileLabel_->setText(inputFile);
}

void CSynthesisProgressDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (!workerStarted_ && !ended_) {
        StartWorker();
    }
    PushStrings();
}

void CSynthesisProgressDlg::StartWorker() {
    workerStarted_ = true;
    // Everything the run needs is taken here, on the user-interface thread, so
    // that the input's document may change or close while the run goes on.
    job->Prepare(*inputDocument, *outputDocument, &CSynthesisProgressDlg::ForwardProgress, this);
    startTime_ = CurrentClock()();
    timeLeft_ = TimeLeftEstimator(outputDocument->image.width);
    posting_ = true;
    worker_ = std::thread(&CSynthesisProgressDlg::SynthesisThreadProc, this);
}

void CSynthesisProgressDlg::SynthesisThreadProc() {
    succeeded_ = job->Run();
    if (posting_) {
        QMetaObject::invokeMethod(this, "OnDone", Qt::QueuedConnection);
    }
}

void CSynthesisProgressDlg::ForwardProgress(const ProgressInfo* info) {
    auto* dialog = static_cast<CSynthesisProgressDlg*>(info->context);
    if (!dialog->posting_) {
        return;
    }
    Report report;
    report.info = *info;
    report.status = info->status != nullptr ? info->status : "";
    if (info->rowPixels != nullptr) {
        // The row's bytes travel with the report: the pyramid they live in is
        // released when the run ends, possibly before the report is handled.
        report.row.assign(info->rowPixels,
                          info->rowPixels + std::size_t{info->levelWidth} * info->bytesPerPixel);
    }
    report.info.rowPixels = nullptr;
    report.info.status = nullptr;
    {
        std::lock_guard lock(dialog->reportMutex_);
        dialog->reports_.push_back(std::move(report));
    }
    // The call carries no data of ours: the report waits in the queue, whose
    // lock orders it before the handler that takes it.
    QMetaObject::invokeMethod(dialog, "OnProgress", Qt::QueuedConnection);
    if (Pace()) {
        Pace()(*info);
    }
}

void CSynthesisProgressDlg::OnProgress() {
    // Each report posts one call, but a call takes every report waiting, for
    // up to a slice of time: a worker that reports faster than the window can
    // repaint is followed a batch per repaint, and the user's clicks are never
    // queued behind a long backlog. Later calls find the queue empty.
    constexpr std::int64_t kSliceMilliseconds = 30;
    const std::int64_t start = SteadyMilliseconds();
    do {
        Report report;
        {
            std::lock_guard lock(reportMutex_);
            if (reports_.empty()) {
                return;
            }
            report = std::move(reports_.front());
            reports_.pop_front();
        }
        if (ended_ || updating_) {
            return;
        }
        ApplyReport(report);
    } while (SteadyMilliseconds() - start < kSliceMilliseconds);
}

void CSynthesisProgressDlg::ApplyReport(const Report& report) {
    updating_ = true;
    lastProgress = report.info;
    const ProgressInfo& info = report.info;
    statusText = QString::fromStdString(report.status);
    if (info.levelCount != 0) {
        // As weftloom-synth names it: 1 the finest, synthesised last.
        statusText += QStringLiteral(", Level %1 of %2").arg(info.level + 1).arg(info.levelCount);
    }
    if (info.stepTotal != 0) {
        operationBar_->setRange(0, info.stepTotal);
        operationBar_->setValue(info.stepDone);
    }
    if (info.overallTotal == 0 && lastOverallTotal_ == 0) {
        // Setting up, before the overall count starts: the bar shows that
        // work goes on.
        overallBar_->setRange(0, 0);
    } else if (info.overallTotal != 0) {
        lastOverallTotal_ = info.overallTotal;
        overallBar_->setRange(0, info.overallTotal);
        overallBar_->setValue(info.overallDone);
        ShowProgressInTitles(
            static_cast<int>(std::int64_t{info.overallDone} * 100 / info.overallTotal));
    }
    if (!report.row.empty() && info.row != -1 && outputDocument != nullptr &&
        outputDocument->image.bytesPerPixel == info.bytesPerPixel) {
        outputDocument->PreviewRow(report.row.data(), info.levelWidth, info.levelHeight,
                                   static_cast<std::uint32_t>(info.row));
    }
    std::string timeLeft = timeLeftText.toStdString();
    const double seconds = static_cast<double>(CurrentClock()() - startTime_) / 1000.0;
    ProgressInfo withStatus = info;  // the report carries its status as a string of its own
    withStatus.status = report.status.c_str();
    if (timeLeft_.Update(withStatus, seconds, timeLeft)) {
        timeLeftText = QString::fromStdString(timeLeft);
    }
    PushStrings();
    updating_ = false;
    if (Observer()) {
        const ReportObserver observer = Observer();
        observer(*this);
    }
}

void CSynthesisProgressDlg::OnDone() {
    if (ended_) {
        return;
    }
    // The worker posts this as its last act: joining here is immediate and
    // makes everything it wrote visible to this thread.
    if (worker_.joinable()) {
        worker_.join();
    }
    CWeftloomDoc* document = outputDocument;
    // "Are you sure ?" has no more point: the run is over.
    framework::DismissQuestions(this);
    ShowProgressInTitles(-1);
    // A run that ends while the user works elsewhere asks for attention.
    if (QWidget* main = QApplication::activeWindow(); main == nullptr) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("weftloom::framework::MainFrame")) {
                QApplication::alert(widget);
            }
        }
    }
    const Image* result = job->Result();
    document->previewHole.clear();
    if (succeeded_ && result != nullptr && result->width == document->image.width &&
        result->height == document->image.height &&
        result->bytesPerPixel == document->image.bytesPerPixel) {
        document->image.pixels = result->pixels;
        document->ImageReplaced();
        for (framework::View* view : document->Views()) {
            if (auto* imageView = qobject_cast<CWeftloomView*>(view)) {
                imageView->RefreshRows(document->image, 0, document->image.height);
            }
        }
        document->UpdateAllViews(nullptr, 0);
    }
    {
        std::lock_guard lock(document->progressLock);
        document->progressDialog = nullptr;
    }
    const bool failed = !succeeded_;
    const QString failure = failed ? job->FailureText() : QString();
    EndDialog();
    if (failed) {
        document->SetUnfinished(true);
        // Not an abort (that goes through EndDialog first): the run itself failed.
        framework::MessageBox(failure, std::nullopt, framework::MessageButtons::Ok);
    }
}

void CSynthesisProgressDlg::accept() {
    OnCancel();
}
void CSynthesisProgressDlg::reject() {
    OnCancel();
}

void CSynthesisProgressDlg::OnCancel() {
    if (ended_ || asking_) {
        return;
    }
    asking_ = true;
    // The question runs an event loop: the run may finish, or the document's
    // view may end the dialog, before it returns.
    QPointer<CSynthesisProgressDlg> self(this);
    // A run that finishes meanwhile closes the question (see OnDone).
    const framework::MessageResult answer =
        framework::AskQuestion(QString::fromLatin1(kAreYouSureQuestion), QString(),
                               framework::MessageButtons::YesNo, this);
    if (self.isNull()) {
        return;
    }
    asking_ = false;
    if (ended_ || answer != framework::MessageResult::Yes) {
        return;
    }
    Stop();
}

void CSynthesisProgressDlg::Stop() {
    if (ended_) {
        return;
    }
    {
        std::lock_guard lock(outputDocument->progressLock);
        outputDocument->progressDialog = nullptr;
    }
    // A question of ours still open has no more point.
    framework::DismissQuestions(this);
    ShowProgressInTitles(-1);
    EndDialog();
    outputDocument->previewHole.clear();
    outputDocument->SetUnfinished(true);
}

void CSynthesisProgressDlg::ShowProgressInTitles(int percent) {
    if (outputDocument == nullptr) {
        return;
    }
    for (framework::View* view : outputDocument->Views()) {
        if (framework::ChildFrame* frame = view->ParentFrame()) {
            frame->UpdateTitle();
            if (percent >= 0) {
                frame->setWindowTitle(
                    QStringLiteral("%1 - %2%").arg(frame->windowTitle()).arg(percent));
            }
        }
    }
}

void CSynthesisProgressDlg::EndDialog() {
    if (ended_) {
        return;
    }
    ended_ = true;
    posting_ = false;
    if (job != nullptr) {
        job->Abort();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    hide();
    deleteLater();
}

}  // namespace weftloom
