#include <QLabel>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QWheelEvent>

#include "shell/framework/commands.h"
#include "shell/resources/resource_ids.h"
#include "tests/shell/app_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;
using ImageView = testing::AppFixture;

TEST_F(ImageView, DisplayCopyIsPaddedTopDownAndBlueFirst) {
    ASSERT_TRUE(Start());
    Trigger(command::kFileNew);
    CWeftloomDoc* doc = ActiveDoc();
    CWeftloomView* view = ActiveView();
    EXPECT_FALSE(view->HasBitmap()) << "an empty document has no display copy";

    ASSERT_TRUE(doc->CreateImage(5, 3, 3));
    doc->image.PixelAt(0, 0)[0] = 255;  // red
    doc->image.PixelAt(4, 2)[1] = 77;   // green, last pixel
    view->RefreshRows(doc->image, 0, 0);
    ASSERT_TRUE(view->HasBitmap());
    EXPECT_EQ(view->BitmapInfo().width, 8);
    EXPECT_EQ(view->BitmapInfo().height, -3);
    EXPECT_EQ(view->BitmapInfo().bitCount, 24);
    EXPECT_EQ(view->BitmapInfo().sizeImage, 3u * 3u * 5u);
    const auto& bits = view->BitmapBits();
    ASSERT_EQ(bits.size(), 8u * 3u * 3u);
    EXPECT_EQ(std::vector(bits.begin(), bits.begin() + 3), (std::vector<std::uint8_t>{0, 0, 255}));
    EXPECT_EQ(bits[2 * 24 + 4 * 3 + 1], 77);
    EXPECT_EQ(bits[2 * 24 + 5 * 3], 0) << "padding stays black";

    // Only the asked rows change once the copy exists.
    doc->image.PixelAt(0, 0)[0] = 1;
    doc->image.PixelAt(0, 1)[0] = 2;
    view->RefreshRows(doc->image, 1, 2);
    EXPECT_EQ(view->BitmapBits()[2], 255);
    EXPECT_EQ(view->BitmapBits()[24 + 2], 2);
}

TEST_F(ImageView, FitsTheWindowToTheImageEnlargedByAPowerOfTwo) {
    ASSERT_TRUE(Start());
    Frame()->resize(1200, 2200);
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, int, int>> cases = {
        {64, 48, 256, 192}, {16, 200, 128, 1600}, {300, 300, 300, 300}, {32, 32, 128, 128}};
    for (const auto& [w, h, sw, sh] : cases) {
        Trigger(command::kFileNew);
        ASSERT_TRUE(ActiveDoc()->CreateImage(w, h, 3));
        Settle();
        EXPECT_EQ(ActiveView()->ScrollSizes(), QSize(sw, sh)) << w << " x " << h;
        EXPECT_EQ(ActiveView()->viewport()->size(), QSize(sw, sh)) << w << " x " << h;
    }

    // Larger than the work area: the window stays inside it, and the picture,
    // stretched over the client area, stays there whatever the scroll position.
    Frame()->resize(800, 600);
    Settle();
    Trigger(command::kFileNew);
    ASSERT_TRUE(ActiveDoc()->CreateImage(1024, 1024, 3));
    ActiveDoc()->image.pixels.assign(ActiveDoc()->image.pixels.size(), 200);
    ActiveView()->RefreshRows(ActiveDoc()->image, 0, 1024);
    Settle();
    const QRect area = Frame()->MdiArea()->viewport()->rect();
    EXPECT_TRUE(area.contains(Frame()->MdiArea()->activeSubWindow()->geometry()));
    ActiveView()->verticalScrollBar()->setValue(ActiveView()->verticalScrollBar()->maximum());
    const QImage shown = ActiveView()->viewport()->grab().toImage();
    EXPECT_EQ(shown.pixelColor(2, 2), QColor(200, 200, 200));
}

// Zoom keeps the aspect and scrolls, Ctrl+wheel zooms, Fit stretches again,
// Tiled repeats the picture 2 x 2; the status bar tells size and zoom.
TEST_F(ImageView, ZoomAndTiledThroughTheirCommands) {
    ASSERT_TRUE(Start({QString::fromStdString(WriteSample("wall.tga", 40, 20))}));
    QLabel* status = Frame()->findChild<QLabel*>("status");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), "40 x 20 pixels, Fit");
    // Fit shows it eight times as large (320 x 160): zooming in goes on from there.
    Trigger(kIdZoomIn);
    EXPECT_EQ(ActiveView()->Zoom(), 16.0);
    const std::pair<int, QSize> steps[] = {{kIdZoomActual, QSize(40, 20)},
                                           {kIdZoomIn, QSize(80, 40)},
                                           {kIdZoomIn, QSize(160, 80)},
                                           {kIdZoomOut, QSize(80, 40)},
                                           {kIdViewTiled, QSize(160, 80)}};
    for (const auto& [command, sizes] : steps) {
        Trigger(command);
        EXPECT_EQ(ActiveView()->ScrollSizes(), sizes) << command;
    }
    EXPECT_EQ(status->text(), "40 x 20 pixels, 200%, tiled");
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ActiveView()->viewport(), &wheel);
    EXPECT_EQ(ActiveView()->Zoom(), 4.0);
    EXPECT_EQ(status->text(), "40 x 20 pixels, 400%, tiled");

    // Fit and tiled: each quarter of the window starts with the image's first pixel.
    Trigger(kIdZoomFit);
    const Image& image = ActiveDoc()->image;
    const QColor first(image.pixels[0], image.pixels[1], image.pixels[2]);
    const QImage shown = ActiveView()->viewport()->grab().toImage();
    const QSize half = ActiveView()->viewport()->size() / 2;
    EXPECT_EQ(shown.pixelColor(0, 0), first);
    EXPECT_EQ(shown.pixelColor(half.width(), half.height()), first);
    EXPECT_EQ(status->text(), "40 x 20 pixels, Fit, tiled");
}

}  // namespace
}  // namespace weftloom
