#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace weftloom::framework {

// YesNoDefaultNo: Yes and No with No the default answer (Enter, closing the
// box), for a question whose Yes destroys something.
enum class MessageButtons { Ok, YesNo, YesNoCancel, YesNoDefaultNo };
enum class MessageResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };
// The picture beside the text: by default information for a plain message and
// a question mark for a question; a warning for what failed.
enum class MessageIcon { Default, Warning };

// Shows a message and waits for the answer; the one way the application talks
// to the user in a box. Without a caption the application's name is used; an
// empty caption stays empty. The real box runs a nested event loop, so posted
// events (progress, a finished synthesis) are handled while it is open.
// User-interface thread only.
MessageResult MessageBox(const QString& text, const std::optional<QString>& caption,
                         MessageButtons buttons, MessageIcon icon = MessageIcon::Default);

// While one lives, plain messages (MessageButtons::Ok) are held back instead
// of shown, and its end shows them in one box: messages that begin with the
// same paragraph under that paragraph once, each with the rest of its text.
// For work on several things at once, whose failures should come together and
// be told apart. Questions are still asked at once. Scopes may nest; the
// innermost holds.
class HeldMessages {
  public:
    HeldMessages();
    ~HeldMessages();
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;

  private:
    struct Held {
        QString text;
        std::optional<QString> caption;
        MessageIcon icon;
    };
    friend MessageResult MessageBox(const QString&, const std::optional<QString>&, MessageButtons,
                                    MessageIcon);
    std::vector<Held> held_;
    HeldMessages* outer_;
};

// A question that something else may make moot: asked like MessageBox, but
// DismissQuestions(owner) closes it while it is open, and it then answers No
// (Cancel with three buttons) whatever the user or a responder chose.
MessageResult AskQuestion(const QString& text, const std::optional<QString>& caption,
                          MessageButtons buttons, const void* owner);
void DismissQuestions(const void* owner);
// Whether the innermost open question has been dismissed (responders look).
bool QuestionDismissed();

// Answers message boxes instead of showing them (tests). The responder sees
// the text, the caption as shown and the buttons, and returns the answer; it
// may itself process events. An empty function restores the real boxes.
using MessageResponder =
    std::function<MessageResult(const QString& text, const QString& caption, MessageButtons)>;
void SetMessageResponder(MessageResponder responder);

// The caption a box without its own gets: the application's name.
QString DefaultMessageCaption();

}  // namespace weftloom::framework
