#include <QComboBox>
#include <QMdiSubWindow>
#include <QPointer>

#include <atomic>

#include "shell/framework/child_frame.h"
#include "shell/framework/commands.h"
#include "tests/synthesisui/synthesis_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;
using Synthesise = testing::SynthesisFixture;

// The same run as the dialog's, made directly.
std::vector<std::uint8_t> QuickRun(const Image& sample, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t seed = 1) {
    SynthesisSettings settings = testing::QuickSettings();
    settings.randomSeed = seed;
    TextureSynthesiser job;
    ApplySettings(settings, job);
    EXPECT_TRUE(job.Synthesise(sample, width, height));
    return job.result ? job.result->pixels : std::vector<std::uint8_t>{};
}

// Choosing the coherent search in the dialog runs it, with the engine's bytes,
// and the next dialog opens with it chosen.
TEST_F(Synthesise, TheCoherentSearchIsRunAndRemembered) {
    StartWithSample();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    auto chooseSearch = [](int index, bool expectShown) {
        QTimer::singleShot(0, [index, expectShown] {
            auto* dialog = qobject_cast<CSynthesisParamsDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* list = dialog->findChild<QComboBox*>(QStringLiteral("1022"));
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(list->currentIndex(), expectShown ? 1 : 0);
            list->setCurrentIndex(index);
            dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
        });
    };
    chooseSearch(1, false);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_NE(output, sampleDoc);
    ASSERT_TRUE(WaitForEnd(output));
    EXPECT_EQ(app->settings.searchMethod, SearchMethod::Coherent);

    SynthesisSettings settings = testing::QuickSettings();
    settings.searchMethod = SearchMethod::Coherent;
    TextureSynthesiser job;
    ApplySettings(settings, job);
    ASSERT_TRUE(job.Synthesise(sampleDoc->image, 32, 32));
    EXPECT_EQ(output->image.pixels, job.result->pixels);

    // Remembered for the next run; choosing exact again is remembered too.
    Frame()->MdiArea()->setActiveSubWindow(sampleDoc->Views().front()->ParentFrame());
    chooseSearch(0, true);
    Trigger(kIdSynthesise);
    ASSERT_TRUE(WaitForEnd(ActiveDoc()));
    EXPECT_EQ(app->settings.searchMethod, SearchMethod::Exact);
    EXPECT_EQ(ActiveDoc()->image.pixels, QuickRun(sampleDoc->image, 32, 32));
}

TEST_F(Synthesise, AWholeRunGivesTheEnginesBytes) {
    StartWithSample();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    int previews = 0;
    std::vector<QString> statuses;
    QString inputFile;
    std::int64_t now = 1000;
    CSynthesisProgressDlg::SetClock([&now] { return now; });
    bool sawPercentTitle = false;
    CSynthesisProgressDlg::SetReportObserver([&](const CSynthesisProgressDlg& dialog) {
        const ProgressInfo& p = dialog.lastProgress;
        const QString& left = dialog.timeLeftText;
        inputFile = dialog.inputFile;
        previews += p.row >= 0 ? 1 : 0;
        if (statuses.empty() || statuses.back() != dialog.statusText) {
            statuses.push_back(dialog.statusText);
        }
        now += 1;  // each report a second after the last
        const QString title = dialog.outputDocument->Views().front()->ParentFrame()->windowTitle();
        sawPercentTitle =
            sawPercentTitle || title.endsWith(QString(" - %1%").arg(p.overallDone * 100 /
                                                                    std::max(p.overallTotal, 1)));
        // The time left, from an estimator of this output's width: none on
        // the levels under half of it, hh:mm:ss on the others.
        if (p.row >= 0) {
            const bool coarse = p.levelWidth < 40 / 2;
            EXPECT_EQ(left == "No accurate estimate yet", coarse) << p.levelWidth;
            EXPECT_TRUE(coarse || left.size() == 8) << left.toStdString();
        }
    });
    const int number = CWeftloomDoc::NextSynthesisNumber();
    ConfirmNextParameters(40, 36, true, "7");
    Trigger(kIdSynthesise);
    ASSERT_EQ(WindowCount(), 2);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_NE(output, sampleDoc);
    EXPECT_EQ(output->Title(), QString("Synthesis %1").arg(number));
    ASSERT_TRUE(WaitForEnd(output));
    EXPECT_EQ(inputFile, "brick.tga");

    EXPECT_TRUE(sawPercentTitle) << "the window's title follows the run";
    EXPECT_EQ(output->Views().front()->ParentFrame()->windowTitle(),
              QString("Synthesis %1").arg(number));
    EXPECT_EQ(previews, 4 + 9 + 18 + 36) << "every row of levels 3 to 0 previewed";
    // The set-up first; each level's phases name the level, as weftloom-synth does.
    EXPECT_EQ(statuses.front(), "Initialising output");
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Building data cloud, Level 4 of 4"),
              statuses.end());
    EXPECT_EQ(statuses.back(), "Synthesizing, Level 1 of 4");
    EXPECT_TRUE(output->IsModified());

    // The typed seed reaches the run: the same bytes as the engine's own run
    // with seed 7, as weftloom-synth --seed 7 makes them.
    EXPECT_EQ(app->settings.randomSeed, 7u) << "the typed seed is remembered";
    const std::vector<std::uint8_t> expected = QuickRun(sampleDoc->image, 40, 36, 7);
    EXPECT_EQ(output->image.pixels, expected);
    EXPECT_EQ(ActiveView()->BitmapBits()[2], expected[0]) << "the view shows the result";
}

// Clicks the dialog's Cancel button once, from the event loop, when `when` holds;
// running then watches that dialog.
void CancelWhen(std::function<bool(const ProgressInfo&)> when,
                QPointer<CSynthesisProgressDlg>& running) {
    CSynthesisProgressDlg::SetReportObserver([when = std::move(when), &running, clicked = false](
                                                 const CSynthesisProgressDlg& d) mutable {
        if (!clicked && when(d.lastProgress)) {
            clicked = true;
            running = const_cast<CSynthesisProgressDlg*>(&d);
            QTimer::singleShot(0, d.findChild<QPushButton*>(QStringLiteral("1")),
                               &QPushButton::click);
        }
    });
}

// Cancel answered No lets the run go on, as does closing the sample's window,
// which asks nothing: the run has a copy of its own.
TEST_F(Synthesise, CancelAnsweredNoOrClosingTheSampleLetsTheRunGoOn) {
    StartWithSample();
    const Image sampleImage = ActiveDoc()->image;
    QMdiSubWindow* sampleWindow = Frame()->MdiArea()->activeSubWindow();
    QPointer<CSynthesisProgressDlg> running;
    CancelWhen([](const ProgressInfo& p) { return p.row == 0 && p.levelWidth == 64; }, running);
    std::int32_t rowWhenAsked = -1;
    std::int32_t rowWhenAnswered = -1;
    framework::SetMessageResponder(
        [&](const QString& text, const QString& caption, framework::MessageButtons buttons) {
            messages.push_back(text);
            EXPECT_EQ(caption, "");
            EXPECT_EQ(buttons, framework::MessageButtons::YesNo);
            // Reports keep arriving while the question is open.
            rowWhenAsked = running->lastProgress.row;
            WaitFor([&] {
                return running.isNull() || running->Ended() ||
                       running->lastProgress.row >= rowWhenAsked + 3;
            });
            rowWhenAnswered = running.isNull() ? -1 : running->lastProgress.row;
            QTimer::singleShot(0, sampleWindow, &QMdiSubWindow::close);
            return framework::MessageResult::No;
        });
    ConfirmNextParameters(64, 64);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_TRUE(WaitForEnd(output));
    EXPECT_EQ(messages, (std::vector<QString>{"Are you sure ?"}));
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_GE(rowWhenAnswered, rowWhenAsked + 3);
    EXPECT_EQ(output->image.pixels, QuickRun(sampleImage, 64, 64)) << "the run finished";
}

TEST_F(Synthesise, CancelAnsweredYesStopsAndKeepsThePreviews) {
    StartWithSample();
    QPointer<CSynthesisProgressDlg> running;
    CancelWhen([](const ProgressInfo& p) { return p.row == 2 && p.levelWidth == 64; }, running);
    answers = {framework::MessageResult::Yes};
    ConfirmNextParameters(64, 64);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    QPointer<CSynthesisProgressDlg> dialog(output->progressDialog);
    ASSERT_TRUE(WaitFor([&] { return dialog.isNull(); }));
    EXPECT_EQ(messages, (std::vector<QString>{"Are you sure ?"}));
    EXPECT_EQ(output->progressDialog, nullptr);
    EXPECT_EQ(WindowCount(), 2) << "the document stays open";
    EXPECT_TRUE(output->IsModified());
    const auto& pixels = output->image.pixels;
    EXPECT_TRUE(std::any_of(pixels.begin(), pixels.end(), [](std::uint8_t b) { return b != 0; }))
        << "the previews stay";
}

TEST_F(Synthesise, AFinishDuringTheQuestionClosesItAndEndsTheDialogOnce) {
    StartWithSample();
    const Image sampleImage = ActiveDoc()->image;
    QPointer<CSynthesisProgressDlg> running;
    CancelWhen([](const ProgressInfo& p) { return p.row == 0; }, running);
    bool dismissed = false;
    framework::SetMessageResponder(
        [&](const QString& text, const QString&, framework::MessageButtons) {
            messages.push_back(text);
            // The user does not answer; the run's end closes the question,
            // and a late Yes has no effect.
            dismissed = WaitFor([] { return framework::QuestionDismissed(); });
            return framework::MessageResult::Yes;
        });
    ConfirmNextParameters(48, 48);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_TRUE(WaitForEnd(output));
    Settle();
    EXPECT_TRUE(running.isNull()) << "the dialog is gone";
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(messages, (std::vector<QString>{"Are you sure ?"}));
    EXPECT_EQ(output->image.pixels, QuickRun(sampleImage, 48, 48)) << "the finish copied it in";
    EXPECT_EQ(WindowCount(), 2);
}

TEST_F(Synthesise, ClosingTheOutputWindowAsksAbortsAndJoins) {
    StartWithSample();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    // The window's close box and File > Close ask the same; the closed first
    // output keeps its number.
    const int first = CWeftloomDoc::NextSynthesisNumber();
    for (const bool byCommand : {false, true}) {
        SCOPED_TRACE(byCommand ? "File > Close" : "close box");
        messages.clear();
        QPointer<CSynthesisProgressDlg> dialog;
        int reportsAfterClose = 0;
        bool scheduled = false;
        bool closed = false;
        int reports = 0;
        int reportsAtQuestion = -1;
        bool endedAtQuestion = false;
        framework::SetMessageResponder(
            [&](const QString& text, const QString&, framework::MessageButtons) {
                messages.push_back(text);
                if (text == "Abort synthesis ?") {
                    return framework::MessageResult::Yes;
                }
                reportsAtQuestion = reports;
                endedAtQuestion = dialog.isNull() || dialog->Ended();
                return framework::MessageResult::No;
            });
        CSynthesisProgressDlg::SetReportObserver([&](const CSynthesisProgressDlg& d) {
            ++reports;
            if (closed) {
                ++reportsAfterClose;
            } else if (!scheduled && d.lastProgress.row == 1) {
                scheduled = true;
                dialog = const_cast<CSynthesisProgressDlg*>(&d);
                QTimer::singleShot(0, [&] {
                    if (byCommand) {
                        Trigger(command::kFileClose);
                    } else {
                        dialog->outputDocument->Views().front()->ParentFrame()->close();
                    }
                    closed = true;
                });
            }
        });
        Frame()->MdiArea()->setActiveSubWindow(sampleDoc->Views().front()->ParentFrame());
        const int number = first + (byCommand ? 1 : 0);
        ConfirmNextParameters(96, 96);
        Trigger(kIdSynthesise);
        ASSERT_TRUE(WaitFor([&] { return closed && dialog.isNull(); }));
        Settle();
        // "Abort synthesis ?" Yes, then the unsaved previews: No.
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0], "Abort synthesis ?");
        EXPECT_TRUE(messages[1].startsWith(
            QString("Save changes to Synthesis %1 (unfinished)?").arg(number)))
            << messages[1].toStdString();
        EXPECT_EQ(WindowCount(), 1);
        EXPECT_EQ(reportsAfterClose, 0) << "nothing is handled after the dialog ended";
        // Yes stopped the worker at once: its last report came before the
        // offer to save.
        EXPECT_TRUE(endedAtQuestion);
        EXPECT_EQ(reportsAtQuestion, reports);
    }
}

// Runs side by side each update their own document; closing the main window
// ends those still running.
TEST_F(Synthesise, RunsSideBySideEachUpdateTheirOwnDocumentAndEndWithTheApplication) {
    StartWithSample();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    auto startRun = [&](std::int32_t width, std::int32_t height) {
        Frame()->MdiArea()->setActiveSubWindow(sampleDoc->Views().front()->ParentFrame());
        ConfirmNextParameters(width, height);
        Trigger(kIdSynthesise);
        return ActiveDoc();
    };
    CWeftloomDoc* first = startRun(40, 36);
    CWeftloomDoc* second = startRun(36, 40);
    ASSERT_NE(first, second);
    ASSERT_NE(first->progressDialog, nullptr);
    ASSERT_NE(second->progressDialog, nullptr);
    EXPECT_NE(first->progressDialog, second->progressDialog);
    // Both over the main window, the second a step aside: neither hides the other.
    const QRect main = Frame()->frameGeometry();
    const QPoint step = second->progressDialog->pos() - first->progressDialog->pos();
    EXPECT_TRUE(main.contains(first->progressDialog->frameGeometry().center()));
    EXPECT_TRUE(main.contains(second->progressDialog->frameGeometry().center()));
    EXPECT_GT(step.x(), 0);
    EXPECT_GT(step.y(), 0);
    ASSERT_TRUE(WaitForEnd(first));
    ASSERT_TRUE(WaitForEnd(second));
    EXPECT_EQ(first->image.pixels, QuickRun(sampleDoc->image, 40, 36));
    EXPECT_EQ(second->image.pixels, QuickRun(sampleDoc->image, 36, 40));

    const QPointer<CSynthesisProgressDlg> running[] = {startRun(512, 512)->progressDialog,
                                                       startRun(512, 512)->progressDialog};
    ASSERT_TRUE(WaitFor([&] { return running[1] && running[1]->WorkerStarted(); }));
    // "Abort synthesis ?" for each, then no to the save prompts.
    answers = {framework::MessageResult::Yes, framework::MessageResult::Yes};
    Frame()->close();
    Settle();
    EXPECT_EQ(WindowCount(), 0);
    EXPECT_TRUE(running[0].isNull());
    EXPECT_TRUE(running[1].isNull());
}

// A refusal after OK (a sample too small for its Level 1 window, more memory
// than allowed) is told over the dialog, which stays with the values as typed
// and the field to change focused; put right, the same dialog starts the run.
// Cancelled, nothing starts.
TEST_F(Synthesise, ARefusalAfterOkReturnsToTheDialogWithItsValues) {
    struct Case {
        std::uint32_t sampleSide;
        int memoryLimitMiB;  // 0: the machine's
        const char* width;
        const char* refusal;  // how the message starts
        const char* focused;  // the field
        std::function<void(CSynthesisParamsDlg&)> putRight;
    };
    const Case cases[] = {
        {6, 0, "64",
         "The sample of 6 x 6 pixels is too small for the Level 1 window of 9 x 9 pixels. Use a "
         "larger sample or a lower Level 1 accuracy.",
         "1008",
         [](CSynthesisParamsDlg& d) {
             d.findChild<QComboBox*>(QStringLiteral("1008"))->setCurrentIndex(2);  // Low: 5 x 5
         }},
        // The output and its pyramid, 2000 x 2000 x 3 x (2 + 1/4 + 1/16 + 1/64)
        // bytes, dwarf the sample's part.
        {64, 1, "2000",
         "An image of 2000 x 2000 pixels from this sample needs about 28 MiB of memory, more than "
         "the 1.0 MiB allowed to a synthesis.",
         "1001",
         [](CSynthesisParamsDlg& d) {
             for (const char* id : {"1001", "1002"}) {
                 d.findChild<QLineEdit*>(QString(id))->setText("40");
             }
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        if (c.memoryLimitMiB != 0) {
            framework::ProfileSettings().setValue("Synthesis/MemoryLimitMiB", c.memoryLimitMiB);
        }
        ASSERT_TRUE(
            Start({QString::fromStdString(WriteSample("s.tga", c.sampleSide, c.sampleSide))}));
        framework::ProfileSettings().remove(QStringLiteral("Synthesis"));
        messages.clear();
        ConfirmNextParameters(std::atoi(c.width), std::atoi(c.width));
        bool checked = false;
        framework::SetMessageResponder([&](const QString& text, const QString&,
                                           framework::MessageButtons) {
            messages.push_back(text);
            QTimer::singleShot(0, [&] {
                // Back in the dialog, as the user left it.
                auto* dialog =
                    qobject_cast<CSynthesisParamsDlg*>(QApplication::activeModalWidget());
                ASSERT_NE(dialog, nullptr);
                EXPECT_TRUE(dialog->isVisible());
                EXPECT_EQ(dialog->findChild<QLineEdit*>(QStringLiteral("1001"))->text(), c.width);
                EXPECT_EQ(dialog->focusWidget()->objectName(), c.focused);
                checked = true;
                c.putRight(*dialog);
                dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
            });
            return framework::MessageResult::Ok;
        });
        Trigger(kIdSynthesise);
        EXPECT_TRUE(checked);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].startsWith(c.refusal)) << messages[0].toStdString();
        EXPECT_EQ(WindowCount(), 2) << "the run put right started";
        ASSERT_TRUE(WaitForEnd(ActiveDoc()));
        app.reset();
        Settle();
    }
}

// File > Exit during a run asks "Abort synthesis ?": No keeps everything
// running; Yes stops the run before the offer to save, which says the texture
// is unfinished, and No there saves nothing.
TEST_F(Synthesise, ExitDuringARunAsksToAbortAndSavesNothingUnasked) {
    StartWithSample();
    ConfirmNextParameters(256, 256);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    QPointer<CSynthesisProgressDlg> dialog(output->progressDialog);
    ASSERT_TRUE(WaitFor([&] { return dialog->lastProgress.row >= 0; }));

    answers = {framework::MessageResult::No};
    Trigger(command::kAppExit);
    EXPECT_EQ(messages, std::vector<QString>{"Abort synthesis ?"});
    EXPECT_TRUE(Frame()->isVisible());
    const std::int32_t overall = dialog->lastProgress.overallDone;
    ASSERT_TRUE(WaitFor([&] { return dialog->lastProgress.overallDone > overall; }))
        << "the run goes on";

    messages.clear();
    bool stoppedFirst = false;
    framework::SetMessageResponder(
        [&](const QString& text, const QString&, framework::MessageButtons) {
            messages.push_back(text);
            if (text == "Abort synthesis ?") {
                return framework::MessageResult::Yes;
            }
            stoppedFirst = dialog.isNull() || dialog->Ended();
            return framework::MessageResult::No;
        });
    Trigger(command::kAppExit);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(stoppedFirst) << "the run had stopped before the offer to save";
    EXPECT_TRUE(messages[1].contains("(unfinished)") && messages[1].contains("unfinished:"))
        << messages[1].toStdString();
    EXPECT_EQ(WindowCount(), 0);
    EXPECT_TRUE(fileRequests.empty()) << "nothing was saved";
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"brick.tga"}) << "nothing was written";
}

// Cancel answered Yes while the output pyramid is built (a millisecond a row
// of it) stops the worker within that phase, not after it: its last report is
// still one of the phase's rows.
TEST_F(Synthesise, CancelDuringThePyramidStopsWithinIt) {
    StartWithSample();
    std::atomic<int> lastPhase{0};
    std::atomic<std::int32_t> lastStep{0};
    std::atomic<std::int32_t> steps{0};
    CSynthesisProgressDlg::SetWorkerPace([&](const ProgressInfo& info) {
        lastPhase = static_cast<int>(info.phase);
        lastStep = info.stepDone;
        steps = info.stepTotal;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    QPointer<CSynthesisProgressDlg> running;
    CancelWhen(
        [](const ProgressInfo& p) { return p.phase == ProgressPhase::BuildingOutputPyramid; },
        running);
    answers = {framework::MessageResult::Yes};
    ConfirmNextParameters(1024, 1024);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_TRUE(WaitFor([&] { return output->progressDialog == nullptr; }));
    EXPECT_EQ(messages, std::vector<QString>{"Are you sure ?"});
    EXPECT_EQ(lastPhase, static_cast<int>(ProgressPhase::BuildingOutputPyramid));
    EXPECT_LT(lastStep, steps / 2) << "stopped within the phase";
    EXPECT_TRUE(output->IsUnfinished());
    EXPECT_EQ(output->Title(), QString("%1 (unfinished)").arg(output->Title().section(' ', 0, 1)));
}

// File > Synthesise Again runs the last size and settings on the active
// picture with a new seed, named in the new window's title, without the
// dialog: the bytes of the engine's run with that seed.
TEST_F(Synthesise, SynthesiseAgainRunsTheLastSettingsWithANewSeed) {
    StartWithSample();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    EXPECT_FALSE(Enabled(kIdSynthesiseAgain)) << "nothing to repeat yet";
    ConfirmNextParameters(40, 36, true, "7");
    Trigger(kIdSynthesise);
    ASSERT_TRUE(WaitForEnd(ActiveDoc()));

    Frame()->MdiArea()->setActiveSubWindow(sampleDoc->Views().front()->ParentFrame());
    ASSERT_TRUE(Enabled(kIdSynthesiseAgain));
    Trigger(kIdSynthesiseAgain);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no dialog";
    CWeftloomDoc* again = ActiveDoc();
    ASSERT_NE(again, sampleDoc);
    const std::uint32_t seed = app->settings.randomSeed;
    EXPECT_NE(seed, 7u);
    EXPECT_TRUE(again->Title().endsWith(QString(", seed %1").arg(seed)))
        << again->Title().toStdString();
    ASSERT_TRUE(WaitForEnd(again));
    EXPECT_EQ(again->image.width, 40u);
    EXPECT_EQ(again->image.pixels, QuickRun(sampleDoc->image, 40, 36, seed));
}

}  // namespace
}  // namespace weftloom
