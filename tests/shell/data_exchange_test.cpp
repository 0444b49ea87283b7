#include "shell/framework/data_exchange.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "shell/framework/message_box.h"
#include "tests/shell/sample_dialog.h"

namespace weftloom::framework {
namespace {

using namespace sample;

struct Values {
    std::int32_t count = 0;
    std::int32_t side = 0;
    QString name;
    QString file;
    std::int32_t quality = 0;
    std::int32_t shape = 0;
    std::int32_t hand = 0;

    bool operator==(const Values&) const = default;
};

// The count first, then the side, each range-checked; then the rest.
bool Exchange(QDialog& dialog, bool save, Values& values) {
    DataExchange dx(dialog, save);
    dx.Text(kCount, values.count);
    dx.MinMaxInt(kCount, values.count, 32, 999999);
    dx.Text(kSide, values.side);
    dx.MinMaxInt(kSide, values.side, 32, 999999);
    dx.Text(kName, values.name);
    dx.Text(kFile, values.file);
    dx.CBIndex(kQuality, values.quality);
    dx.Radio(kRound, values.shape);
    dx.Radio(kLeft, values.hand);
    EXPECT_NE(dx.Control(kName), nullptr) << "answers after a failure too";
    return !dx.Failed();
}

class DataExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BuildDialog(dialog, Template());
        List(kQuality)->addItems({"High", "Medium", "Low"});
        dialog.show();
        SetMessageResponder([this](const QString& text, const QString& caption, MessageButtons) {
            messages.push_back(text);
            captions.push_back(caption);
            return MessageResult::Ok;
        });
        Values loaded = Typical();
        Exchange(dialog, false, loaded);
    }
    void TearDown() override { SetMessageResponder({}); }

    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(ControlById(dialog, id)); }
    QComboBox* List(int id) { return qobject_cast<QComboBox*>(ControlById(dialog, id)); }
    QRadioButton* Radio(int id) { return qobject_cast<QRadioButton*>(ControlById(dialog, id)); }

    static Values Typical() { return {640, 480, "brick", "R&D <b>brick</b>.tga", 2, 2, 1}; }

    QDialog dialog;
    std::vector<QString> messages;
    std::vector<QString> captions;
};

TEST_F(DataExchangeTest, LoadShowsValuesAndSaveReadsThemBack) {
    EXPECT_EQ(Edit(kSide)->text(), "480");
    EXPECT_EQ(qobject_cast<QLabel*>(ControlById(dialog, kFile))->text(), Typical().file);
    EXPECT_EQ(List(kQuality)->currentText(), "Low");
    EXPECT_TRUE(Radio(kTriangle)->isChecked());
    EXPECT_TRUE(Radio(kRight)->isChecked());
    Values saved;
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved, Typical());

    // What the user changes is what comes back.
    Edit(kSide)->setText(" 1024 ");
    QTest::mouseClick(Radio(kSquare), Qt::LeftButton);
    List(kQuality)->setCurrentIndex(0);
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved.side, 1024);
    EXPECT_EQ(saved.shape, 1);
    EXPECT_EQ(saved.quality, 0);

    // Loading never checks.
    Values small = Typical();
    small.count = 20;
    EXPECT_TRUE(Exchange(dialog, false, small));
    EXPECT_EQ(Edit(kCount)->text(), "20");
    EXPECT_TRUE(messages.empty());
}

TEST_F(DataExchangeTest, NotAnIntegerIsRefusedAndLaterFieldsAreLeftAlone) {
    Edit(kSide)->clear();
    Edit(kName)->setText("changed");
    Values saved;
    saved.name = QStringLiteral("untouched");
    EXPECT_FALSE(Exchange(dialog, true, saved));
    EXPECT_EQ(messages, (std::vector<QString>{"Please enter an integer."}));
    EXPECT_EQ(captions, (std::vector<QString>{DefaultMessageCaption()}));
    EXPECT_EQ(dialog.focusWidget(), Edit(kSide));
    // The count came before and was read; nothing after the side was.
    EXPECT_EQ(saved.count, 640);
    EXPECT_EQ(saved.name, "untouched");

    // A value past 32 bits is no integer either, rather than a wrapped one.
    messages.clear();
    Edit(kSide)->setText("4294967936");
    EXPECT_FALSE(Exchange(dialog, true, saved));
    EXPECT_EQ(messages, (std::vector<QString>{"Please enter an integer."}));
}

TEST_F(DataExchangeTest, OutOfRangeNamesTheRangeAndReportsTheFirstFieldOnly) {
    Edit(kCount)->setText("10");
    Edit(kSide)->setText("10");
    Values saved;
    EXPECT_FALSE(Exchange(dialog, true, saved));
    EXPECT_EQ(messages, (std::vector<QString>{"Please enter an integer between 32 and 999999."}));
    EXPECT_EQ(dialog.focusWidget(), Edit(kCount));
    EXPECT_EQ(Edit(kCount)->selectedText(), "10");

    // The count mended: now the side is reported, at its own field; both
    // ends of the range are inside.
    Edit(kCount)->setText("999999");
    Edit(kSide)->setText("1000000");
    EXPECT_FALSE(Exchange(dialog, true, saved));
    EXPECT_EQ(dialog.focusWidget(), Edit(kSide));
    Edit(kSide)->setText("32");
    EXPECT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(saved.side, 32);
    EXPECT_EQ(saved.count, 999999);
}

TEST_F(DataExchangeTest, NoSelectionIsMinusOneBothWays) {
    Values loaded = Typical();
    loaded.quality = 3;  // the list has no fourth entry
    loaded.shape = -1;
    loaded.hand = 7;
    Exchange(dialog, false, loaded);
    EXPECT_EQ(List(kQuality)->currentIndex(), -1);
    Values saved;
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved.quality, -1);
    EXPECT_EQ(saved.shape, -1);
    EXPECT_EQ(saved.hand, -1);

    // After being cleared the group is still exclusive.
    loaded.shape = 0;
    Exchange(dialog, false, loaded);
    QTest::mouseClick(Radio(kSquare), Qt::LeftButton);
    EXPECT_FALSE(Radio(kRound)->isChecked());
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved.shape, 1);
}

}  // namespace
}  // namespace weftloom::framework
