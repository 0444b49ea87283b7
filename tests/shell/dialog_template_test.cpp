#include "shell/framework/dialog_template.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/shell/sample_dialog.h"

namespace weftloom::framework {
namespace {

using namespace sample;

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

// Builds the sample dialog, shown and active.
void Show(QDialog& dialog) {
    BuildDialog(dialog, Template());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}

TEST(DialogTemplate, ControlsAreNamedByIdAndOfTheirKind) {
    QDialog dialog;
    BuildDialog(dialog, Template());
    EXPECT_EQ(dialog.windowTitle(), "Sample");
    const std::pair<int, const char*> controls[] = {
        {kName, "QLineEdit"},      {kCount, "QLineEdit"},    {kSide, "QLineEdit"},
        {kFile, "QLabel"},         {kQuality, "QComboBox"},  {kRound, "QRadioButton"},
        {kSquare, "QRadioButton"}, {kRight, "QRadioButton"}, {1, "QPushButton"},
        {2, "QPushButton"}};
    for (const auto& [id, kind] : controls) {
        ASSERT_NE(ControlById(dialog, id), nullptr) << id;
        EXPECT_TRUE(ControlById(dialog, id)->inherits(kind)) << id;
        EXPECT_EQ(ControlById(dialog, id)->objectName(), QString::number(id));
    }
    EXPECT_EQ(dialog.findChildren<QGroupBox*>().size(), 1);
    EXPECT_TRUE(Find<QPushButton>(dialog, 1)->isDefault());
    EXPECT_FALSE(Find<QPushButton>(dialog, 2)->isDefault());
    EXPECT_EQ(ControlById(dialog, 106), nullptr);
    EXPECT_EQ(ControlById(dialog, -1), nullptr);
}

TEST(DialogTemplate, LayoutFollowsTheDialogFontMetrics) {
    const QString family = QStringLiteral("DejaVu Sans");
    ASSERT_TRUE(QFontDatabase::families().contains(family));
    DialogTemplate small = Template();
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
        // 200 x 120 units; the name edit at 44, 8 and 60 x 14 units.
        EXPECT_NEAR(dialog->width(), 200 * base.x / 4.0, 1.0);
        EXPECT_NEAR(dialog->height(), 120 * base.y / 8.0, 1.0);
        const QWidget* name = ControlById(*dialog, kName);
        EXPECT_NEAR(name->x(), 44 * base.x / 4.0, 1.0);
        EXPECT_NEAR(name->y(), 8 * base.y / 8.0, 1.0);
        EXPECT_NEAR(name->width(), 60 * base.x / 4.0, 1.0);
        EXPECT_NEAR(name->height(), 14 * base.y / 8.0, 1.0);
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    }
}

TEST(DialogTemplate, MissingFontFallsBackToTheApplicationFamilyAtTheTemplateSize) {
    DialogTemplate dialogTemplate = Template();
    dialogTemplate.fontName = QStringLiteral("No Such Font Family 7");
    dialogTemplate.pointSize = 13;
    const QFont font = DialogFont(dialogTemplate);
    EXPECT_EQ(font.family(), QApplication::font().family());
    EXPECT_EQ(font.pointSize(), 13);
}

TEST(DialogTemplate, TabVisitsTabStopsInTemplateOrderAndSkipsRadios) {
    QDialog dialog;
    Show(dialog);
    ControlById(dialog, kName)->setFocus();
    std::vector<QString> visited;
    for (int step = 0; step < 7; ++step) {
        visited.push_back(QApplication::focusWidget()->objectName());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (std::vector<QString>{"101", "102", "104", "105", "1", "2", "101"}));
}

TEST(DialogTemplate, RadioGroupsAreNumberedInTemplateOrderAndStayApart) {
    QDialog dialog;
    BuildDialog(dialog, Template());
    // The side edit sits inside the shape group and is skipped; the numbers
    // follow the template, not the ids.
    QButtonGroup* shape = Find<QRadioButton>(dialog, kRound)->group();
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->buttons().size(), 3);
    EXPECT_EQ(shape->id(Find<QRadioButton>(dialog, kRound)), 0);
    EXPECT_EQ(shape->id(Find<QRadioButton>(dialog, kSquare)), 1);
    EXPECT_EQ(shape->id(Find<QRadioButton>(dialog, kTriangle)), 2);

    QButtonGroup* hand = Find<QRadioButton>(dialog, kLeft)->group();
    ASSERT_NE(hand, nullptr);
    EXPECT_NE(hand, shape);
    EXPECT_EQ(hand->id(Find<QRadioButton>(dialog, kRight)), 1);

    // Clicking in one group leaves the other's choice alone.
    QTest::mouseClick(Find<QRadioButton>(dialog, kRight), Qt::LeftButton);
    QTest::mouseClick(Find<QRadioButton>(dialog, kSquare), Qt::LeftButton);
    QTest::mouseClick(Find<QRadioButton>(dialog, kTriangle), Qt::LeftButton);
    EXPECT_EQ(shape->checkedId(), 2);
    EXPECT_FALSE(Find<QRadioButton>(dialog, kSquare)->isChecked());
    EXPECT_EQ(hand->checkedId(), 1);
}

TEST(DialogTemplate, MnemonicsFocusTheNextControlUnlessSwitchedOff) {
    QDialog dialog;
    Show(dialog);
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kCount));
    QTest::keyClick(&dialog, Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kName));
    // A radio button's mnemonic chooses it (by an animated click).
    QTest::keyClick(&dialog, Qt::Key_T, Qt::AltModifier);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Find<QRadioButton>(dialog, kTriangle)->isChecked(); }));

    // "R&D" is shown as it stands and Alt+R does nothing.
    const auto labels = dialog.findChildren<QLabel*>();
    const auto literal = std::find_if(labels.begin(), labels.end(),
                                      [](const QLabel* label) { return label->text() == "R&D"; });
    ASSERT_NE(literal, labels.end());
    EXPECT_EQ((*literal)->buddy(), nullptr);
    ControlById(dialog, kName)->setFocus();
    QTest::keyClick(&dialog, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kName));

    // A group box's mnemonic focuses the checked button inside, not the first.
    QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), ControlById(dialog, kTriangle));
}

TEST(DialogTemplate, DigitsOnlyEditRefusesOtherCharactersAndAPlainEditTakesThem) {
    QDialog dialog;
    BuildDialog(dialog, Template());
    QTest::keyClicks(ControlById(dialog, kCount), "12a-b 3.");
    EXPECT_EQ(Find<QLineEdit>(dialog, kCount)->text(), "123");
    QTest::keyClicks(ControlById(dialog, kName), "a-1");
    EXPECT_EQ(Find<QLineEdit>(dialog, kName)->text(), "a-1");
}

TEST(DialogTemplate, OkGoesThroughAcceptAndCancelRejects) {
    RecordingDialog dialog;
    BuildDialog(dialog, Template());
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
