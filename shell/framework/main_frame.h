#pragma once

#include <QMainWindow>

class QLabel;

#include <map>
#include <vector>

#include "shell/framework/commands.h"

class QMdiArea;
class QToolBar;

namespace weftloom::framework {

class Application;
class ChildFrame;
class Document;
class View;

// One menu of a menu bar: its title and its items, by command id; 0 is a
// separator and command::kFileMru1 stands for the recent-file entries.
struct MenuTemplate {
    QString title;
    std::vector<int> items;
};

// The application's main window: a multiple-document area, a menu bar chosen
// by the active document's template (or the no-document menu), a toolbar and
// one QAction per command id (objectName the id). Commands go to the active
// view, its frame, its document, this frame and the application, in that
// order; the first that handles one also decides whether it is enabled.
// User-interface thread only.
class MainFrame : public QMainWindow, public CommandTarget {
    Q_OBJECT
  public:
    MainFrame(Application& application, const QString& title);
    ~MainFrame() override;

    QMdiArea* MdiArea() const { return mdiArea_; }
    QToolBar* ToolBar() const { return toolBar_; }

    // The action of a command; made on first use. Its text, tips and shortcuts
    // come from the application's command table.
    QAction* Action(int id);
    // The menu bars: resource id -> menus. noDocumentMenu is shown without an
    // active document, a document's template id otherwise.
    void SetMenus(std::map<int, std::vector<MenuTemplate>> menus, int noDocumentMenu);
    // Builds the toolbar from command ids, 0 for a separator.
    void SetToolBar(const std::vector<int>& ids);

    ChildFrame* ActiveFrame() const;
    View* ActiveView() const;
    Document* ActiveDocument() const;
    void AddFrame(ChildFrame* frame);

    // Carries a command along the route; false when nobody handles it.
    bool RouteCommand(int id);
    // Enables each action as the route says; called after commands, on
    // activation changes, when a window goes, when a document's title or
    // modified flag changes and before menus open.
    void UpdateCommandUI();
    // Rebuilds the menu bar for the active document and the window title.
    void RefreshFrame();

    bool OnCommand(int id) override;
    int CommandState(int id) const override;

    // Puts the window where it was when it last closed (the profile keeps it).
    void RestoreGeometry();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Files dropped on the window open, each in its own window.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // Who is asked about a command, in order: the active view, its frame, its
    // document, this frame, the application.
    std::vector<CommandTarget*> CommandRoute();
    void RebuildMenuBar();
    // The open windows, listed at the end of the Window menu when it opens.
    void ListWindows(QMenu* menu);

    Application& application_;
    QString title_;
    QMdiArea* mdiArea_;
    QToolBar* toolBar_ = nullptr;
    std::map<int, QAction*> actions_;
    std::vector<QAction*> windowList_;
    QLabel* statusLabel_;  // the active view's StatusText
    std::map<int, std::vector<MenuTemplate>> menus_;
    int noDocumentMenu_ = 0;
    int shownMenu_ = -1;
};

}  // namespace weftloom::framework
