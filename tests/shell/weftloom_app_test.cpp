#include <QFileInfo>
#include <QHelpEvent>
#include <QMdiSubWindow>
#include <QSettings>
#include <QToolBar>
#include <QToolTip>

#include "shell/framework/commands.h"
#include "shell/framework/profile.h"
#include "shell/resources/resource_ids.h"
#include "tests/shell/app_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;
using StartUp = testing::AppFixture;
using OpenAndNew = testing::AppFixture;
using RecentFiles = testing::AppFixture;

TEST_F(StartUp, WithoutArgumentsOnlyTheMainWindowAndItsMenu) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(WindowCount(), 0);
    EXPECT_EQ(Frame()->windowTitle(), "WeftLoom");
    EXPECT_EQ(MenuTitles(), (QStringList{"&File", "&View", "&Help"}));
    EXPECT_TRUE(Frame()->isVisible());
    // Toolbar 128: Open, Synthesise, Save As, separator, About; the document
    // commands are off without a document.
    QStringList buttons;
    for (const QAction* button : Frame()->ToolBar()->actions()) {
        buttons << (button->isSeparator() ? "-" : button->objectName());
    }
    EXPECT_EQ(buttons, (QStringList{"57601", "32771", "57604", "-", "57664"}));
    EXPECT_FALSE(Enabled(kIdSynthesise));
    EXPECT_FALSE(Enabled(command::kFileSaveAs));
    EXPECT_TRUE(Enabled(command::kFileOpen));
    EXPECT_EQ(app->settings, SynthesisSettings{});
    EXPECT_EQ(QCoreApplication::organizationName(), "Local AppWizard-Generated Applications");
    EXPECT_EQ(QCoreApplication::applicationName(), "weftloom");
}

TEST_F(StartUp, FilesOnTheCommandLineOpenEachInAFittedWindow) {
    const std::string other = WriteSample("other.tga", 20, 10);
    const std::string sample = WriteSample("wall.tga", 9, 7);
    ASSERT_TRUE(Start({QString::fromStdString(other), QString::fromStdString(sample)}));
    ASSERT_EQ(WindowCount(), 2);
    // Fitted as File > Open fits: enlarged by two until both sides reach 128.
    EXPECT_EQ(ActiveView()->viewport()->size(), QSize(9 * 32, 7 * 32));
    EXPECT_EQ(ActiveDoc()->Title(), "wall.tga");
    EXPECT_EQ(Frame()->MdiArea()->activeSubWindow()->windowTitle(), "wall.tga");
    EXPECT_EQ(Frame()->windowTitle(), "WeftLoom - wall.tga");
    EXPECT_EQ(MenuTitles(), (QStringList{"&File", "&View", "&Window", "&Help"}));
    EXPECT_EQ(ActiveDoc()->image.width, 9u);
    EXPECT_TRUE(Enabled(kIdSynthesise));
    EXPECT_TRUE(Enabled(command::kFileSaveAs));
}

TEST_F(StartUp, AnUnreadableFileOnTheCommandLineIsReportedInFrontOfTheMainWindow) {
    test::WriteBytes(scratch / "broken.tga", {1, 2, 3});
    bool frameShownWhenAsked = false;
    framework::SetMessageResponder(
        [&](const QString& text, const QString&, framework::MessageButtons) {
            messages.push_back(text);
            frameShownWhenAsked = Frame() != nullptr && Frame()->isVisible();
            return framework::MessageResult::Ok;
        });
    ASSERT_TRUE(Start({QString::fromStdString((scratch / "broken.tga").string())}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("An error occured while reading the file\n\n"));
    EXPECT_TRUE(frameShownWhenAsked);
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(WindowCount(), 0);
}

TEST_F(OpenAndNew, EveryKnownEndingOpensItsCodec) {
    ASSERT_TRUE(Start());
    WriteSample("lower.tga", 5, 4);
    WriteSample("UPPER.TGA", 6, 4);
    std::filesystem::copy_file(std::string(WEFTLOOM_TEST_DATA_DIR) + "/jpeg/testorig.jpg",
                               scratch / "photo.jpg");
    std::filesystem::copy_file(std::string(WEFTLOOM_TEST_DATA_DIR) + "/jpeg/testorig.jpg",
                               scratch / "photo.jpeg");
    const std::vector<std::pair<std::string, std::uint32_t>> files = {
        {"lower.tga", 5}, {"UPPER.TGA", 6}, {"photo.jpg", 227}, {"photo.jpeg", 227}};
    for (const auto& [name, width] : files) {
        fileAnswers.push_back(QString::fromStdString((scratch / name).string()));
        Trigger(command::kFileOpen);
        ASSERT_NE(ActiveDoc(), nullptr) << name;
        EXPECT_EQ(ActiveDoc()->Title().toStdString(), name);
        EXPECT_EQ(ActiveDoc()->image.width, width) << name;
        EXPECT_EQ(ActiveDoc()->image.bytesPerPixel, 3u);
        EXPECT_FALSE(ActiveDoc()->IsModified());
    }
    EXPECT_EQ(WindowCount(), 4);
    EXPECT_TRUE(messages.empty());
    ASSERT_FALSE(fileRequests.empty());
    EXPECT_EQ(fileRequests.front().filters,
              (QStringList{"All images (*.tga *.jpg *.jpeg)", "TGA Images (*.tga)",
                           "JPEG Images (*.jpg *.jpeg)", "All Files (*)"}));
}

TEST_F(OpenAndNew, ABrokenOrUnknownFileShowsTheMessageWithItsReasonAndOpensNoWindow) {
    ASSERT_TRUE(Start());
    test::WriteBytes(scratch / "cut.tga", {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 4, 0, 24, 0});
    WriteSample("picture.bmp", 4, 4);
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"cut.tga", "TGA"}, {"picture.bmp", "Unknown image file type"}, {"missing.jpg", "JPEG"}};
    for (const auto& [name, reason] : cases) {
        messages.clear();
        fileAnswers.push_back(QString::fromStdString((scratch / name).string()));
        Trigger(command::kFileOpen);
        ASSERT_EQ(messages.size(), 1u) << name;
        const QStringList parts = messages[0].split("\n\n");
        ASSERT_EQ(parts.size(), 2) << messages[0].toStdString();
        EXPECT_EQ(parts[0], "An error occured while reading the file");
        EXPECT_TRUE(parts[1].contains(reason)) << parts[1].toStdString();
        EXPECT_EQ(WindowCount(), 0) << name;
    }
    EXPECT_TRUE(app->RecentFiles().Files().isEmpty()) << "a failed open is not remembered";
}

TEST_F(OpenAndNew, NewAsksForTheTypeAndMakesAnEmptyDocument) {
    ASSERT_TRUE(Start());
    choice = 1;
    Trigger(command::kFileNew);
    EXPECT_EQ(choiceItems, (QStringList{"Weftlo (TGA Images)", "Weftlo (JPEG Images)"}));
    ASSERT_EQ(WindowCount(), 1);
    EXPECT_EQ(ActiveDoc()->Title(), "<Empty>");
    EXPECT_TRUE(ActiveDoc()->image.IsEmpty());
    // Room for the title and the window's buttons.
    EXPECT_GE(Frame()->MdiArea()->activeSubWindow()->width(), 240);
    EXPECT_EQ(ActiveDoc()->Template()->ResourceId(), kIdrJpegDocument);
    EXPECT_FALSE(Enabled(kIdSynthesise));
    EXPECT_FALSE(Enabled(command::kFileSaveAs));

    choice = -1;
    Trigger(command::kFileNew);
    EXPECT_EQ(WindowCount(), 1) << "cancelling the type question makes nothing";
}

TEST_F(OpenAndNew, EnablingFollowsActivationAndClosingWithoutARefreshCall) {
    ASSERT_TRUE(Start({QString::fromStdString(WriteSample("wall.tga", 9, 7))}));
    QMdiSubWindow* sampleWindow = Frame()->MdiArea()->activeSubWindow();
    choice = 0;
    Trigger(command::kFileNew);
    ASSERT_EQ(WindowCount(), 2);
    QAction* synthesise = Action(kIdSynthesise);  // read as the toolbar shows it
    EXPECT_FALSE(synthesise->isEnabled());
    Frame()->MdiArea()->setActiveSubWindow(sampleWindow);
    EXPECT_TRUE(synthesise->isEnabled());
    sampleWindow->close();
    Settle();
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_FALSE(synthesise->isEnabled()) << "the empty document is active again";
}

TEST_F(OpenAndNew, AcceleratorsReachTheirCommands) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(Action(command::kFileOpen)->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(Action(kIdSynthesise)->shortcut(), QKeySequence("Ctrl+Y"));
    EXPECT_EQ(Action(command::kFileSaveAs)->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(Action(command::kFileNew)->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(
        Action(command::kEditUndo)->shortcuts(),
        (QList<QKeySequence>{QKeySequence(Qt::ALT | Qt::Key_Backspace), QKeySequence("Ctrl+Z")}));
    EXPECT_FALSE(Enabled(command::kEditCopy)) << "edit keys have no handler";
    EXPECT_EQ(Action(kIdSynthesise)->text(), "S&ynthesise...\tCtrl+Y");
    EXPECT_EQ(Action(command::kFileOpen)->statusTip(), "Open an existing document");
    EXPECT_EQ(Action(command::kFileOpen)->toolTip(), "Open");
    EXPECT_EQ(Action(kIdSynthesise)->statusTip(), "Synthesise a new texture\tSynthesise");
    // Its prompt has no tool-tip part: hovering its button shows nothing.
    QWidget* open = Frame()->ToolBar()->widgetForAction(Action(command::kFileOpen));
    QWidget* synthesise = Frame()->ToolBar()->widgetForAction(Action(kIdSynthesise));
    QHelpEvent atSynthesise(QEvent::ToolTip, QPoint(2, 2), synthesise->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(synthesise, &atSynthesise);
    EXPECT_FALSE(QToolTip::isVisible());
    QHelpEvent atOpen(QEvent::ToolTip, QPoint(2, 2), open->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(open, &atOpen);
    EXPECT_EQ(QToolTip::text(), "Open");
    QToolTip::hideText();
}

TEST_F(RecentFiles, TheFourMostRecentSurviveARestart) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i) {
        paths.push_back(WriteSample("s" + std::to_string(i) + ".tga", 4, 4));
    }
    ASSERT_TRUE(Start());
    for (const std::string& path : paths) {
        ASSERT_NE(app->OpenDocumentFile(QString::fromStdString(path)), nullptr);
    }
    app->OpenDocumentFile(QString::fromStdString(paths[2]));  // already open: moves up
    const QStringList expected = {
        QString::fromStdString(paths[2]), QString::fromStdString(paths[4]),
        QString::fromStdString(paths[3]), QString::fromStdString(paths[1])};
    EXPECT_EQ(app->RecentFiles().Files(), expected);
    EXPECT_EQ(WindowCount(), 5) << "an open document is activated, not opened again";

    app.reset();
    Settle();
    ASSERT_TRUE(Start());
    EXPECT_EQ(app->RecentFiles().Files(), expected);
    EXPECT_EQ(framework::ProfileSettings().value("Recent File List/File1").toString(),
              expected.front());
    // The entries are commands of their own.
    EXPECT_TRUE(Enabled(command::kFileMru1 + 3));
    Trigger(command::kFileMru1 + 1);
    ASSERT_NE(ActiveDoc(), nullptr);
    EXPECT_EQ(ActiveDoc()->Title(), "s4.tga");
}

}  // namespace
}  // namespace weftloom
