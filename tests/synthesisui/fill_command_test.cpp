#include <QLabel>
#include <QMdiSubWindow>
#include <QPointer>

#include <string>
#include <vector>

#include "engine/fill/picture_fill.h"
#include "synthesisui/fill_command.h"
#include "tests/synthesisui/synthesis_fixture.h"

namespace weftloom {
namespace {

class Fill : public testing::SynthesisFixture {
  protected:
    // Gives the next fill dialog a source limit and a seed and confirms it
    // (or cancels it); shown keeps what its hole line said.
    void ConfirmNextFill(const char* sourceLimit, const char* seed, bool confirm = true) {
        QTimer::singleShot(0, [this, sourceLimit, seed, confirm] {
            auto* dialog = qobject_cast<CFillParamsDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            shownHole = dialog->findChild<QLabel*>(QStringLiteral("1001"))->text();
            dialog->findChild<QLineEdit*>(QStringLiteral("1002"))->setText(sourceLimit);
            dialog->findChild<QLineEdit*>(QStringLiteral("1003"))->setText(seed);
            dialog->findChild<QPushButton*>(confirm ? "1" : "2")->click();
        });
    }

    // Opens a 32 x 32 picture and selects rows 12 to 17 of columns 10 to 19
    // with the mouse.
    void OpenAndSelect() {
        StartWithSample();
        DragOver({10, 12}, {19, 17});
        ASSERT_EQ(ActiveDoc()->selection.Count(), 60u);
    }

    // The engine's own fill of hole in picture.
    static Image EngineFill(const Image& picture, const HoleMask& hole, std::uint32_t limit,
                            std::uint32_t seed, bool opaque) {
        PictureFill fill;
        fill.sourceLimit = limit;
        fill.randomSeed = seed;
        fill.opaque = opaque;
        EXPECT_TRUE(fill.Fill(picture, hole)) << FillRefusalText(fill.refusal);
        return fill.result;
    }

    // Whether a picture equals another outside hole.
    static bool SameOutside(const Image& a, const Image& b, const HoleMask& hole) {
        for (std::size_t i = 0; i < hole.size(); ++i) {
            if (hole[i] == 0 && !std::equal(a.pixels.begin() + i * a.bytesPerPixel,
                                            a.pixels.begin() + (i + 1) * a.bytesPerPixel,
                                            b.pixels.begin() + i * b.bytesPerPixel)) {
                return false;
            }
        }
        return true;
    }

    QString shownHole;
};

// Fill Selection opens the picture in a new window named after it, fills the
// selection there as it goes (the rest never changes, not even for a
// preview), and ends with the engine's bytes for the same hole, source limit
// and seed; the picture's own window is left as it was. The dialog offers the
// last values again.
TEST_F(Fill, FillSelectionGivesTheEnginesBytesInANewWindow) {
    OpenAndSelect();
    CWeftloomDoc* picture = ActiveDoc();
    const Image original = picture->image;
    const HoleMask hole = picture->selection.Mask();
    struct Run {
        const char* limit;
        const char* seed;
        std::uint32_t limitValue;
        std::uint32_t seedValue;
    };
    for (const Run& run : {Run{"0", "5", 0, 5}, Run{"4", "9", 4, 9}}) {
        Frame()->MdiArea()->setActiveSubWindow(Frame()->MdiArea()->subWindowList().front());
        ASSERT_EQ(ActiveDoc(), picture);
        int previews = 0;
        bool keptOutside = true;
        CSynthesisProgressDlg::SetReportObserver([&](const CSynthesisProgressDlg& dialog) {
            previews += dialog.lastProgress.row >= 0 ? 1 : 0;
            keptOutside = keptOutside && SameOutside(dialog.outputDocument->image, original, hole);
        });
        ConfirmNextFill(run.limit, run.seed);
        Trigger(kIdFillSelection);
        EXPECT_EQ(shownHole, "60 selected pixels (5.9%)");
        CWeftloomDoc* output = ActiveDoc();
        ASSERT_NE(output, picture);
        EXPECT_EQ(output->Title(), "brick.tga (filled)");
        ASSERT_TRUE(WaitForEnd(output));
        EXPECT_GT(previews, 0) << run.seed;
        EXPECT_TRUE(keptOutside) << run.seed;
        EXPECT_EQ(output->image.pixels,
                  EngineFill(original, hole, run.limitValue, run.seedValue, false).pixels)
            << run.seed;
        EXPECT_TRUE(output->IsModified());
        EXPECT_FALSE(output->IsUnfinished());
        EXPECT_EQ(picture->image.pixels, original.pixels);
        EXPECT_FALSE(picture->IsModified());
        EXPECT_EQ(picture->selection.Mask(), hole) << "the selection stays";
        CSynthesisProgressDlg::SetReportObserver({});
    }
    EXPECT_EQ(WindowCount(), 3);
    // The next dialog offers the last run's values.
    QString offered;
    QTimer::singleShot(0, [&offered] {
        auto* dialog = qobject_cast<CFillParamsDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        offered = dialog->findChild<QLineEdit*>(QStringLiteral("1002"))->text() + " " +
                  dialog->findChild<QLineEdit*>(QStringLiteral("1003"))->text();
        dialog->reject();
    });
    Frame()->MdiArea()->setActiveSubWindow(Frame()->MdiArea()->subWindowList().front());
    Trigger(kIdFillSelection);
    EXPECT_EQ(offered, "4 9");
    EXPECT_EQ(WindowCount(), 3) << "Cancel starts nothing";
}

// Fill Transparent Areas fills the pixels less than half opaque, which come
// out opaque, as the engine fills them.
TEST_F(Fill, FillTransparentAreasMakesThemOpaque) {
    StartWithSample();
    CWeftloomDoc* picture = ActiveDoc();
    Image rgba = testing::PatternImage(32, 32, 4);
    for (std::uint32_t y = 20; y < 26; ++y) {
        for (std::uint32_t x = 3; x < 11; ++x) {
            rgba.PixelAt(x, y)[3] = static_cast<std::uint8_t>(x * 5);
        }
    }
    picture->image = rgba;
    picture->ImageReplaced();
    ConfirmNextFill("0", "3");
    Trigger(kIdFillTransparent);
    EXPECT_EQ(shownHole, "48 transparent pixels (4.7%)");
    CWeftloomDoc* output = ActiveDoc();
    ASSERT_NE(output, picture);
    ASSERT_TRUE(WaitForEnd(output));
    EXPECT_EQ(output->image.pixels,
              EngineFill(rgba, HoleFromTransparency(rgba), 0, 3, true).pixels);
    EXPECT_FALSE(output->HasTransparency());
    EXPECT_EQ(picture->image.pixels, rgba.pixels);
}

// Cancel answered Yes stops the fill: the new window keeps what was made,
// marked unfinished, and nothing outside the hole has changed. Closing a
// filled window mid-run asks as for a synthesis, and a synthesis running
// beside it goes on to its end.
TEST_F(Fill, CancelAndClosingMidRunStopOnlyTheirOwnRun) {
    OpenAndSelect();
    CWeftloomDoc* picture = ActiveDoc();
    const Image original = picture->image;
    const HoleMask hole = picture->selection.Mask();
    answers = {framework::MessageResult::Yes};
    QPointer<CSynthesisProgressDlg> cancelled;
    CSynthesisProgressDlg::SetReportObserver([&cancelled](const CSynthesisProgressDlg& dialog) {
        if (cancelled.isNull() && dialog.lastProgress.row >= 0) {
            cancelled = const_cast<CSynthesisProgressDlg*>(&dialog);
            QTimer::singleShot(0, dialog.findChild<QPushButton*>(QStringLiteral("1")),
                               &QPushButton::click);
        }
    });
    ConfirmNextFill("0", "1");
    Trigger(kIdFillSelection);
    CWeftloomDoc* stopped = ActiveDoc();
    ASSERT_TRUE(WaitForEnd(stopped));
    CSynthesisProgressDlg::SetReportObserver({});
    EXPECT_TRUE(cancelled.isNull()) << "the dialog has gone";
    EXPECT_EQ(messages, std::vector<QString>{"Are you sure ?"});
    EXPECT_EQ(stopped->Title(), "brick.tga (filled) (unfinished)");
    EXPECT_TRUE(SameOutside(stopped->image, original, hole));

    // A synthesis from the picture, then a fill whose window is closed mid-run.
    messages.clear();
    Frame()->MdiArea()->setActiveSubWindow(Frame()->MdiArea()->subWindowList().front());
    ConfirmNextParameters(40, 36);
    Trigger(kIdSynthesise);
    CWeftloomDoc* synthesis = ActiveDoc();
    Frame()->MdiArea()->setActiveSubWindow(Frame()->MdiArea()->subWindowList().front());
    ConfirmNextFill("0", "2");
    Trigger(kIdFillSelection);
    CWeftloomDoc* closed = ActiveDoc();
    ASSERT_NE(closed->progressDialog, nullptr) << "still running";
    ASSERT_NE(synthesis->progressDialog, nullptr) << "still running";
    answers = {framework::MessageResult::Yes, framework::MessageResult::No};
    const int windows = WindowCount();
    Frame()->MdiArea()->activeSubWindow()->close();
    Settle();
    EXPECT_EQ(WindowCount(), windows - 1);
    ASSERT_GE(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Abort synthesis ?");
    ASSERT_TRUE(WaitForEnd(synthesis));
    EXPECT_FALSE(synthesis->IsUnfinished()) << "the synthesis beside it ran to its end";
    EXPECT_EQ(picture->image.pixels, original.pixels);
}

// What cannot be filled is said before the dialog, and nothing opens.
TEST_F(Fill, EverythingSelectedIsRefusedBeforeTheDialog) {
    StartWithSample();
    Trigger(kIdSelectAll);
    Trigger(kIdFillSelection);
    EXPECT_EQ(messages, std::vector<QString>{"Every pixel is selected: there is nothing to fill "
                                             "from. Select only what is to be made anew."});
    EXPECT_EQ(WindowCount(), 1);
}

}  // namespace
}  // namespace weftloom
