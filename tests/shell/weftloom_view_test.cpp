#include <QDeadlineTimer>
#include <QLabel>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <functional>

#include "shell/framework/commands.h"
#include "shell/resources/resource_ids.h"
#include "tests/shell/app_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;

class ImageView : public testing::AppFixture {
  protected:
    // Resizes the active window so that its view's client area has the size.
    void ResizeClient(QSize size) {
        QMdiSubWindow* window = Frame()->MdiArea()->activeSubWindow();
        window->resize(window->size() + size - ActiveView()->viewport()->size());
        Settle();
        ASSERT_EQ(ActiveView()->viewport()->size(), size);
    }

    // A new document whose picture has colour(x, y) at each pixel (its first
    // bytesPerPixel values), shown in its view.
    using Colouring = std::function<std::array<std::uint8_t, 4>(std::uint32_t, std::uint32_t)>;
    void NewPicture(std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerPixel,
                    const Colouring& colour) {
        Trigger(command::kFileNew);
        Image& image = ActiveDoc()->image;
        ASSERT_TRUE(ActiveDoc()->CreateImage(width, height, bytesPerPixel));
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                std::copy_n(colour(x, y).begin(), bytesPerPixel, image.PixelAt(x, y));
            }
        }
        ActiveView()->RefreshRows(image, 0, height);
    }

    // The part of the client area that the picture covers, as drawn.
    QRect Drawn() const {
        const QImage shown = ActiveView()->viewport()->grab().toImage();
        QRect drawn;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                if (shown.pixelColor(x, y) != kViewBackground) {
                    drawn |= QRect(x, y, 1, 1);
                }
            }
        }
        return drawn;
    }

    // The colours drawn over the picture's part of the client area.
    std::vector<QColor> PictureColours() const {
        const QImage shown = ActiveView()->viewport()->grab().toImage();
        const QRect picture = Drawn();
        std::vector<QColor> colours;
        for (int y = picture.top(); y <= picture.bottom(); ++y) {
            for (int x = picture.left(); x <= picture.right(); ++x) {
                colours.push_back(shown.pixelColor(x, y));
            }
        }
        return colours;
    }
};

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

// A picture of tens of megabytes comes into view a slice at a time between
// events, its display copy first, then its halved copies: the refresh returns
// at once, and the picture is whole once the events have run.
TEST_F(ImageView, AHugePictureIsTakenInASliceAtATime) {
    ASSERT_TRUE(Start());
    constexpr std::uint32_t kSide = 3000;  // 27 MB: several slices
    NewPicture(kSide, kSide, 3, [](std::uint32_t, std::uint32_t y) {
        return y < kSide / 2 ? std::array<std::uint8_t, 4>{0, 0, 255}
                             : std::array<std::uint8_t, 4>{255, 0, 0};
    });
    CWeftloomView* view = ActiveView();
    const auto bitmapRow = [view](std::uint32_t y) {
        return view->BitmapBits().subspan(
            y * static_cast<std::size_t>(view->BitmapInfo().width) * 3, 3);
    };
    EXPECT_TRUE(view->IsCatchingUp());
    EXPECT_EQ(bitmapRow(kSide - 1)[2], 0) << "the last rows wait for a later turn";
    ResizeClient(QSize(200, 200));  // shown at about a fifteenth: halved copies
    QDeadlineTimer deadline(60000);
    while (view->IsCatchingUp() && !deadline.hasExpired()) {
        Settle();
    }
    ASSERT_FALSE(view->IsCatchingUp());
    EXPECT_EQ((std::vector<int>{bitmapRow(0)[0], bitmapRow(0)[2]}), (std::vector<int>{255, 0}));
    EXPECT_EQ((std::vector<int>{bitmapRow(kSide - 1)[0], bitmapRow(kSide - 1)[2]}),
              (std::vector<int>{0, 255}));
    const QImage shown = view->viewport()->grab().toImage();
    const QRect drawn = Drawn();
    EXPECT_EQ(shown.pixelColor(drawn.center().x(), drawn.top() + 2), QColor(0, 0, 255));
    EXPECT_EQ(shown.pixelColor(drawn.center().x(), drawn.bottom() - 2), QColor(255, 0, 0))
        << "the halved copies reach the last rows";
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
        EXPECT_EQ(ActiveView()->viewport()->size(), QSize(sw, sh)) << w << " x " << h;
    }

    // Larger than the work area: the window stays inside it.
    Frame()->resize(800, 600);
    Settle();
    Trigger(command::kFileNew);
    ASSERT_TRUE(ActiveDoc()->CreateImage(1024, 1024, 3));
    Settle();
    const QRect area = Frame()->MdiArea()->viewport()->rect();
    EXPECT_TRUE(area.contains(Frame()->MdiArea()->activeSubWindow()->geometry()));
}

// Fit shows the whole picture in its own shape, as large as the client area
// allows and centred, without scroll bars, whatever the picture's size; Stretch
// covers the client area.
TEST_F(ImageView, FitKeepsTheShapeAndStretchFillsTheWindow) {
    ASSERT_TRUE(Start());
    Frame()->resize(1200, 1000);
    const QSize client(300, 200);
    struct Case {
        const char* name;
        std::uint32_t width, height;
        bool tiled;
        QRect fit;
    };
    const Case cases[] = {{"wide", 400, 100, false, QRect(0, 62, 300, 75)},
                          {"tall", 50, 300, false, QRect(133, 0, 33, 200)},
                          {"square", 64, 64, false, QRect(50, 0, 200, 200)},
                          {"larger than the window", 3000, 1000, false, QRect(0, 50, 300, 100)},
                          {"tiled", 40, 10, true, QRect(0, 62, 300, 75)}};
    for (const Case& c : cases) {
        NewPicture(c.width, c.height, 3, [](auto, auto) {
            return std::array<std::uint8_t, 4>{200, 200, 200};
        });
        ResizeClient(client);
        if (c.tiled) {
            Trigger(kIdViewTiled);
        }
        EXPECT_EQ(Drawn(), c.fit) << c.name;
        EXPECT_FALSE(ActiveView()->horizontalScrollBar()->isVisible()) << c.name;
        EXPECT_FALSE(ActiveView()->verticalScrollBar()->isVisible()) << c.name;
        Trigger(kIdViewStretch);
        EXPECT_EQ(Drawn(), QRect(QPoint(0, 0), client)) << c.name;
        Trigger(kIdZoomFit);
        EXPECT_EQ(Drawn(), c.fit) << c.name << ", Fit again";
    }
}

// Enlarged pixels are blocks at every scale, Fit included; a reduction is
// smoothed, and one below half the size averages every pixel. The picture has
// one black column in four, the rest white (191 on average).
TEST_F(ImageView, EnlargementsShowBlocksAndReductionsAreSmoothed) {
    ASSERT_TRUE(Start());
    NewPicture(32, 16, 3, [](std::uint32_t x, std::uint32_t) {
        const std::uint8_t value = x % 4 == 0 ? 0 : 255;
        return std::array<std::uint8_t, 4>{value, value, value};
    });
    enum class Look { kBlocks, kSmoothed, kEven };
    struct Case {
        const char* name;
        QSize client;
        std::vector<int> commands;
        Look look;
    };
    const Case cases[] = {
        {"Fit at 150%", QSize(48, 24), {}, Look::kBlocks},
        {"Fit at 1250%", QSize(400, 200), {}, Look::kBlocks},
        {"Fit at 75%", QSize(24, 12), {}, Look::kSmoothed},
        {"400%", QSize(200, 100), {kIdZoomActual, kIdZoomIn, kIdZoomIn}, Look::kBlocks},
        {"50%", QSize(100, 100), {kIdZoomActual, kIdZoomOut}, Look::kSmoothed},
        {"25%", QSize(100, 100), {kIdZoomActual, kIdZoomOut, kIdZoomOut}, Look::kEven},
        {"12.5%",
         QSize(100, 100),
         {kIdZoomActual, kIdZoomOut, kIdZoomOut, kIdZoomOut},
         Look::kEven}};
    for (const Case& c : cases) {
        Trigger(kIdZoomFit);
        ResizeClient(c.client);
        for (int id : c.commands) {
            Trigger(id);
        }
        const std::vector<QColor> colours = PictureColours();
        ASSERT_FALSE(colours.empty()) << c.name;
        const auto count = [&colours](int low, int high) {
            return std::count_if(colours.begin(), colours.end(), [=](const QColor& colour) {
                return colour.red() >= low && colour.red() <= high;
            });
        };
        const auto all = static_cast<std::ptrdiff_t>(colours.size());
        switch (c.look) {
            case Look::kBlocks:
                EXPECT_EQ(count(0, 0) + count(255, 255), all) << c.name;
                break;
            case Look::kSmoothed:
                EXPECT_GT(count(20, 235), 0) << c.name;
                break;
            case Look::kEven:
                EXPECT_EQ(count(179, 203), all) << c.name;
                break;
        }
    }
}

// Zoom keeps the aspect and scrolls, Ctrl+wheel zooms and the plain wheel
// scrolls, Tiled repeats the picture 2 x 2; the status bar tells size and zoom.
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
    QApplication::sendEvent(ActiveView()->viewport(), &wheel);  // 800%: larger than the window
    QScrollBar* bar = ActiveView()->verticalScrollBar();
    const int before = bar->value();
    QWheelEvent down(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ActiveView()->viewport(), &down);
    EXPECT_GE(bar->value() - before, 40) << "a notch moves the picture visibly";

    // Fit and tiled: each quarter of the window starts with the image's first pixel.
    Trigger(kIdZoomFit);
    const Image& image = ActiveDoc()->image;
    const QColor first(image.pixels[0], image.pixels[1], image.pixels[2]);
    const QImage shown = ActiveView()->viewport()->grab().toImage();
    const QSize half = ActiveView()->viewport()->size() / 2;
    EXPECT_EQ(shown.pixelColor(0, 0), first);
    EXPECT_EQ(shown.pixelColor(half.width(), half.height()), first);
    EXPECT_EQ(status->text(), "40 x 20 pixels, Fit, tiled");
    Trigger(kIdViewStretch);
    EXPECT_EQ(status->text(), "40 x 20 pixels, Stretch, tiled");
}

// Transparent and half-transparent pixels show a checkerboard through them in
// every view mode; the colour a transparent pixel hides never shows, not even
// averaged into a reduction.
TEST_F(ImageView, TransparentPixelsShowACheckerboard) {
    ASSERT_TRUE(Start());
    using Pixel = std::array<std::uint8_t, 4>;
    const Pixel hiddenRed{255, 0, 0, 0};
    const Pixel halfBlue{0, 0, 255, 128};
    NewPicture(128, 64, 4,
               [&](std::uint32_t x, std::uint32_t) { return x < 64 ? hiddenRed : halfBlue; });
    ResizeClient(QSize(200, 100));
    const auto seen = [](const std::vector<QColor>& colours, QColor wanted) {
        return std::any_of(colours.begin(), colours.end(), [&wanted](const QColor& c) {
            return std::abs(c.red() - wanted.red()) <= 2 &&
                   std::abs(c.green() - wanted.green()) <= 2 &&
                   std::abs(c.blue() - wanted.blue()) <= 2;
        });
    };
    const auto noRed = [](const std::vector<QColor>& colours) {
        return std::all_of(colours.begin(), colours.end(),
                           [](const QColor& c) { return std::abs(c.red() - c.green()) <= 2; });
    };
    const std::pair<const char*, std::vector<int>> modes[] = {
        {"Fit", {kIdZoomFit}},
        {"Stretch", {kIdViewStretch}},
        {"100%", {kIdZoomActual}},
        {"400%", {kIdZoomIn, kIdZoomIn}},
        {"tiled", {kIdZoomFit, kIdViewTiled}},
        {"25%", {kIdViewTiled, kIdZoomActual, kIdZoomOut, kIdZoomOut}}};
    for (const auto& [mode, commands] : modes) {
        for (int id : commands) {
            Trigger(id);
        }
        // White and light grey squares, both also under half the blue.
        const std::vector<QColor> colours = PictureColours();
        for (const QColor wanted : {QColor(255, 255, 255), QColor(204, 204, 204),
                                    QColor(127, 127, 255), QColor(102, 102, 230)}) {
            EXPECT_TRUE(seen(colours, wanted)) << mode << " " << wanted.name().toStdString();
        }
        EXPECT_TRUE(noRed(colours)) << mode;
    }

    // Rows refreshed while reduced (as a synthesis does): one column in four
    // of the right half turns opaque blue, the others transparent red.
    Image& image = ActiveDoc()->image;
    for (std::uint32_t y = 0; y < 64; ++y) {
        for (std::uint32_t x = 64; x < 128; ++x) {
            const Pixel pixel = x % 4 == 0 ? Pixel{0, 0, 255, 255} : hiddenRed;
            std::copy(pixel.begin(), pixel.end(), image.PixelAt(x, y));
        }
    }
    ActiveView()->RefreshRows(image, 0, 64);
    EXPECT_TRUE(seen(PictureColours(), QColor(191, 191, 255))) << "a quarter blue over white";
    EXPECT_TRUE(noRed(PictureColours()));
}

}  // namespace
}  // namespace weftloom
