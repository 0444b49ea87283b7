#include "synthesisui/synthesise_command.h"

#include "engine/texture_synthesiser.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
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

}  // namespace

void OnSynthesise(CWeftloomView& view) {
    CWeftloomDoc* sample = view.GetDocument();
    CWeftloomApp* application = CWeftloomApp::Instance();
    if (sample == nullptr || !sample->HasImage() || application == nullptr) {
        return;
    }
    SynthesisSettings& settings = application->settings;
    CSynthesisParamsDlg parameters;
    parameters.inputFile = sample->Title();
    parameters.outputWidth = static_cast<std::int32_t>(sample->image.width);
    parameters.outputHeight = static_cast<std::int32_t>(sample->image.height);
    for (int i = 0; i < 3; ++i) {
        parameters.levelAccuracy[i] = settings.levelAccuracy[i];
    }
    parameters.subsamplingMode = settings.subsamplingMode;
    parameters.subsampleCount = settings.subsampleCount;
    parameters.subsamplePercent = settings.subsamplePercent;
    parameters.minimumPixelCount = settings.minimumPixelCount;
    parameters.metric = settings.metric;
    if (parameters.DoModal() != 1) {
        return;
    }
    for (int i = 0; i < 3; ++i) {
        settings.levelAccuracy[i] = parameters.levelAccuracy[i];
    }
    settings.subsamplingMode = parameters.subsamplingMode;
    settings.subsampleCount = parameters.subsampleCount;
    settings.subsamplePercent = parameters.subsamplePercent;
    settings.minimumPixelCount = parameters.minimumPixelCount;
    settings.metric = parameters.metric;

    const auto width = static_cast<std::uint32_t>(parameters.outputWidth);
    const auto height = static_cast<std::uint32_t>(parameters.outputHeight);
    if (!TextureSynthesiser::OutputFits(width, height)) {
        Tell(QStringLiteral("An image of %1 x %2 pixels is too large to synthesise.")
                 .arg(width)
                 .arg(height));
        return;
    }
    if (application->Templates().empty()) {
        return;
    }
    auto* output =
        qobject_cast<CWeftloomDoc*>(application->Templates().front()->OpenDocumentFile(QString()));
    if (output == nullptr) {
        Tell(QStringLiteral("The new document could not be created."));
        return;
    }
    if (!output->CreateImage(width, height, sample->image.bytesPerPixel)) {
        output->OnCloseDocument();
        Tell(QStringLiteral("There is not enough memory for an image of %1 x %2 pixels.")
                 .arg(width)
                 .arg(height));
        return;
    }
    auto* progress = new CSynthesisProgressDlg();
    progress->inputDocument = sample;
    progress->outputDocument = output;
    if (!progress->Create()) {
        delete progress;
        return;
    }
    progress->show();
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
