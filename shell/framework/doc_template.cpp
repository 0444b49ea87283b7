#include "shell/framework/doc_template.h"

#include <QMdiArea>

#include <algorithm>

#include "shell/framework/application.h"
#include "shell/framework/child_frame.h"
#include "shell/framework/document.h"
#include "shell/framework/main_frame.h"
#include "shell/framework/view.h"

namespace weftloom::framework {

DocTemplate::DocTemplate(int resourceId, const QString& templateString,
                         DocumentFactory makeDocument, ViewFactory makeView, FrameFactory makeFrame)
    : resourceId_(resourceId),
      makeDocument_(std::move(makeDocument)),
      makeView_(std::move(makeView)),
      makeFrame_(std::move(makeFrame)) {
    const QStringList parts = templateString.split(QLatin1Char('\n'));
    for (int i = 0; i < kFieldCount; ++i) {
        fields_.push_back(i < parts.size() ? parts[i] : QString());
    }
}

DocTemplate::~DocTemplate() {
    for (Document* document : documents_) {
        document->SetTemplate(nullptr);
    }
}

QString DocTemplate::Filter() const {
    return String(kFilterName);
}

bool DocTemplate::MatchesPath(const QString& path) const {
    const QString ext = String(kFilterExt);
    return !ext.isEmpty() && path.endsWith(ext, Qt::CaseInsensitive);
}

Document* DocTemplate::OpenDocumentFile(const QString& path) {
    return CreateDocument([&path](Document& document) {
        return path.isEmpty() ? document.OnNewDocument() : document.OnOpenDocument(path);
    });
}

Document* DocTemplate::CreateDocument(const std::function<bool(Document&)>& fill) {
    Document* document = makeDocument_();
    document->SetTemplate(this);
    documents_.push_back(document);
    if (!fill(*document)) {
        // Nothing half-made: no window for a document that could not be read.
        delete document;
        return nullptr;
    }
    CreateNewFrame(document);
    return document;
}

ChildFrame* DocTemplate::CreateNewFrame(Document* document) {
    View* view = makeView_(document);
    ChildFrame* frame = makeFrame_(view);
    if (Application* application = Application::Instance()) {
        if (MainFrame* main = application->GetMainFrame()) {
            main->AddFrame(frame);
        }
    }
    frame->UpdateTitle();
    frame->show();
    // A new window is the one the user works in next, whether or not the
    // main window has the focus yet (as at start-up).
    if (QMdiArea* area = frame->mdiArea()) {
        area->setActiveSubWindow(frame);
    }
    view->OnInitialUpdate();
    return frame;
}

void DocTemplate::RemoveDocument(Document* document) {
    documents_.erase(std::remove(documents_.begin(), documents_.end(), document), documents_.end());
}

}  // namespace weftloom::framework
