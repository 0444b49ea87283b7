// weftloom: the desktop application.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "shell/weftloom_app.h"
#include "synthesisui/synthesise_command.h"

namespace {

constexpr const char kHelp[] =
    "Usage: weftloom [OPTIONS] [FILE...]\n"
    "Opens each FILE (a TGA, JPEG or PNG picture) in a window of its own, to grow\n"
    "textures from; weftloom-synth does the same from the command line.\n"
    "\n"
    "Options:\n"
    "  -h, --help            print this help and exit\n"
    "  --version             print the version and exit\n"
    "  -platform NAME, -style NAME, ...\n"
    "                        Qt's own options, as every Qt program takes them\n";

// --help and --version print and end before Qt starts, so that they work
// without a display. Returns the exit status, or -1 when the application
// should start.
int AnswerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* text = nullptr;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            text = kHelp;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            text = "weftloom " WEFTLOOM_VERSION "\n";
        } else {
            continue;
        }
        // What never reached standard output is a failure.
        const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
        return written ? 0 : 1;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnswerInformationOptions(argc, argv); status >= 0) {
        return status;
    }
    QApplication qt(argc, argv);
    weftloom::InstallSynthesisUserInterface();
    weftloom::CWeftloomApp application;
    // Qt has taken its own options out of the arguments; what is left may name a file.
    if (!application.InitInstance(QApplication::arguments().mid(1))) {
        return 1;
    }
    return QApplication::exec();
}
