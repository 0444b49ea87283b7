#include "shell/framework/main_frame.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "shell/framework/application.h"
#include "shell/framework/child_frame.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/document.h"
#include "shell/framework/profile.h"
#include "shell/framework/view.h"

namespace weftloom::framework {

namespace {

// Swallows tool-tip events of a toolbar button whose command has no tool-tip
// part in its prompt, so that Qt does not fall back to the button's text.
class NoToolTip : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

constexpr const char kNoToolTipProperty[] = "weftloomNoToolTip";
constexpr const char kGeometryKey[] = "Settings/MainWindowGeometry";

// The local files among dropped data.
QStringList DroppedFiles(const QMimeData* data) {
    QStringList files;
    if (data != nullptr) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                files.append(url.toLocalFile());
            }
        }
    }
    return files;
}

}  // namespace

MainFrame::MainFrame(Application& application, const QString& title)
    : application_(application),
      title_(title),
      mdiArea_(new QMdiArea(this)),
      statusLabel_(new QLabel(this)) {
    statusLabel_->setObjectName(QStringLiteral("status"));
    statusBar()->addPermanentWidget(statusLabel_);
    setCentralWidget(mdiArea_);
    // Windows moved or sized past the work area can still be reached.
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWindowTitle(title_);
    setAcceptDrops(true);
    connect(mdiArea_, &QMdiArea::subWindowActivated, this, [this] {
        RefreshFrame();
        UpdateCommandUI();
    });
    connect(&application_, &Application::RecentFilesChanged, this, [this] {
        shownMenu_ = -1;
        RebuildMenuBar();
    });
}

MainFrame::~MainFrame() {
    // The child windows go with the area, after this frame has stopped being a
    // main frame: nothing may rebuild menus on a frame being destroyed.
    disconnect(mdiArea_, nullptr, this, nullptr);
    disconnect(&application_, nullptr, this, nullptr);
    for (QMdiSubWindow* window : mdiArea_->subWindowList()) {
        disconnect(window, nullptr, this, nullptr);  // their state changes as they go
    }
    delete mdiArea_;
    mdiArea_ = nullptr;
    if (application_.GetMainFrame() == this) {
        application_.SetMainFrame(nullptr);
    }
}

QAction* MainFrame::Action(int id) {
    auto found = actions_.find(id);
    if (found != actions_.end()) {
        return found->second;
    }
    auto* action = new QAction(this);
    action->setObjectName(QString::number(id));
    if (const CommandInfo* info = application_.FindCommandInfo(id)) {
        action->setText(info->text);
        const QString status = info->prompt.section(QLatin1Char('\n'), 0, 0);
        action->setStatusTip(status);
        const bool hasTip = info->prompt.contains(QLatin1Char('\n'));
        action->setToolTip(hasTip ? info->prompt.section(QLatin1Char('\n'), 1) : QString());
        action->setProperty(kNoToolTipProperty, !hasTip);
        action->setShortcuts(info->keys);
    }
    if (id == command::kViewToolbar) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    addAction(action);  // shortcuts work even for commands in no menu
    connect(action, &QAction::triggered, this, [this, id] {
        RouteCommand(id);
        UpdateCommandUI();
    });
    actions_[id] = action;
    return action;
}

void MainFrame::SetMenus(std::map<int, std::vector<MenuTemplate>> menus, int noDocumentMenu) {
    menus_ = std::move(menus);
    noDocumentMenu_ = noDocumentMenu;
    for (const auto& [id, bar] : menus_) {
        for (const MenuTemplate& menu : bar) {
            for (int item : menu.items) {
                if (item != 0) {
                    Action(item);
                }
            }
        }
    }
    for (int i = 0; i < kRecentFileCount; ++i) {
        Action(command::kFileMru1 + i);
    }
    shownMenu_ = -1;
    RebuildMenuBar();
}

void MainFrame::SetToolBar(const std::vector<int>& ids) {
    if (toolBar_ == nullptr) {
        toolBar_ = addToolBar(QString());
        toolBar_->setObjectName(QString::number(command::kViewToolbar));
        toolBar_->setMovable(false);
        toolBar_->setIconSize(QSize(16, 15));
        QAction* toggle = Action(command::kViewToolbar);
        connect(toolBar_, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
    }
    toolBar_->clear();
    for (int id : ids) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* action = Action(id);
        toolBar_->addAction(action);
        if (action->property(kNoToolTipProperty).toBool()) {
            if (QWidget* button = toolBar_->widgetForAction(action)) {
                button->installEventFilter(new NoToolTip(button));
            }
        }
    }
}

ChildFrame* MainFrame::ActiveFrame() const {
    return mdiArea_ != nullptr ? qobject_cast<ChildFrame*>(mdiArea_->activeSubWindow()) : nullptr;
}

View* MainFrame::ActiveView() const {
    ChildFrame* frame = ActiveFrame();
    return frame != nullptr ? frame->GetView() : nullptr;
}

Document* MainFrame::ActiveDocument() const {
    ChildFrame* frame = ActiveFrame();
    return frame != nullptr ? frame->GetActiveDocument() : nullptr;
}

void MainFrame::AddFrame(ChildFrame* frame) {
    mdiArea_->addSubWindow(frame);
    if (Document* document = frame->GetActiveDocument()) {
        // A document's state decides what its commands may do: its title comes
        // with a load or a save, its modified flag with an edit or a result.
        connect(document, &Document::TitleChanged, this, &MainFrame::RefreshFrame,
                Qt::UniqueConnection);
        connect(document, &Document::TitleChanged, this, &MainFrame::UpdateCommandUI,
                Qt::UniqueConnection);
        connect(document, &Document::ModifiedChanged, this, &MainFrame::UpdateCommandUI,
                Qt::UniqueConnection);
    }
    connect(frame, &QMdiSubWindow::windowStateChanged, this, &MainFrame::RefreshFrame);
    connect(frame, &QObject::destroyed, this, [this] {
        // Activation does not change when the last window goes.
        QTimer::singleShot(0, this, [this] {
            RefreshFrame();
            UpdateCommandUI();
        });
    });
}

std::vector<CommandTarget*> MainFrame::CommandRoute() {
    std::vector<CommandTarget*> route;
    if (ChildFrame* frame = ActiveFrame()) {
        if (View* view = frame->GetView()) {
            route.push_back(view);
        }
        route.push_back(frame);
        if (Document* document = frame->GetActiveDocument()) {
            route.push_back(document);
        }
    }
    route.push_back(this);
    route.push_back(&application_);
    return route;
}

bool MainFrame::RouteCommand(int id) {
    for (CommandTarget* target : CommandRoute()) {
        if (target->OnCommand(id)) {
            return true;
        }
    }
    return false;
}

void MainFrame::UpdateCommandUI() {
    const std::vector<CommandTarget*> route = CommandRoute();
    for (const auto& [id, action] : actions_) {
        int state = -1;
        for (const CommandTarget* target : route) {
            state = target->CommandState(id);
            if (state >= 0) {
                break;
            }
        }
        action->setEnabled(state > 0);
    }
    if (toolBar_ != nullptr) {
        Action(command::kViewToolbar)->setChecked(toolBar_->isVisible());
    }
    const View* view = ActiveView();
    statusLabel_->setText(view != nullptr ? view->StatusText() : QString());
}

void MainFrame::RefreshFrame() {
    Document* document = ActiveDocument();
    // A maximised child's title is added by the work area itself, as " - [title]".
    const ChildFrame* frame = ActiveFrame();
    const bool maximised = frame != nullptr && frame->isMaximized();
    setWindowTitle(document != nullptr && !maximised
                       ? title_ + QStringLiteral(" - ") + document->Title()
                       : title_);
    RebuildMenuBar();
}

void MainFrame::RebuildMenuBar() {
    Document* document = ActiveDocument();
    int menuId = noDocumentMenu_;
    if (document != nullptr && document->Template() != nullptr &&
        menus_.count(document->Template()->ResourceId()) != 0) {
        menuId = document->Template()->ResourceId();
    }
    if (menuId == shownMenu_ || menus_.count(menuId) == 0) {
        return;
    }
    shownMenu_ = menuId;
    QMenuBar* bar = menuBar();
    bar->clear();
    const QStringList& recent = application_.RecentFiles().Files();
    for (const MenuTemplate& menuTemplate : menus_[menuId]) {
        QMenu* menu = bar->addMenu(menuTemplate.title);
        connect(menu, &QMenu::aboutToShow, this, &MainFrame::UpdateCommandUI);
        if (std::find(menuTemplate.items.begin(), menuTemplate.items.end(),
                      command::kWindowCascade) != menuTemplate.items.end()) {
            connect(menu, &QMenu::aboutToShow, this, [this, menu] { ListWindows(menu); });
        }
        for (int item : menuTemplate.items) {
            if (item == 0) {
                menu->addSeparator();
            } else if (item == command::kFileMru1 && !recent.isEmpty()) {
                for (int i = 0; i < recent.size() && i < kRecentFileCount; ++i) {
                    QAction* action = Action(command::kFileMru1 + i);
                    action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(recent[i]));
                    menu->addAction(action);
                }
            } else {
                QAction* action = Action(item);
                if (item == command::kFileMru1) {
                    action->setText(QStringLiteral("Recent File"));
                }
                menu->addAction(action);
            }
        }
    }
}

void MainFrame::ListWindows(QMenu* menu) {
    for (QAction* action : windowList_) {
        menu->removeAction(action);
        action->deleteLater();
    }
    windowList_.clear();
    const QList<QMdiSubWindow*> windows = mdiArea_->subWindowList();
    if (!windows.isEmpty()) {
        windowList_.push_back(menu->addSeparator());
    }
    for (qsizetype i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* window = windows[i];
        QAction* action = menu->addAction(
            QStringLiteral("%1%2 %3").arg(i < 9 ? "&" : "").arg(i + 1).arg(window->windowTitle()));
        action->setCheckable(true);
        action->setChecked(window == mdiArea_->activeSubWindow());
        connect(action, &QAction::triggered, mdiArea_,
                [area = mdiArea_, window] { area->setActiveSubWindow(window); });
        windowList_.push_back(action);
    }
}

void MainFrame::RestoreGeometry() {
    const QByteArray geometry = ProfileSettings().value(kGeometryKey).toByteArray();
    if (!geometry.isEmpty()) {
        restoreGeometry(geometry);
    }
}

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainFrame::dropEvent(QDropEvent* event) {
    const QStringList files = DroppedFiles(event->mimeData());
    if (files.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    application_.OpenDocumentFiles(files);
    UpdateCommandUI();
}

bool MainFrame::OnCommand(int id) {
    Document* document = ActiveDocument();
    switch (id) {
        case command::kViewToolbar:
            if (toolBar_ != nullptr) {
                toolBar_->setVisible(!toolBar_->isVisible());
            }
            return true;
        case command::kWindowNew:
            if (document != nullptr && document->Template() != nullptr) {
                document->Template()->CreateNewFrame(document);
            }
            return true;
        case command::kWindowCascade:
            mdiArea_->cascadeSubWindows();
            return true;
        case command::kWindowTile:
            mdiArea_->tileSubWindows();
            return true;
        case command::kWindowArrange: {
            // Minimised windows line up along the bottom edge.
            int x = 0;
            for (QMdiSubWindow* window : mdiArea_->subWindowList()) {
                if (window->isMinimized()) {
                    window->move(x, mdiArea_->viewport()->height() - window->height());
                    x += window->width();
                }
            }
            return true;
        }
        case command::kFileClose: {
            ChildFrame* frame = ActiveFrame();
            if (document != nullptr && frame != nullptr && frame->ConfirmEnd() &&
                document->SaveModified()) {
                document->OnCloseDocument();
            }
            return true;
        }
        default:
            return false;
    }
}

int MainFrame::CommandState(int id) const {
    switch (id) {
        case command::kViewToolbar:
        case command::kWindowCascade:
        case command::kWindowTile:
        case command::kWindowArrange:
            return 1;
        case command::kWindowNew:
        case command::kFileClose:
            return ActiveDocument() != nullptr ? 1 : 0;
        default:
            return -1;
    }
}

void MainFrame::closeEvent(QCloseEvent* event) {
    // Every window confirms its end first, as closing it alone would (a
    // running synthesis asks whether to stop); No to one keeps everything.
    // (A question runs events: a window may go meanwhile.)
    std::vector<QPointer<QMdiSubWindow>> windows;
    for (QMdiSubWindow* window : mdiArea_->subWindowList()) {
        windows.emplace_back(window);
    }
    for (const QPointer<QMdiSubWindow>& window : windows) {
        auto* frame = qobject_cast<ChildFrame*>(window.data());
        if (frame != nullptr && !frame->ConfirmEnd()) {
            event->ignore();
            return;
        }
    }
    if (!application_.SaveAllModified()) {
        event->ignore();
        return;
    }
    application_.CloseAllDocuments();
    ProfileSettings().setValue(kGeometryKey, saveGeometry());
    event->accept();
}

}  // namespace weftloom::framework
