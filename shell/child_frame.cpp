#include "shell/child_frame.h"

#include <mutex>

#include "shell/framework/message_box.h"
#include "shell/weftloom_doc.h"
#include "shell/weftloom_view.h"

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
    if (document->progressDialog == nullptr) {
        return true;
    }
    if (framework::MessageBox(QString::fromLatin1(kAbortSynthesisQuestion), QString(),
                              framework::MessageButtons::YesNo) == framework::MessageResult::No) {
        return false;
    }
    // Stopped now, before any other question: the run must not go on (or
    // finish) behind the offer to save what it made.
    AbortSynthesis(*document);
    return true;
}

}  // namespace weftloom
