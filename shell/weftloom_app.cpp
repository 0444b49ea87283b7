#include "shell/weftloom_app.h"

#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>

#include "shell/child_frame.h"
#include "shell/framework/doc_template.h"
#include "shell/framework/message_box.h"
#include "shell/framework/profile.h"
#include "shell/main_frame.h"
#include "shell/picture_clipboard.h"
#include "shell/resources/about_dlg.h"
#include "shell/resources/icons.h"
#include "shell/resources/resource_ids.h"
#include "shell/resources/shell_resources.h"
#include "shell/weftloom_doc.h"
#include "shell/weftloom_view.h"

namespace weftloom {

namespace {

std::unique_ptr<framework::DocTemplate> MakeTemplate(int resourceId, const char* templateString) {
    return std::make_unique<framework::DocTemplate>(
        resourceId, QString::fromLatin1(templateString), [] { return new CWeftloomDoc(); },
        [](framework::Document* document) {
            return new CWeftloomView(static_cast<CWeftloomDoc*>(document));
        },
        [](framework::View* view) {
            auto* frame = new CChildFrame(view);
            frame->setWindowIcon(DocumentIcon());
            return frame;
        });
}

}  // namespace

CWeftloomApp::CWeftloomApp() : framework::Application(QString::fromLatin1(kApplicationName)) {
    for (auto& [id, info] : CommandTable()) {
        SetCommandInfo(id, info);
    }
}

CWeftloomApp::~CWeftloomApp() {
    delete GetMainFrame();
}

CWeftloomApp* CWeftloomApp::Instance() {
    return static_cast<CWeftloomApp*>(framework::Application::Instance());
}

CMainFrame* CWeftloomApp::MainFrame() const {
    return static_cast<CMainFrame*>(GetMainFrame());
}

bool CWeftloomApp::InitInstance(const QStringList& arguments) {
    SetRegistryKey(QString::fromLatin1(framework::kProfileOrganisation));
    LoadStdProfileSettings(framework::kRecentFileCount);
    AddDocTemplate(MakeTemplate(kIdrTgaDocument, kTgaTemplateString));
    AddDocTemplate(MakeTemplate(kIdrJpegDocument, kJpegTemplateString));

    auto* frame = new CMainFrame(*this);
    SetMainFrame(frame);
    if (!frame->LoadFrame()) {
        return false;
    }
    // The selection tools are one choice, shown checked in the menu and on the
    // toolbar; each start begins with the rectangle.
    auto* tools = new QActionGroup(frame);
    for (const int id : {kIdSelectRectangle, kIdSelectEllipse, kIdSelectLasso}) {
        QAction* tool = frame->Action(id);
        tool->setCheckable(true);
        tools->addAction(tool);
    }
    frame->Action(kIdSelectRectangle)->setChecked(true);
    CWeftloomView::SetTool(SelectionShape::Rectangle);
    // Shown first: a window fitted before its main window is shown keeps no
    // size, and a message about a file that cannot be opened belongs in front
    // of the main window.
    frame->RestoreGeometry();
    frame->show();
    // Every file named opens in its own window; those that cannot be read open
    // nothing and are named together in one box, and the others still open.
    QStringList files;
    for (const QString& argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            files.append(argument);
        }
    }
    OpenDocumentFiles(files);
    // Asked once now and again at each change, not at each refresh of the
    // commands: another program may own the clipboard and take its time.
    clipboardHasPicture_ = ClipboardHasPicture();
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
        clipboardHasPicture_ = ClipboardHasPicture();
        if (CMainFrame* main = MainFrame()) {
            main->UpdateCommandUI();
        }
    });
    frame->UpdateCommandUI();
    settings = SynthesisSettings{};
    // A whole number of MiB; anything else leaves the machine's memory as the limit.
    bool isNumber = false;
    const qulonglong mebibytes = framework::ProfileSettings()
                                     .value(QStringLiteral("Synthesis/MemoryLimitMiB"))
                                     .toULongLong(&isNumber);
    memoryLimit = isNumber && mebibytes < (1ull << 40) ? mebibytes << 20 : 0;
    return true;
}

bool CWeftloomApp::OnCommand(int id) {
    switch (id) {
        case framework::command::kAppAbout:
            OnAppAbout();
            return true;
        case framework::command::kEditPaste:
            OnPasteAsNew();
            return true;
        default:
            return framework::Application::OnCommand(id);
    }
}

int CWeftloomApp::CommandState(int id) const {
    switch (id) {
        case framework::command::kAppAbout:
            return 1;
        case framework::command::kEditPaste:
            return clipboardHasPicture_ ? 1 : 0;
        default:
            return framework::Application::CommandState(id);
    }
}

QStringList CWeftloomApp::OpenFilters() const {
    return {QStringLiteral("All images (*.tga *.jpg *.jpeg *.png)"),
            QStringLiteral("TGA Images (*.tga)"), QStringLiteral("JPEG Images (*.jpg *.jpeg)"),
            QStringLiteral("PNG Images (*.png)"), QStringLiteral("All Files (*)")};
}

void CWeftloomApp::OnPasteAsNew() {
    Image picture;
    if (!PictureFromClipboard(picture)) {
        framework::MessageBox(QStringLiteral("The clipboard holds no picture."), std::nullopt,
                              framework::MessageButtons::Ok);
        return;
    }
    Templates().front()->CreateDocument([&picture](framework::Document& document) {
        auto& pasted = static_cast<CWeftloomDoc&>(document);
        if (!pasted.OnNewDocument()) {
            return false;
        }
        pasted.SetPastedImage(std::move(picture));
        return true;
    });
}

void CWeftloomApp::OnAppAbout() {
    CAboutDlg dialog(GetMainFrame());
    dialog.exec();
}

}  // namespace weftloom
