// weftloom: the desktop application.
#include <QApplication>

#include "shell/weftloom_app.h"
#include "synthesisui/synthesise_command.h"

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    weftloom::InstallSynthesisUserInterface();
    weftloom::CWeftloomApp application;
    // Qt has taken its own options out of the arguments; what is left may name a file.
    if (!application.InitInstance(QApplication::arguments().mid(1))) {
        return 1;
    }
    return QApplication::exec();
}
