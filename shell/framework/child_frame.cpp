#include "shell/framework/child_frame.h"

#include <QCloseEvent>

#include "shell/framework/document.h"
#include "shell/framework/view.h"

namespace weftloom::framework {

ChildFrame::ChildFrame(View* view) : view_(view) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(view);
    UpdateTitle();
}

ChildFrame::~ChildFrame() {
    // The view ends while it is whole: its OnDestroy may still reach its document.
    if (view_ != nullptr) {
        view_->Destroy();
    }
}

Document* ChildFrame::GetActiveDocument() const {
    return view_ != nullptr ? view_->GetDocument() : nullptr;
}

void ChildFrame::UpdateTitle() {
    Document* document = GetActiveDocument();
    if (document == nullptr) {
        return;
    }
    QString title = document->Title();
    const auto& views = document->Views();
    if (views.size() > 1) {
        for (std::size_t i = 0; i < views.size(); ++i) {
            if (views[i] == view_) {
                title += QStringLiteral(":%1").arg(i + 1);
            }
        }
    }
    setWindowTitle(title);
}

bool ChildFrame::OnClose() {
    if (!ConfirmEnd()) {
        return false;
    }
    Document* document = GetActiveDocument();
    if (document != nullptr && document->Views().size() == 1) {
        return document->SaveModified();
    }
    return true;
}

void ChildFrame::closeEvent(QCloseEvent* event) {
    if (OnClose()) {
        event->accept();
        // The widget goes later, from the event loop; the view ends now, so
        // that whatever it stops (a synthesis) stops with the close.
        if (view_ != nullptr) {
            view_->Destroy();
        }
    } else {
        event->ignore();
    }
}

}  // namespace weftloom::framework
