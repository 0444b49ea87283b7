#include "shell/framework/dialog_template.h"
#include "shell/framework/message_box.h"

#include <QDialog>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace weftloom::framework {
namespace {

// A small dialog with the kinds of control the framework builds, laid out the
// way real ones are: ids out of order, an edit inside a radio group, a group
// box with a mnemonic behind the radios it encloses, and a label that shows
// its '&' literally.
enum : int {
    kName = 101,     // plain edit after the label "&Name"
    kCount = 102,    // digits-only edit after "&Count"
    kQuality = 104,  // drop-down list
    kSide = 105,     // digits-only edit inside the shape group
    kRound = 110,    // shape group, in template order: Round, Square, Triangle
    kTriangle = 111,
    kSquare = 112,
    kLeft = 120,  // hand group: Left, Right
    kRight = 121,
};

inline DialogTemplate Template() {
    DialogTemplate t = StandardDialogTemplate(200, QStringLiteral("Sample"), 200, 120);
    const auto radio = ControlKind::AutoRadioButton;
    t.controls = {
        {-1, ControlKind::Label, "&Name", 8, 10, 30, 8, kGroup},
        {kName, ControlKind::Edit, "", 44, 8, 60, 14, kTabStop},
        {-1, ControlKind::Label, "&Count", 8, 28, 30, 8, kGroup},
        {kCount, ControlKind::DigitsEdit, "", 44, 26, 40, 14, kTabStop},
        {kQuality, ControlKind::DropDownList, "", 8, 62, 60, 48, kTabStop | kGroup},
        {-1, ControlKind::GroupBox, "&Shape", 112, 4, 80, 72},
        {kRound, radio, "Ro&und", 120, 16, 50, 10, kGroup},
        {kSquare, radio, "S&quare", 120, 28, 50, 10},
        {kSide, ControlKind::DigitsEdit, "", 130, 40, 30, 14, kTabStop},
        {kTriangle, radio, "&Triangle", 120, 58, 50, 10},
        {kLeft, radio, "&Left", 8, 84, 40, 10, kGroup},
        {kRight, radio, "Ri&ght", 52, 84, 40, 10},
        {-1, ControlKind::Label, "R&D", 100, 86, 30, 8, kGroup | kNoPrefix},
        {1, ControlKind::DefaultPushButton, "OK", 90, 100, 50, 14, kTabStop | kGroup},
        {2, ControlKind::PushButton, "Cancel", 144, 100, 50, 14, kTabStop},
    };
    return t;
}

template <typename Widget>
Widget* Find(const QDialog& dialog, int id) {
    return qobject_cast<Widget*>(ControlById(dialog, id));
}

// Sizes and places follow the dialog font's base units; a missing font falls
// back to the application's family at the template's size, and a larger size
// gives larger units.
TEST(DialogTemplate, LayoutFollowsTheDialogFontMetrics) {
    const QString family = QStringLiteral("DejaVu Sans");
    ASSERT_TRUE(QFontDatabase::families().contains(family));
    DialogTemplate t = Template();
    t.fontName = family;
    QDialog dialog;
    BuildDialog(dialog, t);
    EXPECT_EQ(dialog.windowTitle(), "Sample");
    EXPECT_EQ(dialog.font().family(), family);
    const DialogBaseUnits base = BaseUnitsOf(dialog.font());
    EXPECT_EQ(base.y, QFontMetrics(dialog.font()).height());
    // 200 x 120 units; the name edit at 44, 8 and 60 x 14 units.
    EXPECT_NEAR(dialog.width(), 200 * base.x / 4.0, 1.0);
    EXPECT_NEAR(dialog.height(), 120 * base.y / 8.0, 1.0);
    const QRect name = ControlById(dialog, kName)->geometry();
    EXPECT_NEAR(name.x(), 44 * base.x / 4.0, 1.0);
    EXPECT_NEAR(name.y(), 8 * base.y / 8.0, 1.0);
    EXPECT_NEAR(name.width(), 60 * base.x / 4.0, 1.0);
    EXPECT_NEAR(name.height(), 14 * base.y / 8.0, 1.0);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_TRUE(Find<QPushButton>(dialog, 1)->isDefault());
    EXPECT_EQ(ControlById(dialog, -1), nullptr);

    t.fontName = QStringLiteral("No Such Font Family 7");
    t.pointSize = 16;
    EXPECT_EQ(DialogFont(t).family(), QApplication::font().family());
    EXPECT_EQ(DialogFont(t).pointSize(), 16);
    EXPECT_GT(BaseUnitsOf(DialogFont(t)).x, base.x);
    EXPECT_GT(BaseUnitsOf(DialogFont(t)).y, base.y);
}

// Tab visits the tab stops in template order, skipping radios; a mnemonic
// focuses the control after its label unless switched off; edits filter keys.
TEST(DialogTemplate, KeysReachTheirControls) {
    QDialog dialog;
    BuildDialog(dialog, Template());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    ControlById(dialog, kName)->setFocus();
    std::vector<QString> visited;
    for (int step = 0; step < 7; ++step) {
        visited.push_back(QApplication::focusWidget()->objectName());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (std::vector<QString>{"101", "102", "104", "105", "1", "2", "101"}));

    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kCount));
    QTest::keyClick(&dialog, Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kName));
    // A radio button's mnemonic chooses it (by an animated click).
    QTest::keyClick(&dialog, Qt::Key_T, Qt::AltModifier);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Find<QRadioButton>(dialog, kTriangle)->isChecked(); }));

    // "R&D" has its mnemonic switched off: Alt+R does nothing.
    ControlById(dialog, kName)->setFocus();
    QTest::keyClick(&dialog, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kName));

    // A group box's mnemonic focuses the checked button inside, not the first.
    QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kTriangle));

    // A digits-only edit refuses other characters; a plain edit takes them.
    QTest::keyClicks(ControlById(dialog, kCount), "12a-b 3.");
    EXPECT_EQ(Find<QLineEdit>(dialog, kCount)->text(), "123");
    QTest::keyClicks(ControlById(dialog, kName), "a-1");
    EXPECT_EQ(Find<QLineEdit>(dialog, kName)->text(), "a-1");
}

// A question made moot while it is on screen closes and answers No, whatever
// was pressed; questions of other owners stay.
TEST(Questions, ADismissedQuestionClosesTheRealBoxAndAnswersNo) {
    int owner = 0;
    int other = 0;
    QTimer::singleShot(0, [&] {
        ASSERT_NE(QApplication::activeModalWidget(), nullptr);
        DismissQuestions(&other);
        EXPECT_FALSE(QuestionDismissed());
        DismissQuestions(&owner);
    });
    EXPECT_EQ(AskQuestion("Go on?", QString(), MessageButtons::YesNo, &owner), MessageResult::No);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace weftloom::framework
