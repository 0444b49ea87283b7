#include "shell/weftloom_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include <mutex>

#include "shell/framework/child_frame.h"
#include "shell/framework/main_frame.h"
#include "shell/framework/message_box.h"
#include "shell/resources/resource_ids.h"
#include "shell/weftloom_doc.h"

namespace weftloom {

namespace {

// The size of the window of a document without an image.
constexpr QSize kEmptyWindowSize(240, 160);
// How far one scroll step moves a zoomed picture, in screen pixels.
constexpr int kScrollStep = 20;
// The largest side of a zoomed picture, in screen pixels.
constexpr double kLargestSide = 1 << 24;
// How much of a picture the display copy takes in, or halves, between two
// looks at the event queue: a few hundredths of a second of work.
constexpr std::size_t kSliceBytes = std::size_t{8} << 20;

// How many rows of rowBytes each make up a slice (at least one).
std::uint32_t SliceRows(std::size_t rowBytes) {
    const std::size_t rows = kSliceBytes / std::max<std::size_t>(rowBytes, 1);
    return static_cast<std::uint32_t>(std::clamp<std::size_t>(rows, 1, UINT32_MAX));
}

// Shows through transparent pixels: light squares of 8 screen pixels.
const QBrush& CheckerBrush() {
    static const QBrush brush = [] {
        constexpr int kSquare = 8;
        QImage checks(2 * kSquare, 2 * kSquare, QImage::Format_RGB32);
        checks.fill(QColor(255, 255, 255));
        const QColor dark(204, 204, 204);
        for (int y = 0; y < checks.height(); ++y) {
            for (int x = 0; x < checks.width(); ++x) {
                if ((x / kSquare + y / kSquare) % 2 == 1) {
                    checks.setPixelColor(x, y, dark);
                }
            }
        }
        return QBrush(checks);
    }();
    return brush;
}

// How far the mouse moves, in screen pixels, before a press becomes a drag.
constexpr int kDragDistance = 3;
// The tint over selected pixels: a light blue, a third opaque.
const QRgb kSelectionTint = qPremultiply(qRgba(70, 150, 255, 85));

SelectionShape currentTool = SelectionShape::Rectangle;

// Outlines in white under black dashes: they show on any picture.
void DrawDashed(QPainter& painter, const std::function<void()>& draw) {
    QPen pen(Qt::white, 0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    draw();
    pen.setColor(Qt::black);
    pen.setDashPattern({4, 4});
    painter.setPen(pen);
    draw();
}

SynthesisHooks& Hooks() {
    static SynthesisHooks hooks;
    return hooks;
}

// Makes rows firstRow up to endRow of the halved level `to` from the level
// below, each pixel the mean of 2 x 2 premultiplied pixels, so that the colour
// under a transparent pixel never bleeds into its neighbours. pixel(x, y) gives
// the level below's pixel, premultiplied; an odd last column or row is
// averaged with itself.
template <typename Pixel>
void HalveRows(const Pixel& pixel, QSize from, QImage& to, int firstRow, int endRow) {
    for (int y = firstRow; y < endRow; ++y) {
        const int y0 = 2 * y;
        const int y1 = std::min(y0 + 1, from.height() - 1);
        auto* row = reinterpret_cast<QRgb*>(to.scanLine(y));
        for (int x = 0; x < to.width(); ++x) {
            const int x0 = 2 * x;
            const int x1 = std::min(x0 + 1, from.width() - 1);
            int sums[4] = {2, 2, 2, 2};  // rounded to the nearest
            for (const QRgb p : {pixel(x0, y0), pixel(x1, y0), pixel(x0, y1), pixel(x1, y1)}) {
                sums[0] += qRed(p);
                sums[1] += qGreen(p);
                sums[2] += qBlue(p);
                sums[3] += qAlpha(p);
            }
            row[x] = qRgba(sums[0] / 4, sums[1] / 4, sums[2] / 4, sums[3] / 4);
        }
    }
}

}  // namespace

void SetSynthesisHooks(SynthesisHooks hooks) {
    Hooks() = std::move(hooks);
}

void AbortSynthesis(CWeftloomDoc& document) {
    std::lock_guard lock(document.progressLock);
    if (document.progressDialog != nullptr && Hooks().abortSynthesis) {
        Hooks().abortSynthesis(document);
    }
}

CWeftloomView::CWeftloomView(CWeftloomDoc* document) : View(document) {
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // A wheel notch or an arrow key moves a zoomed picture by a visible amount.
    horizontalScrollBar()->setSingleStep(kScrollStep);
    verticalScrollBar()->setSingleStep(kScrollStep);
}

CWeftloomView::~CWeftloomView() = default;

CWeftloomDoc* CWeftloomView::GetDocument() const {
    return static_cast<CWeftloomDoc*>(View::GetDocument());
}

bool CWeftloomView::NeedsNewBitmap(const Image& image) const {
    return !HasBitmap() || bitmapInfo_.width < static_cast<std::int64_t>(image.width) ||
           -static_cast<std::int64_t>(bitmapInfo_.height) < image.height ||
           bitmapInfo_.bitCount != (image.bytesPerPixel == 4 ? 32 : 24);
}

bool CWeftloomView::BuildBitmap(const Image& image) {
    bitmapBits_.reset();
    bitmapSize_ = 0;
    display_ = QImage();
    reductions_.clear();
    staleBegin_ = staleEnd_ = 0;
    pendingBegin_ = pendingEnd_ = 0;
    if (image.IsEmpty()) {
        return false;  // there is no bitmap of no pixels
    }
    const std::uint32_t bpp = image.bytesPerPixel == 4 ? 4 : 3;
    DisplayBitmapInfo info;
    info.width = static_cast<std::int32_t>(image.width - image.width % 4 + 4);
    info.height = -static_cast<std::int32_t>(image.height);
    info.bitCount = static_cast<std::uint16_t>(bpp * 8);
    info.sizeImage = image.height * bpp * image.width;
    const std::size_t rowBytes = std::size_t{bpp} * static_cast<std::size_t>(info.width);
    const std::size_t size = rowBytes * image.height;
    bitmapBits_.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
    if (bitmapBits_ == nullptr) {
        return false;
    }
    bitmapSize_ = size;
    bitmapInfo_ = info;
    display_ = QImage(bitmapBits_.get(), info.width, static_cast<int>(image.height),
                      static_cast<qsizetype>(rowBytes),
                      bpp == 4 ? QImage::Format_ARGB32 : QImage::Format_BGR888);
    return true;
}

void CWeftloomView::RefreshRows(const Image& image, std::uint32_t firstRow, std::uint32_t endRow) {
    if (NeedsNewBitmap(image)) {
        if (!BuildBitmap(image)) {
            return;
        }
        firstRow = 0;
        endRow = image.height;
    }
    endRow = std::min(endRow, image.height);
    if (firstRow < endRow) {
        const bool waiting = pendingBegin_ < pendingEnd_;
        pendingBegin_ = waiting ? std::min(pendingBegin_, firstRow) : firstRow;
        pendingEnd_ = waiting ? std::max(pendingEnd_, endRow) : endRow;
    }
    // A short range is copied now; a longer one a slice per turn of the event
    // loop, so that refreshes arriving meanwhile cost only their own rows.
    const std::size_t rowBytes =
        std::size_t{bitmapInfo_.bitCount / 8u} * static_cast<std::size_t>(bitmapInfo_.width);
    if (std::uint64_t{pendingEnd_ - pendingBegin_} <= SliceRows(rowBytes)) {
        CopyPendingRows();
    } else {
        PostCopy();
    }
    viewport()->update();
}

void CWeftloomView::PostCopy() {
    if (copyPosted_) {
        return;
    }
    copyPosted_ = true;
    QTimer::singleShot(0, this, [this] {
        copyPosted_ = false;
        CopyPendingRows();
        viewport()->update();
    });
}

bool CWeftloomView::IsCatchingUp() const {
    return pendingBegin_ < pendingEnd_ || staleBegin_ < staleEnd_;
}

void CWeftloomView::CopyPendingRows() {
    const Image& image = GetDocument()->image;
    if (pendingBegin_ >= pendingEnd_) {
        return;
    }
    if (NeedsNewBitmap(image)) {
        pendingBegin_ = pendingEnd_ = 0;  // the image changed shape: its refresh builds anew
        return;
    }
    const std::uint32_t bpp = image.bytesPerPixel == 4 ? 4 : 3;
    const std::size_t rowBytes = std::size_t{bpp} * static_cast<std::size_t>(bitmapInfo_.width);
    const std::uint32_t firstRow = pendingBegin_;
    const auto endRow = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        std::min(pendingEnd_, image.height), std::uint64_t{firstRow} + SliceRows(rowBytes)));
    for (std::uint32_t r = firstRow; r < endRow; ++r) {
        const std::uint8_t* source = image.PixelAt(0, r);
        std::uint8_t* target = bitmapBits_.get() + r * rowBytes;
        for (std::uint32_t x = 0; x < image.width; ++x, source += bpp, target += bpp) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            if (bpp == 4) {
                target[3] = source[3];
            }
        }
    }
    pendingBegin_ = endRow;
    if (pendingBegin_ >= std::min(pendingEnd_, image.height)) {
        pendingBegin_ = pendingEnd_ = 0;
    } else {
        PostCopy();
    }
    if (!reductions_.empty() && firstRow < endRow) {
        staleBegin_ = staleBegin_ < staleEnd_ ? std::min(staleBegin_, firstRow) : firstRow;
        staleEnd_ = std::max(staleEnd_, endRow);
    }
}

const QImage& CWeftloomView::Reduction(std::size_t level) {
    const Image& image = GetDocument()->image;
    const auto levelSize = [&image](std::size_t k) {
        return QSize(static_cast<int>(((image.width - 1) >> k) + 1),
                     static_cast<int>(((image.height - 1) >> k) + 1));
    };
    // Rows firstRow up to endRow of level k + 1 from level k (the display copy at 0).
    const auto halve = [&](std::size_t k, int firstRow, int endRow) {
        QImage& to = reductions_[k];
        if (k > 0) {
            const QImage& from = reductions_[k - 1];
            HalveRows(
                [&from](int x, int y) {
                    return reinterpret_cast<const QRgb*>(from.constScanLine(y))[x];
                },
                from.size(), to, firstRow, endRow);
            return;
        }
        const std::size_t bpp = bitmapInfo_.bitCount / 8u;
        const std::size_t rowBytes = bpp * static_cast<std::size_t>(bitmapInfo_.width);
        const std::uint8_t* bits = bitmapBits_.get();
        HalveRows(
            [bits, bpp, rowBytes](int x, int y) {
                const std::uint8_t* p = bits + static_cast<std::size_t>(y) * rowBytes +
                                        static_cast<std::size_t>(x) * bpp;
                return qPremultiply(qRgba(p[2], p[1], p[0], bpp == 4 ? p[3] : 255));
            },
            levelSize(0), to, firstRow, endRow);
    };
    if (!reductions_.empty() && reductions_[0].size() != levelSize(1)) {
        reductions_.clear();  // the display copy now holds a smaller image
    }
    while (reductions_.size() < level) {
        // Zeroed by the system, so that a huge level costs nothing until it is
        // made, a slice at a time below: transparent until then.
        const QSize size = levelSize(reductions_.size() + 1);
        const auto rowBytes = static_cast<qsizetype>(size.width()) * 4;
        auto* bytes = static_cast<std::uint8_t*>(std::calloc(
            static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(size.height()), 1));
        if (bytes == nullptr) {
            break;  // no memory for it: the largest level made serves
        }
        reductions_.emplace_back(bytes, size.width(), size.height(), rowBytes,
                                 QImage::Format_ARGB32_Premultiplied, &std::free, bytes);
        staleBegin_ = 0;  // every level is made again with the new one
        staleEnd_ = image.height;
    }
    if (staleBegin_ < staleEnd_ && !reductions_.empty()) {
        // One slice of the display copy's changed rows, through every level;
        // a level's row that also needs rows past the slice is made again with
        // the next slice.
        const std::size_t rowBytes =
            bitmapInfo_.bitCount / 8u * static_cast<std::size_t>(bitmapInfo_.width);
        const std::uint32_t sliceEnd = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(staleEnd_, std::uint64_t{staleBegin_} + SliceRows(rowBytes)));
        for (std::size_t k = 0; k < reductions_.size(); ++k) {
            const auto first = static_cast<int>(staleBegin_ >> (k + 1));
            const auto end = static_cast<int>(((sliceEnd - 1) >> (k + 1)) + 1);
            halve(k, first, std::min(end, reductions_[k].height()));
        }
        staleBegin_ = sliceEnd;
        if (staleBegin_ >= staleEnd_) {
            staleBegin_ = staleEnd_ = 0;
        } else {
            QTimer::singleShot(0, viewport(), [shown = viewport()] { shown->update(); });
        }
    }
    return reductions_.empty() ? display_ : reductions_[std::min(level, reductions_.size()) - 1];
}

void CWeftloomView::FitToImage() {
    const Image& image = GetDocument()->image;
    int a = static_cast<int>(std::min<std::uint32_t>(image.width, 1u << 30));
    int b = static_cast<int>(std::min<std::uint32_t>(image.height, 1u << 30));
    if (a != 0 && b != 0) {
        while (a < 128) {
            a *= 2;
            b *= 2;
        }
        while (b < 128) {
            a *= 2;
            b *= 2;
        }
    }
    SetScrollSizes(QSize(a, b));
    ResizeParentToFit(false);
    if (a == 0 || b == 0) {
        // Nothing to fit: a window still needs room for its title and buttons.
        if (framework::ChildFrame* frame = ParentFrame()) {
            frame->resize(frame->size().expandedTo(kEmptyWindowSize));
        }
    }
    SetScaling(Scaling::Fit, zoom_, tiled_);
}

void CWeftloomView::OnInitialUpdate() {
    View::OnInitialUpdate();
    FitToImage();
    RefreshRows(GetDocument()->image, 0, 0);
}

QRect CWeftloomView::PictureRect() const {
    const Image& image = GetDocument()->image;
    const QSize client = viewport()->size();
    if (image.IsEmpty() || client.isEmpty()) {
        return {};
    }
    const int copies = tiled_ ? 2 : 1;
    const double width = static_cast<double>(image.width) * copies;
    const double height = static_cast<double>(image.height) * copies;
    QSize size;
    switch (scaling_) {
        case Scaling::Stretch:
            return {QPoint(0, 0), client};
        case Scaling::Fit: {
            const double scale = std::min(client.width() / width, client.height() / height);
            size = QSize(std::max(1, static_cast<int>(std::lround(width * scale))),
                         std::max(1, static_cast<int>(std::lround(height * scale))));
            break;
        }
        case Scaling::Zoom:
            size = ScrollSizes();
            break;
    }
    // Centred where it is smaller than the client area, scrolled where larger.
    const auto start = [](int room, int length, const QScrollBar* bar) {
        return length < room ? (room - length) / 2 : -bar->value();
    };
    return {QPoint(start(client.width(), size.width(), horizontalScrollBar()),
                   start(client.height(), size.height(), verticalScrollBar())),
            size};
}

void CWeftloomView::OnDraw(QPainter& painter) {
    painter.resetTransform();  // the picture's place already counts the scroll position
    painter.fillRect(QRect(QPoint(0, 0), viewport()->size()), kViewBackground);
    const QRect picture = PictureRect();
    if (!HasBitmap() || picture.isEmpty()) {
        return;
    }
    if (display_.hasAlphaChannel()) {
        painter.setBrushOrigin(picture.topLeft());
        painter.fillRect(picture.intersected(QRect(QPoint(0, 0), viewport()->size())),
                         CheckerBrush());
    }
    const Image& image = GetDocument()->image;
    const QRect source(0, 0, static_cast<int>(image.width), static_cast<int>(image.height));
    const std::vector<QRect> copies = Copies();
    const QSize tile = copies.front().size();
    const bool reduced = tile.width() < source.width() || tile.height() < source.height();
    // Enlarged pixels stay blocks; a reduction is smoothed: by the painter down
    // to one half, below that from the halved copy that is at least as large as
    // the picture shown, so that every pixel counts.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, reduced);
    const double scale = std::min(static_cast<double>(tile.width()) / source.width(),
                                  static_cast<double>(tile.height()) / source.height());
    std::size_t level = 0;
    while (scale * std::exp2(static_cast<double>(level + 1)) <= 1 &&
           ((source.width() >> level) > 1 || (source.height() >> level) > 1)) {
        ++level;
    }
    const QImage& shown = level > 0 ? Reduction(level) : display_;
    const QRect from = &shown == &display_ ? source : shown.rect();
    for (const QRect& copy : copies) {
        painter.drawImage(copy, shown, from);
    }
    DrawSelection(painter);
}

std::vector<QRect> CWeftloomView::Copies() const {
    const QRect picture = PictureRect();
    if (picture.isEmpty()) {
        return {};
    }
    // The copies meet at whole pixels, so that no seam or overlap shows.
    const int copies = tiled_ ? 2 : 1;
    const auto edge = [copies](int start, int length, int k) {
        return start + static_cast<int>(static_cast<long long>(length) * k / copies);
    };
    std::vector<QRect> rects;
    for (int ty = 0; ty < copies; ++ty) {
        for (int tx = 0; tx < copies; ++tx) {
            const QPoint topLeft(edge(picture.x(), picture.width(), tx),
                                 edge(picture.y(), picture.height(), ty));
            const QPoint end(edge(picture.x(), picture.width(), tx + 1),
                             edge(picture.y(), picture.height(), ty + 1));
            rects.emplace_back(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y()));
        }
    }
    return rects;
}

QTransform CWeftloomView::PictureOnto(const QRect& copy) const {
    const Image& image = GetDocument()->image;
    if (image.IsEmpty()) {
        return {};
    }
    return QTransform::fromTranslate(copy.x(), copy.y())
        .scale(static_cast<double>(copy.width()) / image.width,
               static_cast<double>(copy.height()) / image.height);
}

QPointF CWeftloomView::ToPicture(QPointF client) const {
    const std::vector<QRect> copies = Copies();
    return copies.empty() ? QPointF() : PictureOnto(copies.front()).inverted().map(client);
}

QPointF CWeftloomView::FromPicture(QPointF picture) const {
    const std::vector<QRect> copies = Copies();
    return copies.empty() ? QPointF() : PictureOnto(copies.front()).map(picture);
}

void CWeftloomView::DrawSelection(QPainter& painter) {
    const CWeftloomDoc* document = GetDocument();
    const Image& image = document->image;
    const bool selected = document->HasSelection();
    if ((!selected && !gesture_.active) || image.IsEmpty()) {
        return;
    }
    const Selection& selection = document->selection;
    if (selected && selection.Revision() != selectionRevision_) {
        selectionRevision_ = selection.Revision();
        selectionOutline_ = selection.Outline();
        // Tinted only within the bounds: the rest of the picture costs nothing.
        const QRect bounds = selection.Bounds();
        selectionTint_ = QImage(bounds.size(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < bounds.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(selectionTint_.scanLine(y));
            for (int x = 0; x < bounds.width(); ++x) {
                row[x] = selection.Selected(static_cast<std::uint32_t>(bounds.x() + x),
                                            static_cast<std::uint32_t>(bounds.y() + y))
                             ? kSelectionTint
                             : 0;
            }
        }
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    for (const QRect& copy : Copies()) {
        painter.save();
        painter.setClipRect(copy);
        painter.setTransform(PictureOnto(copy));
        if (selected) {
            painter.drawImage(selection.Bounds(), selectionTint_);
            DrawDashed(painter, [&painter, this] {
                painter.drawLines(selectionOutline_.data(),
                                  static_cast<int>(selectionOutline_.size()));
            });
        }
        if (gesture_.active && gesture_.moved && !gesture_.points.empty()) {
            const std::vector<QPointF>& points = gesture_.points;
            DrawDashed(painter, [&painter, &points, this] {
                if (gesture_.shape == SelectionShape::Lasso) {
                    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
                    return;
                }
                const QRectF box = QRectF(points.front(), points.back()).normalized();
                if (gesture_.shape == SelectionShape::Rectangle) {
                    painter.drawRect(box);
                } else {
                    painter.drawEllipse(box);
                }
            });
        }
        painter.restore();
    }
}

SelectionShape CWeftloomView::Tool() {
    return currentTool;
}

void CWeftloomView::SetTool(SelectionShape tool) {
    currentTool = tool;
}

void CWeftloomView::mousePressEvent(QMouseEvent* event) {
    CWeftloomDoc* document = GetDocument();
    if (event->button() != Qt::LeftButton || document == nullptr || !document->HasImage()) {
        View::mousePressEvent(event);
        return;
    }
    event->accept();
    gesture_ = Gesture();
    gesture_.active = true;
    gesture_.shape = currentTool;
    gesture_.mode = event->modifiers() & Qt::ControlModifier ? SelectionMode::Subtract
                    : event->modifiers() & Qt::ShiftModifier ? SelectionMode::Add
                                                             : SelectionMode::Replace;
    gesture_.pressed = event->position().toPoint();
    gesture_.points = {ToPicture(event->position())};
}

void CWeftloomView::mouseMoveEvent(QMouseEvent* event) {
    if (!gesture_.active) {
        View::mouseMoveEvent(event);
        return;
    }
    event->accept();
    const QPointF point = ToPicture(event->position());
    if ((event->position().toPoint() - gesture_.pressed).manhattanLength() >= kDragDistance) {
        gesture_.moved = true;
    }
    if (gesture_.shape == SelectionShape::Lasso) {
        gesture_.points.push_back(point);
    } else {
        gesture_.points.resize(1);
        gesture_.points.push_back(point);
    }
    viewport()->update();
}

void CWeftloomView::keyPressEvent(QKeyEvent* event) {
    if (gesture_.active && event->key() == Qt::Key_Escape) {
        event->accept();
        gesture_ = Gesture();
        viewport()->update();
        return;
    }
    View::keyPressEvent(event);
}

void CWeftloomView::mouseReleaseEvent(QMouseEvent* event) {
    if (!gesture_.active || event->button() != Qt::LeftButton) {
        View::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    mouseMoveEvent(event);
    const Gesture gesture = std::move(gesture_);
    gesture_ = Gesture();
    CWeftloomDoc* document = GetDocument();
    Selection& selection = document->EditSelection();
    if (gesture.moved) {
        selection.Combine(gesture.shape, gesture.points, gesture.mode);
    } else if (gesture.mode == SelectionMode::Replace) {
        selection.SelectNone();  // a click lets go of the selection
    }
    document->SelectionChanged();
    viewport()->update();
    if (auto* main = qobject_cast<framework::MainFrame*>(window())) {
        main->UpdateCommandUI();
    }
}

void CWeftloomView::SetScaling(Scaling scaling, double zoom, bool tiled) {
    // The picture's point at the middle of the client area stays there.
    const QRect before = PictureRect();
    const QPointF middle = QRectF(viewport()->rect()).center();
    const QPointF kept = before.isEmpty() ? QPointF(0.5, 0.5)
                                          : QPointF((middle.x() - before.x()) / before.width(),
                                                    (middle.y() - before.y()) / before.height());
    scaling_ = scaling;
    zoom_ = zoom;
    tiled_ = tiled;
    // At Fit and Stretch the whole picture is in view: nothing to scroll.
    const Qt::ScrollBarPolicy bars =
        scaling == Scaling::Zoom ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(bars);
    setVerticalScrollBarPolicy(bars);
    const Image& image = GetDocument()->image;
    if (scaling != Scaling::Zoom || image.IsEmpty()) {
        SetScrollSizes(QSize(0, 0));
        return;
    }
    const double copies = tiled ? 2 : 1;
    const auto side = [&](std::uint32_t length) {
        return static_cast<int>(std::clamp(std::round(length * zoom * copies), 1.0, kLargestSide));
    };
    const QSize size(side(image.width), side(image.height));
    SetScrollSizes(size);
    horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(kept.x() * size.width() - middle.x())));
    verticalScrollBar()->setValue(
        static_cast<int>(std::lround(kept.y() * size.height() - middle.y())));
}

QString CWeftloomView::StatusText() const {
    const Image& image = GetDocument()->image;
    if (image.IsEmpty()) {
        return {};
    }
    const CWeftloomDoc* document = GetDocument();
    const QRect selected = document->HasSelection() ? document->selection.Bounds() : QRect();
    return QStringLiteral("%1 x %2 pixels, %3%4%5")
        .arg(image.width)
        .arg(image.height)
        .arg(scaling_ == Scaling::Zoom  ? QStringLiteral("%1%").arg(zoom_ * 100)
             : scaling_ == Scaling::Fit ? QStringLiteral("Fit")
                                        : QStringLiteral("Stretch"))
        .arg(tiled_ ? QStringLiteral(", tiled") : QString())
        .arg(selected.isEmpty() ? QString()
                                : QStringLiteral(", selection %1 x %2 at %3, %4")
                                      .arg(selected.width())
                                      .arg(selected.height())
                                      .arg(selected.x())
                                      .arg(selected.y()));
}

void CWeftloomView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
        View::wheelEvent(event);
        return;
    }
    event->accept();
    OnCommand(event->angleDelta().y() > 0 ? kIdZoomIn : kIdZoomOut);
    if (auto* main = qobject_cast<framework::MainFrame*>(window())) {
        main->UpdateCommandUI();
    }
}

bool CWeftloomView::OnCommand(int id) {
    // Zoom steps by two, from 1/16 to 32. From Fit or Stretch, the step is
    // taken from the scale shown now (Stretch: its smaller one), so that
    // zooming in always enlarges.
    constexpr double kSmallest = 1.0 / 16;
    constexpr double kLargest = 32;
    double from = zoom_;
    if (scaling_ != Scaling::Zoom) {
        const Image& image = GetDocument()->image;
        const QRect picture = PictureRect();
        from = picture.isEmpty() ? 1
                                 : std::min(static_cast<double>(picture.width()) / image.width,
                                            static_cast<double>(picture.height()) / image.height) /
                                       (tiled_ ? 2 : 1);
        from = std::clamp(from, kSmallest, kLargest);
    }
    const double below = std::exp2(std::ceil(std::log2(from)) - 1);   // largest power < from
    const double above = std::exp2(std::floor(std::log2(from)) + 1);  // smallest power > from
    switch (id) {
        case kIdSynthesise:
            OnSynthesise();
            return true;
        case kIdSynthesiseAgain:
            if (GetDocument() != nullptr && GetDocument()->HasImage() && Hooks().synthesiseAgain) {
                Hooks().synthesiseAgain(*this);
            }
            return true;
        case kIdZoomIn:
            SetScaling(Scaling::Zoom, std::min(above, kLargest), tiled_);
            return true;
        case kIdZoomOut:
            SetScaling(Scaling::Zoom, std::max(below, kSmallest), tiled_);
            return true;
        case kIdZoomActual:
            SetScaling(Scaling::Zoom, 1, tiled_);
            return true;
        case kIdZoomFit:
            SetScaling(Scaling::Fit, zoom_, tiled_);
            return true;
        case kIdViewStretch:
            SetScaling(Scaling::Stretch, zoom_, tiled_);
            return true;
        case kIdViewTiled:
            SetScaling(scaling_, zoom_, !tiled_);
            return true;
        case kIdSelectRectangle:
            SetTool(SelectionShape::Rectangle);
            return true;
        case kIdSelectEllipse:
            SetTool(SelectionShape::Ellipse);
            return true;
        case kIdSelectLasso:
            SetTool(SelectionShape::Lasso);
            return true;
        case kIdFillSelection:
            OnFill(false);
            return true;
        case kIdFillTransparent:
            OnFill(true);
            return true;
        default:
            return false;
    }
}

int CWeftloomView::CommandState(int id) const {
    const bool image = GetDocument() != nullptr && GetDocument()->HasImage();
    switch (id) {
        case kIdSynthesise:
        case framework::command::kFileSaveAs:
        case kIdZoomIn:
        case kIdZoomOut:
        case kIdZoomActual:
        case kIdZoomFit:
        case kIdViewStretch:
        case kIdViewTiled:
        case kIdSelectRectangle:
        case kIdSelectEllipse:
        case kIdSelectLasso:
            return image ? 1 : 0;
        case kIdFillSelection:
            return GetDocument() != nullptr && GetDocument()->HasSelection() ? 1 : 0;
        case kIdFillTransparent:
            return image && GetDocument()->HasTransparency() ? 1 : 0;
        case kIdSynthesiseAgain:
            return image && Hooks().canSynthesiseAgain && Hooks().canSynthesiseAgain() ? 1 : 0;
        default:
            return -1;
    }
}

void CWeftloomView::OnSynthesise() {
    CWeftloomDoc* document = GetDocument();
    if (document == nullptr || !document->HasImage()) {
        return;
    }
    if (!Hooks().synthesise) {
        framework::MessageBox(QStringLiteral("Synthesis is not available in this build."),
                              std::nullopt, framework::MessageButtons::Ok);
        return;
    }
    Hooks().synthesise(*this);
}

void CWeftloomView::OnFill(bool transparent) {
    if (CommandState(transparent ? kIdFillTransparent : kIdFillSelection) != 1) {
        return;
    }
    if (!Hooks().fill) {
        framework::MessageBox(QStringLiteral("Filling is not available in this build."),
                              std::nullopt, framework::MessageButtons::Ok);
        return;
    }
    Hooks().fill(*this, transparent);
}

void CWeftloomView::OnDestroy() {
    CWeftloomDoc* document = GetDocument();
    if (document == nullptr) {
        return;
    }
    std::lock_guard lock(document->progressLock);
    if (document->progressDialog != nullptr) {
        if (Hooks().endSynthesis) {
            Hooks().endSynthesis(*document);
        }
        document->progressDialog = nullptr;
    }
}

}  // namespace weftloom
