#include "shell/framework/data_exchange.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "shell/framework/dialog_template.h"
#include "shell/framework/message_box.h"
#include "synthesisui/synthesis_params_dlg.h"

namespace weftloom::framework {
namespace {

// What the parameters dialog exchanges, in its order: size first (height
// before width, each range-checked), then the rest.
struct Values {
    std::int32_t outputHeight = 0;
    std::int32_t outputWidth = 0;
    QString inputFile;
    std::int32_t level[3] = {0, 0, 0};
    std::int32_t subsampleCount = 0;
    std::int32_t metric = 0;
    std::int32_t subsamplingMode = 0;
    std::int32_t subsamplePercent = 0;
    std::int32_t minimumPixelCount = 0;

    bool operator==(const Values&) const = default;
};

bool Exchange(QDialog& dialog, bool save, Values& values) {
    DataExchange dx(dialog, save);
    EXPECT_NE(dx.Control(1013), nullptr);
    dx.Text(1002, values.outputHeight);
    dx.MinMaxInt(1002, values.outputHeight, 32, 999999);
    dx.Text(1001, values.outputWidth);
    dx.MinMaxInt(1001, values.outputWidth, 32, 999999);
    dx.Text(1000, values.inputFile);
    dx.CBIndex(1008, values.level[0]);
    dx.CBIndex(1009, values.level[1]);
    dx.CBIndex(1010, values.level[2]);
    dx.Text(1012, values.subsampleCount);
    dx.Radio(1014, values.metric);
    dx.Radio(1017, values.subsamplingMode);
    dx.Text(1019, values.subsamplePercent);
    dx.Text(1013, values.minimumPixelCount);
    return !dx.Failed();
}

class DataExchangeTest : public ::testing::Test {
  protected:
    struct Shown {
        QString text;
        QString caption;
    };

    void SetUp() override {
        BuildDialog(dialog, CSynthesisParamsDlg::Template());
        for (int id : {1008, 1009}) {
            qobject_cast<QComboBox*>(ControlById(dialog, id))->addItems({"High", "Medium", "Low"});
        }
        qobject_cast<QComboBox*>(ControlById(dialog, 1010))->addItems({"High", "Medium"});
        dialog.show();
        SetMessageResponder([this](const QString& text, const QString& caption, MessageButtons) {
            messages.push_back({text, caption});
            return MessageResult::Ok;
        });
    }
    void TearDown() override { SetMessageResponder({}); }

    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(ControlById(dialog, id)); }
    QComboBox* List(int id) { return qobject_cast<QComboBox*>(ControlById(dialog, id)); }
    QRadioButton* Radio(int id) { return qobject_cast<QRadioButton*>(ControlById(dialog, id)); }

    static Values Typical() {
        Values values;
        values.outputHeight = 480;
        values.outputWidth = 640;
        values.inputFile = QStringLiteral("R&D <b>brick</b>.tga");
        values.level[0] = 0;
        values.level[1] = 2;
        values.level[2] = 1;
        values.subsampleCount = 2500;
        values.metric = 1;
        values.subsamplingMode = 2;
        values.subsamplePercent = 10;
        values.minimumPixelCount = 0;
        return values;
    }

    QDialog dialog;
    std::vector<Shown> messages;
};

TEST_F(DataExchangeTest, LoadShowsValuesAndSaveReadsThemBack) {
    Values loaded = Typical();
    ASSERT_TRUE(Exchange(dialog, false, loaded));
    EXPECT_EQ(Edit(1001)->text(), "640");
    EXPECT_EQ(Edit(1002)->text(), "480");
    EXPECT_EQ(Edit(1013)->text(), "0");
    EXPECT_EQ(qobject_cast<QLabel*>(ControlById(dialog, 1000))->text(), Typical().inputFile);
    EXPECT_EQ(List(1009)->currentText(), "Low");
    EXPECT_TRUE(Radio(1015)->isChecked());
    EXPECT_TRUE(Radio(1020)->isChecked());
    EXPECT_FALSE(Radio(1018)->isChecked());

    Values saved;
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved, Typical());
    EXPECT_TRUE(messages.empty());

    // What the user changes is what comes back.
    Edit(1001)->setText(" 1024 ");
    QTest::mouseClick(Radio(1018), Qt::LeftButton);
    List(1010)->setCurrentIndex(0);
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved.outputWidth, 1024);
    EXPECT_EQ(saved.subsamplingMode, 1);
    EXPECT_EQ(saved.level[2], 0);
}

TEST_F(DataExchangeTest, LoadingNeverValidates) {
    Values small = Typical();
    small.outputHeight = 20;
    small.outputWidth = 20;
    EXPECT_TRUE(Exchange(dialog, false, small));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Edit(1002)->text(), "20");
}

TEST_F(DataExchangeTest, NotAnIntegerIsRefusedAndLaterFieldsAreLeftAlone) {
    Values loaded = Typical();
    Exchange(dialog, false, loaded);
    Edit(1001)->clear();
    Edit(1013)->setText("77");

    Values saved;
    saved.inputFile = QStringLiteral("untouched");
    saved.minimumPixelCount = -5;
    EXPECT_FALSE(Exchange(dialog, true, saved));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Please enter an integer.");
    EXPECT_EQ(messages[0].caption, DefaultMessageCaption());
    EXPECT_EQ(dialog.focusWidget(), Edit(1001));
    // The height came before and was read; nothing after the width was.
    EXPECT_EQ(saved.outputHeight, 480);
    EXPECT_EQ(saved.inputFile, "untouched");
    EXPECT_EQ(saved.minimumPixelCount, -5);

    // A value past 32 bits is no integer either, rather than a wrapped one.
    messages.clear();
    Edit(1001)->setText("4294967936");
    EXPECT_FALSE(Exchange(dialog, true, saved));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Please enter an integer.");
}

TEST_F(DataExchangeTest, OutOfRangeNamesTheRangeAndReportsTheFirstFieldOnly) {
    Values loaded = Typical();
    Exchange(dialog, false, loaded);
    Edit(1001)->setText("10");
    Edit(1002)->setText("10");

    Values saved;
    EXPECT_FALSE(Exchange(dialog, true, saved));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Please enter an integer between 32 and 999999.");
    EXPECT_EQ(dialog.focusWidget(), Edit(1002));
    EXPECT_EQ(Edit(1002)->selectedText(), "10");

    // Height mended: now the width is reported, at its own field.
    messages.clear();
    Edit(1002)->setText("999999");
    EXPECT_FALSE(Exchange(dialog, true, saved));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(dialog.focusWidget(), Edit(1001));

    messages.clear();
    Edit(1001)->setText("1000000");
    EXPECT_FALSE(Exchange(dialog, true, saved));
    Edit(1001)->setText("32");
    EXPECT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(saved.outputWidth, 32);
    EXPECT_EQ(saved.outputHeight, 999999);
}

TEST_F(DataExchangeTest, NoSelectionIsMinusOneBothWays) {
    Values loaded = Typical();
    Exchange(dialog, false, loaded);
    ASSERT_TRUE(Radio(1020)->isChecked());

    loaded.level[0] = -1;
    loaded.level[2] = 2;  // "Level 3" has no third entry
    loaded.subsamplingMode = -1;
    loaded.metric = 7;
    Exchange(dialog, false, loaded);
    EXPECT_EQ(List(1008)->currentIndex(), -1);
    EXPECT_EQ(List(1010)->currentIndex(), -1);
    for (int id : {1014, 1015, 1016, 1017, 1018, 1020}) {
        EXPECT_FALSE(Radio(id)->isChecked()) << id;
    }

    Values saved;
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved.level[0], -1);
    EXPECT_EQ(saved.level[2], -1);
    EXPECT_EQ(saved.subsamplingMode, -1);
    EXPECT_EQ(saved.metric, -1);

    // After being cleared the group is still exclusive.
    loaded.subsamplingMode = 0;
    Exchange(dialog, false, loaded);
    QTest::mouseClick(Radio(1018), Qt::LeftButton);
    EXPECT_FALSE(Radio(1017)->isChecked());
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved.subsamplingMode, 1);
}

}  // namespace
}  // namespace weftloom::framework
