#include <QMdiSubWindow>
#include <QPointer>

#include <sstream>

#include "cli/synth_options.h"
#include "cli/synth_run.h"
#include "imageio/image_file.h"
#include "shell/framework/child_frame.h"
#include "shell/framework/commands.h"
#include "tests/synthesisui/synthesis_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;
using Synthesise = testing::SynthesisFixture;

// The sample the runs grow from: a real texture, cut to 32 x 32 to keep runs short.
std::string CopySample(const test::ScratchFolder& scratch) {
    Image full;
    std::string reason;
    EXPECT_TRUE(
        LoadImageFile(std::string(WEFTLOOM_SAMPLES_DIR) + "/sk_brick_64_a.tga", full, reason));
    Image crop;
    crop.Allocate(32, 32, 3);
    for (std::uint32_t y = 0; y < 32; ++y) {
        std::copy(full.PixelAt(8, y + 8), full.PixelAt(8, y + 8) + 32 * 3, crop.PixelAt(0, y));
    }
    const std::string path = (scratch / "brick.tga").string();
    EXPECT_TRUE(WriteTga(crop, path));
    return path;
}

TEST_F(Synthesise, AWholeRunGivesTheCommandLineToolsBytes) {
    const std::string sample = CopySample(scratch);
    ASSERT_TRUE(Start({QString::fromStdString(sample)}));
    UseQuickSettings();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    int previews = 0;
    std::vector<QString> statuses;
    QString inputFile;
    CSynthesisProgressDlg::SetReportObserver([&](const CSynthesisProgressDlg& dialog) {
        inputFile = dialog.inputFile;
        if (dialog.lastProgress.row >= 0) {
            ++previews;
        }
        if (statuses.empty() || statuses.back() != dialog.statusText) {
            statuses.push_back(dialog.statusText);
        }
    });
    const int number = CWeftloomDoc::NextSynthesisNumber();
    ConfirmNextParameters(40, 36);
    Trigger(kIdSynthesise);
    ASSERT_EQ(WindowCount(), 2);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_NE(output, sampleDoc);
    EXPECT_EQ(output->Title(), QString("Synthesis %1").arg(number));
    ASSERT_TRUE(WaitForEnd(output));
    EXPECT_EQ(inputFile, "brick.tga");

    EXPECT_EQ(previews, 4 + 9 + 18 + 36) << "every row of levels 3 to 0 previewed";
    EXPECT_EQ(statuses.front(), "Initialising output");
    EXPECT_EQ(statuses.back(), "Synthesizing");
    EXPECT_TRUE(output->IsModified());

    // The command-line tool with the same settings writes the same bytes.
    SynthOptions options;
    options.sample = sample;
    options.output = (scratch / "cli.tga").string();
    options.width = 40;
    options.height = 36;
    options.settings = app->settings;
    std::ostringstream out, err;
    SynthRunContext context;
    context.out = &out;
    context.err = &err;
    ASSERT_EQ(RunSynth(options, context), 0) << err.str();
    Image expected;
    std::string reason;
    ASSERT_TRUE(LoadImageFile(options.output, expected, reason));
    EXPECT_EQ(output->image.pixels, expected.pixels);
    EXPECT_EQ(ActiveView()->BitmapBits()[2], expected.pixels[0]) << "the view shows the result";

    // Save As writes them.
    fileAnswers.push_back(QString::fromStdString((scratch / "saved").string()));
    Trigger(command::kFileSaveAs);
    Image saved;
    ASSERT_TRUE(LoadImageFile((scratch / "saved.tga").string(), saved, reason)) << reason;
    EXPECT_EQ(saved.pixels, expected.pixels);
    EXPECT_FALSE(output->IsModified());
}

TEST_F(Synthesise, TimeLeftFollowsTheLevelsWithAnInjectedClock) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    std::int64_t now = 1000;
    CSynthesisProgressDlg::SetClock([&now] { return now; });
    struct Seen {
        std::string status;
        std::int32_t row;
        std::uint32_t levelWidth;
        std::int32_t overallDone;
        QString timeLeft;
    };
    std::vector<Seen> seen;
    CSynthesisProgressDlg::SetReportObserver([&](const CSynthesisProgressDlg& dialog) {
        const ProgressInfo& info = dialog.lastProgress;
        seen.push_back({dialog.statusText.toStdString(), info.row, info.levelWidth,
                        info.overallDone, dialog.timeLeftText});
        now += 1;  // each report one second later
    });
    ConfirmNextParameters(64, 32);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_TRUE(WaitForEnd(output));
    ASSERT_FALSE(seen.empty());
    bool sawFirstLevelStart = false;
    for (const Seen& s : seen) {
        if (s.status != "Synthesizing") {
            if (!sawFirstLevelStart) {
                EXPECT_EQ(s.timeLeft, "") << "no estimate before the first level";
            }
            continue;
        }
        if (s.row == -1 && s.overallDone == 0) {
            EXPECT_EQ(s.timeLeft, "00:00:00");
            sawFirstLevelStart = true;
        } else if (s.row >= 0 && s.levelWidth < 64 / 2) {
            EXPECT_EQ(s.timeLeft, "No accurate estimate yet") << s.levelWidth;
        } else {
            EXPECT_EQ(s.timeLeft.size(), 8) << s.timeLeft.toStdString();
            EXPECT_NE(s.timeLeft, "No accurate estimate yet");
        }
    }
    EXPECT_TRUE(sawFirstLevelStart);
}

// The same run as the dialog's, made directly.
std::vector<std::uint8_t> QuickRun(const Image& sample, std::uint32_t width, std::uint32_t height) {
    TextureSynthesiser job;
    ApplySettings(testing::QuickSettings(), job);
    EXPECT_TRUE(job.Synthesise(sample, width, height));
    return job.result ? job.result->pixels : std::vector<std::uint8_t>{};
}

// Clicks the dialog's Cancel button once, from the event loop, when `when` holds;
// running then watches that dialog.
void CancelWhen(std::function<bool(const ProgressInfo&)> when, bool& clicked,
                QPointer<CSynthesisProgressDlg>& running) {
    CSynthesisProgressDlg::SetReportObserver(
        [when = std::move(when), &clicked, &running](const CSynthesisProgressDlg& d) {
            if (!clicked && when(d.lastProgress)) {
                clicked = true;
                running = const_cast<CSynthesisProgressDlg*>(&d);
                QTimer::singleShot(0, d.findChild<QPushButton*>(QStringLiteral("1")),
                                   &QPushButton::click);
            }
        });
}

TEST_F(Synthesise, CancelAnsweredNoLetsTheRunGoOn) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    const Image sampleImage = ActiveDoc()->image;
    bool clicked = false;
    QPointer<CSynthesisProgressDlg> running;
    CancelWhen([](const ProgressInfo& p) { return p.row == 0 && p.levelWidth == 64; }, clicked,
               running);
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
            return framework::MessageResult::No;
        });
    ConfirmNextParameters(64, 64);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_TRUE(WaitForEnd(output));
    EXPECT_EQ(messages, (std::vector<QString>{"Are you sure ?"}));
    EXPECT_GE(rowWhenAnswered, rowWhenAsked + 3);
    EXPECT_EQ(output->image.pixels, QuickRun(sampleImage, 64, 64)) << "the run finished";
}

TEST_F(Synthesise, CancelAnsweredYesStopsAndKeepsThePreviews) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    bool clicked = false;
    QPointer<CSynthesisProgressDlg> running;
    CancelWhen([](const ProgressInfo& p) { return p.row == 2 && p.levelWidth == 64; }, clicked,
               running);
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

TEST_F(Synthesise, AFinishDuringTheQuestionEndsTheDialogOnce) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    const Image sampleImage = ActiveDoc()->image;
    bool clicked = false;
    QPointer<CSynthesisProgressDlg> running;
    CancelWhen([](const ProgressInfo& p) { return p.row == 0; }, clicked, running);
    framework::SetMessageResponder(
        [&](const QString& text, const QString&, framework::MessageButtons) {
            messages.push_back(text);
            // The question stays open until the run has finished; then Yes.
            WaitFor([&] { return running.isNull() || running->Ended(); });
            return framework::MessageResult::Yes;
        });
    ConfirmNextParameters(48, 48);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_TRUE(WaitForEnd(output));
    Settle();
    EXPECT_TRUE(running.isNull()) << "the dialog is gone";
    EXPECT_EQ(messages, (std::vector<QString>{"Are you sure ?"}));
    EXPECT_EQ(output->image.pixels, QuickRun(sampleImage, 48, 48)) << "the finish copied it in";
    EXPECT_EQ(WindowCount(), 2);
}

TEST_F(Synthesise, ClosingTheOutputWindowAsksAbortsAndJoins) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    // The window's close box and File > Close ask the same.
    for (const bool byCommand : {false, true}) {
        SCOPED_TRACE(byCommand ? "File > Close" : "close box");
        messages.clear();
        QPointer<CSynthesisProgressDlg> dialog;
        int reportsAfterClose = 0;
        bool scheduled = false;
        bool closed = false;
        CSynthesisProgressDlg::SetReportObserver([&](const CSynthesisProgressDlg& d) {
            if (closed) {
                ++reportsAfterClose;
            } else if (!scheduled && d.lastProgress.row == 1) {
                scheduled = true;
                dialog = const_cast<CSynthesisProgressDlg*>(&d);
                QTimer::singleShot(0, [&] {
                    answers = {framework::MessageResult::Yes, framework::MessageResult::No};
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
        const int number = CWeftloomDoc::NextSynthesisNumber();
        ConfirmNextParameters(96, 96);
        Trigger(kIdSynthesise);
        ASSERT_TRUE(WaitFor([&] { return closed && dialog.isNull(); }));
        Settle();
        // "Abort synthesis ?" Yes, then the unsaved previews: No.
        EXPECT_EQ(messages,
                  (std::vector<QString>{"Abort synthesis ?",
                                        QString("Save changes to Synthesis %1?").arg(number)}));
        EXPECT_EQ(WindowCount(), 1);
        EXPECT_EQ(reportsAfterClose, 0) << "nothing is handled after the dialog ended";
    }
}

TEST_F(Synthesise, ClosingTheSampleWindowAsksNothingAndTheRunCompletes) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    QMdiSubWindow* sampleWindow = Frame()->MdiArea()->activeSubWindow();
    Image sampleImage = ActiveDoc()->image;
    bool closed = false;
    CSynthesisProgressDlg::SetReportObserver([&](const CSynthesisProgressDlg& d) {
        if (!closed && d.lastProgress.row == 0) {
            closed = true;
            QTimer::singleShot(0, sampleWindow, &QMdiSubWindow::close);
        }
    });
    ConfirmNextParameters(40, 40);
    Trigger(kIdSynthesise);
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_TRUE(WaitForEnd(output));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_EQ(output->image.pixels, QuickRun(sampleImage, 40, 40)) << "the run used its own copy";
}

TEST_F(Synthesise, TwoRunsSideBySideEachUpdateTheirOwnDocument) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    const int number = CWeftloomDoc::NextSynthesisNumber();
    ConfirmNextParameters(40, 36);
    Trigger(kIdSynthesise);
    CWeftloomDoc* first = ActiveDoc();
    Frame()->MdiArea()->setActiveSubWindow(sampleDoc->Views().front()->ParentFrame());
    ConfirmNextParameters(36, 40);
    Trigger(kIdSynthesise);
    CWeftloomDoc* second = ActiveDoc();
    ASSERT_NE(first, second);
    EXPECT_EQ(first->Title(), QString("Synthesis %1").arg(number));
    EXPECT_EQ(second->Title(), QString("Synthesis %1").arg(number + 1));
    EXPECT_NE(first->progressDialog, second->progressDialog);
    ASSERT_TRUE(WaitForEnd(first));
    ASSERT_TRUE(WaitForEnd(second));
    EXPECT_EQ(first->image.width, 40u);
    EXPECT_EQ(second->image.width, 36u);
    EXPECT_EQ(first->image.pixels, QuickRun(sampleDoc->image, 40, 36));
    EXPECT_EQ(second->image.pixels, QuickRun(sampleDoc->image, 36, 40));
}

TEST_F(Synthesise, ClosingTheMainWindowEndsEveryRun) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    UseQuickSettings();
    CWeftloomDoc* sampleDoc = ActiveDoc();
    std::vector<QPointer<CSynthesisProgressDlg>> dialogs;
    for (int i = 0; i < 2; ++i) {
        Frame()->MdiArea()->setActiveSubWindow(sampleDoc->Views().front()->ParentFrame());
        ConfirmNextParameters(512, 512);
        Trigger(kIdSynthesise);
        dialogs.emplace_back(ActiveDoc()->progressDialog);
    }
    ASSERT_TRUE(WaitFor([&] { return dialogs[1] && dialogs[1]->WorkerStarted(); }));
    answers = {framework::MessageResult::No, framework::MessageResult::No};  // save prompts
    Frame()->close();
    Settle();
    EXPECT_EQ(WindowCount(), 0);
    EXPECT_TRUE(dialogs[0].isNull());
    EXPECT_TRUE(dialogs[1].isNull());
}

TEST_F(Synthesise, EmptyDocumentsAndCancelledDialogsMakeNothing) {
    ASSERT_TRUE(Start({QString::fromStdString(CopySample(scratch))}));
    const SynthesisSettings before = app->settings;
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CSynthesisParamsDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("2"));
        ASSERT_NE(cancel, nullptr);
        cancel->click();
    });
    Trigger(kIdSynthesise);
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_EQ(app->settings, before);
    choice = 0;
    Trigger(command::kFileNew);
    EXPECT_FALSE(Enabled(kIdSynthesise));
    ActiveView()->OnCommand(kIdSynthesise);  // as Ctrl+Y would, if it were enabled
    Settle();
    EXPECT_EQ(WindowCount(), 2);
}

TEST_F(Synthesise, WhatCannotBeSynthesisedIsRefusedWithTheReason) {
    struct Case {
        std::int32_t width;
        Accuracy level1;
        QString expected;
    };
    // A 6 x 6 sample has no whole 9 x 9 window (High) but has 5 x 5 ones (Low).
    const std::vector<Case> cases = {
        {64, Accuracy::High,
         "The sample of 6 x 6 pixels is too small for the Level 1 window of "
         "9 x 9 pixels. Use a larger sample or a lower Level 1 accuracy."},
        {999999, Accuracy::Low, "An image of 999999 x 999999 pixels is too large to synthesise."},
    };
    ASSERT_TRUE(Start({QString::fromStdString(WriteSample("small.tga", 6, 6))}));
    for (const Case& c : cases) {
        app->settings.levelAccuracy[0] = c.level1;
        messages.clear();
        ConfirmNextParameters(c.width, c.width);
        Trigger(kIdSynthesise);
        // (The dialog may first complain that the sample's own size is below its range.)
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back(), c.expected);
        EXPECT_EQ(WindowCount(), 1) << "nothing was started";
    }
}

}  // namespace
}  // namespace weftloom
