#include "shell/framework/message_box.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace weftloom::framework {

namespace {

MessageResponder& Responder() {
    static MessageResponder responder;
    return responder;
}

// The questions open now, innermost last.
struct OpenQuestion {
    const void* owner;
    QMessageBox* box;  // the box on screen; null while a responder answers
    bool awaitingBox;  // asked, its box not made yet
    bool dismissed;
};

std::vector<OpenQuestion>& OpenQuestions() {
    static std::vector<OpenQuestion> questions;
    return questions;
}

HeldMessages* holding = nullptr;

MessageResult Dismissed(MessageButtons buttons) {
    return buttons == MessageButtons::YesNoCancel ? MessageResult::Cancel : MessageResult::No;
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
    if (holding != nullptr && buttons == MessageButtons::Ok) {
        holding->held_.push_back({text, caption, icon});
        return MessageResult::Ok;
    }
    const QString shownCaption = caption.value_or(DefaultMessageCaption());
    if (Responder()) {
        // Copy first: a responder may replace itself while it answers.
        const MessageResponder responder = Responder();
        return responder(text, shownCaption, buttons);
    }
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    if (buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoDefaultNo) {
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
    if (buttons == MessageButtons::YesNoDefaultNo) {
        box.setDefaultButton(QMessageBox::No);
        box.setIcon(QMessageBox::Warning);
    }
    // The box of a question asked just now, which DismissQuestions may close.
    std::vector<OpenQuestion>& questions = OpenQuestions();
    const std::size_t asking = questions.size();
    if (asking != 0 && questions.back().awaitingBox) {
        questions.back().box = &box;
        questions.back().awaitingBox = false;
    }
    box.setWindowModality(Qt::ApplicationModal);
    // Without a parent Qt would centre it on the screen; centre it over the
    // dialog it answers (a modal one open now), else the main window, and
    // keep it whole on that window's screen.
    QWidget* over = QApplication::activeModalWidget();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (over == nullptr && qobject_cast<QMainWindow*>(widget) != nullptr &&
            widget->isVisible()) {
            over = widget;
        }
    }
    // Placed again once shown: the box takes its final size only then.
    const QPointer<QWidget> target(over);
    const auto place = [&box, target] {
        if (target.isNull() || !target->isVisible()) {
            return;
        }
        QRect placed(QPoint(0, 0), box.frameGeometry().size());
        placed.moveCenter(target->frameGeometry().center());
        if (const QScreen* screen = target->screen()) {
            const QRect area = screen->availableGeometry();
            placed.moveLeft(std::clamp(placed.left(), area.left(),
                                       std::max(area.left(), area.right() - placed.width())));
            placed.moveTop(std::clamp(placed.top(), area.top(),
                                      std::max(area.top(), area.bottom() - placed.height())));
        }
        box.move(placed.topLeft());
    };
    box.adjustSize();
    place();
    QTimer::singleShot(0, &box, place);
    const int answer = box.exec();
    if (asking != 0 && asking <= OpenQuestions().size() &&
        OpenQuestions()[asking - 1].box == &box) {
        OpenQuestions()[asking - 1].box = nullptr;
    }
    switch (answer) {
        case QMessageBox::Yes:
            return MessageResult::Yes;
        case QMessageBox::No:
            return MessageResult::No;
        case QMessageBox::Ok:
            return MessageResult::Ok;
        default:  // the box was closed without an answer
            return buttons == MessageButtons::Ok ? MessageResult::Ok : Dismissed(buttons);
    }
}

HeldMessages::HeldMessages() : outer_(holding) {
    holding = this;
}

HeldMessages::~HeldMessages() {
    holding = outer_;
    if (held_.empty()) {
        return;
    }
    // Each first paragraph once, in the order first met, with the rest of
    // every message that begins with it.
    const QString gap = QStringLiteral("\n\n");
    QStringList heads;
    std::vector<QStringList> rests;
    for (const Held& message : held_) {
        const qsizetype split = message.text.indexOf(gap);
        const QString head = split < 0 ? message.text : message.text.left(split);
        const qsizetype group = heads.indexOf(head);
        if (group < 0) {
            heads.append(head);
            rests.emplace_back();
        }
        if (split >= 0) {
            rests[static_cast<std::size_t>(group < 0 ? heads.size() - 1 : group)].append(
                message.text.mid(split + gap.size()));
        }
    }
    QStringList parts;
    for (qsizetype i = 0; i < heads.size(); ++i) {
        parts.append(heads[i]);
        parts.append(rests[static_cast<std::size_t>(i)]);
    }
    const Held& first = held_.front();
    MessageBox(parts.join(gap), first.caption, MessageButtons::Ok, first.icon);
}

MessageResult AskQuestion(const QString& text, const std::optional<QString>& caption,
                          MessageButtons buttons, const void* owner) {
    OpenQuestions().push_back({owner, nullptr, true, false});
    const std::size_t index = OpenQuestions().size() - 1;
    const MessageResult answer = MessageBox(text, caption, buttons);
    const bool dismissed = OpenQuestions()[index].dismissed;
    OpenQuestions().erase(OpenQuestions().begin() + static_cast<std::ptrdiff_t>(index));
    return dismissed ? Dismissed(buttons) : answer;
}

void DismissQuestions(const void* owner) {
    for (OpenQuestion& question : OpenQuestions()) {
        if (question.owner == owner && !question.dismissed) {
            question.dismissed = true;
            if (question.box != nullptr) {
                question.box->done(QMessageBox::No);
            }
        }
    }
}

bool QuestionDismissed() {
    return !OpenQuestions().empty() && OpenQuestions().back().dismissed;
}

}  // namespace weftloom::framework
