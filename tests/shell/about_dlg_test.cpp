#include "shell/resources/about_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace weftloom {
namespace {

QStringList LabelTexts(const QDialog& dialog) {
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            texts << label->text();
        }
    }
    return texts;
}

TEST(AboutBox, ShowsNameVersionAndItsLines) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About weftloom");
    const QStringList texts = LabelTexts(about);
    EXPECT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts.contains("weftloom Version 0.3"));

    bool hasPicture = false;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        hasPicture = hasPicture || !label->pixmap().isNull();
        // Every line fits on its one line.
        if (!label->text().isEmpty()) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->text().toStdString();
            EXPECT_GT(label->x() + label->width(), 0);
            EXPECT_LE(label->x() + label->width(), about.width());
        }
    }
    EXPECT_TRUE(hasPicture);
}

TEST(AboutBox, OkClosesTheModalBox) {
    CAboutDlg about;
    auto* ok = qobject_cast<QPushButton*>(framework::ControlById(about, 1));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    QTimer::singleShot(0, ok, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());

    // Enter presses the default button too.
    QTimer::singleShot(0, &about, [&about] { QTest::keyClick(&about, Qt::Key_Return); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace weftloom
