#include "shell/resources/about_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace weftloom {
namespace {

TEST(AboutBox, ShowsNameVersionAndPictureAndEnterCloses) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About weftloom");
    bool hasPicture = false, hasVersion = false;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        hasPicture = hasPicture || !label->pixmap().isNull();
        hasVersion = hasVersion || label->text() == "weftloom Version 0.3";
        // Every line fits on its one line.
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
    EXPECT_TRUE(hasPicture);
    EXPECT_TRUE(hasVersion);

    // OK is the default button: Enter closes the modal box.
    auto* ok = qobject_cast<QPushButton*>(framework::ControlById(about, 1));
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    QTimer::singleShot(0, &about, [&about] { QTest::keyClick(&about, Qt::Key_Return); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

}  // namespace
}  // namespace weftloom
