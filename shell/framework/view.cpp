#include "shell/framework/view.h"

#include <QMdiSubWindow>
#include <QPainter>
#include <QScrollBar>

#include "shell/framework/child_frame.h"
#include "shell/framework/document.h"

namespace weftloom::framework {

View::View(Document* document) : document_(document) {
    if (document_ != nullptr) {
        document_->AddView(this);
    }
}

View::~View() { Destroy(); }

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

void View::OnInitialUpdate() { viewport()->update(); }

void View::OnUpdate(View*, int) { viewport()->update(); }

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
    const QSize client = viewport()->size();
    QSize wanted = scrollSizes_;
    if (shrinkOnly) {
        wanted = wanted.boundedTo(client);
    }
    // Scroll bars are off at an exact fit, so the frame's extra is the border
    // around the viewport and the title bar.
    const QSize extra = frame->size() - client;
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    frame->resize(wanted + extra);
    // A frame taller than the area still gives the requested client size.
    const QSize now = viewport()->size();
    if (now != wanted) {
        frame->resize(frame->size() + (wanted - now));
    }
    UpdateScrollBars();
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

void View::scrollContentsBy(int, int) { viewport()->update(); }

void View::UpdateScrollBars() {
    const QSize client = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, scrollSizes_.width() - client.width()));
    horizontalScrollBar()->setPageStep(client.width());
    verticalScrollBar()->setRange(0, std::max(0, scrollSizes_.height() - client.height()));
    verticalScrollBar()->setPageStep(client.height());
}

}  // namespace weftloom::framework
