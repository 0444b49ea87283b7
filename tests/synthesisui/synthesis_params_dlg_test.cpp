#include "synthesisui/synthesis_params_dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

#include "shell/framework/dialog_template.h"
#include "shell/framework/message_box.h"

namespace weftloom {
namespace {

using framework::ControlById;
using framework::MessageButtons;
using framework::MessageResult;

// The dialog as the Synthesise command fills it for a 64 x 48 sample with the
// settings the application starts with.
void FillAsAtStart(CSynthesisParamsDlg& dialog) {
    dialog.inputFile = QStringLiteral("bricks_64_a.tga");
    dialog.outputWidth = 64;
    dialog.outputHeight = 48;
    dialog.settings = SynthesisSettings{};
}

// Everything the caller hands in and reads back.
struct Members {
    std::int32_t outputHeight;
    std::int32_t outputWidth;
    QString inputFile;
    SynthesisSettings settings;

    bool operator==(const Members&) const = default;
};

Members MembersOf(const CSynthesisParamsDlg& dialog) {
    return {dialog.outputHeight, dialog.outputWidth, dialog.inputFile, dialog.settings};
}

class SynthesisParamsDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        framework::SetMessageResponder([this](const QString& text, const QString&, MessageButtons) {
            messages.push_back(text);
            return MessageResult::Ok;
        });
        FillAsAtStart(dialog);
    }
    void TearDown() override { framework::SetMessageResponder({}); }

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(ControlById(dialog, id)); }
    QComboBox* List(int id) const { return qobject_cast<QComboBox*>(ControlById(dialog, id)); }
    QRadioButton* Radio(int id) const {
        return qobject_cast<QRadioButton*>(ControlById(dialog, id));
    }
    QLabel* Label(int id) const { return qobject_cast<QLabel*>(ControlById(dialog, id)); }

    void Type(int id, const QString& text) const {
        Edit(id)->selectAll();
        QTest::keyClick(Edit(id), Qt::Key_Delete);
        QTest::keyClicks(Edit(id), text);
    }
    void Click(int id) const { QTest::mouseClick(ControlById(dialog, id), Qt::LeftButton); }

    // Enabled state of the pixel-count, percent and minimum-count edits.
    std::vector<bool> Enabling() const {
        return {Edit(1012)->isEnabled(), Edit(1019)->isEnabled(), Edit(1013)->isEnabled()};
    }

    CSynthesisParamsDlg dialog;
    std::vector<QString> messages;
};

bool NamesTheSizeRange(const QString& message) {
    return message.contains("32") && message.contains("999999");
}

TEST_F(SynthesisParamsDlgTest, OpensWithTheGivenSettings) {
    dialog.open();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.windowTitle(), "Synthesis Parameters");
    EXPECT_EQ(Label(1000)->text(), "bricks_64_a.tga");
    EXPECT_EQ(Edit(1001)->text(), "64");
    EXPECT_EQ(Edit(1002)->text(), "48");
    for (int id : {1008, 1009, 1010}) {
        EXPECT_EQ(List(id)->currentText(), "High") << id;
    }
    EXPECT_TRUE(Radio(1015)->isChecked());
    EXPECT_FALSE(Radio(1014)->isChecked() || Radio(1016)->isChecked());
    EXPECT_TRUE(Radio(1020)->isChecked());
    EXPECT_FALSE(Radio(1017)->isChecked() || Radio(1018)->isChecked());
    EXPECT_EQ(Edit(1012)->text(), "2500");
    EXPECT_EQ(Edit(1019)->text(), "10");
    EXPECT_EQ(Edit(1013)->text(), "2500");
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
}

TEST_F(SynthesisParamsDlgTest, ListsOfferTheirChoicesLevelThreeWithoutLow) {
    const QStringList three = {"High", "Medium", "Low"};
    for (int id : {1008, 1009}) {
        QStringList items;
        for (int i = 0; i < List(id)->count(); ++i) {
            items << List(id)->itemText(i);
        }
        EXPECT_EQ(items, three) << id;
    }
    ASSERT_EQ(List(1010)->count(), 2);
    EXPECT_EQ(List(1010)->itemText(0), "High");
    EXPECT_EQ(List(1010)->itemText(1), "Medium");

    // "Low" remembered for level 3 has no entry: no choice shows, and no
    // choice is what comes back.
    dialog.settings.levelAccuracy[1] = Accuracy::Low;
    dialog.settings.levelAccuracy[2] = Accuracy::Low;
    dialog.open();
    EXPECT_EQ(List(1009)->currentText(), "Low");
    EXPECT_EQ(List(1010)->currentIndex(), -1);
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings.levelAccuracy[1], Accuracy::Low);
    EXPECT_EQ(dialog.settings.levelAccuracy[2], static_cast<Accuracy>(-1));
}

TEST_F(SynthesisParamsDlgTest, OpeningEnablesWhatTheGivenModeUses) {
    dialog.settings.subsamplingMode = SubsamplingMode::Percentage;
    dialog.open();
    EXPECT_TRUE(Radio(1018)->isChecked());
    EXPECT_EQ(Enabling(), (std::vector<bool>{false, true, true}));
    dialog.reject();

    dialog.settings.subsamplingMode = SubsamplingMode::Disabled;
    dialog.open();
    EXPECT_TRUE(Radio(1017)->isChecked());
    EXPECT_EQ(Enabling(), (std::vector<bool>{false, false, false}));
    dialog.reject();

    // A mode the group does not have checks nothing and enables nothing.
    dialog.settings.subsamplingMode = static_cast<SubsamplingMode>(-1);
    dialog.settings.metric = static_cast<DistanceMetric>(7);
    dialog.open();
    EXPECT_FALSE(Radio(1017)->isChecked() || Radio(1018)->isChecked() || Radio(1020)->isChecked());
    EXPECT_EQ(Enabling(), (std::vector<bool>{false, false, false}));
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings.subsamplingMode, static_cast<SubsamplingMode>(-1));
    EXPECT_EQ(dialog.settings.metric, static_cast<DistanceMetric>(-1));
}

TEST_F(SynthesisParamsDlgTest, SubsamplingClicksEnableTheChosenOptionsEdits) {
    dialog.open();
    Click(1018);
    EXPECT_EQ(Enabling(), (std::vector<bool>{false, true, true}));
    Click(1017);
    EXPECT_EQ(Enabling(), (std::vector<bool>{false, false, false}));
    Click(1020);
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
    // Clicking the option already chosen changes nothing.
    Click(1020);
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
    // The metric buttons are not subsampling options.
    Click(1014);
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SynthesisParamsDlgTest, OkStoresWhatWasEntered) {
    dialog.open();
    Type(1001, "300");
    Type(1002, "200");
    List(1008)->setCurrentIndex(2);
    QTest::keyClick(List(1009), Qt::Key_Down);  // "Medium"
    List(1010)->setCurrentIndex(1);
    Click(1016);
    Click(1018);
    Type(1019, "25");
    Type(1013, "0");
    // The pixel count keeps what it held, though disabled now.
    Click(1);

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(messages.empty());
    SynthesisSettings entered;
    entered.levelAccuracy = {Accuracy::Low, Accuracy::Medium, Accuracy::Medium};
    entered.subsamplingMode = SubsamplingMode::Percentage;
    entered.subsamplePercent = 25;
    entered.minimumPixelCount = 0;
    entered.metric = DistanceMetric::Linf;
    EXPECT_EQ(MembersOf(dialog), (Members{200, 300, "bricks_64_a.tga", entered}));
}

TEST_F(SynthesisParamsDlgTest, SubsamplingNumbersHaveNoRange) {
    dialog.open();
    Type(1012, "0");
    Click(1018);
    Type(1019, "999999999");
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(dialog.settings.subsampleCount, 0);
    EXPECT_EQ(dialog.settings.subsamplePercent, 999999999u);
}

TEST_F(SynthesisParamsDlgTest, CancelLeavesTheMembersAsGiven) {
    const Members given = MembersOf(dialog);
    dialog.open();
    Type(1001, "512");
    Type(1002, "256");
    List(1008)->setCurrentIndex(1);
    Click(1014);
    // A subsampling click reads everything back into the members...
    Click(1017);
    Type(1012, "7");
    Click(2);
    // ...yet Cancel hands back what it was given.
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(MembersOf(dialog), given);

    // Escape is Cancel too.
    dialog.open();
    Click(1018);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(MembersOf(dialog), given);
}

TEST_F(SynthesisParamsDlgTest, EachOpeningShowsTheMembersAfresh) {
    dialog.open();
    Type(1001, "512");
    Click(1017);
    Click(2);

    dialog.outputWidth = 128;
    dialog.inputFile = QStringLiteral("Synthesis 3");
    dialog.open();
    EXPECT_EQ(Edit(1001)->text(), "128");
    EXPECT_EQ(Label(1000)->text(), "Synthesis 3");
    EXPECT_TRUE(Radio(1020)->isChecked());
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
}

TEST_F(SynthesisParamsDlgTest, DoModalAnswersOneForOkAndTwoForCancel) {
    QTimer::singleShot(0, &dialog, [this] {
        Type(1001, "100");
        Click(1);
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(dialog.outputWidth, 100);

    QTimer::singleShot(0, &dialog, [this] {
        Type(1001, "90");
        Click(2);
    });
    EXPECT_EQ(dialog.DoModal(), 2);
    EXPECT_EQ(dialog.outputWidth, 100);

    // OK with a bad field does not end the modal loop; a fix then does.
    QTimer::singleShot(0, &dialog, [this] {
        Type(1002, "3");
        Click(1);
        if (dialog.isVisible()) {
            Type(1002, "33");
            Click(1);
        }
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(dialog.outputHeight, 33);
}

TEST_F(SynthesisParamsDlgTest, SmallSampleIsReportedAtOnceAndRefusedUntilBothSidesFit) {
    dialog.outputWidth = 20;
    dialog.outputHeight = 20;
    dialog.open();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(NamesTheSizeRange(messages[0])) << messages[0].toStdString();
    EXPECT_EQ(dialog.focusWidget(), Edit(1002));
    EXPECT_EQ(Edit(1001)->text(), "20");
    EXPECT_EQ(Edit(1002)->text(), "20");
    // The check stopped before the mode was read; the given mode decides.
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));

    Click(1);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(NamesTheSizeRange(messages[1]));

    Type(1002, "32");
    Click(1);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_TRUE(NamesTheSizeRange(messages[2]));
    EXPECT_EQ(dialog.focusWidget(), Edit(1001));

    // One past the top of the range is refused as well; the top itself is not.
    Type(1001, "1000000");
    Click(1);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_TRUE(NamesTheSizeRange(messages[3]));

    Type(1001, "999999");
    Click(1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(messages.size(), 4u);
    EXPECT_EQ(dialog.outputHeight, 32);
    EXPECT_EQ(dialog.outputWidth, 999999);
}

TEST_F(SynthesisParamsDlgTest, HeightIsReportedBeforeWidthAndOneMessageAtATime) {
    dialog.open();
    Type(1001, "10");
    Type(1002, "10");
    Edit(1013)->clear();
    Click(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(NamesTheSizeRange(messages[0]));
    EXPECT_EQ(dialog.focusWidget(), Edit(1002));
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(SynthesisParamsDlgTest, SubsamplingClickWithABadSizeKeepsTheEnabling) {
    dialog.open();
    Type(1002, "31");
    Click(1018);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(NamesTheSizeRange(messages[0]));
    // The button shows the new choice but the exchange stopped at the height,
    // so the edits still follow the fixed-count mode.
    EXPECT_TRUE(Radio(1018)->isChecked());
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(dialog.settings.subsamplingMode, SubsamplingMode::FixedCount);

    Type(1002, "64");
    Click(1018);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(Enabling(), (std::vector<bool>{false, true, true}));
}

TEST_F(SynthesisParamsDlgTest, NumberThatIsNoIntegerIsRefusedEvenWhenDisabled) {
    dialog.open();
    // More than 32 bits hold is no integer either, rather than a wrapped one.
    Type(1012, "4294967296");
    Click(1);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("integer")) << messages[0].toStdString();
    EXPECT_EQ(dialog.settings.subsampleCount, 2500);
    Type(1012, "2500");
    messages.clear();

    ASSERT_FALSE(Edit(1013)->isEnabled());
    Edit(1013)->clear();
    Click(1);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("integer")) << messages[0].toStdString();
    EXPECT_FALSE(NamesTheSizeRange(messages[0]));

    // Emptied while enabled: switching away is refused at that field, so it
    // stays enabled to be put right.
    Edit(1013)->setText("2500");
    Type(1012, "");
    Click(1017);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].contains("integer"));
    EXPECT_EQ(dialog.focusWidget(), Edit(1012));
    EXPECT_TRUE(Edit(1012)->isEnabled());
    Type(1012, "400");
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings.subsamplingMode, SubsamplingMode::Disabled);
    EXPECT_EQ(dialog.settings.subsampleCount, 400);
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(SynthesisParamsDlgTest, ShowsItsCaptionsAndMnemonics) {
    const std::vector<std::pair<int, QString>> buttons = {
        {1017, "&Disable"},
        {1018, "S&ubsample to"},
        {1020, "Su&bsample to"},
        {1014, "L&1 : sum of abs"},
        {1015, "L&2 : Euclidian"},
        {1016, "L&inf : largest abs"},
        {1, "OK"},
        {2, "Cancel"},
    };
    for (const auto& [id, text] : buttons) {
        auto* button = qobject_cast<QAbstractButton*>(ControlById(dialog, id));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), text) << id;
    }
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        labels << label->text();
    }
    for (const char* text : {"Input file :", "&Width", "&Height", "%",
                             "Minimum pi&xel count :", "pixels", "Level 1", "Level 2", "Level 3",
                             "Lower accuracy is faster, but may miss essential texture features"}) {
        EXPECT_TRUE(labels.contains(text)) << text;
    }

    // Alt+X reaches the minimum count, Alt+B chooses the fixed count.
    dialog.settings.subsamplingMode = SubsamplingMode::Percentage;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key_X, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), Edit(1013));
    QTest::keyClick(&dialog, Qt::Key_B, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Edit(1012)->isEnabled(); }));
    EXPECT_TRUE(Radio(1020)->isChecked());
    dialog.reject();
}

}  // namespace
}  // namespace weftloom
