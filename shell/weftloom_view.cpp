#include "shell/weftloom_view.h"

#include <QPainter>
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

SynthesisHooks& Hooks() {
    static SynthesisHooks hooks;
    return hooks;
}

}  // namespace

void SetSynthesisHooks(SynthesisHooks hooks) {
    Hooks() = std::move(hooks);
}

CWeftloomView::CWeftloomView(CWeftloomDoc* document) : View(document) {
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

CWeftloomView::~CWeftloomView() = default;

CWeftloomDoc* CWeftloomView::GetDocument() const {
    return static_cast<CWeftloomDoc*>(View::GetDocument());
}

bool CWeftloomView::BuildBitmap(const Image& image) {
    bitmapBits_.clear();
    display_ = QImage();
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
    try {
        bitmapBits_.assign(rowBytes * image.height, 0);
    } catch (const std::bad_alloc&) {
        bitmapBits_.clear();
        return false;
    }
    bitmapInfo_ = info;
    display_ = QImage(bitmapBits_.data(), info.width, static_cast<int>(image.height),
                      static_cast<qsizetype>(rowBytes),
                      bpp == 4 ? QImage::Format_RGB32 : QImage::Format_BGR888);
    return true;
}

void CWeftloomView::RefreshRows(const Image& image, std::uint32_t firstRow, std::uint32_t endRow) {
    const bool rebuild = !HasBitmap() ||
                         bitmapInfo_.width < static_cast<std::int64_t>(image.width) ||
                         -static_cast<std::int64_t>(bitmapInfo_.height) < image.height ||
                         bitmapInfo_.bitCount != (image.bytesPerPixel == 4 ? 32 : 24);
    if (rebuild) {
        if (!BuildBitmap(image)) {
            return;
        }
        firstRow = 0;
        endRow = image.height;
    }
    endRow = std::min(endRow, image.height);
    const std::uint32_t bpp = image.bytesPerPixel == 4 ? 4 : 3;
    const std::size_t rowBytes = std::size_t{bpp} * static_cast<std::size_t>(bitmapInfo_.width);
    for (std::uint32_t r = firstRow; r < endRow; ++r) {
        const std::uint8_t* source = image.PixelAt(0, r);
        std::uint8_t* target = bitmapBits_.data() + r * rowBytes;
        for (std::uint32_t x = 0; x < image.width; ++x, source += bpp, target += bpp) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            if (bpp == 4) {
                target[3] = source[3];
            }
        }
    }
    viewport()->update();
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
    fitSizes_ = QSize(a, b);
    zoom_ = 0;
    SetScrollSizes(QSize(a, b));
    ResizeParentToFit(false);
    if (a == 0 || b == 0) {
        // Nothing to fit: a window still needs room for its title and buttons.
        if (framework::ChildFrame* frame = ParentFrame()) {
            frame->resize(frame->size().expandedTo(kEmptyWindowSize));
        }
    }
}

void CWeftloomView::OnInitialUpdate() {
    View::OnInitialUpdate();
    FitToImage();
    RefreshRows(GetDocument()->image, 0, 0);
}

void CWeftloomView::OnDraw(QPainter& painter) {
    const QRect client(QPoint(0, 0), viewport()->size());
    painter.save();
    painter.resetTransform();
    painter.fillRect(client, palette().color(QPalette::Window));
    painter.restore();
    if (!HasBitmap()) {
        return;
    }
    const Image& image = GetDocument()->image;
    const QRect source(0, 0, static_cast<int>(image.width), static_cast<int>(image.height));
    QSizeF tile;
    if (zoom_ > 0) {
        tile = QSizeF(source.size()) * zoom_;  // scrolled with the view
    } else {
        // Stretched over the client area, whatever the scroll position.
        painter.resetTransform();
        tile = tiled_ ? QSizeF(client.size()) / 2 : QSizeF(client.size());
    }
    const int copies = tiled_ ? 2 : 1;
    for (int ty = 0; ty < copies; ++ty) {
        for (int tx = 0; tx < copies; ++tx) {
            painter.drawImage(QRectF(QPointF(tx * tile.width(), ty * tile.height()), tile),
                              display_, source);
        }
    }
}

void CWeftloomView::SetZoom(double zoom, bool tiled) {
    zoom_ = zoom;
    tiled_ = tiled;
    const Image& image = GetDocument()->image;
    const int copies = tiled ? 2 : 1;
    const QSize zoomed(static_cast<int>(image.width * zoom * copies),
                       static_cast<int>(image.height * zoom * copies));
    SetScrollSizes(zoom > 0 ? zoomed : fitSizes_);
}

QString CWeftloomView::StatusText() const {
    const Image& image = GetDocument()->image;
    if (image.IsEmpty()) {
        return {};
    }
    return QStringLiteral("%1 x %2 pixels, %3%4")
        .arg(image.width)
        .arg(image.height)
        .arg(zoom_ > 0 ? QStringLiteral("%1%").arg(zoom_ * 100) : QStringLiteral("Fit"))
        .arg(tiled_ ? QStringLiteral(", tiled") : QString());
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
    // Zoom steps by two, from 1/16 to 32. From Fit, the step is taken from the
    // scale Fit shows now, so that zooming in always enlarges.
    constexpr double kSmallest = 1.0 / 16;
    constexpr double kLargest = 32;
    double from = zoom_;
    if (from <= 0) {
        const Image& image = GetDocument()->image;
        const QSize client = viewport()->size();
        from = image.IsEmpty() ? 1
                               : std::min(static_cast<double>(client.width()) / image.width,
                                          static_cast<double>(client.height()) / image.height);
        from = std::clamp(from, kSmallest, kLargest);
    }
    const double below = std::exp2(std::ceil(std::log2(from)) - 1);   // largest power < from
    const double above = std::exp2(std::floor(std::log2(from)) + 1);  // smallest power > from
    switch (id) {
        case kIdSynthesise:
            OnSynthesise();
            return true;
        case kIdZoomIn:
            SetZoom(std::min(above, kLargest), tiled_);
            return true;
        case kIdZoomOut:
            SetZoom(std::max(below, kSmallest), tiled_);
            return true;
        case kIdZoomActual:
            SetZoom(1, tiled_);
            return true;
        case kIdZoomFit:
            SetZoom(0, tiled_);
            return true;
        case kIdViewTiled:
            SetZoom(zoom_, !tiled_);
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
        case kIdViewTiled:
            return image ? 1 : 0;
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
