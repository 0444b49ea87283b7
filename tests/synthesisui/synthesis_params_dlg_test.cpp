#include "synthesisui/synthesis_params_dlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

#include "shell/framework/dialog_template.h"
#include "shell/framework/message_box.h"

namespace weftloom {
namespace {

using framework::ControlById;
using framework::MessageButtons;
using framework::MessageResult;

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
        // As the Synthesise command fills it for a 64 x 48 sample at start.
        dialog.inputFile = QStringLiteral("bricks_64_a.tga");
        dialog.outputWidth = 64;
        dialog.outputHeight = 48;
    }
    void TearDown() override { framework::SetMessageResponder({}); }

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(ControlById(dialog, id)); }
    QComboBox* List(int id) const { return qobject_cast<QComboBox*>(ControlById(dialog, id)); }
    QRadioButton* Radio(int id) const {
        return qobject_cast<QRadioButton*>(ControlById(dialog, id));
    }

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

// What was given is shown, and OK without a change hands it back; but level 3
// has no Low, so a Low given there is shown and handed back as no choice.
TEST_F(SynthesisParamsDlgTest, OkWithoutAChangeHandsBackWhatWasGivenButALevelThreeLow) {
    ASSERT_EQ(List(1009)->count(), 3);
    ASSERT_EQ(List(1010)->count(), 2);
    EXPECT_EQ(List(1010)->itemText(1), "Medium");
    dialog.settings.levelAccuracy = {Accuracy::Medium, Accuracy::Low, Accuracy::Low};
    dialog.settings.subsampleCount = 123;
    dialog.settings.subsamplePercent = 45;
    dialog.settings.minimumPixelCount = 6;
    Members given = MembersOf(dialog);
    dialog.open();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(qobject_cast<QLabel*>(ControlById(dialog, 1000))->text(), "bricks_64_a.tga");
    EXPECT_EQ(Edit(1001)->text(), "64");
    EXPECT_EQ(Edit(1012)->text(), "123");
    EXPECT_EQ(List(1009)->currentText(), "Low");
    EXPECT_EQ(List(1010)->currentIndex(), -1);
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    given.settings.levelAccuracy[2] = static_cast<Accuracy>(-1);
    EXPECT_EQ(MembersOf(dialog), given);
}

// Opening with a mode, or clicking one, enables the edits that mode uses; a
// mode the group does not have checks and enables nothing.
TEST_F(SynthesisParamsDlgTest, TheSubsamplingModeEnablesItsEdits) {
    const std::pair<SubsamplingMode, std::vector<bool>> opened[] = {
        {SubsamplingMode::Percentage, {false, true, true}},
        {SubsamplingMode::Disabled, {false, false, false}},
        {static_cast<SubsamplingMode>(-1), {false, false, false}}};
    for (const auto& [mode, enabling] : opened) {
        dialog.settings.subsamplingMode = mode;
        dialog.open();
        EXPECT_EQ(Enabling(), enabling) << static_cast<int>(mode);
        dialog.reject();
    }
    dialog.settings.metric = static_cast<DistanceMetric>(7);
    dialog.open();
    EXPECT_FALSE(Radio(1017)->isChecked() || Radio(1018)->isChecked() || Radio(1020)->isChecked());
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings.subsamplingMode, static_cast<SubsamplingMode>(-1));
    EXPECT_EQ(dialog.settings.metric, static_cast<DistanceMetric>(-1));

    // Clicks: the chosen option twice changes nothing; a metric is no option.
    dialog.open();
    const std::pair<int, std::vector<bool>> clicks[] = {{1018, {false, true, true}},
                                                        {1017, {false, false, false}},
                                                        {1020, {true, false, false}},
                                                        {1020, {true, false, false}},
                                                        {1014, {true, false, false}}};
    for (const auto& [id, enabling] : clicks) {
        Click(id);
        EXPECT_EQ(Enabling(), enabling) << id;
    }
    EXPECT_TRUE(messages.empty());
}

// The search list offers both searches; the coherent one has no subsampling,
// so the whole group goes grey while it is chosen and comes back as it was.
TEST_F(SynthesisParamsDlgTest, TheSearchChoiceAndTheSubsamplingGroup) {
    ASSERT_EQ(List(1022)->count(), 2);
    EXPECT_EQ(List(1022)->itemText(0), "Exact");
    EXPECT_EQ(List(1022)->itemText(1), "Coherent (fast)");
    auto groupEnabled = [this] {
        return std::vector<bool>{Radio(1017)->isEnabled(), Radio(1018)->isEnabled(),
                                 Radio(1020)->isEnabled()};
    };
    const std::vector<bool> none = {false, false, false};
    const std::vector<bool> all = {true, true, true};

    dialog.settings.subsamplingMode = SubsamplingMode::Percentage;
    dialog.settings.searchMethod = SearchMethod::Coherent;
    dialog.open();
    EXPECT_EQ(List(1022)->currentText(), "Coherent (fast)");
    EXPECT_EQ(groupEnabled(), none);
    EXPECT_EQ(Enabling(), none);

    // Chosen from the keyboard, as a user would.
    List(1022)->setFocus();
    QTest::keyClick(List(1022), Qt::Key_Up);
    EXPECT_EQ(List(1022)->currentIndex(), 0);
    EXPECT_EQ(groupEnabled(), all);
    EXPECT_EQ(Enabling(), (std::vector<bool>{false, true, true}));
    Click(1020);
    QTest::keyClick(List(1022), Qt::Key_Down);
    EXPECT_EQ(groupEnabled(), none);
    EXPECT_EQ(Enabling(), none);
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings.searchMethod, SearchMethod::Coherent);
    EXPECT_EQ(dialog.settings.subsamplingMode, SubsamplingMode::FixedCount)
        << "the subsampling chosen before stays for the exact search";
    EXPECT_TRUE(messages.empty());

    // Cancel hands back the search it was given.
    dialog.settings.searchMethod = SearchMethod::Exact;
    dialog.open();
    EXPECT_EQ(groupEnabled(), all);
    QTest::keyClick(List(1022), Qt::Key_Down);
    Click(2);
    EXPECT_EQ(dialog.settings.searchMethod, SearchMethod::Exact);
}

TEST_F(SynthesisParamsDlgTest, OkStoresWhatWasEnteredAndSubsamplingNumbersHaveNoRange) {
    dialog.open();
    Type(1001, "300");
    Type(1002, "200");
    List(1008)->setCurrentIndex(2);
    QTest::keyClick(List(1009), Qt::Key_Down);  // "Medium"
    List(1010)->setCurrentIndex(1);
    Click(1016);
    Type(1012, "0");  // the pixel count keeps what it held, though disabled next
    Click(1018);
    Type(1019, "999999999");
    Type(1013, "0");
    EXPECT_EQ(Edit(1021)->text(), "1") << "the seed shows as given";
    // A seed past 32 bits is refused at its field, naming the range.
    Type(1021, "4294967296");
    Click(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains("4294967295")) << messages[0].toStdString();
    EXPECT_EQ(dialog.focusWidget(), Edit(1021));
    messages.clear();
    Type(1021, "4294967295");
    Click(1);

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(messages.empty());
    SynthesisSettings entered;
    entered.levelAccuracy = {Accuracy::Low, Accuracy::Medium, Accuracy::Medium};
    entered.subsamplingMode = SubsamplingMode::Percentage;
    entered.subsampleCount = 0;
    entered.subsamplePercent = 999999999u;
    entered.minimumPixelCount = 0;
    entered.metric = DistanceMetric::Linf;
    entered.randomSeed = 4294967295u;
    EXPECT_EQ(MembersOf(dialog), (Members{200, 300, "bricks_64_a.tga", entered}));
}

TEST_F(SynthesisParamsDlgTest, CancelLeavesTheMembersAsGivenAndOpeningShowsThemAfresh) {
    const Members given = MembersOf(dialog);
    dialog.open();
    Type(1001, "512");
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

    // Escape is Cancel too; the next opening shows the members, not what was typed.
    dialog.open();
    Click(1018);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(MembersOf(dialog), given);
    dialog.open();
    EXPECT_EQ(Edit(1001)->text(), "64");
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
}

// Opening asks nothing, even for a sample smaller than the range. On OK, sizes
// outside 32..999999 are refused one message at a time, the height before the
// width, at the field; so are sides no saved file can hold and outputs too
// large to synthesise, with the values kept for putting right.
TEST_F(SynthesisParamsDlgTest, SizesAreCheckedOnOkAtTheField) {
    dialog.outputWidth = 20;
    dialog.outputHeight = 20;
    dialog.open();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
    struct Step {
        const char* width;
        const char* height;
        int focused;         // 0: accepted
        const char* reason;  // part of the message
    };
    const Step steps[] = {{"20", "20", 1002, "999999"},
                          {"20", "32", 1001, "999999"},
                          {"1000000", "32", 1001, "999999"},
                          {"70000", "32", 1001, "at most 65535 pixels a side"},
                          {"32", "65536", 1002, "at most 65535 pixels a side"},
                          {"60000", "60000", 1001, "too large to synthesise"},
                          {"65535", "32", 0, ""}};
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.width) + "x" + step.height);
        messages.clear();
        Type(1001, step.width);
        Type(1002, step.height);
        Click(1);
        EXPECT_EQ(dialog.isVisible(), step.focused != 0);
        if (step.focused != 0) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_TRUE(messages[0].contains(step.reason)) << messages[0].toStdString();
            EXPECT_EQ(dialog.focusWidget(), Edit(step.focused));
            EXPECT_EQ(Edit(1001)->text(), step.width) << "the values stay";
        }
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.outputHeight, 32);
    EXPECT_EQ(dialog.outputWidth, 65535);
}

// A number past 32 bits is no integer rather than a wrapped one; a disabled
// field is checked too; spaces around a number are fine.
TEST_F(SynthesisParamsDlgTest, NumberThatIsNoIntegerIsRefusedEvenWhenDisabled) {
    dialog.open();
    ASSERT_FALSE(Edit(1013)->isEnabled());
    Type(1012, "4294967296");
    Edit(1013)->clear();
    for (const int refused : {1012, 1013}) {
        Click(1);
        EXPECT_TRUE(dialog.isVisible());
        // A disabled field cannot take the focus; the count must not have it.
        EXPECT_EQ(dialog.focusWidget() == Edit(1012), refused == 1012);
        Edit(1012)->setText(" 2500 ");
    }
    ASSERT_EQ(messages.size(), 2u);
    for (const QString& message : messages) {
        EXPECT_TRUE(message.contains("integer") && !message.contains("999999"))
            << message.toStdString();
    }

    // Emptied while enabled: switching away is refused at that field, so it
    // stays enabled to be put right and the mode is not taken.
    Edit(1013)->setText("2500");
    Type(1012, "");
    Click(1017);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(dialog.focusWidget(), Edit(1012));
    EXPECT_TRUE(Radio(1017)->isChecked());
    EXPECT_EQ(Enabling(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(dialog.settings.subsamplingMode, SubsamplingMode::FixedCount);
    Type(1012, "400");
    Click(1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.settings.subsamplingMode, SubsamplingMode::Disabled);
    EXPECT_EQ(dialog.settings.subsampleCount, 400);
    EXPECT_EQ(messages.size(), 3u);
}

// Tab goes through every control in the order they are read, left column,
// right column, then the buttons; with the Advanced part open, its fields
// come before the buttons. Shift+Tab goes back the same way.
TEST_F(SynthesisParamsDlgTest, TabFollowsTheVisualOrderAndReachesEveryControl) {
    dialog.settings.subsamplingMode = SubsamplingMode::Percentage;
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    // A radio group is one stop, at its chosen option, the arrows going
    // through the others; the pixel count, unused in percentage mode, is off.
    const QStringList main = {"1001", "1002", "1018", "1019", "1013", "1008",
                              "1009", "1010", "1015", "1021", "1022"};
    const QStringList advanced = {"1025", "1026", "1027", "1028", "1029", "1031", "1030", "1032"};
    const QStringList buttons = {"1023", "1", "2"};
    const auto visit = [](int count, Qt::Key key) {
        QStringList visited;
        for (int i = 0; i < count; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key);
            visited.append(QApplication::focusWidget()->objectName());
        }
        return visited;
    };
    Edit(1001)->setFocus();
    EXPECT_EQ(QStringList("1001") +
                  visit(static_cast<int>(main.size() + buttons.size() - 1), Qt::Key_Tab),
              main + buttons);
    Radio(1015)->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(visit(1, Qt::Key_Down), QStringList("1016"));
    EXPECT_TRUE(Radio(1016)->isChecked());

    Click(1023);
    ASSERT_TRUE(dialog.AdvancedShown());
    List(1022)->setCurrentIndex(1);  // coherent: its fields enabled
    dialog.UpdateSubsamplingControls();
    List(1022)->setFocus();
    EXPECT_EQ(visit(static_cast<int>(advanced.size() + 1), Qt::Key_Tab),
              advanced + QStringList("1023"));
    EXPECT_EQ(visit(2, Qt::Key_Backtab), (QStringList{"1032", "1030"}));
    dialog.reject();
}

// The Advanced part opens and closes under its button, closed at every
// opening; it holds the coherent search's settings and the thread count,
// with weftloom-synth's defaults and ranges, refused at their field.
TEST_F(SynthesisParamsDlgTest, TheAdvancedPartHoldsTheCoherentSettingsAndTheThreads) {
    dialog.settings.searchMethod = SearchMethod::Coherent;
    dialog.open();
    EXPECT_FALSE(dialog.AdvancedShown());
    EXPECT_FALSE(Edit(1025)->isVisible());
    const int closedHeight = dialog.height();
    Click(1023);
    EXPECT_TRUE(dialog.AdvancedShown());
    EXPECT_TRUE(Edit(1025)->isVisible());
    EXPECT_GT(dialog.height(), closedHeight);
    EXPECT_GT(ControlById(dialog, 1)->y(), Edit(1030)->y()) << "the buttons below the part";

    // weftloom-synth starts from the same SynthesisSettings.
    const SynthesisSettings defaults;
    struct Field {
        int id;
        const char* largest;
        const char* past;  // refused
        std::uint32_t SynthesisSettings::*member;
    };
    const Field fields[] = {
        {1025, "64", "65", &SynthesisSettings::coherenceSetSize},
        {1026, "16", "17", &SynthesisSettings::correctionPasses},
        {1027, "64", "65", &SynthesisSettings::randomCandidates},
        {1028, "1024", "1025", &SynthesisSettings::occurrenceWeight},
        {1029, "100", "101", &SynthesisSettings::pieceLimitPercent},
        {1031, "1024", "1025", &SynthesisSettings::balanceWeight},
        {1030, "256", "257", &SynthesisSettings::threadCount},
    };
    for (const Field& field : fields) {
        SCOPED_TRACE(field.id);
        EXPECT_EQ(Edit(field.id)->text(), QString::number(defaults.*field.member));
        messages.clear();
        Type(field.id, field.past);
        Click(1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].contains(field.largest)) << messages[0].toStdString();
        EXPECT_EQ(dialog.focusWidget(), Edit(field.id));
        Type(field.id, field.largest);
    }
    // The courses: as weftloom-synth's --courses, in the order it names them.
    ASSERT_EQ(List(1032)->count(), 4);
    EXPECT_EQ(List(1032)->itemText(0), "Auto");
    EXPECT_EQ(List(1032)->itemText(3), "Columns");
    EXPECT_EQ(List(1032)->currentIndex(), static_cast<int>(defaults.courses));
    List(1032)->setCurrentIndex(1);
    EXPECT_EQ(Edit(1029)->text(), "100");
    Type(1029, "0");  // the piece limit starts at 1
    Click(1);
    EXPECT_EQ(dialog.focusWidget(), Edit(1029));
    Type(1029, "1");
    Click(1);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    for (const Field& field : fields) {
        EXPECT_EQ(dialog.settings.*field.member,
                  field.id == 1029 ? 1u : QString(field.largest).toUInt())
            << field.id;
    }
    EXPECT_EQ(dialog.settings.courses, CourseLayout::Off);

    // The exact search has no use for the coherent settings; the threads stay.
    dialog.settings.searchMethod = SearchMethod::Exact;
    dialog.open();
    EXPECT_FALSE(dialog.AdvancedShown()) << "closed again";
    EXPECT_FALSE(Edit(1025)->isEnabled());
    EXPECT_FALSE(List(1032)->isEnabled());
    EXPECT_TRUE(Edit(1030)->isEnabled());
    dialog.reject();
}

}  // namespace
}  // namespace weftloom
