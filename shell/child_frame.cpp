#include "shell/child_frame.h"

#include <mutex>

#include "shell/framework/message_box.h"
#include "shell/weftloom_doc.h"

namespace weftloom {

CChildFrame::CChildFrame(framework::View* view) : framework::ChildFrame(view) {}

bool CChildFrame::ConfirmEnd() {
    auto* document = qobject_cast<CWeftloomDoc*>(GetActiveDocument());
    if (document == nullptr) {
        return true;
    }
    // Held across the question: progress and the finish arrive meanwhile
    // and take the same lock on this thread.
    std::unique_lock lock(document->progressLock);
    return document->progressDialog == nullptr ||
           framework::MessageBox(QString::fromLatin1(kAbortSynthesisQuestion), QString(),
                                 framework::MessageButtons::YesNo) != framework::MessageResult::No;
}

}  // namespace weftloom
