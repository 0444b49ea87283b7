#include "shell/framework/user_prompts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QRegularExpression>

#include "shell/framework/profile.h"

namespace weftloom::framework {

namespace {

constexpr const char kLastFolderKey[] = "Settings/LastFolder";

FileResponder& Files() {
    static FileResponder responder;
    return responder;
}

ChoiceResponder& Choices() {
    static ChoiceResponder responder;
    return responder;
}

}  // namespace

void SetFileResponder(FileResponder responder) {
    Files() = std::move(responder);
}
void SetChoiceResponder(ChoiceResponder responder) {
    Choices() = std::move(responder);
}

std::optional<FileChoice> AskForFile(const FileRequest& request) {
    FileRequest asked = request;
    const QString last = ProfileSettings().value(kLastFolderKey).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir()) {
        asked.folder = last;
    }
    std::optional<FileChoice> choice;
    if (Files()) {
        const FileResponder responder = Files();
        choice = responder(asked);
    } else {
        const QString filters = asked.filters.join(QStringLiteral(";;"));
        const QString start = QDir(asked.folder).filePath(asked.name);
        QString filter = asked.filters.value(0);
        const QString path =
            asked.save
                ? QFileDialog::getSaveFileName(QApplication::activeWindow(), asked.caption, start,
                                               filters, &filter, QFileDialog::DontConfirmOverwrite)
                : QFileDialog::getOpenFileName(QApplication::activeWindow(), asked.caption, start,
                                               filters, &filter);
        if (!path.isEmpty()) {
            choice = FileChoice(path, filter);
        }
    }
    if (choice) {
        ProfileSettings().setValue(kLastFolderKey, QFileInfo(choice->path).absolutePath());
    }
    return choice;
}

QString WithFilterExtension(const QString& path, const QString& filter) {
    if (QFileInfo(path).fileName().contains(QLatin1Char('.'))) {
        return path;
    }
    // The first pattern of the filter's list, when it is "*.ext".
    static const QRegularExpression pattern(QStringLiteral("\\(\\*(\\.[^ *?)]+)[ )]"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? path + match.captured(1) : path;
}

int AskForChoice(const QString& caption, const QStringList& items) {
    if (Choices()) {
        const ChoiceResponder responder = Choices();
        return responder(caption, items);
    }
    // The list may hold equal names, so the answer is mapped back by position.
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(caption);
    dialog.setLabelText(QStringLiteral("&New"));
    dialog.setComboBoxItems(items);
    dialog.setOption(QInputDialog::UseListViewForComboBoxItems);
    if (dialog.exec() != QDialog::Accepted) {
        return -1;
    }
    const QString chosen = dialog.textValue();
    return static_cast<int>(items.indexOf(chosen));
}

}  // namespace weftloom::framework
