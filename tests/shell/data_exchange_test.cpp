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
    std::int32_t count = 0, side = 0;
    QString name, file;
    std::int32_t quality = 0, shape = 0, hand = 0;
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
    return !dx.Failed();
}

class DataExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BuildDialog(dialog, Template());
        qobject_cast<QComboBox*>(ControlById(dialog, kQuality))->addItems({"High", "Low"});
        dialog.show();
        SetMessageResponder([this](const QString& text, const QString& caption, MessageButtons) {
            messages.push_back(text);
            EXPECT_EQ(caption, DefaultMessageCaption());
            return MessageResult::Ok;
        });
        Exchange(dialog, false, typical);
    }
    void TearDown() override { SetMessageResponder({}); }

    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(ControlById(dialog, id)); }
    QRadioButton* Radio(int id) { return qobject_cast<QRadioButton*>(ControlById(dialog, id)); }

    Values typical = {640, 480, "brick", "R&D <b>brick</b>.tga", 1, 2, 1};
    QDialog dialog;
    std::vector<QString> messages;
};

TEST_F(DataExchangeTest, LoadShowsValuesAndSaveReadsBackWhatTheUserChanged) {
    EXPECT_EQ(qobject_cast<QLabel*>(ControlById(dialog, kFile))->text(), typical.file);
    EXPECT_TRUE(Radio(kTriangle)->isChecked());
    Values saved;
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved, typical);

    Edit(kSide)->setText(" 1024 ");
    QTest::mouseClick(Radio(kSquare), Qt::LeftButton);
    ASSERT_TRUE(Exchange(dialog, true, saved));
    EXPECT_EQ(saved.side, 1024);
    EXPECT_EQ(saved.shape, 1);

    // Loading never checks.
    Values small = typical;
    small.count = 20;
    EXPECT_TRUE(Exchange(dialog, false, small));
    EXPECT_EQ(Edit(kCount)->text(), "20");
    EXPECT_TRUE(messages.empty());
}

// A refused field is named, focused and ends the pass: fields before it are
// read, later ones are left alone; the first bad field is the one reported.
TEST_F(DataExchangeTest, RefusedFieldsAreReportedOneAtATimeAtTheField) {
    struct Step {
        const char* count;
        const char* side;
        const char* message;  // nullptr: accepted
        int focused;
    };
    const char* kInteger = "Please enter an integer.";
    const char* kRange = "Please enter an integer between 32 and 999999.";
    const Step steps[] = {{"640", "", kInteger, kSide},
                          {"640", "4294967936", kInteger, kSide},  // no wrapped value
                          {"10", "10", kRange, kCount},
                          {"999999", "1000000", kRange, kSide},
                          {"999999", "32", nullptr, 0}};
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.count) + " " + step.side);
        messages.clear();
        Edit(kCount)->setText(step.count);
        Edit(kSide)->setText(step.side);
        Values saved;
        saved.name = QStringLiteral("untouched");
        EXPECT_EQ(Exchange(dialog, true, saved), step.message == nullptr);
        if (step.message == nullptr) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(saved.side, 32);
            continue;
        }
        EXPECT_EQ(messages, (std::vector<QString>{step.message}));
        EXPECT_EQ(dialog.focusWidget(), Edit(step.focused));
        EXPECT_EQ(Edit(step.focused)->selectedText(), Edit(step.focused)->text());
        EXPECT_EQ(saved.count, std::atoi(step.count));
        EXPECT_EQ(saved.name, "untouched");
    }
}

}  // namespace
}  // namespace weftloom::framework
