#include "shell/framework/dialog_template.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "synthesisui/synthesis_params_dlg.h"

namespace weftloom::framework {
namespace {

// The parameters dialog's layout serves as a realistic template: two radio
// groups, one with an edit between its buttons, labels with mnemonics,
// digits-only edits and drop-down lists.

// A dialog that counts how it was closed, to see that OK reaches an override.
class RecordingDialog : public QDialog {
  public:
    void accept() override {
        ++accepts;
        QDialog::accept();
    }
    int accepts = 0;
};

template <typename Widget>
Widget* Find(const QDialog& dialog, int id) {
    return qobject_cast<Widget*>(ControlById(dialog, id));
}

TEST(DialogTemplate, ControlsAreNamedByIdAndOfTheirKind) {
    QDialog dialog;
    BuildDialog(dialog, CSynthesisParamsDlg::Template());
    EXPECT_EQ(dialog.windowTitle(), "Synthesis Parameters");
    EXPECT_NE(Find<QLabel>(dialog, 1000), nullptr);
    for (int id : {1001, 1002, 1012, 1013, 1019}) {
        EXPECT_NE(Find<QLineEdit>(dialog, id), nullptr) << id;
    }
    for (int id : {1008, 1009, 1010}) {
        EXPECT_NE(Find<QComboBox>(dialog, id), nullptr) << id;
    }
    for (int id : {1014, 1015, 1016, 1017, 1018, 1020}) {
        EXPECT_NE(Find<QRadioButton>(dialog, id), nullptr) << id;
    }
    ASSERT_NE(Find<QPushButton>(dialog, 1), nullptr);
    EXPECT_TRUE(Find<QPushButton>(dialog, 1)->isDefault());
    EXPECT_FALSE(Find<QPushButton>(dialog, 2)->isDefault());
    EXPECT_EQ(ControlById(dialog, 1003), nullptr);
    EXPECT_EQ(ControlById(dialog, -1), nullptr);
}

TEST(DialogTemplate, LayoutFollowsTheDialogFontMetrics) {
    const QString family = QStringLiteral("DejaVu Sans");
    ASSERT_TRUE(QFontDatabase::families().contains(family));
    DialogTemplate small = CSynthesisParamsDlg::Template();
    small.fontName = family;
    DialogTemplate large = small;
    large.pointSize = 16;

    QDialog smallDialog;
    QDialog largeDialog;
    BuildDialog(smallDialog, small);
    BuildDialog(largeDialog, large);
    const DialogBaseUnits smallBase = BaseUnitsOf(smallDialog.font());
    const DialogBaseUnits largeBase = BaseUnitsOf(largeDialog.font());
    EXPECT_EQ(smallDialog.font().family(), family);
    EXPECT_GT(largeBase.x, smallBase.x);
    EXPECT_GT(largeBase.y, smallBase.y);
    EXPECT_EQ(smallBase.y, QFontMetrics(smallDialog.font()).height());

    for (const auto& [dialog, base] :
         {std::pair{&smallDialog, smallBase}, std::pair{&largeDialog, largeBase}}) {
        // 348 x 213 units; the width edit at 63, 44 and 40 x 14 units.
        EXPECT_NEAR(dialog->width(), 348 * base.x / 4.0, 1.0);
        EXPECT_NEAR(dialog->height(), 213 * base.y / 8.0, 1.0);
        const QWidget* width = ControlById(*dialog, 1001);
        EXPECT_NEAR(width->x(), 63 * base.x / 4.0, 1.0);
        EXPECT_NEAR(width->y(), 44 * base.y / 8.0, 1.0);
        EXPECT_NEAR(width->width(), 40 * base.x / 4.0, 1.0);
        EXPECT_NEAR(width->height(), 14 * base.y / 8.0, 1.0);
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    }
}

TEST(DialogTemplate, MissingFontFallsBackToTheApplicationFamilyAtTheTemplateSize) {
    DialogTemplate dialogTemplate = CSynthesisParamsDlg::Template();
    dialogTemplate.fontName = QStringLiteral("No Such Font Family 7");
    dialogTemplate.pointSize = 13;
    const QFont font = DialogFont(dialogTemplate);
    EXPECT_EQ(font.family(), QApplication::font().family());
    EXPECT_EQ(font.pointSize(), 13);
}

TEST(DialogTemplate, TabVisitsTabStopsInTemplateOrderAndSkipsRadios) {
    QDialog dialog;
    BuildDialog(dialog, CSynthesisParamsDlg::Template());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    ControlById(dialog, 1001)->setFocus();
    std::vector<QString> visited;
    for (int step = 0; step < 10; ++step) {
        visited.push_back(QApplication::focusWidget()->objectName());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (std::vector<QString>{"1001", "1002", "1019", "1013", "1012", "1008", "1009",
                                             "1010", "1", "2"}));
    // And round again to the first.
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "1001");
}

TEST(DialogTemplate, RadioGroupsAreNumberedInTemplateOrderAndStayApart) {
    QDialog dialog;
    BuildDialog(dialog, CSynthesisParamsDlg::Template());
    // The percent edit 1019 sits between 1020 and the group's end: skipped,
    // so the fixed-count option is number 2 although its id is the highest.
    QButtonGroup* subsampling = Find<QRadioButton>(dialog, 1017)->group();
    ASSERT_NE(subsampling, nullptr);
    EXPECT_EQ(subsampling->buttons().size(), 3);
    EXPECT_EQ(subsampling->id(Find<QRadioButton>(dialog, 1017)), 0);
    EXPECT_EQ(subsampling->id(Find<QRadioButton>(dialog, 1018)), 1);
    EXPECT_EQ(subsampling->id(Find<QRadioButton>(dialog, 1020)), 2);

    QButtonGroup* metric = Find<QRadioButton>(dialog, 1014)->group();
    ASSERT_NE(metric, nullptr);
    EXPECT_NE(metric, subsampling);
    EXPECT_EQ(metric->id(Find<QRadioButton>(dialog, 1016)), 2);

    // Clicking in one group leaves the other's choice alone.
    QTest::mouseClick(Find<QRadioButton>(dialog, 1015), Qt::LeftButton);
    QTest::mouseClick(Find<QRadioButton>(dialog, 1018), Qt::LeftButton);
    QTest::mouseClick(Find<QRadioButton>(dialog, 1020), Qt::LeftButton);
    EXPECT_EQ(subsampling->checkedId(), 2);
    EXPECT_FALSE(Find<QRadioButton>(dialog, 1018)->isChecked());
    EXPECT_EQ(metric->checkedId(), 1);
}

TEST(DialogTemplate, MnemonicsFocusTheNextControlUnlessSwitchedOff) {
    DialogTemplate dialogTemplate = CSynthesisParamsDlg::Template();
    dialogTemplate.controls.push_back(
        {-1, ControlKind::Label, "R&D", 10, 200, 30, 8, kGroup | kNoPrefix});
    dialogTemplate.controls.push_back({1099, ControlKind::Edit, "", 50, 198, 30, 12, kTabStop});
    QDialog dialog;
    BuildDialog(dialog, dialogTemplate);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    QTest::keyClick(&dialog, Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, 1002));
    QTest::keyClick(&dialog, Qt::Key_X, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, 1013));
    // A radio button's mnemonic chooses it (by an animated click).
    QTest::keyClick(&dialog, Qt::Key_B, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Find<QRadioButton>(dialog, 1020)->isChecked(); }));

    // "R&D" is shown as it stands and Alt+R does nothing.
    const auto labels = dialog.findChildren<QLabel*>();
    const auto literal = std::find_if(labels.begin(), labels.end(),
                                      [](const QLabel* label) { return label->text() == "R&D"; });
    ASSERT_NE(literal, labels.end());
    EXPECT_EQ((*literal)->buddy(), nullptr);
    ControlById(dialog, 1001)->setFocus();
    QTest::keyClick(&dialog, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, 1001));
}

TEST(DialogTemplate, GroupBoxMnemonicFocusesTheCheckedButtonInside) {
    QDialog dialog;
    BuildDialog(dialog, CSynthesisParamsDlg::Template());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Find<QRadioButton>(dialog, 1016)->setChecked(true);
    ControlById(dialog, 1001)->setFocus();
    // Alt+D is shared with "&Disable"; pressing it until focus settles inside
    // the metric box must land on the checked metric, never on 1014 or 1015.
    for (int press = 0; press < 2; ++press) {
        QTest::keyClick(&dialog, Qt::Key_D, Qt::AltModifier);
        if (QApplication::focusWidget() != ControlById(dialog, 1017)) {
            break;
        }
    }
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, 1016));
}

TEST(DialogTemplate, DigitsOnlyEditRefusesOtherCharacters) {
    QDialog dialog;
    BuildDialog(dialog, CSynthesisParamsDlg::Template());
    auto* width = Find<QLineEdit>(dialog, 1001);
    QTest::keyClicks(width, "12a-b 3.");
    EXPECT_EQ(width->text(), "123");
    // A plain edit takes anything.
    DialogTemplate plain;
    plain.width = 100;
    plain.height = 40;
    plain.controls = {{7, ControlKind::Edit, "", 4, 4, 60, 14, kTabStop}};
    QDialog other;
    BuildDialog(other, plain);
    QTest::keyClicks(ControlById(other, 7), "a-1");
    EXPECT_EQ(Find<QLineEdit>(other, 7)->text(), "a-1");
}

TEST(DialogTemplate, OkGoesThroughAcceptAndCancelRejects) {
    RecordingDialog dialog;
    BuildDialog(dialog, CSynthesisParamsDlg::Template());
    dialog.open();
    QTest::mouseClick(ControlById(dialog, 1), Qt::LeftButton);
    EXPECT_EQ(dialog.accepts, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());

    dialog.open();
    QTest::mouseClick(ControlById(dialog, 2), Qt::LeftButton);
    EXPECT_EQ(dialog.accepts, 1);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace weftloom::framework
