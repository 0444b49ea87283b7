#include "shell/resources/icons.h"

#include <QPixmap>

#include <gtest/gtest.h>

namespace weftloom {
namespace {

// Toolbar buttons (Open, Synthesise, Save As, About) and the two window icons
// in both sizes: drawn, and each different from the others.
TEST(Icons, EveryIconIsDrawnAtItsSizeAndTellsApart) {
    std::vector<QImage> images;
    for (int command : {57601, 32771, 57604, 57664}) {
        EXPECT_FALSE(ToolbarIcon(command).isNull()) << command;
        images.push_back(ToolbarButtonImage(command));
        EXPECT_EQ(images.back().size(), QSize(16, 15)) << command;
    }
    for (const QIcon& icon : {ApplicationIcon(), DocumentIcon()}) {
        for (int size : {16, 32}) {
            EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
            images.push_back(icon.pixmap(size, size).toImage());
            EXPECT_EQ(images.back().size(), QSize(size, size));
        }
    }
    for (std::size_t a = 0; a < images.size(); ++a) {
        images[a] = images[a].convertToFormat(QImage::Format_ARGB32);
        // Drawn: more than a speck; a toolbar picture on a clear background.
        const QImage alpha = images[a].convertToFormat(QImage::Format_Alpha8);
        const auto opaque = std::count(alpha.bits(), alpha.bits() + alpha.sizeInBytes(), 255);
        EXPECT_GT(opaque, alpha.width() * alpha.height() / 6) << a;
        EXPECT_TRUE(a >= 4 || opaque < alpha.width() * alpha.height()) << a;
        for (std::size_t b = 0; b < a; ++b) {
            EXPECT_NE(images[a], images[b]) << a << " and " << b;
        }
    }
    EXPECT_TRUE(ToolbarButtonImage(57602).isNull());
    EXPECT_TRUE(ToolbarIcon(0).isNull());
}

}  // namespace
}  // namespace weftloom
