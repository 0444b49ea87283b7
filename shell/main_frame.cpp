#include "shell/main_frame.h"

#include <QToolBar>

#include "shell/resources/icons.h"
#include "shell/resources/resource_ids.h"
#include "shell/resources/shell_resources.h"

namespace weftloom {

CMainFrame::CMainFrame(framework::Application& application)
    : framework::MainFrame(application, QString::fromLatin1(kMainFrameTitle)) {
    setObjectName(QString::number(kIdrMainFrame));
    resize(800, 600);
}

bool CMainFrame::LoadFrame() {
    for (const auto& [id, info] : CommandTable()) {
        Action(id);
    }
    for (int id : ToolBarButtons()) {
        if (id != 0) {
            Action(id)->setIcon(ToolbarIcon(id));
        }
    }
    SetMenus(MenuTable(), kIdrMainFrame);
    SetToolBar(ToolBarButtons());
    setWindowIcon(ApplicationIcon());
    UpdateCommandUI();
    return ToolBar() != nullptr;
}

}  // namespace weftloom
