#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <thread>

#include "shell/resources/resource_ids.h"
#include "synthesisui/synthesis_params_dlg.h"
#include "synthesisui/synthesis_progress_dlg.h"
#include "synthesisui/synthesise_command.h"
#include "tests/shell/app_fixture.h"

namespace weftloom::testing {

// Quick settings: small windows (sides 5, 3, 3) and the kd-tree, exact and
// quick, so that runs stay short under sanitizers.
inline SynthesisSettings QuickSettings() {
    SynthesisSettings settings;
    settings.levelAccuracy = {Accuracy::Low, Accuracy::Low, Accuracy::Medium};
    settings.subsamplingMode = SubsamplingMode::Disabled;
    return settings;
}

// The application with its synthesis user interface, and ways to drive a run.
class SynthesisFixture : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        InstallSynthesisUserInterface();
        // Runs take a millisecond a report at least: still under way when a
        // test clicks, closes or starts another, however fast the engine is.
        CSynthesisProgressDlg::SetWorkerPace(
            [](const ProgressInfo&) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
    }

    void TearDown() override {
        CSynthesisProgressDlg::SetReportObserver({});
        CSynthesisProgressDlg::SetClock({});
        AppFixture::TearDown();
        CSynthesisProgressDlg::SetWorkerPace({});
        SetSynthesisHooks({});
    }

    // Gives the next parameters dialog these settings for the run and confirms
    // it, or cancels it. A seed, when given, is typed into its field.
    void ConfirmNextParameters(std::int32_t width, std::int32_t height, bool confirm = true,
                               const char* seed = nullptr) {
        QTimer::singleShot(0, [width, height, confirm, seed] {
            auto* dialog = qobject_cast<CSynthesisParamsDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->outputWidth = width;
            dialog->outputHeight = height;
            dialog->UpdateData(false);
            if (seed != nullptr) {
                auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("1021"));
                ASSERT_NE(field, nullptr);
                field->setText(QString::fromLatin1(seed));
            }
            auto* button = dialog->findChild<QPushButton*>(confirm ? "1" : "2");
            ASSERT_NE(button, nullptr);
            button->click();
        });
    }

    // Starts with a 32 x 32 sample open and the quick settings.
    void StartWithSample() {
        ASSERT_TRUE(Start({QString::fromStdString(WriteSample("brick.tga", 32, 32))}));
        app->settings = QuickSettings();
    }

    // Runs events until condition holds (a generous bound keeps a broken run
    // from hanging the suite; it measures nothing).
    template <class Condition>
    static bool WaitFor(Condition condition) {
        QDeadlineTimer deadline(600000);
        while (!condition() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return condition();
    }

    // Runs events until the document's synthesis has ended.
    static bool WaitForEnd(CWeftloomDoc* document) {
        const bool ended = WaitFor([document] { return document->progressDialog == nullptr; });
        Settle();
        return ended;
    }
};

}  // namespace weftloom::testing
