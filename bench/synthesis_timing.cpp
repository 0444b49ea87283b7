// Times one synthesis the two ways a user runs it, side by side in one run:
// through the desktop application (progress dialog, worker thread, row
// previews into the document) and through the engine as weftloom-synth runs
// it. Also checks that both give the same bytes.
//
//   weftloom-bench-synthesis SAMPLE WxH [REPEATS]     (QT_QPA_PLATFORM=offscreen)
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

#include "bench/processor.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "search/simd_level.h"
#include "shell/weftloom_app.h"
#include "shell/weftloom_doc.h"
#include "synthesisui/synthesis_progress_dlg.h"
#include "synthesisui/synthesise_command.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: weftloom-bench-synthesis SAMPLE WxH [REPEATS]\n");
        return 2;
    }
    const QStringList sides = arguments[2].split(QLatin1Char('x'));
    const auto width = static_cast<std::uint32_t>(sides.value(0).toUInt());
    const auto height = static_cast<std::uint32_t>(sides.value(1).toUInt());
    const int repeats = arguments.size() > 3 ? arguments[3].toInt() : 3;
    weftloom::InstallSynthesisUserInterface();
    weftloom::CWeftloomApp application;
    if (!application.InitInstance({}) || width == 0 || height == 0) {
        return 1;
    }
    auto* sample =
        qobject_cast<weftloom::CWeftloomDoc*>(application.OpenDocumentFile(arguments[1]));
    if (sample == nullptr) {
        return 1;
    }
    std::printf("processor: %s; instruction set: %s (WEFTLOOM_SIMD caps it)\n",
                weftloom::bench::ProcessorName().c_str(),
                weftloom::SimdLevelName(weftloom::BestSimdLevel()));
    std::printf("%s -> %ux%u, start settings (accuracy high, count 2500, L2), %d runs each\n",
                qPrintable(arguments[1]), width, height, repeats);
    for (int run = 0; run < repeats; ++run) {
        QElapsedTimer timer;
        timer.start();
        const weftloom::SynthesisSettings settings;
        weftloom::CSynthesisProgressDlg* dialog =
            weftloom::StartSynthesis(*sample, width, height, settings);
        if (dialog == nullptr) {
            return 1;
        }
        weftloom::CWeftloomDoc* output = dialog->outputDocument;
        while (output->progressDialog != nullptr) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        const double app = static_cast<double>(timer.nsecsElapsed()) / 1e9;

        timer.restart();
        weftloom::TextureSynthesiser job;
        weftloom::ApplySettings(settings, job);
        job.Synthesise(sample->image, width, height);
        const double engine = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        std::printf("run %d: application %.2f s, engine as weftloom-synth %.2f s, same bytes: %s\n",
                    run + 1, app, engine,
                    job.result && job.result->pixels == output->image.pixels ? "yes" : "NO");
        output->SetModifiedFlag(false);
        output->OnCloseDocument();
        QCoreApplication::processEvents();
    }
    return 0;
}
