#pragma once

#include "shell/framework/main_frame.h"

namespace weftloom {

// The main window: the multiple-document area with toolbar 128 (Open,
// Synthesise, Save As, About), the menus and accelerators of the shell.
class CMainFrame : public framework::MainFrame {
    Q_OBJECT
  public:
    explicit CMainFrame(framework::Application& application);

    // Creates the menus, the accelerators and the toolbar from resource 128;
    // false when any of them cannot be made.
    bool LoadFrame();
};

}  // namespace weftloom
