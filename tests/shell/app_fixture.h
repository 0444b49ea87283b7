#pragma once

#include <QApplication>
#include <QMdiArea>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imageio/tga_writer.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
#include "shell/framework/profile.h"
#include "shell/framework/user_prompts.h"
#include "shell/main_frame.h"
#include "shell/weftloom_app.h"
#include "shell/weftloom_doc.h"
#include "shell/weftloom_view.h"
#include "tests/support/test_files.h"
#include "tests/support/test_images.h"

namespace weftloom::testing {

// Runs the application object as the program does, with scripted answers to
// every question it asks; remembers the questions.
class AppFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        // Each test starts from an empty profile.
        QCoreApplication::setOrganizationName(QString::fromLatin1(framework::kProfileOrganisation));
        QCoreApplication::setApplicationName(QStringLiteral("weftloom"));
        framework::ProfileSettings().clear();
        framework::SetMessageResponder(
            [this](const QString& text, const QString& caption, framework::MessageButtons buttons) {
                messages.push_back(text);
                captions.push_back(caption);
                buttonsShown.push_back(buttons);
                if (!answers.empty()) {
                    const framework::MessageResult answer = answers.front();
                    answers.erase(answers.begin());
                    return answer;
                }
                return buttons == framework::MessageButtons::Ok ? framework::MessageResult::Ok
                                                                : framework::MessageResult::No;
            });
        framework::SetFileResponder([this](const framework::FileRequest& request) {
            fileRequests.push_back(request);
            std::optional<framework::FileChoice> answer;
            if (!fileAnswers.empty()) {
                answer = fileAnswers.front();
                fileAnswers.erase(fileAnswers.begin());
                if (answer->filter.isEmpty()) {  // as the chooser selects it first
                    answer->filter = request.filters.value(0);
                }
            }
            return answer;
        });
        framework::SetChoiceResponder([this](const QString&, const QStringList& items) {
            choiceItems = items;
            return choice;
        });
    }

    void TearDown() override {
        app.reset();
        Settle();
        framework::SetMessageResponder({});
        framework::SetFileResponder({});
        framework::SetChoiceResponder({});
    }

    // Starts the application with the given command-line arguments.
    bool Start(const QStringList& arguments = {}) {
        app = std::make_unique<CWeftloomApp>();
        const bool started = app->InitInstance(arguments);
        Settle();
        return started;
    }

    // Lets posted events and deferred deletions run.
    static void Settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
    }

    CMainFrame* Frame() const { return app->MainFrame(); }
    QAction* Action(int id) const { return Frame()->Action(id); }

    // Triggers a command through its action, as a menu click does.
    void Trigger(int id) {
        Frame()->UpdateCommandUI();
        Action(id)->trigger();
        Settle();
    }

    int WindowCount() const { return static_cast<int>(Frame()->MdiArea()->subWindowList().size()); }

    CWeftloomDoc* ActiveDoc() const {
        return qobject_cast<CWeftloomDoc*>(Frame()->ActiveDocument());
    }

    CWeftloomView* ActiveView() const {
        return qobject_cast<CWeftloomView*>(Frame()->ActiveView());
    }

    QStringList MenuTitles() const {
        QStringList titles;
        for (QAction* action : Frame()->menuBar()->actions()) {
            titles.append(action->text());
        }
        return titles;
    }

    bool Enabled(int id) {
        Frame()->UpdateCommandUI();
        return Action(id)->isEnabled();
    }

    // The centre of a pixel of the active view's picture, in its client area.
    QPoint PixelCentre(QPoint pixel) const {
        return ActiveView()->FromPicture(QPointF(pixel.x() + 0.5, pixel.y() + 0.5)).toPoint();
    }

    // Drags with the left button over the active view from one pixel to
    // another, through the middle, holding keys.
    void DragOver(QPoint from, QPoint to, Qt::KeyboardModifiers keys = {}) {
        QWidget* client = ActiveView()->viewport();
        QTest::mousePress(client, Qt::LeftButton, keys, PixelCentre(from));
        QTest::mouseMove(client, (PixelCentre(from) + PixelCentre(to)) / 2);
        QTest::mouseMove(client, PixelCentre(to));
        QTest::mouseRelease(client, Qt::LeftButton, keys, PixelCentre(to));
        Settle();
    }

    // Writes a TGA sample of the pattern into the scratch folder.
    std::string WriteSample(const std::string& name, std::uint32_t width, std::uint32_t height) {
        const std::string path = (scratch / name).string();
        EXPECT_TRUE(WriteTga(PatternImage(width, height, 3), path));
        return path;
    }

    test::ScratchFolder scratch;
    std::unique_ptr<CWeftloomApp> app;
    std::vector<QString> messages;
    std::vector<QString> captions;
    std::vector<framework::MessageButtons> buttonsShown;
    std::vector<framework::MessageResult> answers;
    std::vector<framework::FileRequest> fileRequests;
    std::vector<framework::FileChoice> fileAnswers;  // without a filter: the first
    QStringList choiceItems;
    int choice = 0;
};

}  // namespace weftloom::testing
