#include "synthesisui/synthesise_command.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QSize>

#include "engine/texture_synthesiser.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
#include "shell/main_frame.h"
#include "shell/weftloom_app.h"
#include "shell/weftloom_doc.h"
#include "shell/weftloom_view.h"
#include "synthesisui/fill_command.h"
#include "synthesisui/synthesis_params_dlg.h"
#include "synthesisui/synthesis_progress_dlg.h"

namespace weftloom {

namespace {

// The size of the last run the dialog started, invalid before the first.
QSize& LastSize() {
    static QSize size;
    return size;
}

void Tell(const QString& text) {
    framework::MessageBox(text, std::nullopt, framework::MessageButtons::Ok);
}

// Centres a new progress dialog over the main window (see StartProgress).
void PlaceOverMainWindow(CSynthesisProgressDlg& dialog) {
    CWeftloomApp* application = CWeftloomApp::Instance();
    QWidget* main = application != nullptr ? application->MainFrame() : nullptr;
    if (main == nullptr) {
        return;
    }
    int running = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* other = qobject_cast<CSynthesisProgressDlg*>(widget);
        running += other != nullptr && other != &dialog && other->isVisible() && !other->Ended();
    }
    dialog.adjustSize();
    const QRect frame = main->frameGeometry();
    const int step = 24 * (running % 8);
    dialog.move(frame.center() - QPoint(dialog.width() / 2, dialog.height() / 2) +
                QPoint(step, step));
}

}  // namespace

CSynthesisProgressDlg* StartSynthesis(CWeftloomDoc& sample, std::uint32_t width,
                                      std::uint32_t height, const SynthesisSettings& settings) {
    CWeftloomApp* application = CWeftloomApp::Instance();
    if (!sample.HasImage() || application == nullptr || application->Templates().empty()) {
        return nullptr;
    }
    const RunRefusal refusal =
        CheckRun(&sample.image, width, height, settings, application->memoryLimit);
    if (!refusal.text.isEmpty()) {
        Tell(refusal.text);
        return nullptr;
    }
    auto* output =
        qobject_cast<CWeftloomDoc*>(application->Templates().front()->OpenDocumentFile(QString()));
    if (output == nullptr) {
        Tell(QStringLiteral("The new document could not be created."));
        return nullptr;
    }
    if (!output->CreateImage(width, height, sample.image.bytesPerPixel)) {
        output->OnCloseDocument();
        Tell(QStringLiteral("There is not enough memory for an image of %1 x %2 pixels.")
                 .arg(width)
                 .arg(height));
        return nullptr;
    }
    return StartProgress(sample, *output, std::make_unique<SynthesisJob>(settings));
}

CSynthesisProgressDlg* StartProgress(CWeftloomDoc& input, CWeftloomDoc& output,
                                     std::unique_ptr<ProgressJob> job) {
    auto* progress = new CSynthesisProgressDlg();
    progress->inputDocument = &input;
    progress->outputDocument = &output;
    progress->job = std::move(job);
    if (!progress->Create()) {
        delete progress;
        return nullptr;
    }
    PlaceOverMainWindow(*progress);
    progress->show();
    return progress;
}

void OnSynthesise(CWeftloomView& view) {
    CWeftloomDoc* sample = view.GetDocument();
    CWeftloomApp* application = CWeftloomApp::Instance();
    if (sample == nullptr || !sample->HasImage() || application == nullptr) {
        return;
    }
    CSynthesisParamsDlg parameters(application->MainFrame());  // centred over it
    parameters.inputFile = sample->Title();
    parameters.outputWidth = static_cast<std::int32_t>(sample->image.width);
    parameters.outputHeight = static_cast<std::int32_t>(sample->image.height);
    parameters.settings = application->settings;
    parameters.sample = &sample->image;
    parameters.memoryLimit = application->memoryLimit;
    if (parameters.DoModal() != 1) {
        return;
    }
    application->settings = parameters.settings;
    LastSize() = QSize(parameters.outputWidth, parameters.outputHeight);
    StartSynthesis(*sample, static_cast<std::uint32_t>(parameters.outputWidth),
                   static_cast<std::uint32_t>(parameters.outputHeight), parameters.settings);
}

bool CanSynthesiseAgain() {
    return LastSize().isValid();
}

CSynthesisProgressDlg* OnSynthesiseAgain(CWeftloomView& view) {
    CWeftloomDoc* sample = view.GetDocument();
    CWeftloomApp* application = CWeftloomApp::Instance();
    if (sample == nullptr || !sample->HasImage() || application == nullptr ||
        !CanSynthesiseAgain()) {
        return nullptr;
    }
    // A seed of the run's own, never the last one; the next dialog offers it.
    SynthesisSettings settings = application->settings;
    std::uint32_t seed = settings.randomSeed;
    while (seed == settings.randomSeed) {
        seed = QRandomGenerator::global()->generate();
    }
    settings.randomSeed = seed;
    application->settings.randomSeed = seed;
    CSynthesisProgressDlg* progress =
        StartSynthesis(*sample, static_cast<std::uint32_t>(LastSize().width()),
                       static_cast<std::uint32_t>(LastSize().height()), settings);
    if (progress != nullptr) {
        CWeftloomDoc* output = progress->outputDocument;
        output->SetTitle(QStringLiteral("%1, seed %2").arg(output->Title()).arg(seed));
    }
    return progress;
}

void EndSynthesis(CWeftloomDoc& document) {
    if (document.progressDialog != nullptr) {
        document.progressDialog->EndDialog();
    }
}

void InstallSynthesisUserInterface() {
    LastSize() = QSize();
    SynthesisHooks hooks;
    ResetFillChoice();
    hooks.synthesise = [](CWeftloomView& view) { OnSynthesise(view); };
    hooks.fill = [](CWeftloomView& view, bool transparent) { OnFill(view, transparent); };
    hooks.synthesiseAgain = [](CWeftloomView& view) { OnSynthesiseAgain(view); };
    hooks.canSynthesiseAgain = [] { return CanSynthesiseAgain(); };
    hooks.endSynthesis = [](CWeftloomDoc& document) { EndSynthesis(document); };
    hooks.abortSynthesis = [](CWeftloomDoc& document) {
        if (document.progressDialog != nullptr) {
            document.progressDialog->Stop();
        }
    };
    SetSynthesisHooks(std::move(hooks));
}

}  // namespace weftloom
