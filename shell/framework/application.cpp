#include "shell/framework/application.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMdiArea>

#include "shell/framework/child_frame.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/document.h"
#include "shell/framework/main_frame.h"
#include "shell/framework/message_box.h"
#include "shell/framework/user_prompts.h"
#include "shell/framework/view.h"

namespace weftloom::framework {

namespace {
Application* instance = nullptr;
}  // namespace

Application::Application(const QString& name)
    : recentFiles_(std::make_unique<RecentFileList>(kRecentFileCount)) {
    QCoreApplication::setApplicationName(name);
    instance = this;
}

Application::~Application() {
    if (instance == this) {
        instance = nullptr;
    }
}

Application* Application::Instance() {
    return instance;
}

void Application::SetRegistryKey(const QString& organisation) {
    QCoreApplication::setOrganizationName(organisation);
}

void Application::LoadStdProfileSettings(int recentFileCount) {
    recentFiles_ = std::make_unique<RecentFileList>(recentFileCount);
    recentFiles_->Load();
    emit RecentFilesChanged();
}

void Application::AddDocTemplate(std::unique_ptr<DocTemplate> docTemplate) {
    templates_.push_back(std::move(docTemplate));
}

const CommandInfo* Application::FindCommandInfo(int id) const {
    auto found = commands_.find(id);
    return found != commands_.end() ? &found->second : nullptr;
}

Document* Application::OpenDocumentFile(const QString& path) {
    if (templates_.empty()) {
        return nullptr;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const auto& docTemplate : templates_) {
        for (Document* document : docTemplate->Documents()) {
            if (!document->PathName().isEmpty() && document->PathName() == absolute &&
                !document->Views().empty()) {
                if (ChildFrame* frame = document->Views().front()->ParentFrame()) {
                    if (mainFrame_ != nullptr) {
                        mainFrame_->MdiArea()->setActiveSubWindow(frame);
                    }
                }
                recentFiles_->Add(path);
                emit RecentFilesChanged();
                return document;
            }
        }
    }
    DocTemplate* chosen = templates_.front().get();
    for (const auto& docTemplate : templates_) {
        if (docTemplate->MatchesPath(path)) {
            chosen = docTemplate.get();
            break;
        }
    }
    Document* document = chosen->OpenDocumentFile(path);
    if (document != nullptr) {
        recentFiles_->Add(path);
        emit RecentFilesChanged();
    }
    return document;
}

void Application::OpenDocumentFiles(const QStringList& paths) {
    HeldMessages failures;
    for (const QString& path : paths) {
        OpenDocumentFile(path);
    }
}

Document* Application::OnFileNew() {
    if (templates_.empty()) {
        return nullptr;
    }
    std::size_t chosen = 0;
    if (templates_.size() > 1) {
        QStringList names;
        for (const auto& docTemplate : templates_) {
            // Templates may share a name; their filters tell them apart.
            const QString filter = docTemplate->Filter();
            const QString kind = filter.left(filter.indexOf(QLatin1String(" (")));
            names.append(QStringLiteral("%1 (%2)").arg(
                docTemplate->String(DocTemplate::kFileNewName), kind));
        }
        const int answer = AskForChoice(QStringLiteral("New"), names);
        if (answer < 0 || answer >= static_cast<int>(templates_.size())) {
            return nullptr;
        }
        chosen = static_cast<std::size_t>(answer);
    }
    return templates_[chosen]->OpenDocumentFile(QString());
}

QStringList Application::OpenFilters() const {
    QStringList filters;
    for (const auto& docTemplate : templates_) {
        filters.append(docTemplate->Filter());
    }
    filters.append(QStringLiteral("All Files (*)"));
    return filters;
}

Document* Application::OnFileOpen() {
    FileRequest request;
    request.caption = QStringLiteral("Open");
    request.filters = OpenFilters();
    const std::optional<FileChoice> choice = AskForFile(request);
    return choice ? OpenDocumentFile(choice->path) : nullptr;
}

bool Application::SaveAllModified() {
    for (const auto& docTemplate : templates_) {
        const std::vector<Document*> documents = docTemplate->Documents();
        for (Document* document : documents) {
            if (!document->SaveModified()) {
                return false;
            }
        }
    }
    return true;
}

void Application::CloseAllDocuments() {
    for (const auto& docTemplate : templates_) {
        const std::vector<Document*> documents = docTemplate->Documents();
        for (Document* document : documents) {
            document->OnCloseDocument();
        }
    }
}

bool Application::OnCommand(int id) {
    if (id >= command::kFileMru1 && id < command::kFileMru1 + kRecentFileCount) {
        const int index = id - command::kFileMru1;
        if (index < recentFiles_->Files().size()) {
            const QString path = recentFiles_->Files()[index];
            if (OpenDocumentFile(path) == nullptr) {
                // A file that can no longer be read leaves the list.
                recentFiles_->Remove(static_cast<int>(recentFiles_->Files().indexOf(path)));
                emit RecentFilesChanged();
            }
        }
        return true;
    }
    switch (id) {
        case command::kFileNew:
            OnFileNew();
            return true;
        case command::kFileOpen:
            OnFileOpen();
            return true;
        case command::kAppExit:
            if (mainFrame_ != nullptr) {
                mainFrame_->close();
            }
            return true;
        default:
            return false;
    }
}

int Application::CommandState(int id) const {
    if (id >= command::kFileMru1 && id < command::kFileMru1 + kRecentFileCount) {
        return id - command::kFileMru1 < recentFiles_->Files().size() ? 1 : 0;
    }
    switch (id) {
        case command::kFileNew:
        case command::kFileOpen:
        case command::kAppExit:
            return 1;
        default:
            return -1;
    }
}

}  // namespace weftloom::framework
