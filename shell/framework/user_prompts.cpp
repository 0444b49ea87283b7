#include "shell/framework/user_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>

namespace weftloom::framework {

namespace {

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

std::optional<QString> AskForFile(const FileRequest& request) {
    if (Files()) {
        const FileResponder responder = Files();
        return responder(request);
    }
    const QString filter = request.filters.join(QStringLiteral(";;"));
    const QString path =
        request.save ? QFileDialog::getSaveFileName(QApplication::activeWindow(), request.caption,
                                                    request.suggestedPath, filter)
                     : QFileDialog::getOpenFileName(QApplication::activeWindow(), request.caption,
                                                    request.suggestedPath, filter);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path;
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
