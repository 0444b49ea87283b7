#include "synthesisui/synthesise_command.h"

#include <QApplication>

#include "engine/memory_estimate.h"
#include "engine/texture_synthesiser.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
#include "shell/main_frame.h"
#include "shell/weftloom_app.h"
#include "shell/weftloom_doc.h"
#include "shell/weftloom_view.h"
#include "synthesisui/synthesis_params_dlg.h"
#include "synthesisui/synthesis_progress_dlg.h"

namespace weftloom {

namespace {

void Tell(const QString& text) {
    framework::MessageBox(text, std::nullopt, framework::MessageButtons::Ok);
}

QString RefusalText(SynthesisProblem problem, const Image& sample, std::uint32_t width,
                    std::uint32_t height, const SynthesisSettings& settings) {
    switch (problem) {
        case SynthesisProblem::None:
            break;
        case SynthesisProblem::EmptySample:
        case SynthesisProblem::UnsupportedSample:
            return QStringLiteral("This image cannot be used as a sample.");
        case SynthesisProblem::OutputTooLarge:
            return QStringLiteral("An image of %1 x %2 pixels is too large to synthesise.")
                .arg(width)
                .arg(height);
        case SynthesisProblem::SampleTooSmall:
            return QStringLiteral(
                       "The sample of %1 x %2 pixels is too small for the Level 1 window of %3 "
                       "x %3 pixels. Use a larger sample%4.")
                .arg(sample.width)
                .arg(sample.height)
                .arg(settings.WindowSide(0))
                .arg(settings.levelAccuracy[0] == Accuracy::Low
                         ? QString()
                         : QStringLiteral(" or a lower Level 1 accuracy"));
    }
    return {};
}

// Centres a new progress dialog over the main window, each one running already
// moving it a step down and right, so that none hides another.
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
    const SynthesisProblem problem = CheckSynthesis(sample.image, width, height, settings);
    if (problem != SynthesisProblem::None) {
        Tell(RefusalText(problem, sample.image, width, height, settings));
        return nullptr;
    }
    const MemoryCheck memory =
        CheckMemory(sample.image.width, sample.image.height, sample.image.bytesPerPixel, width,
                    height, settings, application->memoryLimit);
    if (!memory.Fits()) {
        Tell(QStringLiteral("An image of %1 x %2 pixels from this sample needs about %3 of memory, "
                            "more than the %4 %5. Choose a smaller size, a lower accuracy or "
                            "subsampling.")
                 .arg(width)
                 .arg(height)
                 .arg(QString::fromStdString(FormatBytes(memory.needed)))
                 .arg(QString::fromStdString(FormatBytes(memory.allowed)))
                 .arg(application->memoryLimit != 0 ? QStringLiteral("allowed to a synthesis")
                                                    : QStringLiteral("this computer has")));
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
    auto* progress = new CSynthesisProgressDlg();
    progress->inputDocument = &sample;
    progress->outputDocument = output;
    progress->settings = settings;
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
    if (parameters.DoModal() != 1) {
        return;
    }
    application->settings = parameters.settings;
    StartSynthesis(*sample, static_cast<std::uint32_t>(parameters.outputWidth),
                   static_cast<std::uint32_t>(parameters.outputHeight), parameters.settings);
}

void EndSynthesis(CWeftloomDoc& document) {
    if (document.progressDialog != nullptr) {
        document.progressDialog->EndDialog();
    }
}

void InstallSynthesisUserInterface() {
    SynthesisHooks hooks;
    hooks.synthesise = [](CWeftloomView& view) { OnSynthesise(view); };
    hooks.endSynthesis = [](CWeftloomDoc& document) { EndSynthesis(document); };
    SetSynthesisHooks(std::move(hooks));
}

}  // namespace weftloom
