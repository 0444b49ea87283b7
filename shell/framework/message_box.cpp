#include "shell/framework/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace weftloom::framework {

namespace {

MessageResponder& Responder() {
    static MessageResponder responder;
    return responder;
}

}  // namespace

void SetMessageResponder(MessageResponder responder) {
    Responder() = std::move(responder);
}

QString DefaultMessageCaption() {
    return QCoreApplication::applicationName();
}

MessageResult MessageBox(const QString& text, const std::optional<QString>& caption,
                         MessageButtons buttons, MessageIcon icon) {
    const QString shownCaption = caption.value_or(DefaultMessageCaption());
    if (Responder()) {
        // Copy first: a responder may replace itself while it answers.
        const MessageResponder responder = Responder();
        return responder(text, shownCaption, buttons);
    }
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    if (buttons == MessageButtons::YesNo) {
        standard = QMessageBox::Yes | QMessageBox::No;
    } else if (buttons == MessageButtons::YesNoCancel) {
        standard = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    // No parent: the window that was active may go away while the box is open
    // (a finished synthesis closes its dialog), and would take the box with it.
    QMessageBox::Icon picture =
        buttons == MessageButtons::Ok ? QMessageBox::Information : QMessageBox::Question;
    if (icon == MessageIcon::Warning) {
        picture = QMessageBox::Warning;
    }
    QMessageBox box(picture, shownCaption, text, standard);
    box.setWindowModality(Qt::ApplicationModal);
    const int answer = box.exec();
    switch (answer) {
        case QMessageBox::Yes:
            return MessageResult::Yes;
        case QMessageBox::No:
            return MessageResult::No;
        case QMessageBox::Ok:
            return MessageResult::Ok;
        default:  // the box was closed without an answer
            if (buttons == MessageButtons::Ok) {
                return MessageResult::Ok;
            }
            return buttons == MessageButtons::YesNo ? MessageResult::No : MessageResult::Cancel;
    }
}

}  // namespace weftloom::framework
