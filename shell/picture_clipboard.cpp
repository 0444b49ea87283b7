#include "shell/picture_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <algorithm>
#include <cstring>

namespace weftloom {

void CopyPictureToClipboard(const Image& image) {
    if (image.IsEmpty()) {
        return;
    }
    const bool alpha = image.bytesPerPixel == 4;
    QImage picture(static_cast<int>(image.width), static_cast<int>(image.height),
                   alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (picture.isNull()) {
        return;
    }
    // QImage pads its rows; ours are packed.
    const std::size_t rowBytes = std::size_t{image.width} * image.bytesPerPixel;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::memcpy(picture.scanLine(static_cast<int>(y)), image.PixelAt(0, y), rowBytes);
    }
    QGuiApplication::clipboard()->setImage(picture);
}

bool ClipboardHasPicture() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && data->hasImage();
}

bool PictureFromClipboard(Image& image) {
    const QImage picture =
        QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGBA8888);
    if (picture.isNull()) {
        return false;
    }
    const auto width = static_cast<std::uint32_t>(picture.width());
    const auto height = static_cast<std::uint32_t>(picture.height());
    bool opaque = true;
    for (std::uint32_t y = 0; y < height && opaque; ++y) {
        const uchar* row = picture.constScanLine(static_cast<int>(y));
        for (std::uint32_t x = 0; x < width && opaque; ++x) {
            opaque = row[x * 4 + 3] == 255;
        }
    }
    Image pasted;
    if (!pasted.Allocate(width, height, opaque ? 3 : 4)) {
        return false;
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        const uchar* row = picture.constScanLine(static_cast<int>(y));
        std::uint8_t* out = pasted.PixelAt(0, y);
        for (std::uint32_t x = 0; x < width; ++x) {
            out = std::copy_n(row + x * 4, pasted.bytesPerPixel, out);
        }
    }
    image = std::move(pasted);
    return true;
}

}  // namespace weftloom
