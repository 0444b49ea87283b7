#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>

#include <map>

#include "shell/framework/commands.h"
#include "shell/framework/profile.h"
#include "shell/resources/icons.h"
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
    EXPECT_EQ(MenuTitles(), (QStringList{"&File", "&Edit", "&View", "&Help"}));
    EXPECT_TRUE(Frame()->isVisible());
    // Toolbar 128: Open, Synthesise, Save As, the selection tools, About; the
    // document commands are off without a document.
    QStringList buttons;
    std::vector<QImage> pictures;
    for (const QAction* button : Frame()->ToolBar()->actions()) {
        buttons << (button->isSeparator() ? "-" : button->objectName());
        if (!button->isSeparator()) {
            pictures.push_back(button->icon().pixmap(16, 15).toImage());
            EXPECT_EQ(pictures.back().size(), QSize(16, 15));
        }
    }
    EXPECT_EQ(buttons, (QStringList{"57601", "32771", "57604", "-", "32781", "32782", "32783", "-",
                                    "57664"}));
    const std::size_t buttonCount = pictures.size();
    for (const QIcon& icon : {Frame()->windowIcon(), DocumentIcon()}) {
        for (int size : {16, 32}) {
            EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
            pictures.push_back(icon.pixmap(size).toImage());
        }
    }
    // Each picture is drawn (more than a speck; buttons on a clear background)
    // and tells apart from the others.
    for (std::size_t a = 0; a < pictures.size(); ++a) {
        const QImage alpha = pictures[a].convertToFormat(QImage::Format_Alpha8);
        const auto opaque = std::count(alpha.bits(), alpha.bits() + alpha.sizeInBytes(), 255);
        EXPECT_GT(opaque, alpha.width() * alpha.height() / 6) << a;
        EXPECT_TRUE(a >= buttonCount || opaque < alpha.width() * alpha.height()) << a;
        for (std::size_t b = 0; b < a; ++b) {
            EXPECT_NE(pictures[a], pictures[b]) << a << " and " << b;
        }
    }
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
    Frame()->MdiArea()->activeSubWindow()->showMaximized();
    EXPECT_EQ(Frame()->windowTitle(), "WeftLoom - [wall.tga]") << "the name once";
    Frame()->MdiArea()->activeSubWindow()->showNormal();
    EXPECT_EQ(Frame()->windowTitle(), "WeftLoom - wall.tga");
    EXPECT_EQ(MenuTitles(), (QStringList{"&File", "&Edit", "&View", "&Window", "&Help"}));
    EXPECT_EQ(ActiveDoc()->image.width, 9u);
    EXPECT_TRUE(Enabled(command::kFileSaveAs));
    // Without the synthesis part the command is there, says so and makes nothing.
    ASSERT_TRUE(Enabled(kIdSynthesise));
    Trigger(kIdSynthesise);
    EXPECT_EQ(messages, (std::vector<QString>{"Synthesis is not available in this build."}));
    EXPECT_EQ(WindowCount(), 2);
}

// Files that cannot be read, named on the command line or dropped together,
// are named in one box in front of the main window, each with its reason
// under the fixed line; the others open.
TEST_F(StartUp, FilesThatCannotBeReadAtOnceAreNamedInOneBox) {
    test::WriteBytes(scratch / "broken.tga", {1, 2, 3});
    WriteSample("picture.bmp", 4, 4);
    QStringList files;
    for (const char* name : {"broken.tga", "good.tga", "picture.bmp", "none.jpg"}) {
        files << QString::fromStdString((scratch / name).string());
    }
    WriteSample("good.tga", 4, 4);
    bool frameShownWhenAsked = false;
    framework::SetMessageResponder(
        [&](const QString& text, const QString&, framework::MessageButtons) {
            messages.push_back(text);
            frameShownWhenAsked = Frame() != nullptr && Frame()->isVisible();
            return framework::MessageResult::Ok;
        });
    for (const bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "command line");
        messages.clear();
        ASSERT_TRUE(Start(dropped ? QStringList{} : files));
        if (dropped) {
            QMimeData data;
            QList<QUrl> urls;
            for (const QString& file : files) {
                urls << QUrl::fromLocalFile(file);
            }
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(Frame(), &enter);
            ASSERT_TRUE(enter.isAccepted());
            QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(Frame(), &drop);
            Settle();
        }
        EXPECT_EQ(WindowCount(), 1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(frameShownWhenAsked);
        const QStringList parts = messages[0].split("\n\n");
        ASSERT_EQ(parts.size(), 4) << messages[0].toStdString();
        EXPECT_EQ(parts[0], "An error occured while reading the file");
        for (const int i : {0, 2, 3}) {
            EXPECT_TRUE(parts[i < 2 ? 1 : i].startsWith(files[i] + ": "))
                << messages[0].toStdString();
        }
    }
}

// Open offers the readers' endings; a file of either opens in a window of its
// own, a broken, unknown or missing one shows the message, opens nothing and
// is not remembered.
TEST_F(OpenAndNew, OpenReadsEitherCodecAndReportsWhatItCannot) {
    ASSERT_TRUE(Start());
    WriteSample("UPPER.TGA", 6, 4);
    std::filesystem::copy_file(test::DataPath("jpeg/testorig.jpg"), scratch / "photo.jpeg");
    test::WriteBytes(scratch / "cut.tga", {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 4, 0, 24, 0});
    WriteSample("picture.bmp", 4, 4);
    std::filesystem::copy_file(test::DataPath("png/rgba16_interlaced.png"), scratch / "alpha.png");
    std::filesystem::copy_file(test::DataPath("png/rgb8.png"), scratch / "named-wrong.tga");
    // Failures (width 0) give the reader's reason under the fixed line.
    const std::tuple<const char*, std::uint32_t, const char*> files[] = {
        {"UPPER.TGA", 6, ""},
        {"photo.jpeg", 227, ""},
        {"alpha.png", 7, ""},
        {"named-wrong.tga", 17, ""},
        {"cut.tga", 0, "TGA"},
        {"picture.bmp", 0, "Unknown image file type"},
        {"none.jpg", 0, "No such file or directory"}};
    for (const auto& [name, width, reason] : files) {
        SCOPED_TRACE(name);
        messages.clear();
        const int windows = WindowCount();
        fileAnswers.push_back(QString::fromStdString((scratch / name).string()));
        Trigger(command::kFileOpen);
        if (width == 0) {
            ASSERT_EQ(messages.size(), 1u);
            const QStringList parts = messages[0].split("\n\n");
            ASSERT_EQ(parts.size(), 2) << messages[0].toStdString();
            EXPECT_EQ(parts[0], "An error occured while reading the file");
            EXPECT_TRUE(
                parts[1].startsWith(QString::fromStdString((scratch / name).string()) + ": "));
            EXPECT_TRUE(parts[1].contains(reason)) << parts[1].toStdString();
            EXPECT_EQ(WindowCount(), windows);
            continue;
        }
        EXPECT_TRUE(messages.empty());
        ASSERT_EQ(WindowCount(), windows + 1);
        EXPECT_EQ(ActiveDoc()->Title().toStdString(), name);
        EXPECT_EQ(ActiveDoc()->image.width, width);
        EXPECT_FALSE(ActiveDoc()->IsModified());
    }
    EXPECT_EQ(app->RecentFiles().Files().size(), 4);
    EXPECT_EQ(fileRequests.front().filters,
              (QStringList{"All images (*.tga *.jpg *.jpeg *.png)", "TGA Images (*.tga)",
                           "JPEG Images (*.jpg *.jpeg)", "PNG Images (*.png)", "All Files (*)"}));
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

TEST_F(OpenAndNew, AcceleratorsAndPromptsReachTheirCommands) {
    ASSERT_TRUE(Start());
    const std::tuple<int, const char*, const char*> keys[] = {
        {command::kFileOpen, "Ctrl+O", "Open an existing document"},
        {kIdSynthesise, "Ctrl+Y", "Synthesise a new texture\tSynthesise"},
        {command::kFileSaveAs, "Ctrl+S", nullptr},
        {command::kFileNew, "Ctrl+N", nullptr},
        {command::kEditUndo, "Alt+Backspace; Ctrl+Z", nullptr},
        {command::kEditCopy, "Ctrl+C; Ctrl+Ins",
         "Copy the picture, or its selected part, to the clipboard"},
        {command::kEditPaste, "Ctrl+V; Shift+Ins", nullptr},
        {command::kAppExit, "Ctrl+Q", nullptr},
        {kIdSelectAll, "Ctrl+A", nullptr},
        {kIdSelectNone, "Ctrl+Shift+A", nullptr},
        {kIdSelectInvert, "Ctrl+I", nullptr},
        {kIdFillSelection, "Ctrl+Shift+F", nullptr}};
    for (const auto& [id, shortcuts, prompt] : keys) {
        EXPECT_EQ(QKeySequence::listToString(Action(id)->shortcuts()), shortcuts) << id;
        if (prompt != nullptr) {
            EXPECT_EQ(Action(id)->statusTip(), prompt);
        }
    }
    // No key does two things: each belongs to one command.
    std::map<QString, QString> owners;
    for (QAction* action : Frame()->findChildren<QAction*>()) {
        for (const QKeySequence& key : action->shortcuts()) {
            const auto [owner, first] = owners.emplace(key.toString(), action->objectName());
            EXPECT_TRUE(first || owner->second == action->objectName())
                << key.toString().toStdString() << " twice";
        }
    }
    EXPECT_FALSE(Enabled(command::kEditCopy)) << "no picture to copy";
    // Synthesise's prompt has no tool-tip part: hovering its button shows nothing.
    for (const auto& [id, tip] :
         {std::pair{kIdSynthesise, ""}, std::pair{command::kFileOpen, "Open"}}) {
        QWidget* button = Frame()->ToolBar()->widgetForAction(Action(id));
        QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(button, &hover);
        EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : QString(), tip);
    }
    QToolTip::hideText();

    // Help > About: title, version, licence, Qt's version and picture, each
    // text whole; Enter closes it.
    QStringList texts;
    int pictures = 0;
    QTimer::singleShot(0, [&] {
        QWidget* about = QApplication::activeModalWidget();
        ASSERT_NE(about, nullptr);
        texts << about->windowTitle();
        for (const QLabel* label : about->findChildren<QLabel*>()) {
            texts << label->text();
            pictures += label->pixmap().isNull() ? 0 : 1;
            EXPECT_LE(label->heightForWidth(label->width()), label->height())
                << texts.back().toStdString();
            EXPECT_LE(label->geometry().right(), about->width());
        }
        QTest::keyClick(about, Qt::Key_Return);
    });
    Trigger(command::kAppAbout);
    const QString all = texts.join('|');
    EXPECT_TRUE(texts.contains("About WeftLoom")) << all.toStdString();
    EXPECT_TRUE(all.contains(QRegularExpression("\\|WeftLoom Version [0-9]+\\.[0-9]+")));
    EXPECT_TRUE(all.contains("All rights reserved"));
    EXPECT_TRUE(texts.contains(QString("Qt version ") + qVersion()));
    EXPECT_EQ(pictures, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "Enter closed it";

    // Ctrl+Q ends the application as Exit does.
    QApplication::setActiveWindow(Frame());
    QTest::keyClick(Frame(), Qt::Key_Q, Qt::ControlModifier);
    Settle();
    EXPECT_FALSE(Frame()->isVisible());
}

// Copy puts the active picture on the clipboard, and Paste as New makes a new
// document of it, numbered "Pasted N", with the same pixels: alpha kept, an
// opaque picture with three bytes per pixel. It can be synthesised from and
// asks to be saved, as it is in no file.
TEST_F(OpenAndNew, CopyAndPasteAsNewKeepThePixels) {
    std::filesystem::copy_file(test::DataPath("png/rgba16_interlaced.png"), scratch / "alpha.png");
    ASSERT_TRUE(Start({QString::fromStdString(WriteSample("wall.tga", 9, 7)),
                       QString::fromStdString((scratch / "alpha.png").string())}));
    QGuiApplication::clipboard()->clear();
    EXPECT_FALSE(Enabled(command::kEditPaste)) << "nothing to paste";
    int number = 0;
    for (QMdiSubWindow* window : Frame()->MdiArea()->subWindowList()) {
        Frame()->MdiArea()->setActiveSubWindow(window);
        const Image copied = ActiveDoc()->image;
        Trigger(command::kEditCopy);
        ASSERT_TRUE(Enabled(command::kEditPaste));
        Trigger(command::kEditPaste);
        ASSERT_NE(ActiveDoc()->image.pixels.data(), copied.pixels.data());
        EXPECT_EQ(ActiveDoc()->image.bytesPerPixel, copied.bytesPerPixel);
        EXPECT_EQ(ActiveDoc()->image.width, copied.width);
        EXPECT_EQ(ActiveDoc()->image.pixels, copied.pixels);
        const QStringList title = ActiveDoc()->Title().split(' ');
        ASSERT_EQ(title.size(), 2);
        EXPECT_EQ(title[0], "Pasted");
        EXPECT_TRUE(number == 0 || title[1].toInt() == number + 1) << "numbered in turn";
        number = title[1].toInt();
        EXPECT_TRUE(ActiveDoc()->IsModified());
        EXPECT_TRUE(Enabled(kIdSynthesise));
    }
    EXPECT_EQ(WindowCount(), 4);
    EXPECT_EQ(ActiveDoc()->image.bytesPerPixel, 4u) << "the picture with alpha came last";
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
    // The main window's place is remembered too.
    const QRect place(40, 50, 700, 500);
    Frame()->setGeometry(place);
    ASSERT_TRUE(Frame()->close());

    app.reset();
    Settle();
    ASSERT_TRUE(Start());
    EXPECT_EQ(Frame()->geometry(), place);
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
