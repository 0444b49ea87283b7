#include "shell/framework/view.h"

#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "shell/framework/child_frame.h"
#include "shell/framework/document.h"

namespace weftloom::framework {

View::View(Document* document) : document_(document) {
    if (document_ != nullptr) {
        document_->AddView(this);
    }
}

View::~View() {
    Destroy();
}

ChildFrame* View::ParentFrame() const {
    for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (auto* frame = qobject_cast<ChildFrame*>(w)) {
            return frame;
        }
    }
    return nullptr;
}

void View::Destroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    OnDestroy();
    if (document_ != nullptr) {
        Document* document = document_;
        document_ = nullptr;
        document->RemoveView(this);
    }
}

void View::OnInitialUpdate() {
    viewport()->update();
}

void View::OnUpdate(View*, int) {
    viewport()->update();
}

void View::SetScrollSizes(QSize total) {
    scrollSizes_ = total;
    UpdateScrollBars();
    viewport()->update();
}

void View::ResizeParentToFit(bool shrinkOnly) {
    QMdiSubWindow* frame = ParentFrame();
    if (frame == nullptr) {
        return;
    }
    QSize wanted = scrollSizes_;
    if (shrinkOnly) {
        wanted = wanted.boundedTo(viewport()->size());
    }
    // Never larger than the work area: a window bigger than it would put its
    // own buttons out of reach.
    if (QMdiArea* area = frame->mdiArea()) {
        const QSize room = area->viewport()->size() - (frame->size() - size());
        if (room.isValid() && !room.isEmpty()) {
            wanted = wanted.boundedTo(room);
        }
    }
    // At an exact fit no scroll bar shows, so the client area is the whole view
    // less its frame; the rest of the window is title bar and border.
    // Without scroll bars while fitting: at an exact fit none is needed, and one
    // that comes and goes meanwhile would throw the measurement off.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const int border = 2 * frameWidth();
    frame->resize(wanted + frame->size() - size() + QSize(border, border));
    // Layouts and scroll bars settle in steps; measure and correct until the
    // client area has the size asked for.
    for (int attempt = 0; attempt < 4; ++attempt) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        UpdateScrollBars();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QSize difference = wanted - viewport()->size();
        if (difference.isNull()) {
            break;
        }
        frame->resize(frame->size() + difference);
    }
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Moved back inside the work area where the fitted size would cross its edge.
    if (QMdiArea* area = frame->mdiArea()) {
        const QSize room = area->viewport()->size() - frame->size();
        frame->move(std::clamp(frame->x(), 0, std::max(0, room.width())),
                    std::clamp(frame->y(), 0, std::max(0, room.height())));
    }
}

void View::OnDraw(QPainter&) {}

void View::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.translate(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    OnDraw(painter);
}

void View::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void View::scrollContentsBy(int, int) {
    viewport()->update();
}

void View::UpdateScrollBars() {
    const QSize client = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, scrollSizes_.width() - client.width()));
    horizontalScrollBar()->setPageStep(client.width());
    verticalScrollBar()->setRange(0, std::max(0, scrollSizes_.height() - client.height()));
    verticalScrollBar()->setPageStep(client.height());
}

}  // namespace weftloom::framework
