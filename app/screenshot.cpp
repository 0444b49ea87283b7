// weftloom-screenshot: starts the desktop application offscreen or on a
// display, opens the files named on the command line, and saves a picture of
// the main window, for the documentation.
//
//   weftloom-screenshot OUTPUT.png [FILE...]
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

#include "shell/main_frame.h"
#include "shell/weftloom_app.h"
#include "synthesisui/synthesise_command.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: weftloom-screenshot OUTPUT.png [FILE...]\n");
        return 2;
    }
    weftloom::InstallSynthesisUserInterface();
    weftloom::CWeftloomApp application;
    if (!application.InitInstance({})) {
        return 1;
    }
    for (const QString& file : arguments.mid(2)) {
        if (application.OpenDocumentFile(file) == nullptr) {
            std::fprintf(stderr, "weftloom-screenshot: cannot open %s\n", qPrintable(file));
            return 1;
        }
    }
    application.MainFrame()->resize(900, 640);
    int status = 1;
    QTimer::singleShot(300, [&] {
        const QPixmap picture = application.MainFrame()->grab();
        status = picture.save(arguments[1]) ? 0 : 1;
        QApplication::quit();
    });
    QApplication::exec();
    return status;
}
