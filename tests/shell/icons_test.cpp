#include "shell/resources/icons.h"

#include <QPixmap>

#include <gtest/gtest.h>

namespace weftloom {
namespace {

int OpaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) == 255 ? 1 : 0;
        }
    }
    return count;
}

QImage AtSize(const QIcon& icon, int size) {
    return icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(Icons, ToolbarButtonsAreSmallVisibleAndTellApart) {
    const int commands[] = {57601, 32771, 57604, 57664};
    std::vector<QImage> images;
    for (int command : commands) {
        const QImage image = ToolbarButtonImage(command).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(image.isNull()) << command;
        EXPECT_EQ(image.size(), QSize(16, 15)) << command;
        // Drawn, but not a solid block: a picture on a clear background.
        const int opaque = OpaquePixels(image);
        EXPECT_GT(opaque, 40) << command;
        EXPECT_LT(opaque, 16 * 15) << command;
        EXPECT_FALSE(ToolbarIcon(command).isNull());
        images.push_back(image);
    }
    for (std::size_t a = 0; a < images.size(); ++a) {
        for (std::size_t b = a + 1; b < images.size(); ++b) {
            EXPECT_NE(images[a], images[b]) << commands[a] << " and " << commands[b];
        }
    }
    EXPECT_TRUE(ToolbarButtonImage(57602).isNull());
    EXPECT_TRUE(ToolbarIcon(0).isNull());
}

TEST(Icons, ApplicationAndDocumentComeInBothSizes) {
    const QIcon application = ApplicationIcon();
    const QIcon document = DocumentIcon();
    for (const QIcon* icon : {&application, &document}) {
        const QList<QSize> sizes = icon->availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(32, 32)));
        EXPECT_TRUE(sizes.contains(QSize(16, 16)));
        for (int size : {16, 32}) {
            const QImage image = AtSize(*icon, size);
            EXPECT_EQ(image.size(), QSize(size, size));
            EXPECT_GT(OpaquePixels(image), size * size / 4);
        }
    }
    EXPECT_NE(AtSize(application, 32), AtSize(document, 32));
    EXPECT_NE(AtSize(application, 16), AtSize(document, 16));
}

}  // namespace
}  // namespace weftloom
