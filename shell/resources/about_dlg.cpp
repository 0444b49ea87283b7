#include "shell/resources/about_dlg.h"

#include "shell/resources/icons.h"

namespace weftloom {

using framework::ControlKind;
using framework::ControlTemplate;

framework::DialogTemplate CAboutDlg::Template() {
    framework::DialogTemplate about =
        framework::StandardDialogTemplate(100, QStringLiteral("About WeftLoom"), 290, 98);
    ControlTemplate icon(-1, ControlKind::Icon, {}, 11, 28, 20, 20);
    icon.icon = ApplicationIcon();
    about.controls = {
        icon,
        {-1, ControlKind::Label, QStringLiteral("WeftLoom Version " WEFTLOOM_VERSION), 40, 12, 119,
         8, framework::kNoPrefix},
        {-1, ControlKind::Label, QStringLiteral("Example-based texture synthesis"), 40, 25, 243, 8},
        {-1, ControlKind::Label, QStringLiteral("Copyright (C) 2026 the WeftLoom developers"), 40,
         38, 243, 8},
        // The terms the package's copyright file states.
        {-1, ControlKind::Label,
         QStringLiteral("All rights reserved: the WeftLoom developers have not published "
                        "WeftLoom under a licence of its own."),
         40, 51, 243, 16},
        {-1, ControlKind::Label,
         QStringLiteral("Qt version %1").arg(QString::fromLatin1(qVersion())), 40, 72, 243, 8},
        {-1, ControlKind::Label, QStringLiteral("Contact: developers@weftloom.org"), 40, 85, 243,
         8},
        {1, ControlKind::DefaultPushButton, QStringLiteral("OK"), 233, 7, 50, 14,
         framework::kGroup | framework::kTabStop},
    };
    return about;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    framework::BuildDialog(*this, Template());
    setWindowIcon(ApplicationIcon());
}

}  // namespace weftloom
