#include "shell/framework/document.h"

#include <QFileInfo>

#include <algorithm>

#include "shell/framework/application.h"
#include "shell/framework/child_frame.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
#include "shell/framework/user_prompts.h"
#include "shell/framework/view.h"

namespace weftloom::framework {

Document::Document() : title_(QStringLiteral("Untitled")) {}

Document::~Document() {
    if (template_ != nullptr) {
        template_->RemoveDocument(this);
    }
}

void Document::SetTitle(const QString& title) {
    title_ = title;
    for (View* view : views_) {
        if (ChildFrame* frame = view->ParentFrame()) {
            frame->UpdateTitle();
        }
    }
    emit TitleChanged();
}

void Document::SetPathName(const QString& path) {
    pathName_ = QFileInfo(path).absoluteFilePath();
    SetTitle(QFileInfo(path).fileName());
}

void Document::SetModifiedFlag(bool modified) {
    if (modified_ != modified) {
        modified_ = modified;
        emit ModifiedChanged(modified);
    }
}

void Document::AddView(View* view) {
    views_.push_back(view);
    for (View* each : views_) {
        if (ChildFrame* frame = each->ParentFrame()) {
            frame->UpdateTitle();
        }
    }
}

void Document::RemoveView(View* view) {
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
    for (View* each : views_) {
        if (ChildFrame* frame = each->ParentFrame()) {
            frame->UpdateTitle();
        }
    }
    if (views_.empty() && !closing_) {
        closing_ = true;
        if (template_ != nullptr) {
            template_->RemoveDocument(this);
            template_ = nullptr;
        }
        deleteLater();
    }
}

void Document::UpdateAllViews(View* sender, int hint) {
    for (View* view : views_) {
        if (view != sender) {
            view->OnUpdate(sender, hint);
        }
    }
}

bool Document::OnNewDocument() {
    pathName_.clear();
    SetModifiedFlag(false);
    return true;
}

bool Document::OnOpenDocument(const QString& path) {
    Archive archive;
    archive.mode = Archive::Mode::Load;
    archive.path = path;
    if (!Serialize(archive)) {
        return false;
    }
    pathName_ = QFileInfo(path).absoluteFilePath();
    SetModifiedFlag(false);
    return true;
}

bool Document::OnSaveDocument(const QString& path) {
    Archive archive;
    archive.mode = Archive::Mode::Store;
    archive.path = path;
    if (!Serialize(archive)) {
        return false;
    }
    const QString written = archive.writtenPath.isEmpty() ? path : archive.writtenPath;
    pathName_ = QFileInfo(written).absoluteFilePath();
    SetModifiedFlag(false);
    if (Application* application = Application::Instance()) {
        application->RecentFiles().Add(pathName_);
        emit application->RecentFilesChanged();
    }
    return true;
}

QStringList Document::SaveFilters() const {
    QStringList filters;
    if (template_ != nullptr) {
        filters.append(template_->Filter());
    }
    filters.append(QStringLiteral("All Files (*)"));
    return filters;
}

bool Document::DoSaveAs() {
    FileRequest request;
    request.save = true;
    request.caption = QStringLiteral("Save As");
    const QFileInfo saved(pathName_);
    request.name = pathName_.isEmpty() ? title_ : saved.fileName();
    request.folder = pathName_.isEmpty() ? QString() : saved.absolutePath();
    request.filters = SaveFilters();
    const std::optional<FileChoice> choice = AskForFile(request);
    if (!choice) {
        return false;
    }
    const QString path = WithFilterExtension(choice->path, choice->filter);
    // The chooser asks nothing: the question is about the file really written.
    const QFileInfo written(SavePathFor(path));
    if (written.exists()) {
        // Read-only as the owner marked it, or for this user: the save would
        // still replace it (the new file is renamed over the old one).
        const bool readOnly = !written.isWritable() ||
                              (written.permissions() &
                               (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)) == 0;
        const QString question =
            readOnly ? QStringLiteral("%1 is read-only. Replace it anyway?")
                     : QStringLiteral("%1 already exists.\nDo you want to replace it?");
        if (MessageBox(question.arg(written.fileName()), std::nullopt,
                       readOnly ? MessageButtons::YesNoDefaultNo : MessageButtons::YesNo) !=
            MessageResult::Yes) {
            return false;
        }
    }
    return OnSaveDocument(path);
}

bool Document::SaveModified() {
    if (!modified_) {
        return true;
    }
    const MessageResult answer =
        MessageBox(SaveQuestion(), std::nullopt, MessageButtons::YesNoCancel);
    if (answer == MessageResult::Cancel) {
        return false;
    }
    if (answer == MessageResult::No) {
        return true;
    }
    // There is no plain Save: a document with a path is written there again,
    // one without asks where.
    return pathName_.isEmpty() ? DoSaveAs() : OnSaveDocument(pathName_);
}

QString Document::SaveQuestion() const {
    return QStringLiteral("Save changes to %1?").arg(title_);
}

bool Document::OnCommand(int id) {
    if (id == command::kFileSaveAs) {
        DoSaveAs();
        return true;
    }
    return false;
}

int Document::CommandState(int id) const {
    return id == command::kFileSaveAs ? 1 : -1;
}

void Document::OnCloseDocument() {
    // Closing the last frame removes the last view, and with it the document.
    const std::vector<View*> views = views_;
    for (View* view : views) {
        if (ChildFrame* frame = view->ParentFrame()) {
            frame->setAttribute(Qt::WA_DeleteOnClose);
            delete frame;
        }
    }
}

}  // namespace weftloom::framework
