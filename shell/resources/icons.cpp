#include "shell/resources/icons.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygon>

#include "shell/resources/resource_ids.h"

namespace weftloom {

namespace {

constexpr int kOpenCommand = 57601;
constexpr int kSynthesiseCommand = 32771;
constexpr int kSaveAsCommand = 57604;
constexpr int kAboutCommand = 57664;

// Pixel art: antialiasing stays off so that edges land on whole pixels at
// these small sizes.
QImage BlankImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

const QColor kOutline(0x30, 0x30, 0x30);
const QColor kWarp(0xC8, 0x8A, 0x2E);  // golden thread, running down
const QColor kWeft(0x2E, 0x6C, 0xC8);  // blue thread, running across
const QColor kShadow(0x1E, 0x3E, 0x70);

void DrawOpen(QPainter& painter) {
    // A folder: the back with its tab, and the front flap tilted open.
    painter.setPen(kOutline);
    painter.setBrush(QColor(0xE8, 0xC0, 0x40));
    painter.drawPolygon(QPolygon({{1, 3}, {5, 3}, {6, 4}, {12, 4}, {12, 12}, {1, 12}}));
    painter.setBrush(QColor(0xF8, 0xE0, 0x78));
    painter.drawPolygon(QPolygon({{1, 12}, {4, 7}, {15, 7}, {12, 12}}));
}

void DrawSynthesise(QPainter& painter) {
    // A patch of plain weave: threads alternate over and under.
    painter.setPen(Qt::NoPen);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            const bool warpOver = (row + column) % 2 == 0;
            const QRect cell(2 + column * 3, 1 + row * 3, 3, 3);
            painter.setBrush(warpOver ? kWarp : kWeft);
            painter.drawRect(cell);
            // A darker edge where the thread dips under its neighbour.
            painter.setBrush(warpOver ? kWarp.darker(150) : kShadow);
            if (warpOver) {
                painter.drawRect(cell.x(), cell.y() + 2, 3, 1);
            } else {
                painter.drawRect(cell.x() + 2, cell.y(), 1, 3);
            }
        }
    }
    painter.setPen(kOutline);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(1, 0, 13, 13);
}

void DrawSaveAs(QPainter& painter) {
    // A diskette: body, metal shutter, paper label.
    painter.setPen(kOutline);
    painter.setBrush(QColor(0x3A, 0x4E, 0x9A));
    painter.drawPolygon(QPolygon({{1, 1}, {13, 1}, {14, 2}, {14, 14}, {1, 14}}));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xC0, 0xC0, 0xC8));
    painter.drawRect(4, 1, 7, 4);
    painter.setBrush(QColor(0x3A, 0x4E, 0x9A));
    painter.drawRect(8, 2, 2, 2);
    painter.setBrush(Qt::white);
    painter.drawRect(3, 8, 9, 6);
    painter.setBrush(QColor(0x90, 0x90, 0x90));
    painter.drawRect(4, 10, 7, 1);
    painter.drawRect(4, 12, 7, 1);
}

void DrawAbout(QPainter& painter) {
    // A lower-case "i" in a blue disc.
    painter.setPen(QColor(0x1E, 0x4E, 0xA0));
    painter.setBrush(QColor(0x3A, 0x7A, 0xD8));
    painter.drawEllipse(1, 0, 13, 13);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(7, 2, 2, 2);
    painter.drawRect(6, 5, 3, 1);
    painter.drawRect(7, 5, 2, 6);
    painter.drawRect(6, 10, 4, 1);
}

// The selection tools: their shape tinted as a selection is, in a dashed
// outline, black on white so that it shows on any toolbar.
void DrawSelectionShape(QPainter& painter, int commandId) {
    for (const bool dashes : {false, true}) {
        QPen pen(dashes ? QColor(Qt::black) : QColor(Qt::white));
        if (dashes) {
            pen.setDashPattern({2, 2});
        }
        painter.setPen(pen);
        painter.setBrush(dashes ? QBrush(Qt::NoBrush) : QBrush(QColor(0xB8, 0xD0, 0xF0)));
        switch (commandId) {
            case kIdSelectRectangle:
                painter.drawRect(1, 2, 13, 10);
                break;
            case kIdSelectEllipse:
                painter.drawEllipse(1, 1, 13, 12);
                break;
            default:
                painter.drawPolygon(QPolygon(
                    {{3, 13}, {1, 8}, {3, 3}, {8, 1}, {13, 3}, {14, 8}, {10, 12}, {6, 11}}));
                break;
        }
    }
}

QImage ApplicationImage(int size) {
    QImage image = BlankImage(size, size);
    QPainter painter(&image);
    const int cell = size / 8;
    // Two loom beams, top and bottom, with the woven cloth stretched between.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x7A, 0x4A, 0x20));
    painter.drawRect(0, 0, size, cell);
    painter.drawRect(0, size - cell, size, cell);
    for (int row = 1; row < 7; ++row) {
        for (int column = 0; column < 8; ++column) {
            const bool warpOver = (row + column) % 2 == 0;
            const QRect threadCell(column * cell, row * cell, cell, cell);
            painter.setBrush(warpOver ? kWarp : kWeft);
            painter.drawRect(threadCell);
            if (cell >= 4) {
                painter.setBrush(warpOver ? kWarp.darker(140) : kShadow);
                if (warpOver) {
                    painter.drawRect(threadCell.x() + cell - 1, threadCell.y(), 1, cell);
                } else {
                    painter.drawRect(threadCell.x(), threadCell.y() + cell - 1, cell, 1);
                }
            }
        }
    }
    // The warp threads run on over the beams.
    painter.setBrush(kWarp.lighter(120));
    for (int column = 0; column < 8; column += 2) {
        painter.drawRect(column * cell + cell / 4, 0, std::max(1, cell / 2), cell);
    }
    return image;
}

QImage DocumentImage(int size) {
    QImage image = BlankImage(size, size);
    QPainter painter(&image);
    const int left = size / 8;
    const int right = size - size / 8 - 1;
    const int fold = size / 4;
    // A page with its corner turned down.
    painter.setPen(kOutline);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygon(
        {{left, 0}, {right - fold, 0}, {right, fold}, {right, size - 1}, {left, size - 1}}));
    painter.setBrush(QColor(0xD8, 0xD8, 0xD8));
    painter.drawPolygon(QPolygon({{right - fold, 0}, {right - fold, fold}, {right, fold}}));
    // The picture on it: one motif repeated two by two, as a tiled texture.
    const int tile = std::max(2, size / 8);
    const int originX = left + (size >= 32 ? 3 : 2);
    const int originY = fold + (size >= 32 ? 4 : 2);
    painter.setPen(Qt::NoPen);
    for (int ty = 0; ty < 2; ++ty) {
        for (int tx = 0; tx < 2; ++tx) {
            const int x = originX + tx * tile * 2;
            const int y = originY + ty * tile * 2;
            painter.setBrush(kWeft);
            painter.drawRect(x, y, tile * 2, tile * 2);
            painter.setBrush(kWarp);
            painter.drawRect(x, y, tile, tile);
            painter.drawRect(x + tile, y + tile, tile, tile);
        }
    }
    return image;
}

QIcon IconOf(QImage (*draw)(int)) {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(draw(32)));
    icon.addPixmap(QPixmap::fromImage(draw(16)));
    return icon;
}

}  // namespace

QImage ToolbarButtonImage(int commandId) {
    void (*draw)(QPainter&) = nullptr;
    switch (commandId) {
        case kOpenCommand:
            draw = DrawOpen;
            break;
        case kSynthesiseCommand:
            draw = DrawSynthesise;
            break;
        case kSaveAsCommand:
            draw = DrawSaveAs;
            break;
        case kAboutCommand:
            draw = DrawAbout;
            break;
        case kIdSelectRectangle:
        case kIdSelectEllipse:
        case kIdSelectLasso:
            break;
        default:
            return {};
    }
    QImage image = BlankImage(kToolbarImageWidth, kToolbarImageHeight);
    QPainter painter(&image);
    if (draw != nullptr) {
        draw(painter);
    } else {
        DrawSelectionShape(painter, commandId);
    }
    return image;
}

QIcon ToolbarIcon(int commandId) {
    const QImage image = ToolbarButtonImage(commandId);
    if (image.isNull()) {
        return {};
    }
    return QIcon(QPixmap::fromImage(image));
}

QIcon ApplicationIcon() {
    return IconOf(ApplicationImage);
}

QIcon DocumentIcon() {
    return IconOf(DocumentImage);
}

}  // namespace weftloom
