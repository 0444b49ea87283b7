#pragma once

#include <QDialog>

#include "shell/framework/dialog_template.h"

namespace weftloom {

// The About box: application name and version, what it does, copyright and
// licence, the Qt version it runs on, contact, and an OK button (id 1) that
// closes it. Shown modally by the
// application's About command; exchanges no data. User-interface thread only.
class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Dialog template 100, which the box is built from.
    static framework::DialogTemplate Template();
};

}  // namespace weftloom
