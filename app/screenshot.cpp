// weftloom-screenshot: starts the desktop application offscreen or on a
// display, opens the files named on the command line, and saves a picture of
// the main window, for the documentation. With --synthesise WxH it also starts
// a synthesis from the first file, as the Synthesise command does with the
// start settings, and takes the picture while the synthesis is under way,
// progress dialog included.
//
//   weftloom-screenshot OUTPUT.png [--synthesise WxH] FILE...
#include <QApplication>
#include <QMdiArea>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

#include "shell/main_frame.h"
#include "shell/weftloom_app.h"
#include "shell/weftloom_doc.h"
#include "synthesisui/synthesis_progress_dlg.h"
#include "synthesisui/synthesise_command.h"

namespace {

int Fail(const char* message) {
    std::fprintf(stderr, "weftloom-screenshot: %s\n", message);
    return 1;
}

// The main window with the progress dialog painted over its lower right part.
QPixmap Picture(weftloom::CWeftloomApp& application, QWidget* dialog) {
    QPixmap picture = application.MainFrame()->grab();
    if (dialog != nullptr && dialog->isVisible()) {
        const QPixmap over = dialog->grab();
        QPainter painter(&picture);
        const QPoint at(picture.width() - over.width() - 24, picture.height() - over.height() - 24);
        painter.fillRect(QRect(at - QPoint(1, 24), over.size() + QSize(2, 25)),
                         QColor(60, 90, 150));
        painter.setPen(Qt::white);
        painter.drawText(QRect(at - QPoint(-6, 24), QSize(over.width(), 24)), Qt::AlignVCenter,
                         dialog->windowTitle());
        painter.drawPixmap(at, over);
    }
    return picture;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: weftloom-screenshot OUTPUT.png [--synthesise WxH] FILE...\n");
        return 2;
    }
    const QString output = arguments[1];
    arguments = arguments.mid(2);
    QSize synthesis;
    if (arguments.size() >= 2 && arguments[0] == QStringLiteral("--synthesise")) {
        const QStringList sides = arguments[1].split(QLatin1Char('x'));
        if (sides.size() == 2) {
            synthesis = QSize(sides[0].toInt(), sides[1].toInt());
        }
        arguments = arguments.mid(2);
    }
    weftloom::InstallSynthesisUserInterface();
    weftloom::CWeftloomApp application;
    if (!application.InitInstance({})) {
        return Fail("the application did not start");
    }
    application.MainFrame()->resize(900, 640);
    weftloom::CWeftloomDoc* sample = nullptr;
    for (const QString& file : arguments) {
        auto* document = qobject_cast<weftloom::CWeftloomDoc*>(application.OpenDocumentFile(file));
        if (document == nullptr) {
            return Fail("a file could not be opened");
        }
        sample = sample != nullptr ? sample : document;
    }

    weftloom::CSynthesisProgressDlg* dialog = nullptr;
    if (synthesis.isValid() && sample != nullptr) {
        dialog = weftloom::StartSynthesis(*sample, static_cast<std::uint32_t>(synthesis.width()),
                                          static_cast<std::uint32_t>(synthesis.height()),
                                          weftloom::SynthesisSettings{});
        if (dialog == nullptr) {
            return Fail("the synthesis could not be started");
        }
    }

    int status = 1;
    auto take = [&] {
        status = Picture(application, dialog).save(output) ? 0 : 1;
        // exit, not quit: quitting would close the windows, and the synthesis
        // document would ask to be saved.
        QCoreApplication::exit(status);
    };
    if (dialog != nullptr) {
        // Half-way through the finest level's rows: previews of every level show.
        weftloom::CSynthesisProgressDlg::SetReportObserver(
            [&, rows = synthesis.height()](const weftloom::CSynthesisProgressDlg& d) {
                if (d.lastProgress.row == rows / 3 &&
                    d.lastProgress.levelWidth == static_cast<std::uint32_t>(synthesis.width())) {
                    weftloom::CSynthesisProgressDlg::SetReportObserver({});
                    QTimer::singleShot(0, take);
                }
            });
    } else {
        QTimer::singleShot(300, take);
    }
    QApplication::exec();
    weftloom::CSynthesisProgressDlg::SetReportObserver({});
    return status;
}
