#pragma once

#include <QKeySequence>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <vector>

#include "shell/framework/commands.h"
#include "shell/framework/profile.h"

namespace weftloom::framework {

class DocTemplate;
class Document;
class MainFrame;

// How a command looks: its menu text (with & mnemonic and a tab before the
// accelerator text), its prompt (the status tip, then after a line break the
// tool tip) and its keys.
struct CommandInfo {
    QString text;
    QString prompt;
    QList<QKeySequence> keys;
};

// The application object: document templates, the main frame, the profile
// with its recent files, the command table, and the application-level
// commands (New, Open, recent files, Exit). One per process; a QApplication
// must exist first. User-interface thread only.
class Application : public QObject, public CommandTarget {
    Q_OBJECT
  public:
    // name is the application's name (profile section, default caption).
    explicit Application(const QString& name);
    ~Application() override;

    static Application* Instance();

    void SetRegistryKey(const QString& organisation);
    void LoadStdProfileSettings(int recentFileCount);
    RecentFileList& RecentFiles() { return *recentFiles_; }

    void AddDocTemplate(std::unique_ptr<DocTemplate> docTemplate);
    const std::vector<std::unique_ptr<DocTemplate>>& Templates() const { return templates_; }

    MainFrame* GetMainFrame() const { return mainFrame_; }
    void SetMainFrame(MainFrame* frame) { mainFrame_ = frame; }

    void SetCommandInfo(int id, CommandInfo info) { commands_[id] = std::move(info); }
    const CommandInfo* FindCommandInfo(int id) const;

    // Opens path with the template whose extension it has (else the first);
    // a document already open under that path is activated instead. Null when
    // it cannot be read (the document says why); a success joins the recent files.
    Document* OpenDocumentFile(const QString& path);
    // Opens each path in turn, as OpenDocumentFile; what cannot be read is
    // reported in one box at the end (HeldMessages), each file told apart.
    void OpenDocumentFiles(const QStringList& paths);
    // The New command: asks for the type when there are several templates.
    Document* OnFileNew();
    // The Open command: asks for a file with OpenFilters.
    Document* OnFileOpen();
    // The file chooser's filters for Open, the one selected first first: the
    // base offers each template's filter, then every file.
    virtual QStringList OpenFilters() const;
    // Asks every modified document whether to save; false when one cancels.
    bool SaveAllModified();
    // Closes every document without asking.
    void CloseAllDocuments();

    bool OnCommand(int id) override;
    int CommandState(int id) const override;

  signals:
    void RecentFilesChanged();

  private:
    std::vector<std::unique_ptr<DocTemplate>> templates_;
    MainFrame* mainFrame_ = nullptr;
    std::unique_ptr<RecentFileList> recentFiles_;
    std::map<int, CommandInfo> commands_;
};

}  // namespace weftloom::framework
