#include "shell/resources/about_dlg.h"

#include "shell/resources/icons.h"

namespace weftloom {

using framework::ControlKind;
using framework::ControlTemplate;

framework::DialogTemplate CAboutDlg::Template() {
    framework::DialogTemplate about =
        framework::StandardDialogTemplate(100, QStringLiteral("About weftloom"), 235, 77);
    ControlTemplate icon(-1, ControlKind::Icon, {}, 11, 28, 20, 20);
    icon.icon = ApplicationIcon();
    about.controls = {
        icon,
        {-1, ControlKind::Label, QStringLiteral("weftloom Version 0.3"), 40, 12, 119, 8,
         framework::kNoPrefix},
        {-1, ControlKind::Label, QStringLiteral("Example-based texture synthesis"), 40, 25, 188, 8},
        {-1, ControlKind::Label, QStringLiteral("Copyright (C) 2026 the WeftLoom developers"), 40,
         38, 188, 8},
        {-1, ControlKind::Label, QStringLiteral("Contact: the WeftLoom project"), 40, 51, 188, 8},
        {1, ControlKind::DefaultPushButton, QStringLiteral("OK"), 178, 7, 50, 14,
         framework::kGroup | framework::kTabStop},
    };
    return about;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    framework::BuildDialog(*this, Template());
    setWindowIcon(ApplicationIcon());
}

}  // namespace weftloom
