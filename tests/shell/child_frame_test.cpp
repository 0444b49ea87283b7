#include "shell/child_frame.h"

#include "shell/framework/commands.h"
#include "tests/shell/app_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;
using FrameClose = testing::AppFixture;

// Stands in for a running synthesis: the frame only tests the link.
CSynthesisProgressDlg* FakeDialog() {
    static int marker;
    return reinterpret_cast<CSynthesisProgressDlg*>(&marker);
}

// Closing a window asks about a running synthesis first, otherwise only about
// unsaved changes.
TEST_F(FrameClose, ASynthesisTargetOrAModifiedDocumentAsksBeforeClosing) {
    const std::string sample = WriteSample("wall.tga", 8, 8);
    ASSERT_TRUE(Start({QString::fromStdString(sample)}));
    auto closeActive = [this](framework::MessageResult answer) {
        messages.clear();
        answers = {answer};
        Frame()->MdiArea()->activeSubWindow()->close();
        Settle();
    };
    CWeftloomDoc* doc = ActiveDoc();
    doc->progressDialog = FakeDialog();
    closeActive(framework::MessageResult::No);
    EXPECT_EQ(messages, (std::vector<QString>{"Abort synthesis ?"}));
    EXPECT_EQ(captions, (std::vector<QString>{""}));
    EXPECT_EQ(WindowCount(), 1) << "No keeps the window";
    EXPECT_EQ(doc->progressDialog, FakeDialog());
    // Abort answered Yes is met with a real run in the synthesis tests.
    doc->progressDialog = nullptr;
    doc->SetModifiedFlag(true);
    closeActive(framework::MessageResult::Cancel);
    EXPECT_EQ(messages, (std::vector<QString>{"Save changes to wall.tga?"}));
    EXPECT_EQ(WindowCount(), 1) << "Cancel keeps it";
    ActiveDoc()->SetModifiedFlag(false);
    closeActive(framework::MessageResult::Cancel);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(WindowCount(), 0);
}

TEST_F(FrameClose, SecondWindowsAreNumberedAndCloseAlone) {
    const std::string sample = WriteSample("wall.tga", 8, 8);
    ASSERT_TRUE(Start({QString::fromStdString(sample)}));
    Trigger(command::kWindowNew);
    ASSERT_EQ(WindowCount(), 2);
    const auto windows = Frame()->MdiArea()->subWindowList();
    EXPECT_EQ(windows[0]->windowTitle(), "wall.tga:1");
    EXPECT_EQ(windows[1]->windowTitle(), "wall.tga:2");
    windows[1]->close();
    Settle();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_EQ(windows[0]->windowTitle(), "wall.tga");
}

}  // namespace
}  // namespace weftloom
